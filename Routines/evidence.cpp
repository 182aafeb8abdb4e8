// Evidence updates of beta and alpha and the negative log-evidence of the
// linearised flow model.
#include "evidence.h"

#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "CImg.h"
#include "cimg_sum.h"
#include "energies.h"
#include "hessian_assembly.h"
#include "image_utils.h"
#include "level_solve.h"
#include "trace_estimators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// ln(2 pi), the normalisation of each Gaussian data sample.
constexpr double kLogTwoPi = 1.8378770664093453;

// The compressed-row Hessian of E_d + weight*E_r of one level, owned.
struct LevelHessian {
  int taille, nombre;
  std::vector<double> val;
  std::vector<int> col_ind, row_ptr;
  LevelHessian(const CImg<double>& im_x, const CImg<double>& im_y, const CImg<double>& data_out,
               const CImgList<double>& reg_out, float weight, bool periodic)
      : taille(2 * im_x.width() * im_x.height()),
        nombre(hessianNombre(im_x.width(), im_x.height(), periodic)),
        val(nombre),
        col_ind(nombre),
        row_ptr(taille + 1) {
    fillingSparseHessian_A_HS(val.data(), col_ind.data(), row_ptr.data(), im_x, im_y, data_out,
                              reg_out, weight, nombre, periodic);
  }
};

// E_d of the increment UVinc with the products of the level's derivatives.
double data_energy(const CImg<double>& UVinc, const CImg<double>& im_x, const CImg<double>& im_y,
                   const CImg<double>& im_t, const CImg<double>& data_out) {
  return DataEnergy(UVinc.get_slice(0), UVinc.get_slice(1), im_x.get_mul(im_x),
                    im_y.get_mul(im_y), im_x.get_mul(im_y), im_t.get_mul(im_x),
                    im_t.get_mul(im_y), im_t.get_mul(im_t), data_out);
}

// Number of pixels whose data weight is above 0.
double valid_pixels(const CImg<double>& data_out) { return cimgSum(binarize(data_out, 0.0)); }

// x2 = r^2, r = (Ix U + Iy V) + It the linearised residual of the increment.
CImg<double> squared_residual(const CImg<double>& UVinc, const CImg<double>& im_x,
                              const CImg<double>& im_y, const CImg<double>& im_t) {
  const CImg<double> r =
      (im_x.get_mul(UVinc.get_slice(0)) + im_y.get_mul(UVinc.get_slice(1))) + im_t;
  return r.get_mul(r);
}

// gamma_d = Nmask - trace(A^-1 A0) < 0: the message of the beta updates.
void report_negative_beta_variance(double Nmask, double t_d) {
  std::cout << "Error : negative beta variance (" << Nmask << " - " << t_d << " < 0)"
            << std::endl;
}

// Data-robust part of the Leclerc updates: fTau and DfTau of tau_d.
void leclerc_data_step(const CImg<double>& M, const CImg<double>& x2,
                       const CImg<double>& data_out, const double* t, double beta_new,
                       double& fTau, double& DfTau) {
  const CImg<double> x2x2 = x2.get_mul(x2);
  fTau = cimgSum(M.get_mul(x2)) - t[2] - beta_new * cimgSum(x2x2.get_mul(data_out));
  DfTau = beta_new * cimgSum(x2x2.get_mul(x2).mul(data_out)) + t[3];
}

// The common start of the joint updates: the Hessian at alpha, E_d of the
// increment, x2, the mask of valid pixels and E_r of the total flow.
struct JointTerms {
  LevelHessian A;
  double E_d, E_r, Nmask;
  CImg<double> x2, M, W;
  JointTerms(const CImg<double>& UVinc, const CImg<double>& UVtil, const CImg<double>& im_x,
             const CImg<double>& im_y, const CImg<double>& im_t, const CImg<double>& data_out,
             const CImgList<double>& reg_out, double alpha, bool periodic)
      : A(im_x, im_y, data_out, reg_out, static_cast<float>(alpha), periodic),
        E_d(data_energy(UVinc, im_x, im_y, im_t, data_out)),
        x2(squared_residual(UVinc, im_x, im_y, im_t)),
        M(binarize(data_out, 0.0)),
        W(UVinc + UVtil) {
    Nmask = cimgSum(M);
    E_r = PriorEnergyHS_powK_2nd(W.get_slice(0), W.get_slice(1), reg_out, 2, periodic);
  }
};

}  // namespace

