// Randomized trace estimators: one probe skeleton (draw, solve, unpack,
// samples) shared by every member, which differ only in their operators.
#include "trace_estimators.h"

#include <array>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "CImg.h"
#include "level_solve.h"
#include "mvvd.h"
#include "operators.h"
#include "random_deviates.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One probe as the operators see it: z and x = A^-1 z in the system
// numbering, the level size and, for the members with Ar, the probe's U and
// V parts as images.
struct Probe {
  int nc = 0, nl = 0, ncnl = 0;
  MV_Vector_double z, x;
  CImg<double> B_u, B_v;
  Probe(int nc_, int nl_)
      : nc(nc_), nl(nl_), ncnl(nc_ * nl_), z(2 * nc_ * nl_, 0.0), x(2 * nc_ * nl_, 0.0),
        B_u(nc_, nl_, 1, 1, 0.0), B_v(nc_, nl_, 1, 1, 0.0) {}
};

// z <- the next 2*nc*nl deviates: pixels row by row, U entry first.
void draw_probe(long& idum, Probe& pr) {
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) {
      const int p = y * pr.nc + x;
      pr.z(p) = static_cast<double>(gasdev(&idum));
      pr.z(pr.ncnl + p) = static_cast<double>(gasdev(&idum));
    }
}

// Sums over nbIt probes of the N samples x . (M_i z) that `samples` forms
// from one probe (each accumulated over k ascending from 0.0). The system is
// factored once; every probe is solved from 0 with tolerance tol.
template <std::size_t N, typename Samples>
std::array<double, N> probe_sums(int taille, int nombre, int nc, int nl, double* val,
                                 int* row_ptr, int* col_ind, int nbIt, double tol,
                                 const Samples& samples) {
  assert(taille == 2 * nc * nl);
  long idum = probe_seed();
  std::array<double, N> sums{};
  if (nbIt <= 0) return sums;
  const FactoredSystem A(taille, nombre, val, row_ptr, col_ind);
  Probe pr(nc, nl);
  CImg<double> X(nc, nl, 2, 1, 0.0);
  for (int it = 0; it < nbIt; ++it) {
    draw_probe(idum, pr);
    const int code = A.solve(pr.z, X, tol);
    if (code != 0) {
      std::printf("Error CGS convergence %d (in trace randomization)\n", code);
      std::fflush(stdout);
    }
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        pr.x(y * nc + x) = X(x, y, 0);
        pr.x(pr.ncnl + y * nc + x) = X(x, y, 1);
      }
    const std::array<double, N> s = samples(pr);
    for (std::size_t i = 0; i < N; ++i) sums[i] += s[i];
  }
  return sums;
}

// Mean of the single-trace members: sum / nbIt, not a number for nbIt <= 0.
double mean_of(double sum, int nbIt) { return nbIt > 0 ? sum / nbIt : kNaN; }

// Results of the multi-trace members: sum * (1/nbIt), in a new[] array.
template <std::size_t N>
double* means_array(const std::array<double, N>& sums, int nbIt) {
  double* r = new double[N];
  const double inv = nbIt > 0 ? 1.0 / nbIt : kNaN;
  for (std::size_t i = 0; i < N; ++i) r[i] = sums[i] * inv;
  return r;
}

// Data block of one pixel: J_u and J_v of the probe at flat index p.
struct DataBlock {
  const CImg<double>&IxIx, &IxIy, &IyIy;
  void J(const Probe& pr, int x, int y, double& Ju, double& Jv) const {
    const int p = y * pr.nc + x;
    const double zu = pr.z(p), zv = pr.z(pr.ncnl + p);
    Ju = IxIx(x, y) * zu + IxIy(x, y) * zv;
    Jv = IxIy(x, y) * zu + IyIy(x, y) * zv;
  }
};

// B_u, B_v <- -laplacian of the probe's U and V parts.
void probe_images(Probe& pr) {
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) {
      pr.B_u(x, y) = pr.z(y * pr.nc + x);
      pr.B_v(x, y) = pr.z(pr.ncnl + y * pr.nc + x);
    }
}
void smoothness_images(Probe& pr, const CImgList<double>& reg_out, bool periodic) {
  probe_images(pr);
  pr.B_u = -laplacian(pr.B_u, reg_out, periodic);
  pr.B_v = -laplacian(pr.B_v, reg_out, periodic);
}

