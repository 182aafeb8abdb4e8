// The driver's Bayesian steps: the three-strike rule on sequences of
// negative log-evidences, the rule that ends a level after three
// iterations without an adopted estimate, which estimates a step attempts
// and keeps, and the rule that adopts an estimate of alpha, beta or a
// robust factor only when it is a finite positive number.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "hyperparameter_steps.h"
#include "level_loop.h"
#include "run_parameters.h"
#include "run_setup.h"

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

namespace {

// One iteration as the two stopping rules see it.
struct Iteration {
  double e1, e2;           // evidences of orders 1 and 2
  int attempted, adopted;  // estimates of the hyper-parameter step
  int moved = -1;          // adopted estimates that changed beyond rounding; -1: all of them
  // Estimates of a Leclerc data factor, each one more attempt, offered
  // through adopt_robust_factor (which adopts or keeps them).
  std::vector<double> factors = {};
};

// The factor those estimates are offered to: 1/16 (sigma_d 4) at the start.
struct RobustFactor {
  double tau = 0.0625, sigma = 4.0, sigma_before = 4.0;
};

struct StopCase {
  const char* name;
  std::vector<Iteration> iterations;
  int stopsAt;       // iteration at which a rule ends the level, 0 never
  std::string line;  // what the rules print
};

// Runs both rules as the level loop does: evidences, count += 1, the
// three-strike rule, then the barren-iteration rule.
int run_rules(const StopCase& c, std::string& out, RobustFactor& factor) {
  LevelState level;
  testing::internal::CaptureStdout();
  int stop = 0;
  for (std::size_t i = 0; i < c.iterations.size() && stop == 0; ++i) {
    const Iteration& it = c.iterations[i];
    level.currentEvidence1 = it.e1;
    level.currentEvidence2 = it.e2;
    EstimateOutcome outcome;
    const int moved = it.moved < 0 ? it.adopted : it.moved;
    // An estimate of 4e-4 that moves by 30 % or by a step of 1e-19.
    for (int k = 0; k < it.attempted; ++k)
      outcome.record(k < it.adopted, 4e-4, k < moved ? 5.2e-4 : 4e-4 - 3.5e-19);
    for (double estimate : it.factors)
      adopt_robust_factor("factorRobParam_d", 0.0, estimate, factor.tau, factor.sigma,
                          factor.sigma_before, outcome);
    ++level.count;
    if (three_strike_rule(level) || no_adoption_rule(level, outcome)) stop = level.count;
  }
  out = testing::internal::GetCapturedStdout();
  return stop;
}

}  // namespace

