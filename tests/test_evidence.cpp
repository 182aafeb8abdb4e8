// Evidence updates and the negative log-evidence: the closed form on a
// level where ILU(0) is exact, the beta estimate on a level of known noise,
// the negative-estimate messages, and the shared evaluation of both orders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "CImg.h"
#include "dense_reference.h"
#include "evidence.h"
#include "hessian_assembly.h"
#include "probe_clock.h"
#include "trace_estimators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

using probe_test::FixedClock;

// One row of nc pixels where I_x and I_y are never both non-zero: the U and
// V rows of the Hessian form two independent tridiagonal blocks (the
// couplings rho*Ix*Iy are 0), on which ILU(0) is exact. Pixel 2 has data
// weight 0; pixel 5 a weight above 1e30 with zero derivatives.
struct RowLevel {
  int nc;
  CImg<double> ix, iy, it, rho, inc, til;
  CImgList<double> z;
  explicit RowLevel(int nc_)
      : nc(nc_), ix(nc_, 1), iy(nc_, 1), it(nc_, 1), rho(nc_, 1), inc(nc_, 1, 2),
        til(nc_, 1, 2), z(2, nc_, 1) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> d(-1.0, 1.0), w(0.2, 1.3);
    for (int x = 0; x < nc; ++x) {
      ix(x) = x % 3 == 0 ? 0.0 : 1.5 * d(rng);
      iy(x) = x % 3 == 0 ? 1.5 * d(rng) : 0.0;
      it(x) = d(rng);
      if (x == 5) ix(x) = iy(x) = it(x) = 0.0;
      rho(x) = x == 2 ? 0.0 : (x == 5 ? 2e30 : w(rng));
      inc(x, 0, 0) = d(rng);
      inc(x, 0, 1) = d(rng);
      til(x, 0, 0) = 2 * d(rng);
      til(x, 0, 1) = 2 * d(rng);
      z[0](x) = w(rng);
      z[1](x) = w(rng);
    }
  }
};

// The closed form of the negative log-evidence, every term computed here
// from its definition; ln det from a dense factorisation.
double closed_form(const RowLevel& r, double beta, double alpha, int order) {
  const int nc = r.nc;
  double Ed = 0.0, Nmask = 0.0, Srho = 0.0, S0 = 0.0, S1 = 0.0;
  for (int x = 0; x < nc; ++x) {
    const double res = r.ix(x) * r.inc(x, 0, 0) + r.iy(x) * r.inc(x, 0, 1) + r.it(x);
    Ed += 0.5 * r.rho(x) * res * res;
    if (r.rho(x) > 0) Nmask += 1;
    if (r.rho(x) > 0 && r.rho(x) < 1e30) Srho += std::log(r.rho(x));
    S0 += std::log(r.z[0](x));
    S1 += std::log(r.z[1](x));
  }
  // Total flow; on one row the vertical differences vanish.
  double Er = 0.0;
  for (int c = 0; c < 2; ++c) {
    auto w = [&](int x) { return r.til(x, 0, c) + r.inc(x, 0, c); };
    for (int x = 0; x < nc; ++x) {
      if (order == 1) {
        if (x + 1 < nc) Er += 0.5 * r.z[0](x) * (w(x + 1) - w(x)) * (w(x + 1) - w(x));
      } else {
        const double dx = 0.5 * (w(x + 1 < nc ? x + 1 : x) - w(x > 0 ? x - 1 : x));
        Er += 0.5 * r.z[1](x) * dx * dx;
      }
    }
  }
  // Dense Hessian of E_d + alpha E_r (first-order Laplacian).
  const int n = 2 * nc;
  dense::Matrix A(n);
  const double a = static_cast<float>(alpha);
  for (int x = 0; x < nc; ++x) {
    A(x, x) += r.rho(x) * r.ix(x) * r.ix(x);
    A(nc + x, nc + x) += r.rho(x) * r.iy(x) * r.iy(x);
    A(x, nc + x) = A(nc + x, x) = r.rho(x) * r.ix(x) * r.iy(x);  // 0
    if (x + 1 < nc)
      for (int b = 0; b < 2; ++b) {
        const int i = b * nc + x, j = i + 1;
        const double wl = a * r.z[0](x);
        A(i, i) += wl;
        A(j, j) += wl;
        A(i, j) -= wl;
        A(j, i) -= wl;
      }
  }
  const double logdet = dense::logAbsDeterminant(A);
  return beta * Ed + alpha * beta * Er + 0.5 * logdet - nc * std::log(alpha) +
         0.5 * Nmask * (std::log(2 * M_PI) - std::log(beta)) + 0.5 * std::log(2 * beta * Ed) +
         0.5 * std::log(2 * alpha * beta * Er) - 0.5 * Srho - 0.5 * S0 - 0.5 * S1;
}

