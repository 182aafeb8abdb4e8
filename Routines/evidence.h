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

// Joint updates of alpha, beta and the data robust factor tau, for the
// Leclerc data weight exp(-tau*r^2) and for the quasi-total-variation
// weight 1/sqrt(1 + 4 tau^2 r^2), r the linearised residual of UVinc. New
// array of three (caller frees with delete[]): [0] alpha, [1] beta,
// [2] tau.
//   beta  = gamma_d / (2 E_d), gamma_d = Nmask - trace(A^-1 A0);
//   alpha = gamma_r / (2 beta' E_r), gamma_r = taille - alpha trace(A^-1 Ar),
//           beta' the new beta, E_r the second-order energy of UVtil + UVinc;
//   tau   = tau - fTau / (4 DfTau), one quarter of a Newton step on fTau.
// A negative gamma_d or gamma_r keeps the current value with the message
// "Error : negative beta variance (<Nmask> - <trace> < 0)" or "Error :
// negative gamma estimate (<gamma_r> < 0)"; a new tau that is negative or
// not finite keeps the current tau with "Error : negative sigma variance
// (<tau> < 0)". The tau step prints fTau and a blank (the quasi-TV form
// also -fTau/DfTau), leaving the line open.
double* evidence_alphaBetaAndTauHS_normalized(
    const cimg_library::CImg<double>& UVinc, const cimg_library::CImg<double>& UVtil,
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& im_t, const cimg_library::CImg<double>& data_out,
    const cimg_library::CImgList<double>& reg_out, double alpha, double beta, int nbIt,
    double tol, double tau, bool periodic);
double* evidence_alphaBetaAndTauHS_normalized_QuasiTV(
    const cimg_library::CImg<double>& UVinc, const cimg_library::CImg<double>& UVtil,
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& im_t, const cimg_library::CImg<double>& data_out,
    const cimg_library::CImgList<double>& reg_out, double alpha, double beta, int nbIt,
    double tol, double tau, bool periodic);

// Joint update of alpha, beta, the Leclerc data factor tau_d and the
// Leclerc smoothness factor tau_r: new array of four (caller frees with
// delete[]): [0] alpha, [1] beta, [2] tau_d, [3] tau_r. Alpha, beta and
// tau_d as the Leclerc form above; tau_r takes a quarter Newton step on
//   fTau = (E_2 - alpha' trace(A^-1 ArFx)) - beta' alpha' E_4,
//   DfTau = alpha' (beta' E_6 + trace(A^-1 ArdFx)),
// E_2 the unweighted and E_4, E_6 the weighted first-order energies of
// powers 2, 4 and 6 of UVtil + UVinc. Prints "grad_tau_d, dtau_d: f s, "
// and "grad_tau_r, dtau_r: f s " on one line (s = -fTau/DfTau); a kept
// factor prints "Error : negative sigma_d variance (...)" or "... sigma_r
// ...".
double* evidence_alphaBetaAndTauDataAndRegHS_normalized(
    const cimg_library::CImg<double>& UVinc, const cimg_library::CImg<double>& UVtil,
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& im_t, const cimg_library::CImg<double>& data_out,
    const cimg_library::CImgList<double>& reg_out, double alpha, double beta, int nbIt,
    double tol, double tau_d, double tau_r, bool periodic);

// Steps shared by the joint updates, with their messages.
// est[1] = gamma_d / (2 E_d), gamma_d = Nmask - t[1], or beta when
// gamma_d < 0; then est[0] = gamma_r / (2 est[1] E_r), gamma_r = taille -
// alpha t[0], or alpha when gamma_r < 0. t: the traces of A^-1 Ar (t[0])
// and A^-1 A0 (t[1]).
void joint_beta_alpha(double* est, double Nmask, const double* t, double E_d, double E_r,
                      int taille, double alpha, double beta);
// tau - fTau / (4 DfTau) when that is finite and >= 0; otherwise tau, with
// "Error : negative <name> variance (<value> < 0)".
double robust_factor_step(double tau, double fTau, double DfTau, const char* name);

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