TEST(StoppingRules, BarrenIterationsBesideTheThreeStrikeRule) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string barren = "No estimate adopted in 3 consecutive iterations: the level ends\n";
  const std::string strike = "CONVERGENCE 3 ... \n";
  const Iteration keptInf = {-inf, -inf, 1, 0};  // a constant pair: nothing moves
  // A factor estimate that is kept: 1/16 stays.
  const auto kept = [](const char* estimate) {
    return std::string("Keeping factorRobParam_d=0.0625: the new estimate ") + estimate +
           " is not a finite positive number\n";
  };
  const std::vector<StopCase> cases = {
      {"evidence -inf, every estimate kept", {keptInf, keptInf, keptInf, keptInf}, 3, barren},
      {"evidence not a number, three estimates kept",
       {{nan, nan, 3, 0}, {nan, nan, 3, 0}, {nan, nan, 3, 0}},
       3,
       barren},
      {"one estimate of three adopted is enough",
       {{10, 5, 3, 1}, {9, 4, 3, 1}, {8, 3, 3, 1}, {7, 2, 3, 1}},
       0,
       ""},
      {"a good iteration restarts the count",
       {keptInf, keptInf, {10, 5, 1, 1}, keptInf, keptInf, keptInf, keptInf},
       6,
       barren},
      // A constant pair whose beta keeps moving: its evidence is -inf.
      {"estimates move but the evidence is -inf",
       {{-inf, -inf, 3, 3}, {-inf, -inf, 3, 3}, {-inf, -inf, 3, 3}, {-inf, -inf, 3, 3}},
       3,
       barren},
      {"estimates move but the order-2 evidence is not a number",
       {{10, nan, 2, 2}, {9, nan, 2, 2}, {8, nan, 2, 2}},
       3,
       barren},
      {"adopted steps of rounding size move nothing",
       {{10, 5, 2, 2, 0}, {9, 4, 2, 2, 0}, {8, 3, 2, 1, 0}, {7, 2, 2, 2, 0}},
       3,
       barren},
      {"one estimate that moves is progress",
       {{10, 5, 3, 3, 1}, {9, 4, 3, 3, 1}, {8, 3, 3, 3, 1}, {7, 2, 3, 3, 1}},
       0,
       ""},
      {"an iteration without estimates is not counted",
       {keptInf, keptInf, {-inf, -inf, 0, 0}, keptInf, keptInf},
       4,
       barren},
      {"no estimate attempted at all: never",
       {{10, 5, 0, 0}, {9, 4, 0, 0}, {8, 3, 0, 0}, {7, 2, 0, 0}, {6, 1, 0, 0}},
       0,
       ""},
      {"estimates adopted, evidence rising: the three-strike rule",
       {{10, 5, 2, 2}, {11, 4, 2, 2}, {12, 3, 2, 1}, {13, 2, 2, 2}, {14, 1, 2, 2}},
       4,
       strike},
      {"strikes and barren iterations interleaved: neither count reaches 3",
       {{10, 5, 1, 1}, {11, 5, 1, 0}, {12, 5, 1, 0}, {9, 5, 1, 1}, {13, 5, 1, 0}, {8, 5, 1, 0},
        {7, 5, 1, 1}},
       0,
       ""},
      {"barren from the first iteration, strikes from the second: barren first",
       {{10, 5, 1, 0}, {11, 5, 1, 0}, {12, 5, 1, 0}, {13, 5, 1, 0}},
       3,
       barren},
      {"both third at the same iteration: the three-strike rule ends it",
       {{10, 5, 1, 1}, {11, 5, 1, 0}, {12, 5, 1, 0}, {13, 5, 1, 0}},
       4,
       strike},
      // A robust factor of 0 would make sigma infinite: kept, as is one
      // that is not finite; the kept factors adopt nothing.
      {"robust factor estimates of 0 are kept",
       {{10, 5, 0, 0, -1, {0.0}}, {9, 4, 0, 0, -1, {0.0}}, {8, 3, 0, 0, -1, {0.0}}},
       3,
       kept("0") + kept("0") + kept("0") + barren},
      {"robust factor estimates not finite are kept",
       {{10, 5, 0, 0, -1, {nan}}, {9, 4, 0, 0, -1, {inf}}, {8, 3, 0, 0, -1, {-inf}}},
       3,
       kept("nan") + kept("inf") + kept("-inf") + barren},
      {"a finite positive factor is adopted and restarts the count",
       {{10, 5, 0, 0, -1, {0.0}},
        {9, 4, 0, 0, -1, {0.25}},
        {8, 3, 0, 0, -1, {0.0}},
        {7, 2, 0, 0, -1, {0.0}}},
       0,
       kept("0") + "Keeping factorRobParam_d=0.25: the new estimate 0 is not a finite positive "
                   "number\nKeeping factorRobParam_d=0.25: the new estimate 0 is not a finite "
                   "positive number\n"},
      {"a factor kept beside an alpha that moves",
       {{10, 5, 1, 1, -1, {0.0}}, {9, 4, 1, 1, -1, {0.0}}, {8, 3, 1, 1, -1, {0.0}}},
       0,
       kept("0") + kept("0") + kept("0")},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    RobustFactor factor;
    EXPECT_EQ(run_rules(c, out, factor), c.stopsAt);
    EXPECT_EQ(out, c.line);
    // The factor stays usable: finite, positive, its sigma 1/sqrt(tau).
    EXPECT_TRUE(std::isfinite(factor.tau) && factor.tau > 0) << factor.tau;
    EXPECT_EQ(factor.sigma, 1.0 / std::sqrt(factor.tau));
  }
}

// One robust-factor estimate: adopted when finite and positive, the sigma
// rebuilt from the factor then (Leclerc 1/sqrt(tau), quasi-TV 0.5/tau) and
// the previous sigma kept as sigma_before. From tau = 1/16: sigma 4
// (Leclerc) or 8 (quasi-TV); 1/4 gives 2 in both.
TEST(AdoptRobustFactor, OnlyFinitePositiveEstimates) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double norm, estimate;
    double tau, sigma;  // after
    int moved;
    const char* line;
  } cases[] = {
      {0, 0.25, 0.25, 2.0, 1, ""},
      {1, 0.25, 0.25, 2.0, 1, ""},
      {0, 0.0625, 0.0625, 4.0, 0, ""},  // handed back unchanged: moves nothing
      {0, 0.0, 0.0625, 4.0, 0,
       "Keeping factorRobParam_d=0.0625: the new estimate 0 is not a finite positive number\n"},
      {1, 0.0, 0.0625, 8.0, 0,
       "Keeping factorRobParam_d=0.0625: the new estimate 0 is not a finite positive number\n"},
      {0, -0.0, 0.0625, 4.0, 0,
       "Keeping factorRobParam_d=0.0625: the new estimate -0 is not a finite positive number\n"},
      {0, std::nan(""), 0.0625, 4.0, 0,
       "Keeping factorRobParam_d=0.0625: the new estimate nan is not a finite positive number\n"},
      {1, inf, 0.0625, 8.0, 0,
       "Keeping factorRobParam_d=0.0625: the new estimate inf is not a finite positive number\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "norm " << c.norm << ", estimate " << c.estimate);
    double tau = 0.0625, sigma = c.norm == 0 ? 4.0 : 8.0, sigma_before = 1.0;
    EstimateOutcome outcome;
    testing::internal::CaptureStdout();
    adopt_robust_factor("factorRobParam_d", c.norm, c.estimate, tau, sigma, sigma_before,
                        outcome);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
    EXPECT_EQ(tau, c.tau);
    EXPECT_EQ(sigma, c.sigma);
    EXPECT_EQ(sigma_before, c.norm == 0 ? 4.0 : 8.0);
    EXPECT_EQ(outcome.attempted, 1);
    EXPECT_EQ(outcome.moved, c.moved);
  }
}

