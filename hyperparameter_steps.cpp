#include "hyperparameter_steps.h"

#include <cmath>
#include <iostream>
#include <memory>

#include "evidence.h"

using cimg_library::CImg;

namespace {

// The order-2 evidence is not judged in the first iterations of a level.
constexpr int kFirstJudgedOrder2Iteration = 3;
// Consecutive strikes that end a level.
constexpr double kStrikesToStop = 3.0;

// Consecutive barren iterations that end a level.
constexpr int kBarrenIterationsToStop = 3;

// Whether an estimator handed back the value it was given (bit for bit,
// a given NaN included): it does so when its own update is negative or
// not a number.
bool returned_unchanged(double given, double returned) {
  return returned == given || (std::isnan(given) && std::isnan(returned));
}

// The separate updates: beta at the current alpha, then alpha with the new
// beta. Returns d.
double separate_updates(const RunParameters& p, const RunSetup& s, HyperParameters& h,
                        const LevelState& level, EstimateOutcome& outcome) {
  const int l = level.resol;
  double d = 0.0;
  if (p.sigmaBetaEstim) {
    const double beta_tmp = h.beta;
    const bool taken = adopt_estimate(
        "beta", h.beta,
        evidence_betaHS(s.pyrXinc[l], s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], s.pyrOut[l],
                        level.reg_out, h.alpha, p.nbIt, p.tol, 1.0, p.periodic));
    outcome.record(taken, beta_tmp, h.beta);
  }
  if (p.sigmaAlphaEstim) {
    const double alpha_tmp = h.alpha;
    const double estimate =
        evidence_alphaHS(s.pyrXtil[l] + s.pyrXinc[l], s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l],
                         s.pyrOut[l], level.reg_out, h.alpha, h.beta, p.nbIt, p.tol, 1.0,
                         p.periodic);
    const bool taken = adopt_estimate("alpha", h.alpha, estimate);
    outcome.record(taken && !returned_unchanged(alpha_tmp, estimate), alpha_tmp, h.alpha);
    d = std::fabs(alpha_tmp - h.alpha);
  }
  return d;
}

// A robust factor is adopted only while alpha moves by less than this
// fraction of its new value.
constexpr double kRobustAdoptionFraction = 0.1;

}  // namespace

bool adopt_estimate(const char* name, double& current, double estimate) {
  if (std::isfinite(estimate) && estimate > 0.0) {
    current = estimate;
    return true;
  }
  std::cout << "Keeping " << name << "=" << current << ": the new estimate " << estimate
            << " is not a finite positive number" << std::endl;
  return false;
}

JointEstimator joint_estimator(const RunParameters& p) {
  if (p.sigmaRegRobEstim && p.normRegRob == 0) return JointEstimator::DataAndRegularisation;
  if (p.norm == 0.0) return JointEstimator::LeclercData;
  if (p.norm == 1.0) return JointEstimator::QuasiTVData;
  return JointEstimator::None;
}

