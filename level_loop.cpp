#include "level_loop.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>

#include "hyperparameter_steps.h"
#include "image_derivatives.h"
#include "image_utils.h"
#include "invalid_samples.h"
#include "level_solve.h"
#include "outputs.h"
#include "refusal.h"
#include "robust_weights.h"
#include "warping.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Number of re-weighting passes after the first solve when a norm is robust.
constexpr int kReweightingPasses = 5;

bool quadratic_data(const RunParameters& p) { return p.norm == 2.0; }
bool quadratic_regularisation(const RunParameters& p) { return p.normRegRob == 2; }

// Zero data weight on the -offEdeges frame. The padding needs no zeroing:
// its samples are invalid, so level.dataExcluded holds it at every level.
void zero_data_border(const RunParameters& p, CImg<double>& data_out) {
  setZeroBorder(data_out, p.offEdge, p.offEdge);
}

// Derivatives of the warped image 2 and the temporal difference. When
// either image holds invalid samples, the derivatives are those of the
// images with their invalid samples filled from valid neighbours, and
// level.dataExcluded marks the pixels whose derivatives or difference read
// one (their data weight stays 0).
void compute_derivatives(const RunParameters& p, RunSetup& s, LevelState& level) {
  const int l = level.resol;
  const float sigma = static_cast<float>(p.sigBlur);
  level.dataExcluded =
      data_exclusion_mask(s.pyrIm[l], s.pyrImdt[l], level_reach(sigma, s.pyrIm[l]));
  if (level.dataExcluded.is_empty()) {
    s.pyrf_x[l] = gradSpline_X(s.pyrImdt[l], sigma);
    s.pyrf_y[l] = gradSpline_Y(s.pyrImdt[l], sigma);
    s.pyrf_t[l] = grad_t(s.pyrIm[l], s.pyrImdt[l], sigma);
    return;
  }
  const CImg<double> im = get_filled(s.pyrIm[l]), imdt = get_filled(s.pyrImdt[l]);
  s.pyrf_x[l] = gradSpline_X(imdt, sigma);
  s.pyrf_y[l] = gradSpline_Y(imdt, sigma);
  s.pyrf_t[l] = grad_t(im, imdt, sigma);
}

// Data weights, increment and smoothness weights.
void reset_weights(const RunParameters& p, RunSetup& s, LevelState& level) {
  const int l = level.resol;
  CImg<double>& data_out = s.pyrOut[l];
  data_out.fill(1.0);
  zero_data_border(p, data_out);
  exclude_from_data(data_out, level.dataExcluded);
  s.pyrXinc[l].fill(0.0);
  level.reg_out.assign(2, s.pyrIm[l].width(), s.pyrIm[l].height(), 1, 1, 1.0);
}

// Whether some pixel of the level keeps a data term. A finest level without
// any ends the run with the counts of what excluded the tile's pixels; a
// coarser one is skipped, with a line that says so.
bool level_has_data(const RunParameters& p, const RunSetup& s, int l) {
  const CImg<double>& data_out = s.pyrOut[l];
  if (std::any_of(data_out.begin(), data_out.end(), [](double w) { return w > 0.0; }))
    return true;
  if (l == 0) {
    const DataExclusionCounts counts = count_data_exclusions(
        s.pyrIm[0], s.pyrImdt[0], level_reach(static_cast<float>(p.sigBlur), s.pyrIm[0]),
        p.offEdge, p.dxOrig, p.dyOrig);
    refuse(no_data_message(counts, p.dxOrig, p.dyOrig, false));
  }
  std::cout << "No pixel of level " << l << " (" << data_out.width() << " x "
            << data_out.height()
            << ") has a data term (invalid samples, targets outside image 2 and the frame "
               "exclude them all): the level is skipped, its increment 0"
            << std::endl;
  return false;
}

// Hyper-parameters and iteration state at the level start.
void reset_level_state(const RunParameters& p, HyperParameters& h, LevelState& level) {
  if (p.normRegRob == 0) h.sigma_reg = 1.0 / std::sqrt(h.FactorRobParam_reg);
  if (p.norm == 0.0)
    h.sigma_obs = 1.0 / std::sqrt(h.FactorRobParamInit);
  else if (p.norm == 1.0)
    h.sigma_obs = 0.5 / h.FactorRobParamInit;
  h.FactorRobParam = h.FactorRobParamInit;
  h.alpha = p.alphaInit;
  h.beta = p.betaInit;
  level.count = 0;
  level.countConv = 0.0;
  level.currentEvidenceMin1 = level.currentEvidenceMin2 = 1e30;
  level.conv = false;
  level.cap = iteration_cap(p.maxItCount, level.resol);
}

