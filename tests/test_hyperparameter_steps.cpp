// The driver's Bayesian steps: the three-strike rule on sequences of
// negative log-evidences, and the rule that adopts an estimate of alpha or
// beta only when it is a finite positive number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "hyperparameter_steps.h"
#include "level_loop.h"

namespace {

struct StrikeCase {
  const char* name;
  std::vector<double> e1, e2;  // evidences of orders 1 and 2, per iteration
  int stopsAt;                 // iteration at which the rule ends the level, 0 never
};

// Runs the rule as the level loop does: evidences, count += 1, rule.
int run_rule(const StrikeCase& c, std::string& out) {
  LevelState level;
  testing::internal::CaptureStdout();
  int stop = 0;
  for (std::size_t i = 0; i < c.e1.size() && stop == 0; ++i) {
    level.currentEvidence1 = c.e1[i];
    level.currentEvidence2 = c.e2[i];
    ++level.count;
    if (three_strike_rule(level)) stop = level.count;
  }
  out = testing::internal::GetCapturedStdout();
  return stop;
}

}  // namespace

TEST(ThreeStrikeRule, TableOfEvidenceSequences) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<StrikeCase> cases = {
      {"order 1 rising from the second iteration", {10, 11, 12, 13, 14}, {5, 4, 3, 2, 1}, 4},
      {"a good iteration restarts the count",
       {10, 11, 12, 9, 13, 14, 15, 16},
       {5, 5, 5, 5, 5, 5, 5, 5},
       7},
      {"order 2 rising: judged from the third iteration", {9, 8, 7, 6, 5, 4}, {5, 6, 7, 8, 9, 10},
       5},
      {"order 2 rising only in the first two iterations", {9, 8, 7, 6, 5}, {5, 6, 4, 3, 2}, 0},
      {"equal values are no strike", {10, 10, 10, 10, 10}, {3, 3, 3, 3, 3}, 0},
      {"minimum kept through strikes", {10, 12, 11, 10.5, 9, 9.5, 9.7, 9.8},
       {1, 1, 1, 1, 1, 1, 1, 1}, 4},
      {"not a number is never a strike", {10, nan, nan, nan, nan}, {1, nan, nan, nan, nan}, 0},
  };
  for (const StrikeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    EXPECT_EQ(run_rule(c, out), c.stopsAt);
    EXPECT_EQ(out, c.stopsAt ? "CONVERGENCE 3 ... \n" : "");
  }
}

TEST(AdoptEstimate, OnlyFinitePositiveValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double estimate;
    bool adopted;
    const char* line;
  } cases[] = {
      {2.5, true, ""},
      {1e-300, true, ""},
      {-0.5, false, "Keeping beta=1.5: the new estimate -0.5 is not a finite positive number\n"},
      {0.0, false, "Keeping beta=1.5: the new estimate 0 is not a finite positive number\n"},
      {std::nan(""), false,
       "Keeping beta=1.5: the new estimate nan is not a finite positive number\n"},
      {inf, false, "Keeping beta=1.5: the new estimate inf is not a finite positive number\n"},
      {-inf, false, "Keeping beta=1.5: the new estimate -inf is not a finite positive number\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.estimate);
    double beta = 1.5;
    testing::internal::CaptureStdout();
    EXPECT_EQ(adopt_estimate("beta", beta, c.estimate), c.adopted);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(beta, c.adopted ? c.estimate : 1.5);
  }
}
