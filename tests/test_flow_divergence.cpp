// Second-order divergence of a flow field and its Fourier-domain rebuilding
// from divergence and curl: constant fields, the clamped border, pure
// gradient and rotation modes, the mean, one-row and one-column fields.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "CImg.h"
#include "flow_divergence.h"

using cimg_library::CImg;

namespace {

constexpr double kPi = 3.141592653589793;

CImg<double> field(int w, int h, double (*u)(int, int), double (*v)(int, int)) {
  CImg<double> f(w, h, 2, 1, 0.0);
  cimg_forXY(f, x, y) {
    f(x, y, 0) = u(x, y);
    f(x, y, 1) = v(x, y);
  }
  return f;
}

CImg<double> rebuilt(const CImg<double>& in, bool divNul) {
  CImg<double> out(in.width(), in.height(), 2, 1, 7.0);
  maj_vecteurs(out, in, divNul);
  return out;
}

double mean(const CImg<double>& f, int z) {
  double s = 0.0;
  cimg_forXY(f, x, y) s += f(x, y, z);
  return s / (f.width() * f.height());
}

// The built-in transform works with single-precision twiddles.
constexpr double kFftTolerance = 2e-6;

}  // namespace

TEST(Divergence, CentredDifferencesWithClampedBorder) {
  // Constant field: zero everywhere.
  const CImg<double> c = divImOrder2(field(
      5, 4, [](int, int) { return 3.0; }, [](int, int) { return -2.0; }));
  ASSERT_EQ(c.width(), 5);
  ASSERT_EQ(c.height(), 4);
  ASSERT_EQ(c.depth(), 1);
  cimg_forXY(c, x, y) EXPECT_EQ(c(x, y), 0.0);
  // U = x: 1 inside, 0.5 on the first and last columns.
  const CImg<double> ux = divImOrder2(field(
      5, 4, [](int x, int) { return double(x); }, [](int, int) { return 0.0; }));
  cimg_forXY(ux, x, y) EXPECT_EQ(ux(x, y), x == 0 || x == 4 ? 0.5 : 1.0) << x << "," << y;
  // V = y^2: (y+1)^2 - (y-1)^2 over 2 = 2y inside; rows 0 and 3 clamp.
  const CImg<double> vy = divImOrder2(field(
      3, 4, [](int, int) { return 0.0; }, [](int, int y) { return double(y * y); }));
  const double want[4] = {0.5, 2.0, 4.0, 2.5};
  cimg_forXY(vy, x, y) EXPECT_EQ(vy(x, y), want[y]) << x << "," << y;
  // Sum of both parts, rounded to single precision: U = 0.1 x, V = 0.3 y.
  const CImg<double> s = divImOrder2(field(
      4, 4, [](int x, int) { return 0.1 * x; }, [](int, int y) { return 0.3 * y; }));
  const float u1 = 0.1f, u3 = static_cast<float>(0.1 * 3), u2 = static_cast<float>(0.1 * 2);
  const float v1 = static_cast<float>(0.3), v3 = static_cast<float>(0.3 * 3);
  EXPECT_EQ(s(2, 2), static_cast<double>((u3 - u1) * 0.5f + (v3 - v1) * 0.5f));
  EXPECT_EQ(s(3, 0), static_cast<double>((u3 - u2) * 0.5f + (v1 - 0.0f) * 0.5f));
}

TEST(Divergence, OneColumnOrOneRowHasNoContributionAcross) {
  // Width 1: no x contribution; height 1: no y contribution.
  const CImg<double> col = divImOrder2(field(
      1, 5, [](int, int y) { return 10.0 * y; }, [](int, int y) { return double(y); }));
  cimg_forY(col, y) EXPECT_EQ(col(0, y), y == 0 || y == 4 ? 0.5 : 1.0) << y;
  const CImg<double> row = divImOrder2(field(
      5, 1, [](int x, int) { return double(x); }, [](int x, int) { return 10.0 * x; }));
  cimg_forX(row, x) EXPECT_EQ(row(x, 0), x == 0 || x == 4 ? 0.5 : 1.0) << x;
}

TEST(FieldRebuilding, ConstantFieldGivesZero) {
  for (bool divNul : {false, true}) {
    const CImg<double> out =
        rebuilt(field(
                    8, 8, [](int, int) { return 3.0; }, [](int, int) { return -1.0; }),
                divNul);
    cimg_forXYZ(out, x, y, z) EXPECT_NEAR(out(x, y, z), 0.0, kFftTolerance) << divNul;
  }
}

