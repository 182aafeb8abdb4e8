// Data and regularisation energies: the data term against its squared
// residual form, the regularisation energies against direct sums over links
// and pixels, and closed forms on ramps (clamped and wrapped borders).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "CImg.h"
#include "energies.h"

using cimg_library::CImg;
using cimg_library::CImgInstanceException;
using cimg_library::CImgList;

namespace {

CImg<double> randomImage(int nc, int nl, std::mt19937& rng, double lo, double hi) {
  std::uniform_real_distribution<double> d(lo, hi);
  CImg<double> img(nc, nl);
  cimg_forXY(img, x, y) img(x, y) = d(rng);
  return img;
}

CImg<double> filled(int nc, int nl, double v) { return CImg<double>(nc, nl, 1, 1, v); }

// f(x, y) = a*x + b*y.
CImg<double> plane(int nc, int nl, double a, double b) {
  CImg<double> img(nc, nl);
  cimg_forXY(img, x, y) img(x, y) = a * x + b * y;
  return img;
}

CImgList<double> unitWeights(int nc, int nl) {
  return CImgList<double>(filled(nc, nl, 1.0), filled(nc, nl, 1.0));
}

// The data term from the derivative images, with the pointwise products the
// callers build.
struct DataTerm {
  CImg<double> ix, iy, it, rho;

  double energy(const CImg<double>& u, const CImg<double>& v) const {
    return DataEnergy(u, v, ix.get_mul(ix), iy.get_mul(iy), ix.get_mul(iy), it.get_mul(ix),
                      it.get_mul(iy), it.get_mul(it), rho);
  }
  // 1/2 sum rho (Ix u + Iy v + It)^2.
  double direct(const CImg<double>& u, const CImg<double>& v) const {
    double s = 0.0;
    cimg_forXY(u, x, y) {
      const double r = ix(x, y) * u(x, y) + iy(x, y) * v(x, y) + it(x, y);
      s += 0.5 * rho(x, y) * r * r;
    }
    return s;
  }
};

// Neighbour index along an axis of length n: clamped or wrapped.
int step(int i, int d, int n, bool periodic) {
  const int j = i + d;
  if (j < 0) return periodic ? n - 1 : 0;
  if (j >= n) return periodic ? 0 : n - 1;
  return j;
}

// 1/2 sum over the links of z * d^p, d = f(q) - f(p) the forward difference,
// for U and for V; with periodic borders the wrap-around links count too.
double firstOrderDirect(const CImg<double>& U, const CImg<double>& V, const CImgList<double>& z,
                        double p, bool periodic) {
  const int nc = U.width(), nl = U.height();
  double s = 0.0;
  for (const CImg<double>* f : {&U, &V})
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        if (x + 1 < nc || periodic)
          s += 0.5 * z[0](x, y) * std::pow((*f)((x + 1) % nc, y) - (*f)(x, y), p);
        if (y + 1 < nl || periodic)
          s += 0.5 * z[1](x, y) * std::pow((*f)(x, (y + 1) % nl) - (*f)(x, y), p);
      }
  return s;
}

// 1/2 sum over pixels of z[0] (dy f)^p + z[1] (dx f)^p for f = U and V,
// with the centred differences dy, dx over clamped or wrapped neighbours.
double secondOrderDirect(const CImg<double>& U, const CImg<double>& V, const CImgList<double>& z,
                         double p, bool periodic) {
  const int nc = U.width(), nl = U.height();
  double s = 0.0;
  for (const CImg<double>* f : {&U, &V})
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        const double dy =
            0.5 * ((*f)(x, step(y, 1, nl, periodic)) - (*f)(x, step(y, -1, nl, periodic)));
        const double dx =
            0.5 * ((*f)(step(x, 1, nc, periodic), y) - (*f)(step(x, -1, nc, periodic), y));
        s += 0.5 * (z[0](x, y) * std::pow(dy, p) + z[1](x, y) * std::pow(dx, p));
      }
  return s;
}

void expectClose(double got, double want) {
  EXPECT_NEAR(got, want, 1e-12 * std::max(1.0, std::fabs(want)));
}

}  // namespace