// x . (M z) for a smoothness operator whose U and V parts are the images
// Mu, Mv, over the U block then the V block.
double smoothness_sample(const Probe& pr, const CImg<double>& Mu, const CImg<double>& Mv) {
  double s = 0.0;
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) s += pr.x(y * pr.nc + x) * Mu(x, y);
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) s += pr.x(pr.ncnl + y * pr.nc + x) * Mv(x, y);
  return s;
}

// x . (Ar z).
double smoothness_sample(const Probe& pr) { return smoothness_sample(pr, pr.B_u, pr.B_v); }

// The three data samples x . (A0 z), x . (A0Fx z), x . (A0dFx z) of a
// four-trace member; `weights(x, y, J, a0, fx, dfx)` gives the three
// operator values of one component with data block value J.
template <typename Weights>
std::array<double, 3> data_samples(const Probe& pr, const DataBlock& blk, const Weights& weights) {
  std::array<double, 3> s{};
  // U block, then V block: k ascending.
  for (int part = 0; part < 2; ++part)
    for (int y = 0; y < pr.nl; ++y)
      for (int x = 0; x < pr.nc; ++x) {
        double Ju, Jv, a0, fx, dfx;
        blk.J(pr, x, y, Ju, Jv);
        weights(x, y, part == 0 ? Ju : Jv, a0, fx, dfx);
        const double xk = pr.x(part * pr.ncnl + y * pr.nc + x);
        s[0] += xk * a0;
        s[1] += xk * fx;
        s[2] += xk * dfx;
      }
  return s;
}

// A0, A0Fx and A0dFx at one pixel for the exponential data weight, from the
// data block value J of one component.
struct ExponentialBlocks {
  const CImg<double>&data_out, &x2;
  void operator()(int x, int y, double J, double& a0, double& fx, double& dfx) const {
    const double rho = data_out(x, y), w = x2(x, y);
    a0 = J * rho;
    fx = w * rho * J;
    dfx = rho * w * w * J;
  }
};

// The four-trace members: Ar and the three data operators that
// `weights(x, y, J, a0, fx, dfx)` gives per pixel, in a new[] array.
template <typename Weights>
double* four_traces(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                    const CImg<double>& IxIx, const CImg<double>& IxIy, const CImg<double>& IyIy,
                    const CImgList<double>& reg_out, int nbIt, double tol, bool periodic,
                    const Weights& weights) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const auto sums = probe_sums<4>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        smoothness_images(pr, reg_out, periodic);
        const std::array<double, 3> d = data_samples(pr, blk, weights);
        return std::array<double, 4>{smoothness_sample(pr), d[0], d[1], d[2]};
      });
  return means_array(sums, nbIt);
}

}  // namespace

double CGS_randomB_traceInvA(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                             int* col_ind, int nbIt, double tol) {
  const auto sums = probe_sums<1>(taille, nombre, nc, nl, val, row_ptr, col_ind, nbIt, tol,
                                  [](Probe& pr) {
                                    double s = 0.0;
                                    for (int k = 0; k < 2 * pr.ncnl; ++k) s += pr.x(k) * pr.z(k);
                                    return std::array<double, 1>{s};
                                  });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAA0(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                               const CImg<double>& IxIx, const CImg<double>& IxIy,
                               const CImg<double>& IyIy, const CImg<double>& data_out, int nbIt,
                               double tol) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const auto sums = probe_sums<1>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        double s = 0.0;
        for (int part = 0; part < 2; ++part)
          for (int y = 0; y < pr.nl; ++y)
            for (int x = 0; x < pr.nc; ++x) {
              double Ju, Jv;
              blk.J(pr, x, y, Ju, Jv);
              s += pr.x(part * pr.ncnl + y * pr.nc + x) * ((part == 0 ? Ju : Jv) * data_out(x, y));
            }
        return std::array<double, 1>{s};
      });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, const CImgList<double>& reg_out, int nbIt, double tol,
                               bool periodic) {
  const auto sums = probe_sums<1>(taille, nombre, nc, nl, val, row_ptr, col_ind, nbIt, tol,
                                  [&](Probe& pr) {
                                                                smoothness_images(pr, reg_out, periodic);
                                    return std::array<double, 1>{smoothness_sample(pr)};
                                  });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, int nbIt, double tol, bool periodic) {
  const CImgList<double> ones(2, nc, nl, 1, 1, 1.0);
  return CGS_randomB_traceInvAAr(taille, nombre, nc, nl, val, row_ptr, col_ind, ones, nbIt, tol,
                                 periodic);
}