// The beta and alpha steps of the joint updates: est[1] the new beta (the
// current one when gamma_d < 0), est[0] the new alpha computed with it (the
// current one when gamma_r < 0).
void joint_beta_alpha(double* est, double Nmask, const double* t, double E_d, double E_r,
                      int taille, double alpha, double beta) {
  const double gamma_d = Nmask - t[1];
  est[1] = gamma_d / (E_d + E_d);
  if (gamma_d < 0) {
    report_negative_beta_variance(Nmask, t[1]);
    est[1] = beta;
  }
  const double gamma_r = static_cast<double>(taille) - alpha * t[0];
  est[0] = gamma_r / ((est[1] + est[1]) * E_r);
  if (gamma_r < 0) {
    std::cout << "Error : negative gamma estimate (" << gamma_r << " < 0)" << std::endl;
    est[0] = alpha;
  }
}

// A quarter Newton step on fTau from tau. A result that is negative or not
// finite (DfTau = 0 gives an infinite one) keeps tau and prints
// "Error : negative <name> variance (<result> < 0)".
double robust_factor_step(double tau, double fTau, double DfTau, const char* name) {
  const double tau_new = tau - 0.25 * fTau / DfTau;
  if (std::isfinite(tau_new) && tau_new >= 0) return tau_new;
  std::cout << "Error : negative " << name << " variance (" << tau_new << " < 0)" << std::endl;
  return tau;
}

double evidence_betaHS(const CImg<double>& UVinc, const CImg<double>& im_x,
                       const CImg<double>& im_y, const CImg<double>& im_t,
                       const CImg<double>& data_out, const CImgList<double>& reg_out,
                       double alpha, int nbIt, double tol, double s, bool periodic) {
  const double E_d = data_energy(UVinc, im_x, im_y, im_t, data_out);
  LevelHessian A(im_x, im_y, data_out, reg_out, static_cast<float>(alpha), periodic);
  const double t_d = CGS_randomB_traceInvAA0(A.taille, A.nombre, A.val.data(), A.row_ptr.data(),
                                             A.col_ind.data(), im_x.get_mul(im_x),
                                             im_x.get_mul(im_y), im_y.get_mul(im_y), data_out,
                                             nbIt, tol);
  const double Nmask = valid_pixels(data_out);
  const double gamma_d = Nmask - t_d;
  if (gamma_d < 0) report_negative_beta_variance(Nmask, t_d);
  return gamma_d / ((s + s) * E_d);
}

double evidence_alphaHS(const CImg<double>& UV, const CImg<double>& im_x, const CImg<double>& im_y,
                        const CImg<double>&, const CImg<double>& data_out,
                        const CImgList<double>& reg_out, double gamma, double beta, int nbIt,
                        double tol, double s, bool periodic) {
  const int nc = UV.width(), nl = UV.height();
  LevelHessian A(im_x, im_y, data_out, reg_out, static_cast<float>(gamma), periodic);
  const double E_r = PriorEnergyHS_powK_2nd(UV.get_slice(0), UV.get_slice(1), reg_out, 2,
                                            periodic);
  const double t_r = CGS_randomB_traceInvAAr(A.taille, A.nombre, nc, nl, A.val.data(),
                                             A.row_ptr.data(), A.col_ind.data(), reg_out, nbIt,
                                             tol, periodic);
  const double estimate =
      (static_cast<double>(A.taille) - t_r * gamma) / (((beta + beta) * s) * E_r);
  if (estimate < 0) {
    std::cout << "ERROR : negative gamma !" << std::endl;
    return gamma;
  }
  return estimate;
}