// The three figures of an evidence line, none when the line has another
// form.
std::vector<double> figures(const std::string& line) {
  const std::string prefix = "-log evidence = data energy + -log occam = ";
  if (line.rfind(prefix, 0) != 0) return {};
  std::istringstream in(line.substr(prefix.size()));
  double e = 0, o = 0, t = 0;
  std::string plus, equals, rest;
  if (!(in >> e >> plus >> o >> equals >> t) || plus != "+" || equals != "=" || (in >> rest))
    return {};
  return {e, o, t};
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace

// Both prior orders against the closed form; the printed line and its
// figures; the shared evaluation equals separate calls bit for bit.
TEST(ModelEvidence, ClosedFormOnARowLevel) {
  const RowLevel r(11);
  const double beta = 1.7, alpha = 3.25;
  for (int order : {1, 2, 0, 7}) {
    SCOPED_TRACE(order);
    testing::internal::CaptureStdout();
    const double e = evidence_modelHS_Mackay(r.inc, r.til, r.ix, r.iy, r.it, r.rho, r.z, beta,
                                             alpha, 123.0, false, order);
    const std::vector<std::string> out = lines(testing::internal::GetCapturedStdout());
    const double want = closed_form(r, beta, alpha, order == 1 ? 1 : 2);
    EXPECT_NEAR(e, want, 1e-10 * std::fabs(want));
    ASSERT_EQ(out.size(), 1u);
    const std::vector<double> f = figures(out[0]);
    ASSERT_EQ(f.size(), 3u) << out[0];
    EXPECT_NEAR(f[2], e, 1e-5 * std::fabs(e));          // six significant digits
    EXPECT_NEAR(f[0] + f[1], f[2], 2e-5 * std::fabs(e));  // data energy + occam
  }
  // Avirer takes no part; the shared terms give the separate calls' values.
  testing::internal::CaptureStdout();
  const double e1 = evidence_modelHS_Mackay(r.inc, r.til, r.ix, r.iy, r.it, r.rho, r.z, beta,
                                            alpha, 1.0, false, 1);
  const double e2 = evidence_modelHS_Mackay(r.inc, r.til, r.ix, r.iy, r.it, r.rho, r.z, beta,
                                            alpha, -5.0, false, 2);
  const std::string separate = testing::internal::GetCapturedStdout();
  testing::internal::CaptureStdout();
  const ModelEvidence shared(r.inc, r.til, r.ix, r.iy, r.it, r.rho, r.z, beta, alpha, false);
  EXPECT_EQ(shared.minusLogEvidence(1), e1);
  EXPECT_EQ(shared.minusLogEvidence(2), e2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), separate);
  // Both lines print the same data energy.
  const std::vector<std::string> two = lines(separate);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(figures(two[0])[0], figures(two[1])[0]);
}