TEST(FieldRebuilding, SquareFieldReturnsItselfMinusItsMean) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> d(-2.0, 2.0);
  CImg<double> in(8, 8, 2, 1, 0.0);
  cimg_forXYZ(in, x, y, z) in(x, y, z) = d(rng);
  const CImg<double> copy(in);
  const CImg<double> out = rebuilt(in, false);
  EXPECT_EQ(in, copy);
  const double mu = mean(in, 0), mv = mean(in, 1);
  cimg_forXY(out, x, y) {
    EXPECT_NEAR(out(x, y, 0), in(x, y, 0) - mu, kFftTolerance);
    EXPECT_NEAR(out(x, y, 1), in(x, y, 1) - mv, kFftTolerance);
  }
}

TEST(FieldRebuilding, DivergenceFreePartOfGradientAndRotationModes) {
  // U = cos(2 pi x / 8), V = 0 is a gradient: nothing is left of it.
  const CImg<double> grad = rebuilt(
      field(
          8, 8, [](int x, int) { return std::cos(2 * kPi * x / 8); }, [](int, int) { return 0.0; }),
      true);
  cimg_forXYZ(grad, x, y, z) EXPECT_NEAR(grad(x, y, z), 0.0, kFftTolerance);
  // U = 0, V = cos(2 pi x / 8) has no divergence: returned unchanged.
  const CImg<double> in = field(
      8, 8, [](int, int) { return 0.0; }, [](int x, int) { return std::cos(2 * kPi * x / 8); });
  const CImg<double> rot = rebuilt(in, true);
  cimg_forXYZ(rot, x, y, z) EXPECT_NEAR(rot(x, y, z), in(x, y, z), kFftTolerance);
  // A sum of both keeps the rotation only, on a field larger than X's need.
  CImg<double> both = field(
      8, 8, [](int x, int y) { return std::sin(2 * kPi * x / 8) + std::cos(2 * kPi * y / 4); },
      [](int x, int y) { return std::cos(2 * kPi * x / 8) + std::sin(2 * kPi * y / 8); });
  CImg<double> out(10, 9, 3, 1, 5.0);
  maj_vecteurs(out, both, true);
  cimg_forXY(both, x, y) {
    EXPECT_NEAR(out(x, y, 0), std::cos(2 * kPi * y / 4), kFftTolerance);
    EXPECT_NEAR(out(x, y, 1), std::cos(2 * kPi * x / 8), kFftTolerance);
  }
  EXPECT_EQ(out(9, 8, 0), 5.0);
  EXPECT_EQ(out(3, 3, 2), 5.0);
}

TEST(FieldRebuilding, OneColumnAndOneRowFields) {
  // nbc = 1 (column-0 group only): a = 0, both spectra scale by 2 pi / nbl,
  // so the zero-mean field comes back divided by sqrt(nbl); with divNul the
  // V component (pure divergence there) vanishes. nbl = 1 mirrors it.
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (bool column : {true, false}) {
    const int w = column ? 1 : 8, h = column ? 8 : 1;
    CImg<double> in(w, h, 2, 1, 0.0);
    cimg_forXYZ(in, x, y, z) in(x, y, z) = d(rng);
    const double mu = mean(in, 0), mv = mean(in, 1), k = 1.0 / std::sqrt(8.0);
    const CImg<double> all = rebuilt(in, false), solenoidal = rebuilt(in, true);
    cimg_forXY(in, x, y) {
      EXPECT_NEAR(all(x, y, 0), (in(x, y, 0) - mu) * k, kFftTolerance);
      EXPECT_NEAR(all(x, y, 1), (in(x, y, 1) - mv) * k, kFftTolerance);
      // Along a column the curl-carrying component is U, along a row V.
      EXPECT_NEAR(solenoidal(x, y, 0), column ? (in(x, y, 0) - mu) * k : 0.0, kFftTolerance);
      EXPECT_NEAR(solenoidal(x, y, 1), column ? 0.0 : (in(x, y, 1) - mv) * k, kFftTolerance);
    }
  }
}

TEST(FieldRebuilding, OutputTooSmallIsAnAssertion) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CImg<double> small(8, 7, 2, 1, 0.0);
  const CImg<double> in(8, 8, 2, 1, 1.0);
  EXPECT_DEATH(maj_vecteurs(small, in, true), "");
}

// An empty field has no spectrum: the image library's exception, which a
// caller can catch, not an assertion; the output is left as it was.
TEST(FieldRebuilding, EmptyFieldRaisesTheLibraryError) {
  const CImg<double> empty;
  for (const bool divNul : {false, true}) {
    SCOPED_TRACE(divNul);
    CImg<double> out(4, 4, 2, 1, 7.0);
    EXPECT_THROW(maj_vecteurs(out, empty, divNul), cimg_library::CImgException);
    cimg_forXYZ(out, x, y, z) EXPECT_EQ(out(x, y, z), 7.0);
    CImg<double> none;
    EXPECT_THROW(maj_vecteurs(none, empty, divNul), cimg_library::CImgInstanceException);
  }
}
