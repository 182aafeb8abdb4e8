// Discrete operators and correlation filters: hand-worked values, the
// summation-by-parts identity of the weighted Laplacian, and the invalid-
// sample rules of the sparse correlation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "CImg.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

CImg<double> randomImage(int nc, int nl, std::mt19937& rng, double lo, double hi) {
  std::uniform_real_distribution<double> d(lo, hi);
  CImg<double> img(nc, nl);
  cimg_forXY(img, x, y) img(x, y) = d(rng);
  return img;
}

CImg<double> row(std::initializer_list<double> values) {
  CImg<double> img(static_cast<int>(values.size()), 1);
  int i = 0;
  for (double v : values) img(i++, 0) = v;
  return img;
}

// Sum over the links of the grid of w * (u(q) - u(p)) * (v(q) - v(p)); with
// periodic borders the wrap-around links (nc-1, y)-(0, y) and (x, nl-1)-(x, 0)
// are links too, with weights z0(nc-1, y) and z1(x, nl-1).
double linkForm(const CImg<double>& u, const CImg<double>& v, const CImgList<double>& z,
                bool periodic) {
  const int nc = u.width(), nl = u.height();
  double s = 0.0;
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      if (x + 1 < nc || periodic) {
        const int q = (x + 1) % nc;
        s += z[0](x, y) * (u(q, y) - u(x, y)) * (v(q, y) - v(x, y));
      }
      if (y + 1 < nl || periodic) {
        const int q = (y + 1) % nl;
        s += z[1](x, y) * (u(x, q) - u(x, y)) * (v(x, q) - v(x, y));
      }
    }
  return s;
}

double dotImages(const CImg<double>& a, const CImg<double>& b) {
  double s = 0.0;
  cimg_forXY(a, x, y) s += a(x, y) * b(x, y);
  return s;
}

}  // namespace

TEST(WeightedLaplacian, HandWorkedRow) {
  const CImg<double> im = row({0.0, 1.0, 4.0});
  CImgList<double> z(2, 3, 1, 1, 1, 1.0);
  z[0](0, 0) = 2.0;
  z[0](1, 0) = 3.0;
  z[0](2, 0) = 5.0;  // only the wrap-around link reads it
  const CImg<double> clamped = laplacian(im, z, false);
  EXPECT_EQ(clamped(0, 0), 2.0);
  EXPECT_EQ(clamped(1, 0), 7.0);
  EXPECT_EQ(clamped(2, 0), -9.0);
  const CImg<double> wrapped = laplacian(im, z, true);
  EXPECT_EQ(wrapped(0, 0), 22.0);
  EXPECT_EQ(wrapped(1, 0), 7.0);
  EXPECT_EQ(wrapped(2, 0), -29.0);
}

TEST(WeightedLaplacian, SummationByPartsOnNonSquareImages) {
  std::mt19937 rng(7);
  for (bool periodic : {false, true})
    for (auto [nc, nl] : {std::pair{8, 4}, std::pair{1, 5}, std::pair{2, 3}, std::pair{5, 1}}) {
      const CImg<double> u = randomImage(nc, nl, rng, -1, 1), v = randomImage(nc, nl, rng, -1, 1);
      CImgList<double> z(randomImage(nc, nl, rng, 0.1, 2), randomImage(nc, nl, rng, 0.1, 2));
      // sum_p v(p) * lap(u)(p) = - sum over links of w * du * dv
      EXPECT_NEAR(dotImages(v, laplacian(u, z, periodic)), -linkForm(u, v, z, periodic), 1e-12)
          << nc << "x" << nl << (periodic ? " periodic" : " clamped");
    }
}

TEST(WeightedLaplacian, ConstantImageGivesZero) {
  std::mt19937 rng(3);
  const CImg<double> c(6, 5, 1, 1, 3.25);
  CImgList<double> z(randomImage(6, 5, rng, 0, 4), randomImage(6, 5, rng, 0, 4));
  for (bool periodic : {false, true}) {
    EXPECT_EQ(laplacian(c, z, periodic).abs().max(), 0.0);
    EXPECT_EQ(laplacian(c, periodic).abs().max(), 0.0);
  }
}

TEST(PlainLaplacian, EqualsWeightedLaplacianWithUnitWeights) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> d(-50, 50);
  CImg<double> im(7, 4);
  cimg_forXY(im, x, y) im(x, y) = d(rng);  // integers: both sums are exact
  const CImgList<double> ones(2, 7, 4, 1, 1, 1.0);
  for (bool periodic : {false, true}) EXPECT_TRUE(laplacian(im, periodic) == laplacian(im, ones, periodic));
}