// Which adopted estimates move: a relative change above 1e-12 of the value
// before, and a finite result.
TEST(EstimateOutcome, MovedMeansBeyondRounding) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    bool adopted;
    double before, after;
    bool moved;
  } cases[] = {
      {true, 10.0, 10.5, true},
      {true, 4e-4, 4e-4 - 3.5e-19, false},  // 8.75e-16 relative
      {true, 1.0, 1.0 + 2e-12, true},
      {true, 1.0, 1.0 + 0.5e-12, false},
      {true, 1e300, 1e300 * (1 + 1e-11), true},
      {true, 2.0, 2.0, false},
      {true, 2.0, std::nan(""), false},
      {true, 2.0, inf, false},
      {false, 10.0, 20.0, false},  // kept: the value did not change
  };
  for (const auto& c : cases) {
    EstimateOutcome o;
    o.record(c.adopted, c.before, c.after);
    EXPECT_EQ(o.attempted, 1);
    EXPECT_EQ(o.moved, c.moved ? 1 : 0) << c.before << " -> " << c.after;
  }
}

namespace {

// Level resol of side n whose images are constant: zero derivatives and
// temporal difference, data weights 1, link weights 1, zero flow.
struct ConstantLevel {
  RunSetup s;
  LevelState level;
  ConstantLevel(int n, int resol) {
    const cimg_library::CImg<double> zero(n, n, 1, 1, 0.0), flow(n, n, 2, 1, 0.0);
    const unsigned slots = static_cast<unsigned>(resol) + 1;
    s.pyrf_x.assign(slots, zero);
    s.pyrf_y.assign(slots, zero);
    s.pyrf_t.assign(slots, zero);
    s.pyrOut.assign(slots, cimg_library::CImg<double>(n, n, 1, 1, 1.0));
    s.pyrXtil.assign(slots, flow);
    s.pyrXinc.assign(slots, flow);
    level.resol = resol;
    level.reg_out.assign(2, n, n, 1, 1, 1.0);
  }
};

}  // namespace

// Which estimates the hyper-parameter step attempts, on a constant level
// where none can be adopted: E_d = 0 makes the new beta infinite (gamma_d
// = Nmask, the data block being zero), the zero total flow gives E_r = 0
// so the new alpha is kept or infinite, and the robust factors' steps
// multiply that infinite beta (or alpha) by zero sums: not a number, kept.
TEST(HyperparameterStep, AttemptedEstimatesAreKeptOnAConstantLevel) {
  const struct {
    const char* name;
    double norm;
    int normRegRob;
    bool rob, regRob, alpha, beta;
    int resol;
    int attempted;
  } cases[] = {
      {"quasi-TV factor alone", 1, 2, true, false, false, false, 0, 1},
      {"Leclerc factor alone", 0, 2, true, false, false, false, 0, 1},
      {"quasi-TV factor with alpha and beta", 1, 2, true, false, true, true, 0, 3},
      {"smoothness factor alone", 2, 0, false, true, false, false, 0, 1},
      {"both factors with beta", 0, 0, true, true, false, true, 0, 3},
      {"separate alpha at level 1", 1, 2, true, false, true, false, 1, 1},
      {"separate alpha and beta at level 0", 2, 2, false, false, true, true, 0, 2},
      {"no estimation flag", 2, 2, false, false, false, false, 0, 0},
      {"robust flag at level 1 only", 1, 2, true, false, false, false, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunParameters p;
    p.norm = c.norm;
    p.normRegRob = c.normRegRob;
    p.sigmaRobEstim = c.rob;
    p.sigmaRegRobEstim = c.regRob;
    p.sigmaAlphaEstim = c.alpha;
    p.sigmaBetaEstim = c.beta;
    p.nbIt = 2;
    ConstantLevel lv(8, c.resol);
    HyperParameters h = initial_hyperparameters(p);
    const HyperParameters before = h;
    EstimateOutcome outcome;
    testing::internal::CaptureStdout();
    const double d = hyperparameter_step(p, lv.s, h, lv.level, outcome);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(outcome.attempted, c.attempted);
    EXPECT_EQ(outcome.moved, 0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(h.alpha, before.alpha);
    EXPECT_EQ(h.beta, before.beta);
    EXPECT_EQ(h.FactorRobParam, before.FactorRobParam);
    EXPECT_EQ(h.FactorRobParam_reg, before.FactorRobParam_reg);
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