double hyperparameter_step(const RunParameters& p, const RunSetup& s, HyperParameters& h,
                           const LevelState& level, EstimateOutcome& outcome) {
  const int l = level.resol;
  const JointEstimator joint = joint_estimator(p);
  if (l != 0 || !(p.sigmaRobEstim || p.sigmaRegRobEstim) || joint == JointEstimator::None)
    return separate_updates(p, s, h, level, outcome);

  // Joint update of alpha, beta and the robust factors at the finest level.
  const CImg<double>&UVinc = s.pyrXinc[l], &UVtil = s.pyrXtil[l];
  std::unique_ptr<double[]> ml;
  switch (joint) {
    case JointEstimator::DataAndRegularisation:
      ml.reset(evidence_alphaBetaAndTauDataAndRegHS_normalized(
          UVinc, UVtil, s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], s.pyrOut[l], level.reg_out,
          h.alpha, h.beta, p.nbIt, p.tol, h.FactorRobParam, h.FactorRobParam_reg, p.periodic));
      break;
    case JointEstimator::LeclercData:
      ml.reset(evidence_alphaBetaAndTauHS_normalized(
          UVinc, UVtil, s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], s.pyrOut[l], level.reg_out,
          h.alpha, h.beta, p.nbIt, p.tol, h.FactorRobParam, p.periodic));
      break;
    default:
      ml.reset(evidence_alphaBetaAndTauHS_normalized_QuasiTV(
          UVinc, UVtil, s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l], s.pyrOut[l], level.reg_out,
          h.alpha, h.beta, p.nbIt, p.tol, h.FactorRobParam, p.periodic));
      break;
  }
  // The joint estimator returns the alpha, beta and factors it was given
  // for the updates that came out negative or not a number.
  const double alpha_tmp = h.alpha, beta_tmp = h.beta;
  if (p.sigmaAlphaEstim) {
    const bool taken = adopt_estimate("alpha", h.alpha, ml[0]);
    outcome.record(taken && !returned_unchanged(alpha_tmp, ml[0]), alpha_tmp, h.alpha);
  } else {
    std::cout << "(No alpha estimation)" << std::endl;
  }
  if (p.sigmaBetaEstim) {
    const bool taken = adopt_estimate("beta", h.beta, ml[1]);
    outcome.record(taken && !returned_unchanged(beta_tmp, ml[1]), beta_tmp, h.beta);
  } else {
    std::cout << "(No beta estimation)" << std::endl;
  }
  const double d = std::fabs(alpha_tmp - h.alpha);
  const bool alphaSettled = d < kRobustAdoptionFraction * h.alpha;
  if (p.sigmaRobEstim && p.norm != 2.0 && alphaSettled)
    adopt_robust_factor("factorRobParam_d", p.norm, ml[2], h.FactorRobParam, h.sigma_obs,
                        h.sigma_obs_tmp, outcome);
  if (p.sigmaRegRobEstim && p.normRegRob == 0 && alphaSettled)
    adopt_robust_factor("factorRobParam_r", 0.0, ml[3], h.FactorRobParam_reg, h.sigma_reg,
                        h.sigma_reg_tmp, outcome);
  return d;
}

void adopt_robust_factor(const char* name, double norm, double estimate, double& tau,
                         double& sigma, double& sigma_before, EstimateOutcome& outcome) {
  const double tau_before = tau;
  const bool taken = adopt_estimate(name, tau, estimate);
  outcome.record(taken && !returned_unchanged(tau_before, estimate), tau_before, tau);
  sigma_before = sigma;
  if (norm == 0.0)
    sigma = 1.0 / std::sqrt(tau);
  else if (norm == 1.0)
    sigma = 0.5 / tau;
}

void evidence_step(const RunParameters& p, const RunSetup& s, const HyperParameters& h,
                   LevelState& level) {
  const int l = level.resol;
  // Both orders share the Hessian, its log-determinant and the data terms.
  const ModelEvidence evidence(s.pyrXinc[l], s.pyrXtil[l], s.pyrf_x[l], s.pyrf_y[l],
                               s.pyrf_t[l], s.pyrOut[l], level.reg_out, h.beta, h.alpha,
                               p.periodic);
  level.currentEvidence1 = evidence.minusLogEvidence(1);
  level.currentEvidence2 = evidence.minusLogEvidence(2);
}

bool three_strike_rule(LevelState& level) {
  const bool strike = level.currentEvidence1 > level.currentEvidenceMin1 ||
                      (level.currentEvidence2 > level.currentEvidenceMin2 &&
                       level.count >= kFirstJudgedOrder2Iteration);
  if (!strike) {
    level.currentEvidenceMin1 = std::fmin(level.currentEvidenceMin1, level.currentEvidence1);
    level.currentEvidenceMin2 = std::fmin(level.currentEvidenceMin2, level.currentEvidence2);
    level.countConv = 0.0;
    return false;
  }
  level.countConv += 1.0;
  if (level.countConv < kStrikesToStop) return false;
  std::cout << "CONVERGENCE " << level.countConv << " ... " << std::endl;
  return true;
}

bool no_adoption_rule(LevelState& level, const EstimateOutcome& outcome) {
  if (outcome.attempted == 0) return false;
  const bool progress = outcome.moved > 0 && std::isfinite(level.currentEvidence1) &&
                        std::isfinite(level.currentEvidence2);
  if (progress) {
    level.barrenIterations = 0;
    return false;
  }
  ++level.barrenIterations;
  if (level.barrenIterations < kBarrenIterationsToStop) return false;
  std::cout << "No estimate adopted in " << level.barrenIterations
            << " consecutive iterations: the level ends" << std::endl;
  return true;
}
