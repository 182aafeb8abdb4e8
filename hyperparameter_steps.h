// The two Bayesian steps of the per-level iteration: the hyper-parameter
// step (evidence updates of beta, alpha and, at the finest level, the
// robust parameters) and the evidence step (negative log-evidence of the
// first- and second-order priors) with its three-strike stopping rule, and
// the rule that ends a level whose estimates can no longer be adopted.
#ifndef VELMORA_HYPERPARAMETER_STEPS_H
#define VELMORA_HYPERPARAMETER_STEPS_H

#include <cmath>

#include "level_loop.h"
#include "run_parameters.h"
#include "run_setup.h"

// The joint update that estimates the robust factors with alpha and beta:
// data and regularisation factors (-sigmaRegRobEstim with -normRegRob 0),
// else the data factor of -norm 0 (Leclerc) or 1 (quasi-TV), else none.
enum class JointEstimator { None, DataAndRegularisation, LeclercData, QuasiTVData };
JointEstimator joint_estimator(const RunParameters& p);

// Hyper-parameter step of one iteration at level level.resol.
// Separate updates (coarser levels, no robust-estimation flag, or no joint
// estimator for the norms): with -sigmaBetaEstim, beta from evidence_betaHS
// at the current alpha; then, with -sigmaAlphaEstim, alpha from
// evidence_alphaHS with the new beta.
// Joint update (level 0 with -sigmaRobEstim or -sigmaRegRobEstim): alpha
// and beta from the joint estimator when their flags are set (otherwise
// "(No alpha estimation)" / "(No beta estimation)"), and the robust factors
// that are estimated, with their sigmas and previous sigmas, while alpha
// moves by less than a tenth of its new value.
// An estimate of alpha, beta or a robust factor is adopted only when it is
// finite and positive (see adopt_estimate and adopt_robust_factor).
// Returns d = |alpha before - alpha after|, and records in outcome which
// estimates were attempted and which of them moved.
//
// Attempted: alpha with -sigmaAlphaEstim and beta with -sigmaBetaEstim, in
// both kinds of update (without its flag a value is not estimated, even
// when the joint estimator computes one); tau_d and tau_r in the joint
// update when their flags and norms ask for them and alpha moved by less
// than a tenth of its new value, the condition under which they are taken
// (otherwise they are not attempted in that iteration).
// Kept rather than adopted: an estimate that adopt_estimate refuses;
// an alpha from evidence_alphaHS or from the joint update, a beta from the
// joint update, or a tau_d or tau_r, that is bit for bit the value the
// estimator was given: the estimators return that value when their own
// update is negative or not a number. (The beta of evidence_betaHS is not
// given the current beta, so only adopt_estimate can keep it.) An estimate
// that lands exactly on the value given counts as kept: it moves nothing.
// Moved: an adopted estimate that is finite and differs from the value
// before by more than kNoChangeRelative times that value; an adopted step
// of the order of rounding (a robust factor's step of 1e-19 on 4e-4, say)
// moves nothing.
constexpr double kNoChangeRelative = 1e-12;
struct EstimateOutcome {
  int attempted = 0;
  int moved = 0;
  void record(bool wasAdopted, double before, double after) {
    ++attempted;
    if (wasAdopted && std::isfinite(after) &&
        std::fabs(after - before) > kNoChangeRelative * std::fabs(before))
      ++moved;
  }
};
double hyperparameter_step(const RunParameters& p, const RunSetup& s, HyperParameters& h,
                           const LevelState& level, EstimateOutcome& outcome);

// Evidence step, run after the progress line and before the iteration
// count is incremented: level.currentEvidence1 and currentEvidence2, the
// negative log-evidences of the first- and second-order priors at the
// current alpha and beta (each prints its line).
void evidence_step(const RunParameters& p, const RunSetup& s, const HyperParameters& h,
                   LevelState& level);

// Three-strike rule, run after the count is incremented. An iteration is a
// strike when the order-1 evidence is above its running minimum, or the
// order-2 one above its own from the third iteration of the level on;
// otherwise both minima are updated and the strike count restarts. The
// third consecutive strike prints "CONVERGENCE 3 ... " and returns true:
// the iteration ends at once.
bool three_strike_rule(LevelState& level);

// Barren-iteration rule, run after the three-strike rule. An iteration is
// barren when it attempted estimates and none of them moved (see
// EstimateOutcome: all were kept, or the adopted ones changed nothing
// beyond rounding), or when a negative log-evidence of the iteration is not
// finite. An iteration that moves an estimate with finite evidences
// restarts the count; one that attempts none (no estimation flag at this
// level) leaves it as it is. The third consecutive barren iteration prints
// "No estimate adopted in 3 consecutive iterations: the level ends" and
// returns true: the iteration ends at once. Without it, a level that makes
// no progress (a constant image pair, for instance, whose evidence is -inf
// and never strikes) would run to its cap.
bool no_adoption_rule(LevelState& level, const EstimateOutcome& outcome);

// current = estimate when the estimate is a finite positive number (a data
// precision or a regularisation weight must be); otherwise current is kept
// and one line on standard output names the value kept and the estimate
// refused. Returns whether the estimate was adopted.
bool adopt_estimate(const char* name, double& current, double estimate);

// A robust factor of the joint update: tau = estimate by adopt_estimate (a
// factor of 0 or not finite is kept, with its line, as the command line
// refuses it: its sigma would be infinite or not a number), recorded in
// outcome as an attempt adopted unless kept or bit for bit the tau given
// (the estimators hand back tau when their step is refused); then
// sigma_before = sigma and sigma is rebuilt from tau: 1/sqrt(tau) for the
// Leclerc norm (0), 0.5/tau for quasi-TV (1).
void adopt_robust_factor(const char* name, double norm, double estimate, double& tau,
                         double& sigma, double& sigma_before, EstimateOutcome& outcome);

#endif
