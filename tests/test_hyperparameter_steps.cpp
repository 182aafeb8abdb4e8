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

// Which joint update estimates the robust factors.
TEST(JointEstimatorChoice, ByNormsAndFlags) {
  const struct {
    double norm;
    int normRegRob;
    bool regFlag;
    JointEstimator expected;
  } cases[] = {
      {0, 2, false, JointEstimator::LeclercData},
      {1, 2, false, JointEstimator::QuasiTVData},
      {2, 2, false, JointEstimator::None},
      {2, 0, true, JointEstimator::DataAndRegularisation},
      {1, 0, true, JointEstimator::DataAndRegularisation},
      {0, 0, false, JointEstimator::LeclercData},  // smoothness factor not asked for
      {2, 1, true, JointEstimator::None},          // no joint update: separate updates
      {1, 1, true, JointEstimator::QuasiTVData},
  };
  for (const auto& c : cases) {
    RunParameters p;
    p.norm = c.norm;
    p.normRegRob = c.normRegRob;
    p.sigmaRegRobEstim = c.regFlag;
    EXPECT_EQ(joint_estimator(p), c.expected) << c.norm << " " << c.normRegRob << " " << c.regFlag;
  }
}

// The convergence test: alpha's relative change, and at level 0 each
// estimated robust parameter's own change (not 0, below precision times
// its value); with both estimated, both must pass.
TEST(LevelConverged, EveryEstimatedParameterMustPass) {
  RunParameters p;
  p.precision = 1e-3;
  p.norm = 0;
  p.normRegRob = 0;
  HyperParameters h;
  h.alpha = 100;
  const double still = 0.05, moving = 0.5;  // d against epsilon = 0.1
  const struct {
    const char* name;
    bool robData, robReg;
    int resol;
    double d, dSigmaD, dSigmaR;  // sigma_tmp - sigma for sigma_d = sigma_r = 10
    bool expected;
  } cases[] = {
      {"alpha only, settled", false, false, 0, still, 0, 0, true},
      {"alpha only, moving", false, false, 0, moving, 0, 0, false},
      {"sigma_d settled", true, false, 0, still, 0.005, 0, true},
      {"sigma_d not updated yet", true, false, 0, still, 0, 0, false},
      {"sigma_d moving", true, false, 0, still, 0.5, 0, false},
      {"both settled", true, true, 0, still, 0.005, -0.005, true},
      {"sigma_d moving, sigma_r settled", true, true, 0, still, 0.5, 0.005, false},
      {"sigma_d settled, sigma_r moving", true, true, 0, still, 0.005, 0.5, false},
      {"both settled, alpha moving", true, true, 0, moving, 0.005, 0.005, false},
      {"robust flags ignored at level 1", true, true, 1, still, 0.5, 0.5, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    p.sigmaRobEstim = c.robData;
    p.sigmaRegRobEstim = c.robReg;
    h.sigma_obs = h.sigma_reg = 10;
    h.sigma_obs_tmp = 10 + c.dSigmaD;
    h.sigma_reg_tmp = 10 + c.dSigmaR;
    EXPECT_EQ(level_converged(p, h, c.resol, c.d), c.expected);
  }
}
