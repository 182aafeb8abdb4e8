// Evidence updates of beta and alpha and the negative log-evidence of the
// linearised flow model.
#include "evidence.h"

#include <cmath>
#include <iostream>
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

}  // namespace

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
  if (gamma_d < 0)
    std::cout << "Error : negative beta variance (" << Nmask << " - " << t_d << " < 0)"
              << std::endl;
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
