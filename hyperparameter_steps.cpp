#include "hyperparameter_steps.h"

// The evidence updates and the evidence stopping rule are not part of the
// program yet: each level runs with the initial alpha and beta.

double hyperparameter_step(const RunParameters&, const RunSetup&, HyperParameters&,
                           const LevelState&) {
  return 0.0;
}

void evidence_step(const RunParameters&, const RunSetup&, const HyperParameters&, LevelState&) {}

bool three_strike_rule(LevelState&) { return false; }
