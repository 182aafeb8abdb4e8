// Coarse-to-fine level loop: the steps of one pyramid level (banner,
// derivatives, weight and hyper-parameter resets, the per-level iteration)
// and the projection of the flow to the next finer level.
#ifndef VELMORA_LEVEL_LOOP_H
#define VELMORA_LEVEL_LOOP_H

#include "CImg.h"
#include "display_hooks.h"
#include "run_parameters.h"
#include "run_setup.h"

// Hyper-parameters and robust parameters of the run. alpha, beta and tau_d
// restart from their initial values at every level; tau_r and the two
// "_tmp" values are carried across levels.
struct HyperParameters {
  double alpha = 10.0;              // regularisation weight
  double beta = 1.0;                // data precision
  double sigma_obs = 50.0;          // sigma_d, data robust parameter
  double sigma_reg = 50.0;          // sigma_r, regularisation robust parameter
  double FactorRobParam = 1.0;      // tau_d, data robust factor
  double FactorRobParamInit = 1.0;  // tau_d0, its value at every level start
  double FactorRobParam_reg = 1.0;  // tau_r, regularisation robust factor
  double sigma_obs_tmp = 50.0;      // sigma_d before its latest update
  double sigma_reg_tmp = 0.0;       // sigma_r before its latest update
};

// The run's starting values: the option values, the derived robust factors,
// sigma_obs_tmp = -sigma_obs and sigma_reg_tmp = 0.
HyperParameters initial_hyperparameters(const RunParameters& p);

// State of the iteration of one level.
struct LevelState {
  int resol = 0;    // level l (0 the finest)
  int cap = 1;      // iteration cap of the level
  int count = 0;    // iterations done
  bool conv = false;
  bool solveFailed = false;  // the latest level solve failed (increment kept from before)
  cimg_library::CImgList<double> reg_out;  // smoothness link weights, 2 images W_l x H_l
  // Pixels whose data term reads an invalid sample (1), kept at data weight
  // 0; empty when the level's images hold none.
  cimg_library::CImg<unsigned char> dataExcluded;
  // Evidence bookkeeping of the three-strike rule.
  double currentEvidence1 = 0.0, currentEvidence2 = 0.0;
  double currentEvidenceMin1 = 1e30, currentEvidenceMin2 = 1e30;
  double countConv = 0.0;
  // Consecutive iterations in which no attempted estimate was adopted
  // (0 in a new LevelState, that is at every level start).
  int barrenIterations = 0;
  // No pixel of the level has a data term: the level is skipped (its
  // increment stays 0, the hyper-parameters keep their level-start values).
  bool noData = false;
};

// Iteration cap of level resol: maxItCount * 100^-resol truncated towards
// zero, and 1 when that is not positive.
int iteration_cap(int maxItCount, int resol);

// Convergence test of one iteration: d < precision * alpha and, at level 0,
// for each robust parameter that is estimated (sigma_d with a robust data
// norm, sigma_r with the Leclerc smoothness norm), a change from its
// previous value that is not 0 and below precision times its value.
bool level_converged(const RunParameters& p, const HyperParameters& h, int resol, double d);

// Level start: banner, derivatives of the level (of the images with their
// invalid samples filled, when they hold any), data weights (1 with a zero
// border, the padding zeroed at level 0, and 0 wherever the data term reads
// an invalid sample), zero increment, smoothness weights 1, and the resets
// of the hyper-parameters and of the iteration. A level where no pixel
// keeps a data term is marked noData and says so on standard output; at the
// finest level that ends the run (exit status 1, the counts of what
// excluded the pixels on standard error).
LevelState start_level(const RunParameters& p, RunSetup& s, HyperParameters& h, int resol);

// The iteration of the level: data weights (kept at 0 where the level
// start excluded the data term), level solve, re-weighting
// passes, hyper-parameter step, convergence test, progress line, evidence
// step; runs at least once, until convergence, the cap, the evidence rule or
// the third iteration in a row in which no estimate could be adopted.
// Nothing for a level without data.
void iterate_level(const RunParameters& p, RunSetup& s, HyperParameters& h, LevelState& level,
                   const RunDisplay& display);

// Display at the level end: U and V of the total flow, the data weights and
// the smoothness weights.
void show_level_end(const RunSetup& s, const LevelState& level, const RunDisplay& display);

// Projection from level resol > 0 to resol - 1: the next linearisation point
// is the total flow doubled and upsampled by splines, and the next level's
// image 2 is re-warped by it; a pixel whose target lies outside the level's
// image becomes an invalid sample of it, as does one whose target lies in
// the padding.
void project_to_finer_level(RunSetup& s, int resol);

// The levels from the coarsest to the finest: the start and the iteration
// of each, its display, then at level 0 the outputs and above it the
// projection to the next finer level. Returns whether the last level solve
// of the finest level failed.
bool run_levels(const RunParameters& p, RunSetup& s, const RunDisplay& display);

// The banner that opens a level: 64 '*', "Resolution: <l>", 64 '*'.
void print_level_banner(int resol);

// The progress line of one iteration.
void print_progress_line(const HyperParameters& h);

#endif