double* evidence_alphaBetaAndTauHS_normalized(const CImg<double>& UVinc, const CImg<double>& UVtil,
                                              const CImg<double>& im_x, const CImg<double>& im_y,
                                              const CImg<double>& im_t,
                                              const CImg<double>& data_out,
                                              const CImgList<double>& reg_out, double alpha,
                                              double beta, int nbIt, double tol, double tau,
                                              bool periodic) {
  std::unique_ptr<double[]> est(new double[3]);
  JointTerms j(UVinc, UVtil, im_x, im_y, im_t, data_out, reg_out, alpha, periodic);
  const std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0Fx(
      j.A.taille, j.A.nombre, j.A.val.data(), j.A.row_ptr.data(), j.A.col_ind.data(),
      im_x.get_mul(im_x), im_x.get_mul(im_y), im_y.get_mul(im_y), data_out, reg_out, j.x2, nbIt,
      tol, periodic));
  joint_beta_alpha(est.get(), j.Nmask, t.get(), j.E_d, j.E_r, j.A.taille, alpha, beta);
  double fTau, DfTau;
  leclerc_data_step(j.M, j.x2, data_out, t.get(), est[1], fTau, DfTau);
  std::cout << fTau << " ";
  est[2] = robust_factor_step(tau, fTau, DfTau, "sigma");
  return est.release();
}

double* evidence_alphaBetaAndTauHS_normalized_QuasiTV(
    const CImg<double>& UVinc, const CImg<double>& UVtil, const CImg<double>& im_x,
    const CImg<double>& im_y, const CImg<double>& im_t, const CImg<double>& data_out,
    const CImgList<double>& reg_out, double alpha, double beta, int nbIt, double tol, double tau,
    bool periodic) {
  std::unique_ptr<double[]> est(new double[3]);
  JointTerms j(UVinc, UVtil, im_x, im_y, im_t, data_out, reg_out, alpha, periodic);
  // a = -4 x2 tau / D, a2 = a^2, b = (16 tau^2 x2^2 - 1) / (D sqrt(D)),
  // D = 1 + 4 tau^2 x2.
  const double fourTau2 = 4 * tau * tau;
  CImg<double> a(j.x2, "xyzc"), a2(j.x2, "xyzc"), b(j.x2, "xyzc");
  cimg_forXY(j.x2, x, y) {
    const double w = j.x2(x, y), D = 1 + fourTau2 * w;
    a(x, y) = ((-4.0) * w * tau) / D;
    a2(x, y) = a(x, y) * a(x, y);
    b(x, y) = (((4 * w * tau * tau) * w) * 4 - 1) / (D * std::sqrt(D));
  }
  const std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0Fx_QuasiTV(
      j.A.taille, j.A.nombre, j.A.val.data(), j.A.row_ptr.data(), j.A.col_ind.data(),
      im_x.get_mul(im_x), im_x.get_mul(im_y), im_y.get_mul(im_y), data_out, reg_out, j.x2, tau,
      nbIt, tol, periodic));
  joint_beta_alpha(est.get(), j.Nmask, t.get(), j.E_d, j.E_r, j.A.taille, alpha, beta);
  const double bh = est[1];
  const CImg<double> x2rho = j.x2.get_mul(data_out);
  const double fTau = bh * cimgSum(x2rho.get_mul(a)) + t[2] - cimgSum(j.M.get_mul(a));
  const double DfTau = bh * cimgSum(x2rho.get_mul(b.get_mul(data_out) + a2)) + t[3] -
                       cimgSum(j.M.get_mul(data_out).mul(b));
  std::cout << fTau << " " << -fTau / DfTau;
  est[2] = robust_factor_step(tau, fTau, DfTau, "sigma");
  return est.release();
}

