// Randomized trace estimators: the mean against the exact trace of a small
// dense system, a one-probe estimate against the same probe solved densely,
// the identities that hold for every draw, failed solves and probe counts.
#include <gtest/gtest.h>
#include <sched.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CImg.h"
#include "dense_reference.h"
#include "hessian_assembly.h"
#include "hs_level.h"
#include "probe_clock.h"
#include "trace_estimators.h"

using cimg_library::CImg;
using cimg_library::CImgList;
using hs_test::Level;

namespace {

using probe_test::FixedClock;
using probe_test::first_probe;

// A random level with its assembled Hessian and the products the
// estimators take.
struct System {
  Level lv;
  bool periodic;
  hs_test::Assembled a;
  CImg<double> IxIx, IxIy, IyIy;
  System(int nc, int nl, unsigned seed, float alpha, bool periodic_)
      : lv(nc, nl, seed), periodic(periodic_), a(hs_test::assemble(lv, alpha, periodic_)),
        IxIx(lv.ix.get_mul(lv.ix)), IxIy(lv.ix.get_mul(lv.iy)), IyIy(lv.iy.get_mul(lv.iy)) {}
  int taille() const { return lv.taille(); }
  int nombre() const { return static_cast<int>(a.val.size()); }
  double* val() { return a.val.data(); }
  int* ptr() { return a.ptr.data(); }
  int* col() { return a.col.data(); }
};

// Dense data block: rho * [IxIx IxIy; IxIy IyIy] per pixel, scaled per
// pixel by f (the factor of A0Fx, A0dFx).
dense::Matrix data_block(const System& s, const CImg<double>& f) {
  const int nc = s.lv.nc, ncnl = nc * s.lv.nl;
  dense::Matrix m(2 * ncnl);
  cimg_forXY(s.lv.ix, x, y) {
    const int p = y * nc + x;
    const double w = s.lv.rho(x, y) * f(x, y);
    m(p, p) = w * s.IxIx(x, y);
    m(p, ncnl + p) = m(ncnl + p, p) = w * s.IxIy(x, y);
    m(ncnl + p, ncnl + p) = w * s.IyIy(x, y);
  }
  return m;
}

// Dense smoothness block: the weighted graph Laplacian of the links (with
// wrap-around links when periodic) on the U block and on the V block; a
// link (p, q) of block b weighs z * factor(b, p, q).
template <typename Factor>
dense::Matrix smoothness_block(const System& s, Factor factor) {
  const int nc = s.lv.nc, nl = s.lv.nl, ncnl = nc * nl;
  dense::Matrix m(2 * ncnl);
  auto link = [&](int p, int q, double z) {
    if (p == q) return;
    for (int b = 0; b < 2; ++b) {
      const double w = z * factor(b, p, q);
      const int i = b * ncnl + p, j = b * ncnl + q;
      m(i, i) += w;
      m(j, j) += w;
      m(i, j) -= w;
      m(j, i) -= w;
    }
  };
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int p = y * nc + x;
      if (x + 1 < nc) link(p, p + 1, s.lv.z[0](x, y));
      else if (s.periodic) link(p, y * nc, s.lv.z[0](x, y));
      if (y + 1 < nl) link(p, p + nc, s.lv.z[1](x, y));
      else if (s.periodic) link(p, x, s.lv.z[1](x, y));
    }
  return m;
}

dense::Matrix smoothness_block(const System& s) {
  return smoothness_block(s, [](int, int, int) { return 1.0; });
}

// The smoothness block weighted by the power of each link's difference of
// the flow component of its block (U for the U block, V for the V block).
dense::Matrix power_weighted_block(const System& s, const CImg<double>& UV, double power) {
  const int nc = s.lv.nc;
  return smoothness_block(s, [&](int b, int p, int q) {
    const double d = UV(q % nc, q / nc, b) - UV(p % nc, p / nc, b);
    return std::pow(d, power);
  });
}

// S = A^-1 M, column by column.
dense::Matrix inverse_times(const dense::Matrix& A, const dense::Matrix& M) {
  const int n = A.n;
  dense::Matrix S(n);
  for (int j = 0; j < n; ++j) {
    std::vector<double> col(n);
    for (int i = 0; i < n; ++i) col[i] = M(i, j);
    const std::vector<double> x = dense::solve(A, col);
    for (int i = 0; i < n; ++i) S(i, j) = x[i];
  }
  return S;
}

