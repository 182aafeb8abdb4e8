// Evidence updates of the hyper-parameters and the model's negative
// log-evidence.
//
// The negative log-posterior of the flow is beta*E_d + alpha*beta*E_r, with
// E_d the data energy of the level's increment and E_r a regularisation
// energy of the total flow (energies.h); the Hessian of each update is that
// of E_d + alpha*E_r (hessian_assembly.h, alpha narrowed to float). Flow
// fields are nc x nl x 2 (slice 0 U, slice 1 V); every image of a call has
// the level's size nc x nl. Each update assembles its own system and frees
// it before returning; the trace estimates reseed the random deviates.
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// New beta = gamma_d / (2*s*E_d), gamma_d = Nmask - trace(A^-1 A0), Nmask
// the number of pixels with data_out > 0, E_d the data energy of UVinc, A
// assembled with `alpha`. gamma_d < 0 prints "Error : negative beta variance
// (<Nmask> - <trace> < 0)" and the negative quotient is still returned.
double evidence_betaHS(const cimg_library::CImg<double>& UVinc,
                       const cimg_library::CImg<double>& im_x,
                       const cimg_library::CImg<double>& im_y,
                       const cimg_library::CImg<double>& im_t,
                       const cimg_library::CImg<double>& data_out,
                       const cimg_library::CImgList<double>& reg_out, double alpha, int nbIt,
                       double tol, double s, bool periodic);

// New alpha = (taille - gamma*trace(A^-1 Ar)) / (2*beta*s*E_r), E_r the
// second-order energy (power 2) of UV, A assembled with `gamma` (the current
// alpha). A negative quotient prints "ERROR : negative gamma !" and returns
// gamma unchanged. im_t is not read.
double evidence_alphaHS(const cimg_library::CImg<double>& UV,
                        const cimg_library::CImg<double>& im_x,
                        const cimg_library::CImg<double>& im_y,
                        const cimg_library::CImg<double>& im_t,
                        const cimg_library::CImg<double>& data_out,
                        const cimg_library::CImgList<double>& reg_out, double gamma, double beta,
                        int nbIt, double tol, double s, bool periodic);

// Negative log-evidence for the first-order prior (order 1) or the
// second-order prior (any other order):
//   beta*E_d + gamma*beta*E_r + 1/2 ln det A - nc*nl ln gamma
//   + 1/2 Nmask (ln 2pi - ln beta) + 1/2 ln(2 beta E_d) + 1/2 ln(2 gamma beta E_r)
//   - 1/2 sum ln rho~ - 1/2 sum ln reg_out[0] - 1/2 sum ln reg_out[1],
// E_d on UVinc, E_r on UVtil + UVinc, ln det A the ILU(0) log-determinant of
// the Hessian at gamma, rho~ the data weights with values <= 0 or >= 1e30
// read as 1. Prints "-log evidence = data energy + -log occam = <beta*E_d> +
// <occam> = <total>" and returns the total. Avirer takes no part.
double evidence_modelHS_Mackay(const cimg_library::CImg<double>& UVinc,
                               const cimg_library::CImg<double>& UVtil,
                               const cimg_library::CImg<double>& im_x,
                               const cimg_library::CImg<double>& im_y,
                               const cimg_library::CImg<double>& im_t,
                               const cimg_library::CImg<double>& data_out,
                               const cimg_library::CImgList<double>& reg_out, double beta,
                               double gamma, double Avirer, bool periodic, int order);

// The terms of evidence_modelHS_Mackay that do not depend on the prior
// order, computed once (the Hessian is assembled and factored once) for
// evaluations at several orders; each evaluation prints the line and
// returns the value of evidence_modelHS_Mackay at that order, bit for bit.
// The images and the list are referenced, not copied: they must outlive it.
class ModelEvidence {
 public:
  ModelEvidence(const cimg_library::CImg<double>& UVinc, const cimg_library::CImg<double>& UVtil,
                const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
                const cimg_library::CImg<double>& im_t,
                const cimg_library::CImg<double>& data_out,
                const cimg_library::CImgList<double>& reg_out, double beta, double gamma,
                bool periodic);
  double minusLogEvidence(int order) const;

 private:
  const cimg_library::CImg<double>& UVinc_;
  const cimg_library::CImg<double>& UVtil_;
  const cimg_library::CImgList<double>& reg_out_;
  double beta_, gamma_;
  bool periodic_;
  int taille_;
  double dataEnergy_;  // beta * E_d
  double lnGamma_, logdetPost_, G_, lnTwoData_, Srho_, S0_, S1_;
};
