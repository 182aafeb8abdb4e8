#include "hyperparameter_steps.h"

#include <cmath>
#include <iostream>

#include "evidence.h"

using cimg_library::CImg;

namespace {

// The order-2 evidence is not judged in the first iterations of a level.
constexpr int kFirstJudgedOrder2Iteration = 3;
// Consecutive strikes that end a level.
constexpr double kStrikesToStop = 3.0;

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

double hyperparameter_step(const RunParameters& p, const RunSetup& s, HyperParameters& h,
                           const LevelState& level) {
  const int l = level.resol;
  // The robust parameters are estimated with alpha and beta at level 0 by
  // the joint updates, not built yet: the separate updates run instead.
  double d = 0.0;
  if (p.sigmaBetaEstim)
    adopt_estimate("beta", h.beta,
                   evidence_betaHS(s.pyrXinc[l], s.pyrf_x[l], s.pyrf_y[l], s.pyrf_t[l],
                                   s.pyrOut[l], level.reg_out, h.alpha, p.nbIt, p.tol, 1.0,
                                   p.periodic));
  if (p.sigmaAlphaEstim) {
    const double alpha_tmp = h.alpha;
    adopt_estimate("alpha", h.alpha,
                   evidence_alphaHS(s.pyrXtil[l] + s.pyrXinc[l], s.pyrf_x[l], s.pyrf_y[l],
                                    s.pyrf_t[l], s.pyrOut[l], level.reg_out, h.alpha, h.beta,
                                    p.nbIt, p.tol, 1.0, p.periodic));
    d = std::fabs(alpha_tmp - h.alpha);
  }
  return d;
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
