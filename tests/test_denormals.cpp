// Start-up flushing of denormal numbers: with FTZ and DAZ set, a denormal
// operand reads as zero and a result below the normal range becomes zero.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <limits>

#include "denormals.h"

TEST(Denormals, FlushToZeroAndDenormalsAreZero) {
  const unsigned saved = _mm_getcsr();
  volatile double tiny = std::numeric_limits<double>::denorm_min() * 4.0;
  volatile double smallest = std::numeric_limits<double>::min();  // smallest normal
  ASSERT_GT(tiny, 0.0);  // denormals exist before the flush
  flush_denormals_to_zero();
  EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u);
  volatile double one = 1.0;
  EXPECT_EQ(tiny * one, 0.0);          // DAZ: the denormal operand is zero
  EXPECT_EQ(smallest * 0.25, 0.0);     // FTZ: the denormal result is zero
  _mm_setcsr(saved);
}