double* evidence_alphaBetaAndTauDataAndRegHS_normalized(
    const CImg<double>& UVinc, const CImg<double>& UVtil, const CImg<double>& im_x,
    const CImg<double>& im_y, const CImg<double>& im_t, const CImg<double>& data_out,
    const CImgList<double>& reg_out, double alpha, double beta, int nbIt, double tol,
    double tau_d, double tau_r, bool periodic) {
  std::unique_ptr<double[]> est(new double[4]);
  JointTerms j(UVinc, UVtil, im_x, im_y, im_t, data_out, reg_out, alpha, periodic);
  const std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0ArFx(
      j.A.taille, j.A.nombre, j.A.val.data(), j.A.row_ptr.data(), j.A.col_ind.data(),
      im_x.get_mul(im_x), im_x.get_mul(im_y), im_y.get_mul(im_y), data_out, reg_out, j.x2, j.W,
      nbIt, tol, periodic));
  joint_beta_alpha(est.get(), j.Nmask, t.get(), j.E_d, j.E_r, j.A.taille, alpha, beta);
  const double ah = est[0], bh = est[1];
  double fTau, DfTau;
  leclerc_data_step(j.M, j.x2, data_out, t.get(), bh, fTau, DfTau);
  std::cout << "grad_tau_d, dtau_d: " << fTau << " " << -fTau / DfTau << ", ";
  est[2] = robust_factor_step(tau_d, fTau, DfTau, "sigma_d");
  const CImg<double> U = j.W.get_slice(0), V = j.W.get_slice(1);
  const double priorEnergy_2 = PriorEnergyHS_powK_1st(U, V, 2.0, periodic);
  const double priorEnergy_4 = PriorEnergyHS_powK_1st(U, V, reg_out, 4.0, periodic);
  const double priorEnergy_6 = PriorEnergyHS_powK_1st(U, V, reg_out, 6.0, periodic);
  fTau = (priorEnergy_2 - ah * t[4]) - bh * ah * priorEnergy_4;
  DfTau = ah * (bh * priorEnergy_6 + t[5]);
  std::cout << "grad_tau_r, dtau_r: " << fTau << " " << -fTau / DfTau << " " << std::endl;
  est[3] = robust_factor_step(tau_r, fTau, DfTau, "sigma_r");
  return est.release();
}

ModelEvidence::ModelEvidence(const CImg<double>& UVinc, const CImg<double>& UVtil,
                             const CImg<double>& im_x, const CImg<double>& im_y,
                             const CImg<double>& im_t, const CImg<double>& data_out,
                             const CImgList<double>& reg_out, double beta, double gamma,
                             bool periodic)
    : UVinc_(UVinc),
      UVtil_(UVtil),
      reg_out_(reg_out),
      beta_(beta),
      gamma_(gamma),
      periodic_(periodic),
      taille_(2 * im_x.width() * im_x.height()) {
  const double E_d = data_energy(UVinc, im_x, im_y, im_t, data_out);
  lnGamma_ = std::log(gamma);
  {
    LevelHessian A(im_x, im_y, data_out, reg_out, static_cast<float>(gamma), periodic);
    logdetPost_ = ILU_logDetA(A.taille, A.nombre, A.val.data(), A.row_ptr.data(),
                              A.col_ind.data());
  }
  G_ = valid_pixels(data_out) * (kLogTwoPi - std::log(beta));
  Srho_ = cimgSum(treshold_minmax(data_out, 0.0, 1e30, 1.0).get_log());
  dataEnergy_ = beta * E_d;
  lnTwoData_ = std::log(2 * dataEnergy_);
  S0_ = cimgSum(reg_out[0].get_log());
  S1_ = cimgSum(reg_out[1].get_log());
}

double ModelEvidence::minusLogEvidence(int order) const {
  const CImg<double> W = UVinc_ + UVtil_;
  const double E_r =
      order == 1
          ? PriorEnergyHS_powK_1st(W.get_slice(0), W.get_slice(1), reg_out_, 2.0, periodic_)
          : PriorEnergyHS_powK_2nd(W.get_slice(0), W.get_slice(1), reg_out_, 2, periodic_);
  const double priorEnergy = E_r * (gamma_ * beta_);
  const double X = 2 * priorEnergy - taille_ * lnGamma_ + logdetPost_ + G_ + lnTwoData_ +
                   std::log(2 * priorEnergy) - Srho_ - S0_ - S1_;
  const double minusLogOccam = 0.5 * X;
  const double minusLogEvidence = 0.5 * (X + 2 * dataEnergy_);
  std::cout << "-log evidence = data energy + -log occam = " << dataEnergy_ << " + "
            << minusLogOccam << " = " << minusLogEvidence << std::endl;
  return minusLogEvidence;
}

double evidence_modelHS_Mackay(const CImg<double>& UVinc, const CImg<double>& UVtil,
                               const CImg<double>& im_x, const CImg<double>& im_y,
                               const CImg<double>& im_t, const CImg<double>& data_out,
                               const CImgList<double>& reg_out, double beta, double gamma, double,
                               bool periodic, int order) {
  return ModelEvidence(UVinc, UVtil, im_x, im_y, im_t, data_out, reg_out, beta, gamma, periodic)
      .minusLogEvidence(order);
}