TEST(DataEnergy, EqualsHalfTheWeightedSquaredResidual) {
  std::mt19937 rng(11);
  const DataTerm t{randomImage(7, 5, rng, -3, 3), randomImage(7, 5, rng, -3, 3),
                   randomImage(7, 5, rng, -3, 3), randomImage(7, 5, rng, 0, 1)};
  const CImg<double> u = randomImage(7, 5, rng, -2, 2), v = randomImage(7, 5, rng, -2, 2);
  expectClose(t.energy(u, v), t.direct(u, v));

  // A zero increment leaves 1/2 sum rho It^2.
  const CImg<double> zero = filled(7, 5, 0.0);
  double itit = 0.0;
  cimg_forXY(zero, x, y) itit += 0.5 * t.rho(x, y) * t.it(x, y) * t.it(x, y);
  expectClose(t.energy(zero, zero), itit);

  // Ix = 1, Iy = It = 0, rho = 1: 1/2 sum u^2.
  const DataTerm unit{filled(7, 5, 1.0), zero, zero, filled(7, 5, 1.0)};
  double uu = 0.0;
  cimg_forXY(u, x, y) uu += 0.5 * u(x, y) * u(x, y);
  expectClose(unit.energy(u, v), uu);
}

TEST(DataEnergy, APixelOfZeroWeightContributesNothing) {
  std::mt19937 rng(12);
  DataTerm t{randomImage(4, 3, rng, -1, 1), randomImage(4, 3, rng, -1, 1),
             randomImage(4, 3, rng, -1, 1), randomImage(4, 3, rng, 0.5, 1)};
  CImg<double> u = randomImage(4, 3, rng, -1, 1), v = randomImage(4, 3, rng, -1, 1);
  t.rho(2, 1) = 0.0;
  const double without = t.direct(u, v);
  t.ix(2, 1) = 1e6;
  t.it(2, 1) = -3e5;
  u(2, 1) = 40.0;
  expectClose(t.energy(u, v), without);
}

TEST(DataEnergy, SinglePixelClosedForm) {
  // Ix = 2, Iy = -1, It = 5, u = 0.5, v = 4, rho = 0.25:
  // rho (1/2 IxIx u^2 + IxIy u v + 1/2 IyIy v^2 + ItIx u + ItIy v + 1/2 ItIt)
  // = 0.25 (0.5 - 4 + 8 + 5 - 20 + 12.5) = 0.5, and the residual 1 - 4 + 5 = 2
  // gives 1/2 * 0.25 * 2^2 = 0.5 as well.
  const DataTerm t{filled(1, 1, 2.0), filled(1, 1, -1.0), filled(1, 1, 5.0), filled(1, 1, 0.25)};
  EXPECT_DOUBLE_EQ(t.energy(filled(1, 1, 0.5), filled(1, 1, 4.0)), 0.5);
}

TEST(Energies, EmptyImagesRaiseTheEmptyInstanceError) {
  const CImg<double> e;
  const CImgList<double> z(e, e);
  EXPECT_THROW(DataEnergy(e, e, e, e, e, e, e, e, e), CImgInstanceException);
  for (bool periodic : {false, true}) {
    EXPECT_THROW(PriorEnergyHS_powK_1st(e, e, z, 2.0, periodic), CImgInstanceException);
    EXPECT_THROW(PriorEnergyHS_powK_1st(e, e, 2.0, periodic), CImgInstanceException);
    EXPECT_THROW(PriorEnergyHS_powK_2nd(e, e, z, 2.0, periodic), CImgInstanceException);
    EXPECT_THROW(PriorEnergyHS_2nd(e, e, z, periodic), CImgInstanceException);
    EXPECT_THROW(PriorEnergyHS_2nd(e, e, periodic), CImgInstanceException);
  }
}

TEST(PriorEnergies, ConstantFlowHasZeroEnergy) {
  std::mt19937 rng(13);
  const CImgList<double> z(randomImage(5, 4, rng, 0.1, 2), randomImage(5, 4, rng, 0.1, 2));
  const CImg<double> U = filled(5, 4, 1.75), V = filled(5, 4, -0.5);
  for (bool periodic : {false, true}) {
    for (double p : {0.5, 1.0, 2.0, 3.0, 4.0, 6.0, 2.5}) {
      SCOPED_TRACE(p);
      EXPECT_EQ(PriorEnergyHS_powK_1st(U, V, z, p, periodic), 0.0);
      EXPECT_EQ(PriorEnergyHS_powK_1st(U, V, p, periodic), 0.0);
      EXPECT_EQ(PriorEnergyHS_powK_2nd(U, V, z, p, periodic), 0.0);
    }
    EXPECT_EQ(PriorEnergyHS_2nd(U, V, z, periodic), 0.0);
    EXPECT_EQ(PriorEnergyHS_2nd(U, V, periodic), 0.0);
  }
}