// Data weights from the linearised residual of flow for the robust data
// norms (1 quasi-total-variation, 0 Leclerc), 0 where the level excludes
// the data term; any other norm keeps them.
void robust_data_weights(const RunParameters& p, const RunSetup& s, const HyperParameters& h,
                         const LevelState& level, const CImg<double>& flow,
                         CImg<double>& data_out) {
  const int l = level.resol;
  if (p.norm == 1.0)
    data_out = RobustDataCoef_QuasiTV(flow, s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], h.sigma_obs);
  else if (p.norm == 0.0)
    data_out = RobustDataCoef(flow, s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], h.sigma_obs);
  else
    return;
  exclude_from_data(data_out, level.dataExcluded);
}

// One level solve for the increment (kept as it was on failure, which
// level.solveFailed records).
void level_solve(const RunParameters& p, RunSetup& s, const HyperParameters& h, LevelState& level) {
  const int l = level.resol;
  level.solveFailed =
      HornAndSchunck(s.pyrXinc[l], s.pyrXtil[l], s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l],
                     static_cast<float>(h.alpha), s.pyrOut[l], level.reg_out, p.periodic);
}

// The re-weighting passes of the robust norms.
void reweighting_passes(const RunParameters& p, RunSetup& s, const HyperParameters& h,
                        LevelState& level) {
  if (quadratic_data(p) && quadratic_regularisation(p)) return;
  const int l = level.resol;
  for (int pass = 0; pass < kReweightingPasses; ++pass) {
    robust_data_weights(p, s, h, level, s.pyrXinc[l], s.pyrOut[l]);
    zero_data_border(p, s.pyrOut[l]);
    if (p.normRegRob == 0)
      UpdateRobustWeight_Leclerc(s.pyrXtil[l] + s.pyrXinc[l], level.reg_out,
                                 h.FactorRobParam_reg, p.periodic);
    else if (p.normRegRob == 1)
      UpdateRobustWeight_QuasiTV(s.pyrXtil[l] + s.pyrXinc[l], level.reg_out,
                                 h.FactorRobParam_reg, p.periodic);
    level_solve(p, s, h, level);
  }
}

}  // namespace

bool level_converged(const RunParameters& p, const HyperParameters& h, int resol, double d) {
  const double epsilon = h.alpha * p.precision;
  bool conv = d < epsilon;
  // Each robust parameter estimated at level 0 must have moved, by less
  // than precision times its value.
  if (p.norm != 2.0 && p.sigmaRobEstim && resol == 0) {
    const double delta = h.sigma_obs_tmp - h.sigma_obs;
    conv = conv && delta != 0.0 && std::fabs(delta) < p.precision * h.sigma_obs;
  }
  if (p.sigmaRegRobEstim && resol == 0 && p.normRegRob == 0) {
    const double delta = h.sigma_reg_tmp - h.sigma_reg;
    conv = conv && delta != 0.0 && std::fabs(delta) < p.precision * h.sigma_reg;
  }
  return conv;
}

HyperParameters initial_hyperparameters(const RunParameters& p) {
  HyperParameters h;
  h.alpha = p.alphaInit;
  h.beta = p.betaInit;
  h.sigma_obs = p.sigma_obs;
  h.sigma_reg = p.sigma_reg;
  h.FactorRobParam = p.FactorRobParam;
  h.FactorRobParamInit = p.FactorRobParamInit;
  h.FactorRobParam_reg = p.FactorRobParam_reg;
  h.sigma_obs_tmp = p.sigma_obs;
  h.sigma_reg_tmp = 0.0;
  return h;
}

int iteration_cap(int maxItCount, int resol) {
  // maxItCount * 100^-resol, as an exact quotient so that integer results
  // are not lost to the rounding of 100^-resol.
  const double cap = static_cast<double>(maxItCount) / std::pow(100.0, resol);
  const int truncated = cap >= 2147483647.0 ? 2147483647 : static_cast<int>(cap);
  return truncated > 0 ? truncated : 1;
}

