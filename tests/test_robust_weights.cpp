// Robust data and smoothness weights (Leclerc and quasi-total-variation).
#include <gtest/gtest.h>

#include <CImg.h>

#include <cmath>

#include "robust_weights.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

CImg<double> flow(int w, int h, double u, double v) {
  CImg<double> uv(w, h, 2, 1);
  cimg_forXY(uv, x, y) {
    uv(x, y, 0) = u;
    uv(x, y, 1) = v;
  }
  return uv;
}

CImgList<double> weightSet(int w, int h) { return CImgList<double>(2, w, h, 1, 1, -7.0); }

}  // namespace

TEST(SmoothnessWeights, ConstantFlowWeighsOne) {
  for (bool periodic : {false, true}) {
    CImgList<double> z = weightSet(6, 5);
    UpdateRobustWeight_Leclerc(flow(6, 5, 1.25, -3.5), z, 0.8, periodic);
    for (int k = 0; k < 2; ++k) cimg_forXY(z[k], x, y) EXPECT_EQ(z[k](x, y), 1.0);
    CImgList<double> q = weightSet(6, 5);
    UpdateRobustWeight_QuasiTV(flow(6, 5, 1.25, -3.5), q, 0.3, periodic);
    for (int k = 0; k < 2; ++k) cimg_forXY(q[k], x, y) EXPECT_NEAR(q[k](x, y), 1.0, 1e-15);
  }
}

// A jump of 1 in U between columns 2 and 3: Leclerc with tau = 1 gives
// 0.5 (e^-1 + 1) on that link, quasi-TV with tau = 0.5 (s = 1) gives
// 0.5 (1 + 1/sqrt 2); every other link weighs 1. In periodic mode the last
// column's link reaches column 0, which holds the other side of the jump.
TEST(SmoothnessWeights, JumpAcrossOneLink) {
  const int w = 6, h = 4;
  CImg<double> uv = flow(w, h, 0.0, 2.0);
  cimg_forXY(uv, x, y) if (x >= 3) uv(x, y, 0) = 1.0;
  const double leclerc = 0.5 * (std::exp(-1.0) + 1.0), quasi = 0.5 * (1.0 + 1.0 / std::sqrt(2.0));
  for (bool periodic : {false, true}) {
    CImgList<double> z = weightSet(w, h), q = weightSet(w, h);
    UpdateRobustWeight_Leclerc(uv, z, 1.0, periodic);
    UpdateRobustWeight_QuasiTV(uv, q, 0.5, periodic);
    cimg_forXY(z[0], x, y) {
      const bool jump = x == 2 || (periodic && x == w - 1);
      EXPECT_NEAR(z[0](x, y), jump ? leclerc : 1.0, 1e-15) << x << " " << periodic;
      EXPECT_NEAR(q[0](x, y), jump ? quasi : 1.0, 1e-15) << x << " " << periodic;
      EXPECT_EQ(z[1](x, y), 1.0);
      EXPECT_NEAR(q[1](x, y), 1.0, 1e-15);
    }
  }
  // A jump between rows: the vertical links, wrapping from the last row.
  CImg<double> uvRows = flow(w, h, 0.0, 0.0);
  cimg_forXY(uvRows, x, y) uvRows(x, y, 1) = y >= 2 ? 1.0 : 0.0;
  CImgList<double> z = weightSet(w, h);
  UpdateRobustWeight_Leclerc(uvRows, z, 1.0, true);
  cimg_forXY(z[1], x, y) EXPECT_NEAR(z[1](x, y), (y == 1 || y == h - 1) ? leclerc : 1.0, 1e-15);
}

// The Leclerc exponent is tau times the squared difference: with tau = 0.7
// and a jump of 1.3, (tau * d) * d rounds differently from tau * (d * d) and
// the weight would be off in the last bit. U and V jump together across
// the link between columns 2 and 3, so the mean of the two equal terms keeps
// every bit.
TEST(SmoothnessWeights, LeclercSquaresTheDifferenceFirst) {
  const double tau = 0.7, d = 1.3;
  ASSERT_NE(std::exp(-tau * d * d), std::exp(-tau * (d * d)));
  const int w = 5, h = 3;
  CImg<double> uv = flow(w, h, 0.0, 0.0);
  cimg_forXY(uv, x, y) if (x >= 3) uv(x, y, 0) = uv(x, y, 1) = d;
  CImgList<double> z = weightSet(w, h);
  UpdateRobustWeight_Leclerc(uv, z, tau, false);
  const double jump = std::exp(-(tau * (d * d)));
  cimg_forXY(z[0], x, y) {
    EXPECT_EQ(z[0](x, y), x == 2 ? jump : 1.0) << x << " " << y;
    EXPECT_EQ(z[1](x, y), 1.0) << x << " " << y;
  }
}