// A level whose temporal difference is the constancy residual of a known
// constant flow plus Gaussian noise of standard deviation sigma: with the
// true flow and a prior strong enough that few modes of the flow are
// fitted to the data, gamma_d is close to the number of pixels and the beta
// estimate close to 1 / sigma^2 (within 10 %: the noise of the sample
// variance is about 3 %).
TEST(EvidenceUpdates, BetaEstimatesTheNoisePrecision) {
  const FixedClock clock(777);
  const int nc = 48, nl = 40;
  const double u = 0.4, v = -0.3, sigma = 0.05;
  std::mt19937 rng(2026);
  std::normal_distribution<double> g(0.0, 1.0);
  CImg<double> ix(nc, nl), iy(nc, nl), it(nc, nl), rho(nc, nl, 1, 1, 1.0), flow(nc, nl, 2);
  cimg_forXY(ix, x, y) {
    ix(x, y) = 3 * g(rng);
    iy(x, y) = 3 * g(rng);
    it(x, y) = -(ix(x, y) * u + iy(x, y) * v) + sigma * g(rng);
    flow(x, y, 0) = u;
    flow(x, y, 1) = v;
  }
  const CImgList<double> z(2, nc, nl, 1, 1, 1.0);
  const double beta = evidence_betaHS(flow, ix, iy, it, rho, z, 2000.0, 20, 1e-6, 1.0, false);
  EXPECT_NEAR(beta, 1.0 / (sigma * sigma), 0.1 / (sigma * sigma));
  // s scales the energy: beta halves when s doubles (same probes).
  EXPECT_NEAR(evidence_betaHS(flow, ix, iy, it, rho, z, 2000.0, 20, 1e-6, 2.0, false), 0.5 * beta,
              1e-12 * beta);
}