// Exact trace of S and the standard deviation of one Gaussian sample
// z'Sz, sqrt(2 ||(S + S')/2||_F^2).
struct Moments {
  double trace = 0.0, sd = 0.0;
};
Moments moments(const dense::Matrix& S) {
  Moments m;
  double f = 0.0;
  for (int i = 0; i < S.n; ++i) {
    m.trace += S(i, i);
    for (int j = 0; j < S.n; ++j) {
      const double e = 0.5 * (S(i, j) + S(j, i));
      f += e * e;
    }
  }
  m.sd = std::sqrt(2.0 * f);
  return m;
}

double dot(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += a[i] * b[i];
  return s;
}

const CImg<double> ones(int nc, int nl) { return CImg<double>(nc, nl, 1, 1, 1.0); }

}  // namespace

// With many probes the means approach the exact traces of A^-1 A0 and
// A^-1 Ar within a few standard errors, on Neumann and periodic levels.
TEST(TraceEstimators, MeansApproachTheExactTraces) {
  const FixedClock clock(20261210);
  const int probes = 600;
  for (bool periodic : {false, true}) {
    SCOPED_TRACE(periodic ? "periodic" : "Neumann");
    System s(12, 10, 7, 0.8f, periodic);
    const dense::Matrix A = hs_test::toDense(s.a, s.taille());
    const Moments m0 = moments(inverse_times(A, data_block(s, ones(12, 10))));
    const Moments mr = moments(inverse_times(A, smoothness_block(s)));
    const double t0 = CGS_randomB_traceInvAA0(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(),
                                              s.IxIx, s.IxIy, s.IyIy, s.lv.rho, probes, 1e-10);
    const double tr = CGS_randomB_traceInvAAr(s.taille(), s.nombre(), 12, 10, s.val(), s.ptr(),
                                              s.col(), s.lv.z, probes, 1e-10, periodic);
    EXPECT_NEAR(t0, m0.trace, 4.0 * m0.sd / std::sqrt(double(probes)));
    EXPECT_NEAR(tr, mr.trace, 4.0 * mr.sd / std::sqrt(double(probes)));
    // The estimate is not trivially close: the traces differ from the
    // sizes the operators have.
    EXPECT_GT(m0.trace, 1.0);
    EXPECT_GT(mr.trace, 1.0);
  }
}

// One probe: each member's result is x . (M z) for the first probe of the
// seed, with x solved densely; this fixes the draw order (U entry first,
// pixels row by row) and every operator, including the derivative blocks.
TEST(TraceEstimators, OneProbeIsTheSampleOfTheFirstProbe) {
  const FixedClock clock(1234567);
  System s(5, 4, 11, 1.5f, false);
  const int nc = 5, nl = 4;
  const dense::Matrix A = hs_test::toDense(s.a, s.taille());
  const std::vector<double> z = first_probe(nc, nl);
  const std::vector<double> x = dense::solve(A, z);
  CImg<double> x2(nc, nl);
  cimg_forXY(x2, i, j) x2(i, j) = 0.1 + 0.05 * i + 0.2 * j;
  const double tau = 0.7;
  CImg<double> g1(nc, nl), quasi2(nc, nl);
  cimg_forXY(x2, i, j) {
    const double w = x2(i, j), q = 4 * tau * tau * w + 1;
    g1(i, j) = -4 * tau * w / q;
    const double g2 = 4 * w * (4 * tau * tau * w - 1) / (q * std::sqrt(q));
    quasi2(i, j) = s.lv.rho(i, j) * g2 + g1(i, j) * g1(i, j);
  }
  const double expectA = dot(x, z);
  const double expectA0 = dot(x, dense::multiply(data_block(s, ones(nc, nl)), z));
  const double expectAr = dot(x, dense::multiply(smoothness_block(s), z));
  const double expectFx = dot(x, dense::multiply(data_block(s, x2), z));
  const double expectDFx = dot(x, dense::multiply(data_block(s, x2.get_mul(x2)), z));
  const double expectQFx = dot(x, dense::multiply(data_block(s, g1), z));
  const double expectQDFx = dot(x, dense::multiply(data_block(s, quasi2), z));
  const double tol = 1e-10, eps = 1e-7;
  auto near = [&](double got, double want) { EXPECT_NEAR(got, want, eps * (1 + std::fabs(want))); };

  near(CGS_randomB_traceInvA(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(), 1, tol),
       expectA);
  near(CGS_randomB_traceInvAA0(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                               s.IxIy, s.IyIy, s.lv.rho, 1, tol),
       expectA0);
  near(CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(), s.lv.z,
                               1, tol, false),
       expectAr);
  std::unique_ptr<double[]> e(CGS_randomB_traceInvAA0Fx(s.taille(), s.nombre(), s.val(), s.ptr(),
                                                        s.col(), s.IxIx, s.IxIy, s.IyIy, s.lv.rho,
                                                        s.lv.z, x2, 1, tol, false));
  near(e[0], expectAr);
  near(e[1], expectA0);
  near(e[2], expectFx);
  near(e[3], expectDFx);
  std::unique_ptr<double[]> q(CGS_randomB_traceInvAA0Fx_QuasiTV(
      s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx, s.IxIy, s.IyIy, s.lv.rho,
      s.lv.z, x2, tau, 1, tol, false));
  near(q[0], expectAr);
  near(q[1], expectA0);
  near(q[2], expectQFx);
  near(q[3], expectQDFx);
}

