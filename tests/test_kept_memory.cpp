// The memory the process keeps for its solves: one lease at a time holds
// it, a concurrent lease gets memory of its own, and growing the block
// keeps what it held.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "kept_memory.h"

namespace {

constexpr std::size_t kMiB = std::size_t(1) << 20;

bool page_aligned(const char* p) { return reinterpret_cast<std::uintptr_t>(p) % 4096 == 0; }

TEST(KeptMemory, OneLeaseAtATimeAndGrowthKeepsTheContents) {
  char* first = nullptr;
  {
    const KeptMemory a(3 * kMiB);
    ASSERT_TRUE(a.kept());
    EXPECT_TRUE(page_aligned(a.data()));
    first = a.data();
    for (std::size_t k = 0; k < 3 * kMiB; ++k) a.data()[k] = static_cast<char>(k * 7 + 1);

    // While a holds the block, b gets its own memory, apart from a's.
    const KeptMemory b(kMiB);
    EXPECT_FALSE(b.kept());
    EXPECT_TRUE(page_aligned(b.data()));
    EXPECT_TRUE(b.data() + kMiB <= a.data() || a.data() + 3 * kMiB <= b.data());
    std::memset(b.data(), 0, kMiB);
  }
  {
    // Released, the block serves the next lease as it was left.
    const KeptMemory c(kMiB);
    ASSERT_TRUE(c.kept());
    EXPECT_EQ(c.data(), first);
  }
  // Grown to 40 MiB, it still holds the bytes written into it.
  const KeptMemory d(40 * kMiB);
  ASSERT_TRUE(d.kept());
  EXPECT_TRUE(page_aligned(d.data()));
  std::size_t same = 0;
  for (std::size_t k = 0; k < 3 * kMiB; ++k) same += d.data()[k] == static_cast<char>(k * 7 + 1);
  EXPECT_EQ(same, 3 * kMiB);
  std::memset(d.data(), 1, 40 * kMiB);  // all of it is usable
}

}  // namespace
