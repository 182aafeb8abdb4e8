// Image derivatives, flow upsampling and image warping on images.
#include <gtest/gtest.h>

#include <CImg.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <unistd.h>

#include "image_derivatives.h"
#include "warping.h"

using cimg_library::CImg;

namespace {

CImg<double> rampImage(int w, int h, double a, double b, double c = 0.0) {
  CImg<double> img(w, h, 1, 1);
  cimg_forXY(img, x, y) img(x, y) = a * x + b * y + c;
  return img;
}

CImg<double> randomImage(int w, int h, unsigned seed) {
  CImg<double> img(w, h, 1, 1);
  std::srand(seed);
  cimg_forXY(img, x, y) img(x, y) = std::rand() % 1000 / 4.0;
  return img;
}

// Flow field of constant (u, v).
CImg<double> constantFlow(int w, int h, double u, double v) {
  CImg<double> uv(w, h, 2, 1);
  cimg_forXY(uv, x, y) {
    uv(x, y, 0) = u;
    uv(x, y, 1) = v;
  }
  return uv;
}

// Runs f with standard output redirected to standard error (death tests).
template <typename F>
void onStderr(F f) {
  dup2(2, 1);
  f();
}

}  // namespace

TEST(ImageDerivatives, RowOrColumnOnlyImages) {
  const CImg<double> rows = rampImage(9, 7, 0.0, 3.0), cols = rampImage(9, 7, 2.0, 0.0);
  const CImg<double> gx = gradSpline_X(rows, 0), gy = gradSpline_Y(cols, 0);
  ASSERT_EQ(gx.width(), 9);
  ASSERT_EQ(gx.height(), 7);
  cimg_forXY(gx, x, y) {
    EXPECT_NEAR(gx(x, y), 0.0, 1e-5);
    EXPECT_NEAR(gy(x, y), 0.0, 1e-5);
  }
}

// Away from the borders the cubic spline through a ramp is the ramp; in the
// first and last column (row) the mirror makes the x (y) derivative 0.
TEST(ImageDerivatives, RampGradientAndBorders) {
  const CImg<double> img = rampImage(40, 30, 0.5, 2.0, 7.0);
  const CImg<double> gx = gradSpline_X(img, 0), gy = gradSpline_Y(img, 0);
  for (int y = 0; y < 30; ++y)
    for (int x = 12; x < 28; ++x) EXPECT_NEAR(gx(x, y), 0.5, 1e-4);
  for (int y = 12; y < 18; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_NEAR(gy(x, y), 2.0, 1e-4);
  const CImg<double> r = randomImage(12, 10, 3);
  const CImg<double> rx = gradSpline_X(r, 0), ry = gradSpline_Y(r, 0);
  for (int y = 0; y < 10; ++y) {
    EXPECT_EQ(rx(0, y), 0.0);
    EXPECT_EQ(rx(11, y), 0.0);
  }
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(ry(x, 0), 0.0);
    EXPECT_EQ(ry(x, 9), 0.0);
  }
  const CImg<double> column = randomImage(1, 8, 4);
  const CImg<double> cx = gradSpline_X(column, 0);
  cimg_forXY(cx, x, y) EXPECT_EQ(cx(x, y), 0.0);
}

TEST(ImageDerivatives, ConstantImageWithAndWithoutBlur) {
  const CImg<double> flat(20, 15, 1, 1, 42.0);
  for (float sigma : {0.0f, 1.5f, -2.0f}) {
    const CImg<double> gx = gradSpline_X(flat, sigma), gy = gradSpline_Y(flat, sigma);
    const CImg<double> gt = grad_t(flat, flat, sigma);
    cimg_forXY(gx, x, y) {
      EXPECT_NEAR(gx(x, y), 0.0, 1e-4) << sigma;
      EXPECT_NEAR(gy(x, y), 0.0, 1e-4) << sigma;
      EXPECT_EQ(gt(x, y), 0.0) << sigma;
    }
  }
}

TEST(ImageDerivatives, TemporalDifferenceIsSecondMinusFirst) {
  const CImg<double> a = randomImage(7, 5, 1), b = randomImage(7, 5, 2);
  const CImg<double> gt = grad_t(a, b, 0);
  cimg_forXY(gt, x, y) EXPECT_EQ(gt(x, y), b(x, y) - a(x, y));
}