TEST(PriorEnergies, FirstOrderOnRampsWithUnitWeights) {
  // W x H image, unit differences along one axis. Clamped: 1/2 per link.
  // Wrapped: the link from the last column back to the first carries
  // -(W - 1), raised to the power with its sign.
  const int W = 6, H = 4;
  const CImg<double> zero = filled(W, H, 0.0);
  const struct {
    bool alongX, periodic;
    double p, expected;
  } cases[] = {
      {true, false, 2, 0.5 * (W - 1) * H},
      {true, false, 3, 0.5 * (W - 1) * H},
      {true, true, 2, 0.5 * H * ((W - 1) + std::pow(W - 1, 2))},
      {true, true, 4, 0.5 * H * ((W - 1) + std::pow(W - 1, 4))},
      {true, true, 3, 0.5 * H * ((W - 1) - std::pow(W - 1, 3))},
      {false, false, 2, 0.5 * (H - 1) * W},
      {false, true, 2, 0.5 * W * ((H - 1) + std::pow(H - 1, 2))},
      {false, true, 6, 0.5 * W * ((H - 1) + std::pow(H - 1, 6))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "alongX " << c.alongX << " periodic " << c.periodic
                                      << " p " << c.p);
    const CImg<double> ramp = c.alongX ? plane(W, H, 1, 0) : plane(W, H, 0, 1);
    expectClose(PriorEnergyHS_powK_1st(ramp, zero, unitWeights(W, H), c.p, c.periodic),
                c.expected);
    expectClose(PriorEnergyHS_powK_1st(ramp, zero, c.p, c.periodic), c.expected);
    expectClose(PriorEnergyHS_powK_1st(zero, ramp, c.p, c.periodic), c.expected);
  }
  // N x N, U = x: 1/2 (N - 1) N clamped, 1/2 N ((N - 1) + (N - 1)^2) wrapped.
  const int N = 5;
  expectClose(PriorEnergyHS_powK_1st(plane(N, N, 1, 0), filled(N, N, 0), 2.0, false),
              0.5 * (N - 1) * N);
  expectClose(PriorEnergyHS_powK_1st(plane(N, N, 1, 0), filled(N, N, 0), 2.0, true),
              0.5 * N * ((N - 1) + (N - 1) * (N - 1)));
}

TEST(PriorEnergies, FirstOrderEqualsTheWeightedSumOverLinks) {
  std::mt19937 rng(14);
  const int W = 7, H = 5;
  const CImgList<double> z(randomImage(W, H, rng, 0, 2), randomImage(W, H, rng, 0, 2));
  const CImg<double> U = randomImage(W, H, rng, -1, 1), V = randomImage(W, H, rng, -1, 1);
  for (bool periodic : {false, true})
    for (double p : {2.0, 3.0, 4.0}) {
      SCOPED_TRACE(::testing::Message() << "periodic " << periodic << " p " << p);
      expectClose(PriorEnergyHS_powK_1st(U, V, z, p, periodic),
                  firstOrderDirect(U, V, z, p, periodic));
      EXPECT_EQ(PriorEnergyHS_powK_1st(U, V, unitWeights(W, H), p, periodic),
                PriorEnergyHS_powK_1st(U, V, p, periodic));
    }
}

TEST(PriorEnergies, SecondOrderOnRampsWithUnitWeights) {
  // U = x: interior centred differences 1; clamped, the first and last
  // columns see 1/2; wrapped, they see -(W - 2) / 2.
  const int W = 6, H = 4;
  const CImg<double> zero = filled(W, H, 0.0);
  const struct {
    bool alongX, periodic;
    double expected;
  } cases[] = {
      {true, false, 0.5 * H * (W - 1.5)},
      {true, true, 0.5 * H * ((W - 2) + 0.5 * (W - 2) * (W - 2))},
      {false, false, 0.5 * W * (H - 1.5)},
      {false, true, 0.5 * W * ((H - 2) + 0.5 * (H - 2) * (H - 2))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "alongX " << c.alongX << " periodic " << c.periodic);
    const CImg<double> ramp = c.alongX ? plane(W, H, 1, 0) : plane(W, H, 0, 1);
    const CImgList<double> z = unitWeights(W, H);
    expectClose(PriorEnergyHS_powK_2nd(ramp, zero, z, 2.0, c.periodic), c.expected);
    expectClose(PriorEnergyHS_2nd(ramp, zero, z, c.periodic), c.expected);
    expectClose(PriorEnergyHS_2nd(ramp, zero, c.periodic), c.expected);
    expectClose(PriorEnergyHS_2nd(zero, ramp, c.periodic), c.expected);
  }
}