// alpha's quotient with a negative beta prints its message and returns
// gamma bit for bit (im_t is not read: empty here).
TEST(EvidenceUpdates, NegativeAlphaKeepsGamma) {
  const FixedClock clock(31);
  const int nc = 6, nl = 5;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  CImg<double> ix(nc, nl), iy(nc, nl), flow(nc, nl, 2);
  cimg_forXY(ix, x, y) {
    ix(x, y) = d(rng);
    iy(x, y) = d(rng);
    flow(x, y, 0) = d(rng);
    flow(x, y, 1) = d(rng);
  }
  const CImgList<double> z(2, nc, nl, 1, 1, 1.0);
  const CImg<double> rho(nc, nl, 1, 1, 1.0);
  const double gamma = 0.1 + 1e-17;
  testing::internal::CaptureStdout();
  const double a = evidence_alphaHS(flow, ix, iy, CImg<double>(), rho, z, gamma, -2.0, 10, 1e-8,
                                    1.0, false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR : negative gamma !\n");
  EXPECT_EQ(a, gamma);
}

// gamma_d < 0: with a weak prior trace(A^-1 A0) is close to the number of
// valid pixels, and a single probe can exceed it. The test finds such a
// seed from the probe solved densely, then expects the message with the
// count and the trace, and the negative quotient returned.
TEST(EvidenceUpdates, NegativeBetaVarianceIsReportedAndReturned) {
  const int nc = 3, nl = 2, ncnl = nc * nl;
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  CImg<double> ix(nc, nl), iy(nc, nl), it(nc, nl), flow(nc, nl, 2, 1, 0.0),
      rho(nc, nl, 1, 1, 1.0);
  cimg_forXY(ix, x, y) {
    ix(x, y) = 1 + d(rng);
    iy(x, y) = d(rng);
    it(x, y) = d(rng);
  }
  const CImgList<double> z(2, nc, nl, 1, 1, 1.0);
  const float alpha = 1e-3f;
  const int nombre = hessianNombre(nc, nl, false);
  std::vector<double> val(nombre);
  std::vector<int> col(nombre), ptr(2 * ncnl + 1);
  fillingSparseHessian_A_HS(val.data(), col.data(), ptr.data(), ix, iy, rho, z, alpha, nombre,
                            false);
  const dense::Matrix A = dense::fromCompressedRows(2 * ncnl, val.data(), ptr.data(), col.data());
  auto sample = [&]() {
    const std::vector<double> zz = probe_test::first_probe(nc, nl);
    const std::vector<double> x = dense::solve(A, zz);
    double s = 0.0;
    cimg_forXY(ix, i, j) {
      const int p = j * nc + i;
      const double Ju = ix(i, j) * ix(i, j) * zz[p] + ix(i, j) * iy(i, j) * zz[ncnl + p];
      const double Jv = ix(i, j) * iy(i, j) * zz[p] + iy(i, j) * iy(i, j) * zz[ncnl + p];
      s += x[p] * Ju + x[ncnl + p] * Jv;
    }
    return s;
  };
  FixedClock clock(1);
  double t_d = 0.0;
  for (std::time_t t = 1; t < 500; ++t) {
    clock.set(t);
    t_d = sample();
    if (t_d > ncnl + 0.5) break;
  }
  ASSERT_GT(t_d, ncnl + 0.5);
  double Ed = 0.0;
  cimg_forXY(it, i, j) Ed += 0.5 * it(i, j) * it(i, j);
  testing::internal::CaptureStdout();
  const double beta =
      evidence_betaHS(flow, ix, iy, it, rho, z, alpha, 1, 1e-12, 1.0, false);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string head = "Error : negative beta variance (6 - ", tail = " < 0)\n";
  ASSERT_EQ(out.rfind(head, 0), 0u) << out;
  ASSERT_GT(out.size(), head.size() + tail.size());
  ASSERT_EQ(out.substr(out.size() - tail.size()), tail) << out;
  EXPECT_NEAR(std::stod(out.substr(head.size())), t_d, 1e-5 * t_d);
  EXPECT_NEAR(beta, (ncnl - t_d) / (2 * Ed), 1e-6 * std::fabs(beta));
  EXPECT_LT(beta, 0.0);
}

namespace {

struct Captured {
  std::string out;
  template <typename F>
  explicit Captured(F f) {
    testing::internal::CaptureStdout();
    f();
    out = testing::internal::GetCapturedStdout();
  }
};

// "<head><number><tail>" with the number not a number or infinite as the
// stream prints it.
bool message_with_value(const std::string& out, const std::string& head, const std::string& tail,
                        double& value) {
  if (out.size() < head.size() + tail.size() || out.rfind(head, 0) != 0 ||
      out.substr(out.size() - tail.size()) != tail)
    return false;
  value = std::strtod(out.substr(head.size(), out.size() - head.size() - tail.size()).c_str(),
                      nullptr);
  return true;
}

}  // namespace

// The beta and alpha steps of the joint updates: each negative gamma keeps
// its value with one line, and alpha is computed with the beta kept.
TEST(JointSteps, BetaAndAlphaFallbacks) {
  const struct {
    const char* name;
    double Nmask, t0, t1;
    double beta, alpha;  // expected
    const char* out;
  } cases[] = {
      // taille 1000, alpha 2: gamma_r = 1000 - 2 t0; E_d 5, E_r 3.
      {"both positive", 100, 20, 40, 60 / (2 * 5.0), 960 / (2 * 6.0 * 3), ""},
      {"gamma_d < 0", 30, 20, 40, 0.25, 960 / (2 * 0.25 * 3),
       "Error : negative beta variance (30 - 40 < 0)\n"},
      {"gamma_r < 0", 100, 600, 40, 6, 2.0, "Error : negative gamma estimate (-200 < 0)\n"},
      {"both negative", 30, 600, 40, 0.25, 2.0,
       "Error : negative beta variance (30 - 40 < 0)\nError : negative gamma estimate (-200 < "
       "0)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    double est[2] = {-1, -1};
    const double t[2] = {c.t0, c.t1};
    const Captured cap([&] { joint_beta_alpha(est, c.Nmask, t, 5.0, 3.0, 1000, 2.0, 0.25); });
    EXPECT_EQ(cap.out, c.out);
    EXPECT_DOUBLE_EQ(est[1], c.beta);
    EXPECT_DOUBLE_EQ(est[0], c.alpha);
  }
}

// The quarter Newton step of a robust factor: 0 is kept without a message;
// a negative, infinite or undefined step keeps the old factor with one.
TEST(JointSteps, RobustFactorFallbacks) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    double fTau, DfTau;
    double expected;  // returned factor (old factor 1)
    bool message;
  } cases[] = {
      {"ordinary step", 2, 1, 0.5, false},
      {"exactly 0", 4, 1, 0.0, false},
      {"negative", 8, 1, 1.0, true},
      {"DfTau 0: -infinity", 1, 0, 1.0, true},
      {"DfTau 0: +infinity", -1, 0, 1.0, true},
      {"0 / 0", 0, 0, 1.0, true},
      {"not a number", std::nan(""), 1, 1.0, true},
      {"infinite fTau", inf, 1, 1.0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    double r = -7;
    const Captured cap([&] { r = robust_factor_step(1.0, c.fTau, c.DfTau, "sigma_r"); });
    EXPECT_EQ(r, c.expected);
    if (!c.message) {
      EXPECT_EQ(cap.out, "");
      continue;
    }
    double v = 0;
    ASSERT_TRUE(message_with_value(cap.out, "Error : negative sigma_r variance (", " < 0)\n", v))
        << cap.out;
    EXPECT_TRUE(!std::isfinite(v) || v < 0) << cap.out;
  }
}

namespace {

// A random level with an increment and a linearisation point, for the
// joint updates.
struct JointLevel {
  int nc, nl;
  CImg<double> ix, iy, it, rho, inc, til;
  CImgList<double> z;
  JointLevel(int nc_, int nl_, unsigned seed)
      : nc(nc_), nl(nl_), ix(nc_, nl_), iy(nc_, nl_), it(nc_, nl_), rho(nc_, nl_),
        inc(nc_, nl_, 2), til(nc_, nl_, 2), z(2, nc_, nl_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0), w(0.3, 1.0);
    cimg_forXY(ix, x, y) {
      ix(x, y) = 2 * d(rng);
      iy(x, y) = 2 * d(rng);
      it(x, y) = d(rng);
      rho(x, y) = (x + y) % 7 == 0 ? 0.0 : w(rng);
      for (int c = 0; c < 2; ++c) {
        inc(x, y, c) = 0.3 * d(rng);
        til(x, y, c) = d(rng);
      }
      z[0](x, y) = w(rng);
      z[1](x, y) = w(rng);
    }
  }
  // Sum over pixels of f(x, y).
  template <typename F>
  double sum(F f) const {
    double s = 0;
    cimg_forXY(ix, x, y) s += f(x, y);
    return s;
  }
  double r2(int x, int y) const {
    const double r = ix(x, y) * inc(x, y, 0) + iy(x, y) * inc(x, y, 1) + it(x, y);
    return r * r;
  }
};

}  // namespace