double* CGS_randomB_traceInvAA0Fx(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                                  const CImg<double>& IxIx, const CImg<double>& IxIy,
                                  const CImg<double>& IyIy, const CImg<double>& data_out,
                                  const CImgList<double>& reg_out, const CImg<double>& x2,
                                  int nbIt, double tol, bool periodic) {
  return four_traces(taille, nombre, val, row_ptr, col_ind, IxIx, IxIy, IyIy, reg_out, nbIt, tol,
                     periodic, ExponentialBlocks{data_out, x2});
}

double* CGS_randomB_traceInvAA0Fx_QuasiTV(int taille, int nombre, double* val, int* row_ptr,
                                          int* col_ind, const CImg<double>& IxIx,
                                          const CImg<double>& IxIy, const CImg<double>& IyIy,
                                          const CImg<double>& data_out,
                                          const CImgList<double>& reg_out, const CImg<double>& x2,
                                          double tau, int nbIt, double tol, bool periodic) {
  const double fourTau2 = 4.0 * tau * tau, fourTau = 4.0 * tau;
  const auto weights = [&](int x, int y, double J, double& a0, double& fx, double& dfx) {
    const double rho = data_out(x, y), w = x2(x, y);
    const double s = fourTau2 * w + 1.0;
    const double g1 = -(fourTau * w) / s;
    const double g2 = (4.0 * w * (fourTau2 * w - 1.0)) / (s * std::sqrt(s));
    a0 = J * rho;
    fx = rho * J * g1;
    dfx = rho * J * (rho * g2 + g1 * g1);
  };
  return four_traces(taille, nombre, val, row_ptr, col_ind, IxIx, IxIy, IyIy, reg_out, nbIt, tol,
                     periodic, weights);
}

double* CGS_randomB_traceInvAA0ArFx(int taille, int nombre, double* val, int* row_ptr,
                                    int* col_ind, const CImg<double>& IxIx,
                                    const CImg<double>& IxIy, const CImg<double>& IyIy,
                                    const CImg<double>& data_out, const CImgList<double>& reg_out,
                                    const CImg<double>& x2, const CImg<double>& UV, int nbIt,
                                    double tol, bool periodic) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const ExponentialBlocks weights{data_out, x2};
  const CImg<double> U = UV.get_slice(0), V = UV.get_slice(1);
  const auto sums = probe_sums<6>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        probe_images(pr);
        // Power-weighted Laplacians of the raw probe parts, then Ar.
        auto powered = [&](const CImg<double>& part, const CImg<double>& flow, double power) {
          return -laplacianPiemeDerivRobustWeight(part, reg_out, flow, power, periodic);
        };
        const CImg<double> B2_u = powered(pr.B_u, U, 2.0), B2_v = powered(pr.B_v, V, 2.0);
        const CImg<double> B4_u = powered(pr.B_u, U, 4.0), B4_v = powered(pr.B_v, V, 4.0);
        pr.B_u = -laplacian(pr.B_u, reg_out, periodic);
        pr.B_v = -laplacian(pr.B_v, reg_out, periodic);
        const std::array<double, 3> d = data_samples(pr, blk, weights);
        return std::array<double, 6>{smoothness_sample(pr), d[0], d[1], d[2],
                                     smoothness_sample(pr, B2_u, B2_v),
                                     smoothness_sample(pr, B4_u, B4_v)};
      });
  return means_array(sums, nbIt);
}