TEST(DataWeights, WorkedValues) {
  const int w = 3, h = 2;
  CImg<double> u(w, h, 1, 1), v(w, h, 1, 1), fx(w, h, 1, 1), fy(w, h, 1, 1), ft(w, h, 1, 1);
  cimg_forXY(u, x, y) {
    u(x, y) = 0.5 * x;
    v(x, y) = -1.0 * y;
    fx(x, y) = 2.0;
    fy(x, y) = 3.0;
    ft(x, y) = 0.25;
  }
  CImg<double> out(w, h, 1, 1, -1.0);
  Data_Out_Gen_f(u, v, fx, fy, ft, 2.0f, w, h, out);
  CImg<double> qtv(w, h, 1, 1, -1.0);
  Data_Out_Gen_f_QuasiTV(u, v, fx, fy, ft, 1.5f, w, h, qtv);
  cimg_forXY(out, x, y) {
    const double r = 2.0 * 0.5 * x - 3.0 * y + 0.25;
    EXPECT_NEAR(out(x, y), std::exp(-r * r / 4.0), 1e-15);
    EXPECT_NEAR(qtv(x, y), 1.5 / std::sqrt(r * r + 2.25), 1e-15);
  }
  // sigma = 0: all weights 0, without a division.
  Data_Out_Gen_f(u, v, fx, fy, ft, 0.0f, w, h, out);
  cimg_forXY(out, x, y) EXPECT_EQ(out(x, y), 0.0);
}

TEST(DataWeights, ZeroResidualWeighsOneAndResultSize) {
  const CImg<double> uv = flow(5, 4, 1.0, 1.0);
  const CImg<double> ix(5, 4, 1, 1, 2.0), iy(5, 4, 1, 1, -1.0), it(5, 4, 1, 1, -1.0);
  const CImg<double> leclerc = RobustDataCoef(uv, ix, iy, it, 0.7);
  const CImg<double> quasi = RobustDataCoef_QuasiTV(uv, ix, iy, it, 0.7);
  ASSERT_EQ(leclerc.width(), 5);
  ASSERT_EQ(leclerc.height(), 4);
  cimg_forXY(leclerc, x, y) {
    EXPECT_EQ(leclerc(x, y), 1.0);
    EXPECT_NEAR(quasi(x, y), 1.0, 1e-7);  // s*s is rounded to float
  }
  // sigma is narrowed to single precision before it is squared.
  const CImg<double> one(1, 1, 1, 1, 1.0), zero(1, 1, 1, 1, 0.0);
  const float s = static_cast<float>(0.1);
  const double var = static_cast<double>(s * s);
  EXPECT_EQ(RobustDataCoef(flow(1, 1, 0.0, 0.0), zero, zero, one, 0.1)(0, 0), std::exp(-1.0 * (1.0 / var)));
}

TEST(MultiDistanceWeights, QuadraticLimitAndEmptyRange) {
  const int w = 5, h = 4;
  CImg<double> uv = flow(w, h, 0.0, 0.0);
  cimg_forXY(uv, x, y) uv(x, y, 0) = x * x;
  CImgList<double> L[8];
  for (auto& l : L) l.assign(2, w, h, 1, 1, -1.0);
  UpdateRobustWeight_QuasiTV(uv, L[0], L[1], L[2], L[3], L[4], L[5], L[6], L[7], 1, 2, 1000.0, 0.5);
  for (auto& l : L)
    for (int k = 0; k < 2; ++k) cimg_forXY(l[k], x, y) EXPECT_EQ(l[k](x, y), 1.0);
  for (auto& l : L) l.assign(2, w, h, 1, 1, -1.0);
  UpdateRobustWeight_QuasiTV(uv, L[0], L[1], L[2], L[3], L[4], L[5], L[6], L[7], 3, 2, 1.0, 0.5);
  for (auto& l : L)
    for (int k = 0; k < 2; ++k) cimg_forXY(l[k], x, y) EXPECT_EQ(l[k](x, y), -1.0);
}