// Identities that hold for every draw, with the probes of one seed.
TEST(TraceEstimators, IdentitiesForEveryDraw) {
  const FixedClock clock(99);
  System s(7, 6, 3, 2.0f, true);
  const int nc = 7, nl = 6, n = 5;
  const double tol = 1e-8;
  auto four = [&](const CImg<double>& x2) {
    std::unique_ptr<double[]> r(CGS_randomB_traceInvAA0Fx(s.taille(), s.nombre(), s.val(),
                                                          s.ptr(), s.col(), s.IxIx, s.IxIy,
                                                          s.IyIy, s.lv.rho, s.lv.z, x2, n, tol,
                                                          true));
    return std::vector<double>(r.get(), r.get() + 4);
  };
  // The unit-weight overload is the weighted one with weights 1.
  const CImgList<double> unit(2, nc, nl, 1, 1, 1.0);
  EXPECT_EQ(CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(), n,
                                    tol, true),
            CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(),
                                    unit, n, tol, true));
  // x2 = 0: no derivative blocks; x2 = 1: both equal the data block.
  const std::vector<double> zero = four(CImg<double>(nc, nl, 1, 1, 0.0));
  EXPECT_EQ(zero[2], 0.0);
  EXPECT_EQ(zero[3], 0.0);
  const std::vector<double> one = four(CImg<double>(nc, nl, 1, 1, 1.0));
  EXPECT_EQ(one[2], one[1]);
  EXPECT_EQ(one[3], one[1]);
  // Slots 0 and 1 are the single-trace estimates of the same probes.
  EXPECT_EQ(one[0], CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(),
                                            s.col(), s.lv.z, n, tol, true));
  EXPECT_NEAR(one[1],
              CGS_randomB_traceInvAA0(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                                      s.IxIy, s.IyIy, s.lv.rho, n, tol),
              1e-12 * std::fabs(one[1]));
  // Two calls with the same seed give the same values.
  EXPECT_EQ(four(CImg<double>(nc, nl, 1, 1, 1.0)), one);
  // Quasi-TV with tau = 0: g1 = 0, and the second derivative block is
  // -4 x2 rho^2 J, the data block with weights -4 x2 rho.
  CImg<double> x2(nc, nl);
  cimg_forXY(x2, i, j) x2(i, j) = 0.3 + 0.1 * ((i + 2 * j) % 5);
  std::unique_ptr<double[]> q(CGS_randomB_traceInvAA0Fx_QuasiTV(
      s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx, s.IxIy, s.IyIy, s.lv.rho,
      s.lv.z, x2, 0.0, n, tol, true));
  EXPECT_EQ(q[2], 0.0);
  const CImg<double> rho2 = (s.lv.rho.get_mul(s.lv.rho)).mul(x2) * -4.0;
  EXPECT_NEAR(q[3],
              CGS_randomB_traceInvAA0(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                                      s.IxIy, s.IyIy, rho2, n, tol),
              1e-10 * (1 + std::fabs(q[3])));
}