void print_level_banner(int resol) {
  const std::string stars(64, '*');
  std::cout << stars << std::endl;
  std::cout << "Resolution: " << resol << std::endl;
  std::cout << stars << std::endl;
}

void print_progress_line(const HyperParameters& h) {
  std::cout << "alpha=" << h.alpha << "  (alpha',beta)=(" << h.alpha * h.beta << "," << h.beta
            << "); sigma_d= " << h.sigma_obs << " (factorRobParam_d= " << h.FactorRobParam << ")"
            << "; sigma_r= " << h.sigma_reg << " (factorRobParam_r= " << h.FactorRobParam_reg
            << ")" << std::endl;
}

LevelState start_level(const RunParameters& p, RunSetup& s, HyperParameters& h, int resol) {
  LevelState level;
  level.resol = resol;
  print_level_banner(resol);
  compute_derivatives(p, s, level);
  reset_weights(p, s, level);
  reset_level_state(p, h, level);
  level.noData = !level_has_data(p, s, resol);
  return level;
}

void iterate_level(const RunParameters& p, RunSetup& s, HyperParameters& h, LevelState& level,
                   const RunDisplay& display) {
  if (level.noData) return;
  const int l = level.resol;
  const CImg<double> Z(s.pyrXinc[l].width(), s.pyrXinc[l].height(), 2, 1, 0.0);
  while (!level.conv && level.count < level.cap) {
    // Robust data weights from a zero increment, over the whole level.
    robust_data_weights(p, s, h, level, Z, s.pyrOut[l]);
    // Level solve.
    level_solve(p, s, h, level);
    if (display.on()) {
      display.show(s.pyrOut[l]);
      display.show(s.pyrXinc[l] + s.pyrXtil[l]);
    }
    // Re-weighting passes (robust norms).
    reweighting_passes(p, s, h, level);
    // Hyper-parameter step.
    EstimateOutcome estimates;
    const double d = hyperparameter_step(p, s, h, level, estimates);
    // Convergence test.
    level.conv = level_converged(p, h, l, d);
    // Progress line.
    print_progress_line(h);
    // Evidence step, then the three-strike and the barren-iteration rules.
    evidence_step(p, s, h, level);
    ++level.count;
    if (three_strike_rule(level)) break;
    if (no_adoption_rule(level, estimates)) break;
  }
}

void show_level_end(const RunSetup& s, const LevelState& level, const RunDisplay& display) {
  if (!display.on()) return;
  const int l = level.resol;
  const CImg<double> total = s.pyrXtil[l] + s.pyrXinc[l];
  display.show(total.get_slice(0), "U");
  display.show(total.get_slice(1), "V");
  display.show(s.pyrOut[l], "obs");
  display.showWeights(level.reg_out, "reg");
}

void project_to_finer_level(RunSetup& s, int resol) {
  const int l = resol;
  for (int k = 0; k < 2; ++k) {
    const CImg<double> plane = (s.pyrXtil[l].get_slice(k) + s.pyrXinc[l].get_slice(k)) * 2.0;
    Proj_Dup_Spline(s.pyrTmp[l - 1], plane, 3);
    FillChannel(s.pyrXtil[l - 1], s.pyrTmp[l - 1], k);
  }
  s.pyrTmp[l - 1] = s.pyrImdt[l - 1];
  Recal_spline(s.pyrImdt[l - 1], s.pyrTmp[l - 1], s.pyrXtil[l - 1], 3, OutsideTarget::Invalid);
}

bool run_levels(const RunParameters& p, RunSetup& s, const RunDisplay& display) {
  HyperParameters h = initial_hyperparameters(p);
  bool finestSolveFailed = false;
  for (int resol = p.nb_resol - 1; resol >= 0; --resol) {
    LevelState level = start_level(p, s, h, resol);
    iterate_level(p, s, h, level, display);
    show_level_end(s, level, display);
    if (resol == 0) {
      write_outputs(p, s, level.reg_out, display);
      finestSolveFailed = level.solveFailed;
    } else {
      project_to_finer_level(s, resol);
    }
  }
  return finestSolveFailed;
}