TEST(PiemeLaplacian, HandWorkedRowWithPowerTwo) {
  const CImg<double> im = row({0.0, 1.0, 4.0});
  CImgList<double> z(2, 3, 1, 1, 1, 1.0);
  z[0](0, 0) = 2.0;
  z[0](1, 0) = 3.0;
  const CImg<double> a = laplacianPiemeDerivRobustWeight(im, z, im, 2.0, false);
  EXPECT_EQ(a(0, 0), 2.0);
  EXPECT_EQ(a(1, 0), 79.0);
  EXPECT_EQ(a(2, 0), -81.0);
  // Power 0 gives back the weighted Laplacian.
  EXPECT_TRUE(laplacianPiemeDerivRobustWeight(im, z, im, 0.0, false) == laplacian(im, z, false));
}

TEST(RobustGradient, RampWithPowerTwo) {
  const int nc = 6, nl = 3;
  CImg<double> rampX(nc, nl), rampY(nl, nc);
  cimg_forXY(rampX, x, y) rampX(x, y) = x;
  cimg_forXY(rampY, x, y) rampY(x, y) = y;
  const CImg<double> onesX(nc, nl, 1, 1, 1.0), onesY(nl, nc, 1, 1, 1.0);
  const CImg<double> gx = GradRobX_powK(rampX, onesX, 2.0, false);
  const CImg<double> gy = GradRobY_powK(rampY, onesY, 2.0, false);
  const CImg<double> gxp = GradRobX_powK(rampX, onesX, 2.0, true);
  for (int i = 0; i < nc; ++i)
    for (int j = 0; j < nl; ++j) {
      const double expected = (i == 0 || i == nc - 1) ? 0.5 : 1.0;
      EXPECT_EQ(gx(i, j), expected);
      EXPECT_EQ(gy(j, i), expected);
      // Wrapped: the link (nc-1)-(0) has difference -(nc-1).
      const double wrapped = (i == 0 || i == nc - 1) ? 0.5 * (25.0 + 1.0) : 1.0;
      EXPECT_EQ(gxp(i, j), wrapped);
    }
  // The weights of the backward link are read at x-1.
  CImg<double> z(nc, nl, 1, 1, 1.0);
  z(2, 1) = 3.0;
  const CImg<double> gz = GradRobX_powK(rampX, z, 2.0, false);
  EXPECT_EQ(gz(2, 1), 0.5 * (3.0 + 1.0));
  EXPECT_EQ(gz(3, 1), 0.5 * (1.0 + 3.0));
}

TEST(Filtre2D, CorrelationWithClampedAndSingleStepWrappedBorders) {
  const CImg<double> b = row({1, 2, 3, 4, 5, 6});
  const CImg<double> f = row({1, 2, 3, 2, 1});
  const CImg<double> clamped = Filtre_2D(b, f);
  const CImg<double> wrapped = Filtre_2D(b, f, true);
  EXPECT_EQ(clamped(0, 0), 1 * 1 + 2 * 1 + 3 * 1 + 2 * 2 + 1 * 3);
  EXPECT_EQ(clamped(2, 0), 1 * 1 + 2 * 2 + 3 * 3 + 2 * 4 + 1 * 5);
  EXPECT_EQ(clamped(5, 0), 1 * 4 + 2 * 5 + 3 * 6 + 2 * 6 + 1 * 6);
  // Any index left of the image maps to the last column, right of it to 0.
  EXPECT_EQ(wrapped(0, 0), 1 * 6 + 2 * 6 + 3 * 1 + 2 * 2 + 1 * 3);
  EXPECT_EQ(wrapped(5, 0), 1 * 4 + 2 * 5 + 3 * 6 + 2 * 1 + 1 * 1);
  // Correlation, not convolution: (0, 0, 1) reads the right neighbour.
  const CImg<double> shift = Filtre_2D(b, row({0, 0, 1}));
  EXPECT_EQ(shift(1, 0), 3.0);
  EXPECT_EQ(shift(5, 0), 6.0);
}

TEST(Filtre2D, OneByOneScalesAndRowFilterLeavesVerticalProfilesAlone) {
  CImg<double> b(5, 4);
  cimg_forXY(b, x, y) b(x, y) = y * y;  // varies along y only
  EXPECT_TRUE(Filtre_2D(b, CImg<double>(1, 1, 1, 1, 2.0)) == b * 2.0);
  const CImg<double> smooth = Filtre_2D(b, row({0.25, 0.5, 0.25}), true);
  cimg_forXY(b, x, y) EXPECT_EQ(smooth(x, y), b(x, y));
  // A 1 x 3 column filter smooths along y.
  const CImg<double> col(1, 3, 1, 1, 1.0);
  EXPECT_EQ(Filtre_2D(b, col)(2, 1), 0.0 + 1.0 + 4.0);
}

