// The dense reference used by the sparse and Hessian tests, checked on
// systems whose solution and determinant are known by hand.
#include "dense_reference.h"

#include <cmath>
#include <gtest/gtest.h>

TEST(DenseReference, SolvesAndTakesLogDeterminant) {
  // [[0, 2], [3, 1]] needs a row swap; det = -6.
  dense::Matrix m(2);
  m(0, 1) = 2.0;
  m(1, 0) = 3.0;
  m(1, 1) = 1.0;
  const std::vector<double> x = dense::solve(m, {4.0, 5.0});  // x = (1, 2)
  EXPECT_NEAR(x[0], 1.0, 1e-15);
  EXPECT_NEAR(x[1], 2.0, 1e-15);
  EXPECT_NEAR(dense::logAbsDeterminant(m), std::log(6.0), 1e-15);
  const std::vector<double> y = dense::multiply(m, {1.0, 2.0});
  EXPECT_EQ(y[0], 4.0);
  EXPECT_EQ(y[1], 5.0);
}