// The Leclerc, quasi-TV and two-factor joint updates against their
// formulas evaluated here from the traces of the same probes: the energies
// and sums are computed directly; the printed figures and the open line.
TEST(JointUpdates, AgainstTheirFormulas) {
  const JointLevel lv(9, 7, 17);
  const int nc = lv.nc, nl = lv.nl, taille = 2 * nc * nl, nbIt = 6;
  const double alpha = 4.0, beta = 0.7, tau = 0.8, tau_r = 1.3, tol = 1e-8;
  const int nombre = hessianNombre(nc, nl, false);
  std::vector<double> val(nombre);
  std::vector<int> col(nombre), ptr(taille + 1);
  fillingSparseHessian_A_HS(val.data(), col.data(), ptr.data(), lv.ix, lv.iy, lv.rho, lv.z,
                            static_cast<float>(alpha), nombre, false);
  CImg<double> x2(nc, nl), W = lv.inc + lv.til;
  cimg_forXY(x2, x, y) x2(x, y) = lv.r2(x, y);
  const CImg<double> IxIx = lv.ix.get_mul(lv.ix), IxIy = lv.ix.get_mul(lv.iy),
                     IyIy = lv.iy.get_mul(lv.iy);
  // Energies and counts, directly.
  const double Ed = lv.sum([&](int x, int y) { return 0.5 * lv.rho(x, y) * lv.r2(x, y); });
  const double Nmask = lv.sum([&](int x, int y) { return lv.rho(x, y) > 0 ? 1.0 : 0.0; });
  auto at = [&](int c, int x, int y) {
    return W(std::min(std::max(x, 0), nc - 1), std::min(std::max(y, 0), nl - 1), c);
  };
  double Er = 0, E2 = 0, E4 = 0, E6 = 0;  // first order on the links inside
  for (int c = 0; c < 2; ++c)
    cimg_forXY(x2, x, y) {
      const double dy = 0.5 * (at(c, x, y + 1) - at(c, x, y - 1));
      const double dx = 0.5 * (at(c, x + 1, y) - at(c, x - 1, y));
      Er += 0.5 * (lv.z[0](x, y) * dy * dy + lv.z[1](x, y) * dx * dx);
      for (int dir = 0; dir < 2; ++dir) {
        const int qx = x + (dir == 0), qy = y + (dir == 1);
        if (qx >= nc || qy >= nl) continue;
        const double d = W(qx, qy, c) - W(x, y, c), zz = lv.z[dir](x, y);
        E2 += 0.5 * d * d;
        E4 += 0.5 * zz * std::pow(d, 4);
        E6 += 0.5 * zz * std::pow(d, 6);
      }
    }
  auto alpha_beta = [&](const double* t, double& a, double& b) {
    b = (Nmask - t[1]) / (2 * Ed);
    a = (taille - alpha * t[0]) / (2 * b * Er);
  };
  auto leclerc = [&](const double* t, double b, double& f, double& df) {
    f = lv.sum([&](int x, int y) { return (lv.rho(x, y) > 0) * x2(x, y); }) - t[2] -
        b * lv.sum([&](int x, int y) { return x2(x, y) * x2(x, y) * lv.rho(x, y); });
    df = b * lv.sum([&](int x, int y) { return std::pow(x2(x, y), 3) * lv.rho(x, y); }) + t[3];
  };
  const double eps = 1e-9;
  auto near = [&](double got, double want) { EXPECT_NEAR(got, want, eps * (1 + std::fabs(want))); };

  {  // Leclerc data factor.
    FixedClock clock(91);
    std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0Fx(taille, nombre, val.data(), ptr.data(),
                                                          col.data(), IxIx, IxIy, IyIy, lv.rho,
                                                          lv.z, x2, nbIt, tol, false));
    double a, b, f, df;
    alpha_beta(t.get(), a, b);
    leclerc(t.get(), b, f, df);
    std::unique_ptr<double[]> est;
    const Captured cap([&] {
      est.reset(evidence_alphaBetaAndTauHS_normalized(lv.inc, lv.til, lv.ix, lv.iy, lv.it, lv.rho,
                                                      lv.z, alpha, beta, nbIt, tol, tau, false));
    });
    near(est[0], a);
    near(est[1], b);
    const double tn = tau - 0.25 * f / df;
    ASSERT_GE(tn, 0.0);
    near(est[2], tn);
    // fTau and one blank, the line left open.
    ASSERT_EQ(cap.out.back(), ' ') << cap.out;
    EXPECT_NEAR(std::stod(cap.out), f, 1e-5 * std::fabs(f));  // six digits
    EXPECT_EQ(cap.out.find('\n'), std::string::npos);
  }
  {  // Quasi-TV data factor.
    FixedClock clock(92);
    std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0Fx_QuasiTV(
        taille, nombre, val.data(), ptr.data(), col.data(), IxIx, IxIy, IyIy, lv.rho, lv.z, x2,
        tau, nbIt, tol, false));
    double a, b;
    alpha_beta(t.get(), a, b);
    double f = t[2], df = t[3];
    cimg_forXY(x2, x, y) {
      const double w = x2(x, y), D = 1 + 4 * tau * tau * w, ra = -4 * w * tau / D;
      const double rb = (16 * tau * tau * w * w - 1) / (D * std::sqrt(D)), m = lv.rho(x, y) > 0;
      f += b * w * lv.rho(x, y) * ra - m * ra;
      df += b * w * lv.rho(x, y) * (rb * lv.rho(x, y) + ra * ra) - m * lv.rho(x, y) * rb;
    }
    std::unique_ptr<double[]> est;
    const Captured cap([&] {
      est.reset(evidence_alphaBetaAndTauHS_normalized_QuasiTV(
          lv.inc, lv.til, lv.ix, lv.iy, lv.it, lv.rho, lv.z, alpha, beta, nbIt, tol, tau, false));
    });
    near(est[0], a);
    near(est[1], b);
    const double tn = tau - 0.25 * f / df;
    near(est[2], tn >= 0 ? tn : tau);
    // fTau, a blank, -fTau/DfTau, nothing after.
    std::istringstream in(cap.out);
    double pf = 0, ps = 0;
    in >> pf >> ps;
    EXPECT_NEAR(pf, f, 1e-5 * std::fabs(f));
    EXPECT_NEAR(ps, -f / df, 1e-5 * std::fabs(f / df));
    EXPECT_NE(cap.out.back(), ' ');
    if (tn >= 0) {
      EXPECT_EQ(cap.out.find('\n'), std::string::npos);
    }
  }
  {  // Data and smoothness factors.
    FixedClock clock(93);
    std::unique_ptr<double[]> t(CGS_randomB_traceInvAA0ArFx(taille, nombre, val.data(),
                                                            ptr.data(), col.data(), IxIx, IxIy,
                                                            IyIy, lv.rho, lv.z, x2, W, nbIt, tol,
                                                            false));
    double a, b, f, df;
    alpha_beta(t.get(), a, b);
    leclerc(t.get(), b, f, df);
    const double fr = (E2 - a * t[4]) - b * a * E4, dfr = a * (b * E6 + t[5]);
    std::unique_ptr<double[]> est;
    const Captured cap([&] {
      est.reset(evidence_alphaBetaAndTauDataAndRegHS_normalized(lv.inc, lv.til, lv.ix, lv.iy,
                                                                lv.it, lv.rho, lv.z, alpha, beta,
                                                                nbIt, tol, tau, tau_r, false));
    });
    near(est[0], a);
    near(est[1], b);
    const double tn = tau - 0.25 * f / df, trn = tau_r - 0.25 * fr / dfr;
    near(est[2], tn >= 0 ? tn : tau);
    near(est[3], trn >= 0 ? trn : tau_r);
    // "grad_tau_d, dtau_d: f s, grad_tau_r, dtau_r: f s \n" when both steps
    // are kept.
    if (tn >= 0 && trn >= 0) {
      std::istringstream in(cap.out);
      std::string w1, w2, w3, w4;
      double f1, s1, f2, s2;
      in >> w1 >> w2 >> f1 >> s1;
      EXPECT_EQ(w1 + " " + w2, "grad_tau_d, dtau_d:");
      EXPECT_NEAR(f1, f, 1e-5 * std::fabs(f));
      in.ignore(2);  // ", "
      in >> w3 >> w4 >> f2 >> s2;
      EXPECT_EQ(w3 + " " + w4, "grad_tau_r, dtau_r:");
      EXPECT_NEAR(f2, fr, 1e-5 * std::fabs(fr));
      EXPECT_NE(cap.out.find(", grad_tau_r, dtau_r: "), std::string::npos) << cap.out;
      EXPECT_EQ(cap.out.substr(cap.out.size() - 2), " \n");
    }
  }
}