// A negative width is that percentage of the largest side: -2 on 200 x 100
// is a width of 4 pixels. The smoothing keeps the mean of a ramp.
TEST(ImageDerivatives, NegativeBlurWidthIsPercentOfLargestSide) {
  const CImg<double> zero(200, 100, 1, 1, 0.0), img = randomImage(200, 100, 7);
  const CImg<double> byPercent = grad_t(zero, img, -2.0f), byWidth = grad_t(zero, img, 4.0f);
  const CImg<double> narrower = grad_t(zero, img, 2.0f);
  cimg_forXY(byPercent, x, y) EXPECT_EQ(byPercent(x, y), byWidth(x, y));
  EXPECT_GT((narrower - byWidth).abs().max(), 1e-3);
  EXPECT_LT(byWidth.variance(), img.variance() / 4);
}

// With sigma != 0 the derivatives and the difference are those of the image
// smoothed by the order-0 Deriche filter with Neumann borders, along x then
// y, of width sigma or -sigma percent of the largest side.
TEST(ImageDerivatives, BlurIsDericheAlongXThenY) {
  const CImg<double> a = randomImage(30, 20, 21), b = randomImage(30, 20, 22);
  for (float sigma : {1.5f, -10.0f}) {
    const float width = sigma > 0 ? sigma : -sigma * 30.0f / 100.0f;
    CImg<double> smoothA(a), smoothDiff(b - a);
    for (CImg<double>* img : {&smoothA, &smoothDiff}) {
      img->deriche(width, 0, 'x', 1);
      img->deriche(width, 0, 'y', 1);
    }
    const CImg<double> gx = gradSpline_X(a, sigma), gy = gradSpline_Y(a, sigma);
    const CImg<double> gxRef = gradSpline_X(smoothA, 0), gyRef = gradSpline_Y(smoothA, 0);
    const CImg<double> gt = grad_t(a, b, sigma);
    cimg_forXY(gx, x, y) {
      EXPECT_EQ(gx(x, y), gxRef(x, y)) << sigma << " at " << x << ", " << y;
      EXPECT_EQ(gy(x, y), gyRef(x, y)) << sigma << " at " << x << ", " << y;
      EXPECT_EQ(gt(x, y), smoothDiff(x, y)) << sigma << " at " << x << ", " << y;
    }
  }
}

TEST(ImageDerivativesDeath, RefusesImagesBeyond16BitSizes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> wide(32768, 1, 1, 1, 0.0), tall(1, 32768, 1, 1, 0.0), small(1, 1, 1, 1, 0.0);
  EXPECT_EXIT(gradSpline_X(wide, 0), ::testing::ExitedWithCode(1), "32767");
  EXPECT_EXIT(gradSpline_Y(tall, 0), ::testing::ExitedWithCode(1), "32767");
  EXPECT_EXIT(grad_t(wide, wide, 0), ::testing::ExitedWithCode(1), "32767");
  // The largest accepted side.
  const CImg<double> widest(32767, 1, 1, 1, 1.0);
  EXPECT_EQ(gradSpline_X(widest, 0).width(), 32767);
  (void)small;
}

TEST(Upsampling, ConstantPlaneAndSinglePixel) {
  const CImg<double> flat(6, 4, 1, 1, -3.25);
  CImg<double> out(12, 8, 1, 1, 0.0);
  Proj_Dup_Spline(out, flat, 3);
  cimg_forXY(out, x, y) EXPECT_NEAR(out(x, y), -3.25, 1e-5);

  const CImg<double> one(1, 1, 1, 1, 0.1);
  CImg<double> two(2, 2, 1, 1, 0.0);
  Proj_Dup_Spline(two, one, 3);
  cimg_forXY(two, x, y) EXPECT_EQ(two(x, y), static_cast<double>(0.1f));
}

// Even positions give back the samples, odd ones the spline halfway, which
// for a ramp is the mean of the two neighbours away from the borders; the
// last column and row repeat the ones before them.
TEST(Upsampling, SamplesHalfwayValuesAndRepeatedBorders) {
  const int w = 30, h = 26;
  const CImg<double> r = randomImage(w, h, 11);
  CImg<double> out(2 * w, 2 * h, 1, 1, 0.0);
  Proj_Dup_Spline(out, r, 3);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) EXPECT_NEAR(out(2 * j, 2 * i), r(j, i), 1e-3);
  for (int y = 0; y < 2 * h; ++y) EXPECT_EQ(out(2 * w - 1, y), out(2 * w - 2, y));
  for (int x = 0; x < 2 * w; ++x) EXPECT_EQ(out(x, 2 * h - 1), out(x, 2 * h - 2));

  const CImg<double> ramp = rampImage(w, h, 1.5, -0.5, 4.0);
  Proj_Dup_Spline(out, ramp, 3);
  for (int i = 10; i < h - 10; ++i)
    for (int j = 10; j < w - 10; ++j) {
      EXPECT_NEAR(out(2 * j + 1, 2 * i), 1.5 * (j + 0.5) - 0.5 * i + 4.0, 1e-4);
      EXPECT_NEAR(out(2 * j + 1, 2 * i + 1), 1.5 * (j + 0.5) - 0.5 * (i + 0.5) + 4.0, 1e-4);
      EXPECT_NEAR(out(2 * j, 2 * i + 1), 1.5 * j - 0.5 * (i + 0.5) + 4.0, 1e-4);
    }
}