TEST(PriorEnergies, SecondOrderVerticalDifferencesTakeTheFirstWeight) {
  const int W = 6, H = 4;
  const CImg<double> zero = filled(W, H, 0.0), ones = filled(W, H, 1.0);
  const CImg<double> alongX = plane(W, H, 1, 0), alongY = plane(W, H, 0, 1);
  const struct {
    const CImg<double>*U, *V;
    bool firstWeightOnly;
    double expected;
  } cases[] = {
      {&alongY, &zero, false, 0.0},  {&alongY, &zero, true, 0.5 * W * (H - 1.5)},
      {&alongX, &zero, false, 0.5 * H * (W - 1.5)}, {&alongX, &zero, true, 0.0},
      {&zero, &alongY, false, 0.0},  {&zero, &alongX, true, 0.0},
  };
  for (const auto& c : cases) {
    // firstWeightOnly: reg_out[0] = 1, reg_out[1] = 0; otherwise the reverse.
    const CImgList<double> z = c.firstWeightOnly ? CImgList<double>(ones, zero)
                                                 : CImgList<double>(zero, ones);
    EXPECT_EQ(PriorEnergyHS_powK_2nd(*c.U, *c.V, z, 2.0, false), c.expected);
    EXPECT_EQ(PriorEnergyHS_2nd(*c.U, *c.V, z, false), c.expected);
  }
}

TEST(PriorEnergies, SecondOrderEqualsTheWeightedSumOverPixels) {
  std::mt19937 rng(15);
  const int W = 7, H = 5;
  const CImgList<double> z(randomImage(W, H, rng, 0, 2), randomImage(W, H, rng, 0, 2));
  const CImg<double> U = randomImage(W, H, rng, -1, 1), V = randomImage(W, H, rng, -1, 1);
  for (bool periodic : {false, true}) {
    for (double p : {2.0, 3.0, 4.0, 6.0}) {
      SCOPED_TRACE(::testing::Message() << "periodic " << periodic << " p " << p);
      expectClose(PriorEnergyHS_powK_2nd(U, V, z, p, periodic),
                  secondOrderDirect(U, V, z, p, periodic));
    }
    EXPECT_EQ(PriorEnergyHS_2nd(U, V, z, periodic), PriorEnergyHS_powK_2nd(U, V, z, 2.0, periodic));
    EXPECT_EQ(PriorEnergyHS_2nd(U, V, periodic),
              PriorEnergyHS_2nd(U, V, unitWeights(W, H), periodic));

    // Power 0 turns every difference into 1: sum of both weights.
    double weights = 0.0;
    cimg_forXY(U, x, y) weights += z[0](x, y) + z[1](x, y);
    expectClose(PriorEnergyHS_powK_2nd(U, V, z, 0.0, periodic), weights);
    EXPECT_EQ(PriorEnergyHS_powK_2nd(U, V, unitWeights(W, H), 0.0, periodic), 2.0 * W * H);
  }
}

TEST(PriorEnergies, SecondOrderOddPowerKeepsTheSign) {
  // U = -x, clamped: interior differences -1, border columns -1/2, cubed:
  // 1/2 H (-(W - 2) - 2/8).
  const int W = 6, H = 4;
  EXPECT_DOUBLE_EQ(
      PriorEnergyHS_powK_2nd(plane(W, H, -1, 0), filled(W, H, 0), unitWeights(W, H), 3.0, false),
      -0.5 * H * (W - 1.75));
}

TEST(PriorEnergies, OtherPowersUseTheStandardPow) {
  // U = (0, 0, 1, 1, 1) on one row: only columns 1 and 2 have a centred
  // difference, 1/2 each, so the energy is exactly (1/2)^p. For p = 0.25,
  // std::pow(0.5, 0.25) differs in its last bit from sqrt(sqrt(0.5)).
  CImg<double> U(5, 1, 1, 1, 0.0);
  U(2, 0) = U(3, 0) = U(4, 0) = 1.0;
  const CImg<double> V(5, 1, 1, 1, 0.0);
  for (double p : {0.25, 0.75, 1.5}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(PriorEnergyHS_powK_2nd(U, V, unitWeights(5, 1), p, false), std::pow(0.5, p));
  }
  EXPECT_EQ(PriorEnergyHS_powK_2nd(U, V, unitWeights(5, 1), 0.5, false), std::sqrt(0.5));
}