// A constant total flow: the smoothness energies and the power-weighted
// traces vanish, so the second-order energy is 0 and the new alpha is
// infinite (stored as it is: the driver refuses it), and the smoothness
// factor's step is not a number: the old factor is kept with its message.
// The array still has its four entries.
TEST(JointUpdates, ConstantFlowKeepsTheSmoothnessFactor) {
  FixedClock clock(5);
  JointLevel lv(8, 6, 3);
  lv.inc.fill(0.25);
  lv.til.fill(-0.75);
  std::unique_ptr<double[]> est;
  const Captured cap([&] {
    est.reset(evidence_alphaBetaAndTauDataAndRegHS_normalized(
        lv.inc, lv.til, lv.ix, lv.iy, lv.it, lv.rho, lv.z, 3.0, 1.0, 4, 1e-8, 0.5, 1.75, false));
  });
  EXPECT_EQ(est[3], 1.75);
  EXPECT_EQ(est[0], std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isfinite(est[1]) && est[1] > 0);
  EXPECT_TRUE(std::isfinite(est[2]));
  const std::size_t at = cap.out.find("grad_tau_r, dtau_r: ");
  ASSERT_NE(at, std::string::npos) << cap.out;
  double v = 0;
  const std::string rest = cap.out.substr(cap.out.find('\n', at) + 1);
  ASSERT_TRUE(message_with_value(rest, "Error : negative sigma_r variance (", " < 0)\n", v))
      << cap.out;
  EXPECT_TRUE(std::isnan(v));
}

