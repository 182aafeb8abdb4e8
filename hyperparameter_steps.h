// The two Bayesian steps of the per-level iteration: the hyper-parameter
// step (evidence updates of beta, alpha and, at the finest level, the
// robust parameters) and the evidence step (negative log-evidence of the
// first- and second-order priors) with its three-strike stopping rule.
#ifndef VELMORA_HYPERPARAMETER_STEPS_H
#define VELMORA_HYPERPARAMETER_STEPS_H

#include "level_loop.h"
#include "run_parameters.h"
#include "run_setup.h"

// Hyper-parameter step of one iteration at level level.resol: may update
// h (alpha, beta, the robust parameters and factors, the "_tmp" values).
// Returns d, the change of alpha in this step (0 when alpha is not
// re-estimated). Not built yet: changes nothing and returns 0.
double hyperparameter_step(const RunParameters& p, const RunSetup& s, HyperParameters& h,
                           const LevelState& level);

// Evidence step, run after the progress line and before the iteration
// count is incremented: sets level.currentEvidence1 and currentEvidence2.
// Not built yet: does nothing.
void evidence_step(const RunParameters& p, const RunSetup& s, const HyperParameters& h,
                   LevelState& level);

// Three-strike rule, run after the count is incremented: returns true when
// the iteration must end at once. Not built yet: always false.
bool three_strike_rule(LevelState& level);

#endif