// A solve that fails still counts: its message names the code and the
// estimate stays finite.
TEST(TraceEstimators, FailedSolveIsReportedAndCounted) {
  const FixedClock clock(5);
  System s(6, 5, 9, 1.0f, false);
  testing::internal::CaptureStdout();
  const double t = CGS_randomB_traceInvA(s.taille(), s.nombre(), 6, 5, s.val(), s.ptr(), s.col(),
                                         2, 0.0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(std::isfinite(t));
  EXPECT_NE(out.find("no convergence (output CGS "), std::string::npos) << out;
  EXPECT_NE(out.find(")Error CGS convergence "), std::string::npos) << out;
  EXPECT_NE(out.find(" (in trace randomization)\n"), std::string::npos) << out;
}

// No probe: not a number, for zero and for negative counts.
TEST(TraceEstimators, NoProbeGivesNotANumber) {
  System s(4, 3, 1, 1.0f, false);
  for (int n : {0, -3}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(std::isnan(
        CGS_randomB_traceInvA(s.taille(), s.nombre(), 4, 3, s.val(), s.ptr(), s.col(), n, 1e-6)));
    EXPECT_TRUE(std::isnan(CGS_randomB_traceInvAAr(s.taille(), s.nombre(), 4, 3, s.val(), s.ptr(),
                                                   s.col(), s.lv.z, n, 1e-6, false)));
    std::unique_ptr<double[]> r(CGS_randomB_traceInvAA0Fx(
        s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx, s.IxIy, s.IyIy, s.lv.rho,
        s.lv.z, s.IxIx, n, 1e-6, false));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isnan(r[i]));
  }
}

// The six-trace estimator: its first four slots are the four-trace
// estimator's for the same probes; a constant flow gives 0 in slots 4 and
// 5; one probe gives x . (M z) of the power-weighted blocks, solved
// densely; many probes approach their exact traces.
TEST(TraceEstimators, SixTracesOfTheJointEstimator) {
  const int nc = 6, nl = 5;
  System s(nc, nl, 21, 1.2f, false);
  CImg<double> x2(nc, nl), UV(nc, nl, 2), still(nc, nl, 2, 1, 0.75);
  cimg_forXY(x2, i, j) {
    x2(i, j) = 0.2 + 0.1 * ((3 * i + j) % 4);
    UV(i, j, 0) = 0.3 * std::sin(0.9 * i + 0.4 * j);
    UV(i, j, 1) = 0.2 * std::cos(0.5 * i - 0.7 * j);
  }
  auto six = [&](const CImg<double>& flow, const CImg<double>& w, int n, double tol) {
    std::unique_ptr<double[]> r(CGS_randomB_traceInvAA0ArFx(
        s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx, s.IxIy, s.IyIy, s.lv.rho,
        s.lv.z, w, flow, n, tol, false));
    return std::vector<double>(r.get(), r.get() + 6);
  };
  {
    const FixedClock clock(4242);
    const std::vector<double> r = six(UV, x2, 7, 1e-8);
    std::unique_ptr<double[]> f(CGS_randomB_traceInvAA0Fx(s.taille(), s.nombre(), s.val(),
                                                          s.ptr(), s.col(), s.IxIx, s.IxIy,
                                                          s.IyIy, s.lv.rho, s.lv.z, x2, 7, 1e-8,
                                                          false));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r[i], f[i]) << i;
    const std::vector<double> c = six(still, x2, 7, 1e-8);
    EXPECT_EQ(c[4], 0.0);
    EXPECT_EQ(c[5], 0.0);
    const std::vector<double> zero = six(UV, CImg<double>(nc, nl, 1, 1, 0.0), 7, 1e-8);
    EXPECT_EQ(zero[2], 0.0);
    EXPECT_EQ(zero[3], 0.0);
    const std::vector<double> one = six(UV, CImg<double>(nc, nl, 1, 1, 1.0), 7, 1e-8);
    EXPECT_EQ(one[2], one[1]);
    EXPECT_EQ(one[3], one[1]);
  }
  const dense::Matrix A = hs_test::toDense(s.a, s.taille());
  const dense::Matrix M2 = power_weighted_block(s, UV, 2.0), M4 = power_weighted_block(s, UV, 4.0);
  {
    const FixedClock clock(777);
    const std::vector<double> z = first_probe(nc, nl);
    const std::vector<double> x = dense::solve(A, z);
    const std::vector<double> r = six(UV, x2, 1, 1e-10);
    const double want4 = dot(x, dense::multiply(M2, z)), want5 = dot(x, dense::multiply(M4, z));
    EXPECT_NEAR(r[4], want4, 1e-7 * (1 + std::fabs(want4)));
    EXPECT_NEAR(r[5], want5, 1e-7 * (1 + std::fabs(want5)));
  }
  {
    const FixedClock clock(31337);
    const int probes = 800;
    const Moments m4 = moments(inverse_times(A, M2)), m5 = moments(inverse_times(A, M4));
    const std::vector<double> r = six(UV, x2, probes, 1e-10);
    EXPECT_NEAR(r[4], m4.trace, 4.0 * m4.sd / std::sqrt(double(probes)));
    EXPECT_NEAR(r[5], m5.trace, 4.0 * m5.sd / std::sqrt(double(probes)));
    EXPECT_GT(m4.trace, 0.0);
  }
  // No probe: six results that are not a number.
  for (double v : six(UV, x2, 0, 1e-6)) EXPECT_TRUE(std::isnan(v));
}