TEST(UpsamplingDeath, RefusesWrongOutputAndTooWideInput) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> in(5, 4, 1, 1, 1.0);
  CImg<double> wrong(10, 7, 1, 1, 0.0), same(5, 4, 1, 1, 0.0);
  EXPECT_EXIT(Proj_Dup_Spline(wrong, in, 3), ::testing::ExitedWithCode(1), "twice");
  EXPECT_EXIT(Proj_Dup_Spline(same, in, 3), ::testing::ExitedWithCode(1), "twice");
  const CImg<double> wide(16384, 1, 1, 1, 0.0);
  CImg<double> wideOut(32768, 2, 1, 1, 0.0);
  EXPECT_EXIT(Proj_Dup_Spline(wideOut, wide, 3), ::testing::ExitedWithCode(1), "16383");
}

// A zero field reproduces the image; the first column and row, whose
// neighbour -1 is missing, are copied.
TEST(Warping, ZeroFieldReproducesImage) {
  const CImg<double> in = randomImage(11, 9, 5);
  CImg<double> out(11, 9, 1, 1, 0.0);
  testing::internal::CaptureStdout();
  Recal_spline(out, in, constantFlow(11, 9, 0, 0), 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Recalage\n");
  cimg_forXY(out, x, y) {
    if (x == 0 || y == 0)
      EXPECT_EQ(out(x, y), static_cast<double>(static_cast<float>(in(x, y))));
    else
      EXPECT_NEAR(out(x, y), in(x, y), 1e-3);
  }
}

// A constant integer field shifts the image; targets beyond the image take
// the sample at the clamped target.
TEST(Warping, ConstantIntegerFieldShifts) {
  const int w = 12, h = 10;
  const CImg<double> in = randomImage(w, h, 8);
  const int shifts[][2] = {{2, 1}, {-1, -2}, {3, -1}, {0, 2}};
  for (const auto& s : shifts) {
    CImg<double> out(w, h, 1, 1, 0.0);
    Recal_spline(out, in, constantFlow(w, h, s[0], s[1]), 3);
    cimg_forXY(out, x, y) {
      const int tx = std::min(std::max(x + s[0], 0), w - 1);
      const int ty = std::min(std::max(y + s[1], 0), h - 1);
      EXPECT_NEAR(out(x, y), in(tx, ty), 1e-3) << s[0] << ", " << s[1] << " at " << x << ", " << y;
    }
  }
}

TEST(Warping, BilinearForLowDegrees) {
  const CImg<double> in = rampImage(8, 6, 2.0, 0.0);
  CImg<double> out(8, 6, 1, 1, 0.0);
  Recal_spline(out, in, constantFlow(8, 6, 0.25, 0.5), 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_DOUBLE_EQ(out(x, y), 2.0 * (x + 0.25));
}

// Interpolation needs the 2 x 2 block towards the target to be valid
// (|v| < 1022); a pixel whose block holds a marker is itself invalid and
// carries that marker.
TEST(Warping, InvalidSampleMarkers) {
  const struct {
    double marker;
    bool invalid;
  } cases[] = {{1023.0, true}, {-1023.0, true}, {1022.0, true}, {-1022.0, true}, {1021.5, false}};
  for (const auto& c : cases) {
    CImg<double> in = randomImage(10, 10, 9);
    in(5, 5) = c.marker;
    CImg<double> out(10, 10, 1, 1, 0.0);
    Recal_spline(out, in, constantFlow(10, 10, 0.5, 0.5), 3);
    for (int y = 4; y <= 5; ++y)
      for (int x = 4; x <= 5; ++x) {
        if (c.invalid)
          EXPECT_EQ(out(x, y), c.marker) << x << "," << y;
        else
          EXPECT_GT(std::fabs(out(x, y) - static_cast<float>(in(x, y))), 1.0) << c.marker;
      }
    // Pixels whose block does not reach the marker are interpolated.
    EXPECT_NE(out(2, 2), static_cast<double>(static_cast<float>(in(2, 2))));
    EXPECT_LT(std::fabs(out(3, 3)), 1022.0);
  }
}

// Near bright edges the cubic spline of valid samples overshoots; the warped
// value stays valid (below 1022), however bright, and a marker still marks.
TEST(Warping, BrightOvershootStaysValid) {
  const int w = 24, h = 8;
  CImg<double> in(w, h, 1, 1);
  cimg_forXY(in, x, y) in(x, y) = (x / 3) % 2 ? 1021.0 : 0.0;  // steps of 0 and 1021
  CImg<double> out(w, h, 1, 1, 0.0);
  Recal_spline(out, in, constantFlow(w, h, 0.5, 0.0), 3);
  double brightest = 0.0;
  cimg_forXY(out, x, y) {
    EXPECT_LT(out(x, y), 1022.0) << x << "," << y;
    brightest = std::max(brightest, out(x, y));
  }
  EXPECT_GT(brightest, 1021.0);  // the spline did overshoot the brightest sample
  in(10, 4) = 1023.0;            // next to bright samples
  Recal_spline(out, in, constantFlow(w, h, 0.5, 0.0), 3);
  // With V = 0 the block reaches up a row: (j..j+1, i-1..i).
  EXPECT_EQ(out(9, 4), 1023.0);   // its block (9..10, 3..4) holds the marker
  EXPECT_EQ(out(10, 5), 1023.0);  // block (10..11, 4..5)
  EXPECT_LT(out(11, 4), 1022.0);
}

// The pre-warp's pixels whose target lies outside the image are invalid;
// the level warps take the nearest stored sample there.
TEST(Warping, OutsideTargetsInvalidWhenAsked) {
  const int w = 12, h = 10;
  const CImg<double> in = randomImage(w, h, 4);
  const double shifts[][2] = {{2.5, 0.0}, {0.0, -3.25}, {-1.5, 1.5}};
  for (const auto& s : shifts) {
    const CImg<double> uv = constantFlow(w, h, s[0], s[1]);
    CImg<double> nearest(w, h), marked(w, h);
    Recal_spline(nearest, in, uv, 3);
    Recal_spline(marked, in, uv, 3, OutsideTarget::Invalid);
    cimg_forXY(in, x, y) {
      const double tx = x + s[0], ty = y + s[1];
      const bool outside = tx < 0 || tx > w - 1 || ty < 0 || ty > h - 1;
      if (outside)
        EXPECT_EQ(marked(x, y), 1023.0) << x << "," << y;
      else
        EXPECT_EQ(marked(x, y), nearest(x, y)) << x << "," << y;
    }
  }
}

// A displacement that is not finite leaves its pixel at its own value and
// does not disturb the others.
TEST(Warping, NonFiniteDisplacementKeepsOwnValue) {
  const CImg<double> in = randomImage(9, 8, 12);
  CImg<double> uv = constantFlow(9, 8, 1, 0);
  uv(3, 4, 0) = NAN;
  uv(6, 2, 1) = INFINITY;
  uv(1, 1, 0) = -INFINITY;
  uv(2, 6, 1) = NAN;
  CImg<double> out(9, 8, 1, 1, 0.0);
  Recal_spline(out, in, uv, 3);
  const int own[][2] = {{3, 4}, {6, 2}, {1, 1}, {2, 6}};
  for (const auto& p : own) EXPECT_EQ(out(p[0], p[1]), static_cast<double>(static_cast<float>(in(p[0], p[1]))));
  EXPECT_NEAR(out(4, 3), in(5, 3), 1e-3);
}

TEST(WarpingDeath, RefusesMismatchedSizes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> in(6, 5, 1, 1, 1.0);
  CImg<double> out(6, 5, 1, 1, 0.0), small(5, 5, 1, 1, 0.0);
  EXPECT_EXIT(onStderr([&] { Recal_spline(small, in, constantFlow(6, 5, 0, 0), 3); }),
              ::testing::ExitedWithCode(1), "output must have the input's size");
  EXPECT_EXIT(onStderr([&] { Recal_spline(out, in, constantFlow(4, 5, 0, 0), 3); }),
              ::testing::ExitedWithCode(1), "flow field");
  EXPECT_EXIT(onStderr([&] { Recal_spline(out, in, CImg<double>(6, 5, 1, 1, 0.0), 3); }),
              ::testing::ExitedWithCode(1), "flow field");
  const CImg<double> wide(32768, 1, 1, 1, 0.0);
  CImg<double> wideOut(32768, 1, 1, 1, 0.0);
  EXPECT_EXIT(onStderr([&] { Recal_spline(wideOut, wide, constantFlow(32768, 1, 0, 0), 3); }),
              ::testing::ExitedWithCode(1), "32767");
}