TEST(Filtre2D, EmptyOrEvenFilterIsRefused) {
  const CImg<double> b(4, 4, 1, 1, 1.0), empty;
  EXPECT_THROW(Filtre_2D(b, empty), cimg_library::CImgInstanceException);
  EXPECT_THROW(Filtre_2D_sparse(b, empty), cimg_library::CImgInstanceException);
  EXPECT_THROW(Filtre_2D_sparse(b, empty, true), cimg_library::CImgInstanceException);
  EXPECT_THROW(Filtre_2D(b, CImg<double>(2, 1, 1, 1, 1.0)), cimg_library::CImgArgumentException);
  EXPECT_THROW(Filtre_2D_sparse(b, CImg<double>(3, 4, 1, 1, 1.0)), cimg_library::CImgArgumentException);
}

TEST(Filtre2DSparse, WithoutMarkersEqualsTheClampedCorrelation) {
  std::mt19937 rng(5);
  const CImg<double> b = randomImage(9, 6, rng, -1000, 1000);
  const CImg<double> burt = row({0.05, 0.25, 0.4, 0.25, 0.05});
  EXPECT_TRUE(Filtre_2D_sparse(b, burt) == Filtre_2D(b, burt));
  EXPECT_TRUE(Filtre_2D_sparse(b, burt, true) == Filtre_2D(b, burt, true));
  EXPECT_TRUE(Filtre_2D_sparse(b, burt, false) == Filtre_2D(b, burt));
}

// Markers under a tap are left out; the valid taps are renormalised while
// they weigh at least half of the kernel, else the pixel stays a marker.
// Expected values by hand: (sum of value * tap over valid taps) / (their
// taps' sum), with the Burt taps 0.05, 0.25, 0.4, 0.25, 0.05.
TEST(Filtre2DSparse, ValidTapsRenormalisedOrMarker) {
  const double M = 1023.0, N = -1023.0;
  const CImg<double> burt = row({0.05, 0.25, 0.4, 0.25, 0.05});
  const struct {
    const char* name;
    CImg<double> b, filtre;
    bool periodic;
    std::vector<double> expected;
  } cases[] = {
      // A ramp with one marker: every pixel that sees it is renormalised.
      {"ramp, one marker",
       row({0, 1, 2, M, 4, 5, 6}),
       burt,
       false,
       {0.35, 0.9 / 0.95, 1.25 / 0.75, 3.0, 3.25 / 0.75, 4.8 / 0.95, 5.65}},
      // A block of three, one of them negative: the pixels whose valid taps
      // weigh 0.3 stay markers, with the sign of the negative one.
      {"block with a negative marker",
       row({10, 10, M, M, N, 10, 10}),
       burt,
       false,
       {10, 10, N, N, N, 10, 10}},
      {"block of positive markers", row({10, 10, M, M, M, 10, 10}), burt, false,
       {10, 10, M, M, M, 10, 10}},
      // Valid taps weighing exactly half are renormalised; less is a marker.
      {"exactly half", row({1, M, 3}), row({0.25, 0.5, 0.25}), false, {1.0, 2.0, 3.0}},
      {"below half", row({1, M, 3}), row({0.2, 0.6, 0.2}), false, {1.0, M, 3.0}},
      // Single-step wrap: at column 4 the taps 5 and 6 both read column 0.
      {"periodic", row({M, 1, 2, 3, 4}), burt, true,
       {1.55 / 0.6, 1.25 / 0.75, 2.0 / 0.95, 2.75 / 0.95, 2.45 / 0.7}},
  };
  for (const auto& c : cases) {
    const CImg<double> a = Filtre_2D_sparse(c.b, c.filtre, c.periodic);
    ASSERT_EQ(a.width(), static_cast<int>(c.expected.size())) << c.name;
    for (int x = 0; x < a.width(); ++x) EXPECT_NEAR(a(x, 0), c.expected[x], 1e-12) << c.name << " " << x;
  }
  // A marker under a zero tap is skipped and renormalises nothing.
  CImg<double> both(5, 1, 1, 1, 0.0);
  both(1, 0) = M;
  both(3, 0) = N;
  EXPECT_EQ(Filtre_2D_sparse(both, row({1, 0, 1}))(1, 0), 0.0);
  // Periodic borders count only positive markers: negative values are used.
  CImg<double> b(12, 2, 1, 1, 10.0);
  b(9, 0) = N;
  EXPECT_NEAR(Filtre_2D_sparse(b, burt, true)(9, 0), 0.4 * N + 0.6 * 10.0, 1e-9);
  // Markers in the second pass, along y, follow the same rule.
  CImg<double> col(1, 7, 1, 1, 0.0);
  for (int y = 0; y < 7; ++y) col(0, y) = y;
  col(0, 3) = M;
  EXPECT_NEAR(Filtre_2D_sparse(col, burt.get_permute_axes("yxzc"))(0, 2), 1.25 / 0.75, 1e-12);
}