// Newton direction: residuals drawn from a two-scale noise, increment 0, a
// strong prior (the traces are then small against the sums). tau* solves
// the fixed-point condition of the joint update with the traces left out,
// N sum(x2^2 rho) = sum(x2) sum(x2 rho), rho = exp(-tau x2); repeated
// updates, with the weights and beta of each step, move tau towards it
// from below and from above, without overshooting it. (The step's DfTau
// leaves out the change of beta with tau, so the approach is slow.)
TEST(JointUpdates, NewtonStepsMoveTauTowardsItsFixedPoint) {
  FixedClock clock(2718);
  const int nc = 40, nl = 30;
  std::mt19937 rng(11);
  std::normal_distribution<double> g(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  CImg<double> ix(nc, nl), iy(nc, nl), it(nc, nl), zero(nc, nl, 2, 1, 0.0);
  cimg_forXY(ix, x, y) {
    ix(x, y) = 2 * g(rng);
    iy(x, y) = 2 * g(rng);
    it(x, y) = (u(rng) < 0.15 ? 8.0 : 1.0) * g(rng);
  }
  const CImgList<double> z(2, nc, nl, 1, 1, 1.0);
  const CImg<double> x2 = it.get_mul(it);
  auto condition = [&](double tau) {
    double sx = 0, sxr = 0, sx2r = 0;
    cimg_forXY(x2, x, y) {
      const double w = x2(x, y), r = std::exp(-tau * w);
      sx += w;
      sxr += w * r;
      sx2r += w * w * r;
    }
    return nc * nl * sx2r - sx * sxr;
  };
  double lo = 1e-6, hi = 10.0;  // condition(lo) > 0 > condition(hi)
  ASSERT_GT(condition(lo), 0);
  ASSERT_LT(condition(hi), 0);
  for (int k = 0; k < 200; ++k) (condition(0.5 * (lo + hi)) > 0 ? lo : hi) = 0.5 * (lo + hi);
  const double tauStar = 0.5 * (lo + hi);
  for (double start : {0.1 * tauStar, 3.0 * tauStar}) {
    SCOPED_TRACE(start);
    double tau = start, beta = 1.0;
    const double firstGap = std::fabs(start - tauStar);
    for (int step = 0; step < 25; ++step) {
      CImg<double> rho(nc, nl);
      cimg_forXY(rho, x, y) rho(x, y) = std::exp(-tau * x2(x, y));
      std::unique_ptr<double[]> est;
      const Captured cap([&] {
        est.reset(evidence_alphaBetaAndTauHS_normalized(zero, zero, ix, iy, it, rho, z, 1e4, beta,
                                                        8, 1e-6, tau, false));
      });
      const double before = tau - tauStar;
      beta = est[1];
      tau = est[2];
      if (std::fabs(before) > 0.02 * tauStar) {
        EXPECT_LT(std::fabs(tau - tauStar), std::fabs(before)) << step;
        EXPECT_GT((tau - tauStar) * before, 0.0) << step;  // same side
      }
    }
    EXPECT_LT(std::fabs(tau - tauStar), 0.25 * firstGap);
  }
}