// U = x^2 and V = 0, distance l = 2, zeta = 1, s = 0.5: F = 1. The right link
// from x has dU = x^2 - (x+2)^2 = -4x - 4; the diagonal ones c (dU + dV).
TEST(MultiDistanceWeights, WorkedValues) {
  const int w = 5, h = 4, l = 2;
  CImg<double> uv = flow(w, h, 0.0, 0.0);
  cimg_forXY(uv, x, y) uv(x, y, 0) = x * x;
  CImgList<double> L[8];
  for (auto& list : L) list.assign(1, w, h, 1, 1, -1.0);
  UpdateRobustWeight_QuasiTV(uv, L[0], L[1], L[2], L[3], L[4], L[5], L[6], L[7], l, l, 0.5, 1.0);
  const double c = 0.7071067811865475;
  auto wt = [](double d) { return 1.0 / std::sqrt(d * d + 1.0); };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double dU = -4.0 * x - 4.0;
      const bool right = x + l < w, down = y + l < h, up = y - l >= 0;
      EXPECT_NEAR(L[0][0](x, y), right ? wt(dU) : 1.0, 1e-15);                    // z_right
      EXPECT_NEAR(L[4][0](x, y), 1.0, 1e-15);                                      // z_t_right (dV = 0)
      EXPECT_NEAR(L[1][0](x, y), 1.0, 1e-15);                                      // z_down (dV = 0)
      EXPECT_NEAR(L[5][0](x, y), 1.0, 1e-15);                                      // z_t_down (dU = 0)
      EXPECT_NEAR(L[2][0](x, y), right && down ? wt(c * dU) : 1.0, 1e-15);        // z_rightDown
      EXPECT_NEAR(L[6][0](x, y), right && down ? wt(c * dU) : 1.0, 1e-15);        // z_t_rightDown
      EXPECT_NEAR(L[3][0](x, y), right && up ? wt(c * dU) : 1.0, 1e-15);          // z_rightUp
      EXPECT_NEAR(L[7][0](x, y), right && up ? wt(-c * dU) : 1.0, 1e-15);         // z_t_rightUp
    }
}

TEST(RobustWeightsDeath, RefusesSmallImagesAndUndefinedParameters) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> uv = flow(4, 3, 0.0, 0.0), img(4, 3, 1, 1, 1.0), narrow(3, 3, 1, 1, 1.0);
  CImgList<double> small = weightSet(3, 3), one(1, 4, 3, 1, 1, 0.0), z = weightSet(4, 3);
  EXPECT_EXIT(UpdateRobustWeight_Leclerc(uv, small, 1.0, false), ::testing::ExitedWithCode(1),
              "needs at least 4 x 3");
  EXPECT_EXIT(UpdateRobustWeight_QuasiTV(uv, one, 1.0, false), ::testing::ExitedWithCode(1),
              "needs 2");
  EXPECT_EXIT(UpdateRobustWeight_QuasiTV(uv, z, 0.0, false), ::testing::ExitedWithCode(1), "tau");
  EXPECT_EXIT(RobustDataCoef(uv, img, narrow, img, 1.0), ::testing::ExitedWithCode(1),
              "needs at least 4 x 3");
  EXPECT_EXIT(RobustDataCoef(img, img, img, img, 1.0), ::testing::ExitedWithCode(1), "plane");
  EXPECT_EXIT(RobustDataCoef_QuasiTV(uv, img, img, img, 0.0), ::testing::ExitedWithCode(1), "s must");
  CImg<double> out(3, 3, 1, 1, 0.0);
  EXPECT_EXIT(Data_Out_Gen_f(img, img, img, img, img, 1.0f, 4, 3, out), ::testing::ExitedWithCode(1),
              "Data_out");
  CImgList<double> L(1, 4, 3, 1, 1, 1.0);
  EXPECT_EXIT(UpdateRobustWeight_QuasiTV(uv, L, L, L, L, L, L, L, L, 1, 2, 1.0, 1.0),
              ::testing::ExitedWithCode(1), "needs 2");
  EXPECT_EXIT(UpdateRobustWeight_QuasiTV(uv, L, L, L, L, L, L, L, L, -1, -1, 1.0, 1.0),
              ::testing::ExitedWithCode(1), "negative");
}