namespace {

// Threads and batch size of the probe solves while it lives.
struct ProbeWorkers {
  ProbeWorkers(int threads, int batch) {
    set_trace_probe_threads(threads);
    set_trace_probe_batch(batch);
  }
  ~ProbeWorkers() {
    set_trace_probe_threads(0);
    set_trace_probe_batch(0);
  }
};

// Every member's results (as bits) and console output, each call on the
// probes of a fixed seed.
struct AllMembers {
  std::vector<std::uint64_t> bits;
  std::string out;
};

AllMembers run_all_members(System& s, int nbIt, double tol) {
  const int nc = s.lv.nc, nl = s.lv.nl;
  CImg<double> x2(nc, nl), UV(nc, nl, 2);
  cimg_forXY(x2, i, j) {
    x2(i, j) = 0.2 + 0.1 * ((3 * i + j) % 4);
    UV(i, j, 0) = 0.3 * std::sin(0.9 * i + 0.4 * j);
    UV(i, j, 1) = 0.2 * std::cos(0.5 * i - 0.7 * j);
  }
  std::vector<double> r;
  auto take = [&](double* p, int n) {
    r.insert(r.end(), p, p + n);
    delete[] p;
  };
  FixedClock clock(8675309);
  testing::internal::CaptureStdout();
  r.push_back(CGS_randomB_traceInvA(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(), nbIt,
                                    tol));
  clock.set(8675310);
  r.push_back(CGS_randomB_traceInvAA0(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                                      s.IxIy, s.IyIy, s.lv.rho, nbIt, tol));
  clock.set(8675311);
  r.push_back(CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(),
                                      s.lv.z, nbIt, tol, s.periodic));
  r.push_back(CGS_randomB_traceInvAAr(s.taille(), s.nombre(), nc, nl, s.val(), s.ptr(), s.col(),
                                      nbIt, tol, s.periodic));
  clock.set(8675312);
  take(CGS_randomB_traceInvAA0Fx(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                                 s.IxIy, s.IyIy, s.lv.rho, s.lv.z, x2, nbIt, tol, s.periodic),
       4);
  take(CGS_randomB_traceInvAA0Fx_QuasiTV(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(),
                                         s.IxIx, s.IxIy, s.IyIy, s.lv.rho, s.lv.z, x2, 0.6, nbIt,
                                         tol, s.periodic),
       4);
  clock.set(8675313);
  take(CGS_randomB_traceInvAA0ArFx(s.taille(), s.nombre(), s.val(), s.ptr(), s.col(), s.IxIx,
                                   s.IxIy, s.IyIy, s.lv.rho, s.lv.z, x2, UV, nbIt, tol,
                                   s.periodic),
       6);
  AllMembers m;
  m.out = testing::internal::GetCapturedStdout();
  m.bits.resize(r.size());
  std::memcpy(m.bits.data(), r.data(), sizeof(double) * r.size());
  return m;
}

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// Every member gives the same bits and the same console lines, in the same
// order, with one thread solving one probe at a time (the plain loop) and
// with 1 to 4 threads solving batches of 1 to 5 probes (with fewer drawn
// probes in flight than the call has, so that their slots are reused, and
// with all of them): on converging
// solves; with tolerance 0, where every solve fails, some on the iteration
// limit and some by breakdown (so the lanes of a batch stop at different
// iterations); on a system whose every solve breaks down at once.
TEST(TraceEstimators, ResultsDoNotDependOnThreadsOrBatches) {
  const int nbIt = 7, calls = 7;
  struct Case {
    const char* name;
    int nc, nl;
    bool periodic;
    double tol;
    int failed;     // failed solves over the seven calls
    bool limit;     // some end on the iteration limit (code 1)
    bool breakdown; // some break down (code 2)
  };
  const Case cases[] = {{"converging", 9, 7, false, 1e-8, 0, false, false},
                        {"tolerance 0", 6, 5, true, 0.0, nbIt * calls, true, true},
                        {"not a number", 5, 4, false, 1e-8, nbIt * calls, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    System s(c.nc, c.nl, 17, 0.9f, c.periodic);
    if (std::string(c.name) == "not a number") s.a.val[3] = std::nan("");
    AllMembers ref;
    {
      const ProbeWorkers plain(1, 1);
      ref = run_all_members(s, nbIt, c.tol);
    }
    const int failed = count_of(ref.out, " (in trace randomization)\n");
    EXPECT_EQ(failed, c.failed);
    // Each failure: the solver's message, then the estimator's line.
    EXPECT_EQ(count_of(ref.out, ")Error CGS convergence "), failed);
    EXPECT_EQ(count_of(ref.out, "no convergence (output CGS 1)Error CGS convergence 1 ") > 0,
              c.limit);
    if (c.breakdown) {
      EXPECT_GT(count_of(ref.out, "no convergence (output CGS 2)Error CGS convergence 2 "), 0);
    }
    for (const auto& [threads, batch] :
         std::vector<std::pair<int, int>>{{1, 2}, {1, 3}, {2, 1}, {4, 1}, {4, 2}, {3, 4}, {4, 5}, {1, 0}, {4, 0},
                                          // Counts of the plan that overflow int if formed in it.
                                          {2, INT_MAX}, {INT_MAX, INT_MAX}}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, batch " << batch);
      const ProbeWorkers workers(threads, batch);
      const AllMembers run = run_all_members(s, nbIt, c.tol);
      EXPECT_EQ(run.bits, ref.bits);
      EXPECT_EQ(run.out, ref.out);
    }
  }
}

// The worker count: the CPUs the process may use, as restricted by its
// affinity mask; an override; never more than the probes of a call.
TEST(TraceEstimators, WorkerThreadsFollowTheAffinityAndTheProbes) {
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(trace_probe_threads(1000), CPU_COUNT(&all));
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; ++c)
    if (CPU_ISSET(c, &all)) {
      CPU_SET(c, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(trace_probe_threads(1000), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  {
    const ProbeWorkers workers(6, 0);
    EXPECT_EQ(trace_probe_threads(30), 6);
    EXPECT_EQ(trace_probe_threads(4), 4);
    EXPECT_EQ(trace_probe_threads(1), 1);
    // The plan of the largest count overflows nothing.
    EXPECT_EQ(trace_probe_threads(INT_MAX), 6);
  }
  {
    const ProbeWorkers workers(INT_MAX, INT_MAX);
    EXPECT_EQ(trace_probe_threads(INT_MAX), INT_MAX);
    EXPECT_EQ(trace_probe_threads(7), 7);
  }
  EXPECT_EQ(trace_probe_threads(1000), CPU_COUNT(&all));
}
