// Stencil boundary conditions on tiny stencils, checked against tables of
// the expected border rewrites.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "CImg.h"
#include "boundary_conditions.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

CImgList<double> filledList(int n, int nc, int nl, double v) { return CImgList<double>(n, nc, nl, 1, 1, v); }

}  // namespace

TEST(AbsentEntry, IsMinusOneE30) {
  EXPECT_EQ(kAbsentEntry, -1e30);
}

TEST(NeumannConditions, SinglePixelFoldsAllFourCouplingsIntoTheCentre) {
  CImg<double> up(1, 1, 1, 1, 1.0), diag(1, 1, 1, 1, 10.0), down(1, 1, 1, 1, 4.0),
      left(1, 1, 1, 1, 100.0), right(1, 1, 1, 1, 1000.0);
  fixNeumannConditions(1, 1, up, diag, down, left, right);
  EXPECT_EQ(diag(0, 0), 1115.0);
  EXPECT_EQ(up(0, 0), kAbsentEntry);
  EXPECT_EQ(down(0, 0), kAbsentEntry);
  EXPECT_EQ(left(0, 0), kAbsentEntry);
  EXPECT_EQ(right(0, 0), kAbsentEntry);
}

TEST(NeumannConditions, BorderCouplingsMoveIntoTheDiagonal) {
  const int nc = 4, nl = 3;
  CImg<double> up(nc, nl, 1, 1, 1.0), diag(nc, nl, 1, 1, 0.0), down(nc, nl, 1, 1, 2.0),
      left(nc, nl, 1, 1, 4.0), right(nc, nl, 1, 1, 8.0);
  fixNeumannConditions(nc, nl, up, diag, down, left, right);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const double expected =
          (x == 0 ? 4.0 : 0.0) + (x == nc - 1 ? 8.0 : 0.0) + (y == 0 ? 1.0 : 0.0) + (y == nl - 1 ? 2.0 : 0.0);
      EXPECT_EQ(diag(x, y), expected) << x << "," << y;
      EXPECT_EQ(left(x, y), x == 0 ? kAbsentEntry : 4.0);
      EXPECT_EQ(right(x, y), x == nc - 1 ? kAbsentEntry : 8.0);
      EXPECT_EQ(up(x, y), y == 0 ? kAbsentEntry : 1.0);
      EXPECT_EQ(down(x, y), y == nl - 1 ? kAbsentEntry : 2.0);
    }
}

TEST(PeriodConditions, BorderCouplingsMoveToTheirPartnersAndOverwrite) {
  const int nc = 3, nl = 2;
  CImg<double> up(nc, nl), down(nc, nl), left(nc, nl), right(nc, nl);
  cimg_forXY(up, x, y) {
    up(x, y) = 1 + x + 10 * y;
    down(x, y) = 100 + x + 10 * y;
    left(x, y) = 200 + x + 10 * y;
    right(x, y) = 300 + x + 10 * y;
  }
  // Partners already hold a value: it is replaced, not accumulated.
  CImg<double> pLeft(nc, nl, 1, 1, 5.0), pRight(nc, nl, 1, 1, 5.0), pUp(nc, nl, 1, 1, 5.0),
      pDown(nc, nl, 1, 1, 5.0);
  fixPeriodConditions(nc, nl, up, down, left, right, pLeft, pRight, pUp, pDown);
  cimg_forXY(up, x, y) {
    const double base = x + 10 * y;
    EXPECT_EQ(pLeft(x, y), x == 0 ? 200 + base : 5.0);
    EXPECT_EQ(left(x, y), x == 0 ? kAbsentEntry : 200 + base);
    EXPECT_EQ(pRight(x, y), x == nc - 1 ? 300 + base : 5.0);
    EXPECT_EQ(right(x, y), x == nc - 1 ? kAbsentEntry : 300 + base);
    EXPECT_EQ(pUp(x, y), y == 0 ? 1 + base : 5.0);
    EXPECT_EQ(up(x, y), y == 0 ? kAbsentEntry : 1 + base);
    EXPECT_EQ(pDown(x, y), y == nl - 1 ? 100 + base : 5.0);
    EXPECT_EQ(down(x, y), y == nl - 1 ? kAbsentEntry : 100 + base);
  }
}

// Which axis couplings at distance l the Dirichlet rule clears: those that
// start or end on the one-pixel frame and stay inside the image, plus the
// ones leaving the image from one frame line per direction.
struct ClearedRule {
  const char* name;
  std::function<bool(int x, int y, int l, int nc, int nl)> cleared;
};

void expectDirichletPattern(const CImgList<double>& list, const ClearedRule& rule, int nc, int nl,
                            int neta, int lo, double fill) {
  for (int l = neta; l <= lo; ++l)
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        const double v = list[l - neta](x, y);
        if (v == kAbsentEntry) continue;  // planted absent entries are checked separately
        EXPECT_EQ(v, rule.cleared(x, y, l, nc, nl) ? 0.0 : fill)
            << rule.name << " l=" << l << " at " << x << "," << y;
      }
}

TEST(DirichletConditions, AxisListsClearCouplingsThatTouchTheFrame) {
  const int nc = 7, nl = 6, neta = 1, lo = 2;
  CImgList<double> up = filledList(2, nc, nl, 3.0), left = filledList(2, nc, nl, 3.0),
                   right = filledList(2, nc, nl, 3.0), down = filledList(2, nc, nl, 3.0);
  right[0](0, 2) = kAbsentEntry;  // on the frame: stays absent
  fixDirichletConditions(nc, nl, up, left, right, down, neta, lo);
  const ClearedRule rRight{"A_ijl", [](int x, int y, int l, int nc, int nl) {
                             return x == 0 || x == nc - 1 - l || y == 0 || (y == nl - 1 && x <= nc - 1 - l);
                           }};
  const ClearedRule rLeft{"A_ij_l", [](int x, int y, int l, int nc, int nl) {
                            return x == l || x == nc - 1 || y == nl - 1 || (y == 0 && x >= l);
                          }};
  const ClearedRule rDown{"A_ilj", [](int x, int y, int l, int nc, int nl) {
                            return y == 0 || y == nl - 1 - l || x == 0 || (x == nc - 1 && y <= nl - 1 - l);
                          }};
  const ClearedRule rUp{"A_i_lj", [](int x, int y, int l, int nc, int nl) {
                          return y == l || y == nl - 1 || x == nc - 1 || (x == 0 && y >= l);
                        }};
  expectDirichletPattern(right, rRight, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(left, rLeft, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(down, rDown, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(up, rUp, nc, nl, neta, lo, 3.0);
  EXPECT_EQ(right[0](0, 2), kAbsentEntry);
}

TEST(DirichletConditions, CrossListsClearCouplingsThatTouchTheFrame) {
  const int nc = 7, nl = 6, neta = 1, lo = 2;
  CImgList<double> ul = filledList(2, nc, nl, 3.0), ur = filledList(2, nc, nl, 3.0),
                   dl = filledList(2, nc, nl, 3.0), dr = filledList(2, nc, nl, 3.0);
  dr[1](0, 3) = kAbsentEntry;
  fixDirichletConditions_cross(nc, nl, ul, ur, dl, dr, neta, lo);
  const ClearedRule rDR{"A_iljl", [](int x, int y, int l, int nc, int nl) {
                          return x == 0 || (x == nc - 1 - l && y <= nl - 1 - l) || y == 0 ||
                                 (y == nl - 1 - l && x <= nc - 1 - l);
                        }};
  const ClearedRule rUL{"A_i_lj_l", [](int x, int y, int l, int nc, int nl) {
                          return x == nc - 1 || (x == l && y >= l) || y == nl - 1 || (y == l && x >= l);
                        }};
  const ClearedRule rUR{"A_i_ljl", [](int x, int y, int l, int nc, int nl) {
                          return x == 0 || (x == nc - 1 - l && y >= l) || y == nl - 1 ||
                                 (y == l && x <= nc - 1 - l);
                        }};
  const ClearedRule rDL{"A_ilj_l", [](int x, int y, int l, int nc, int nl) {
                          return x == nc - 1 || (x == l && y <= nl - 1 - l) || y == 0 ||
                                 (y == nl - 1 - l && x >= l);
                        }};
  expectDirichletPattern(dr, rDR, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(ul, rUL, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(ur, rUR, nc, nl, neta, lo, 3.0);
  expectDirichletPattern(dl, rDL, nc, nl, neta, lo, 3.0);
  EXPECT_EQ(dr[1](0, 3), kAbsentEntry);
}

TEST(DirichletConditions, CrossOnSixBySixAtDistanceOne) {
  CImgList<double> ul = filledList(1, 6, 6, 2.0), ur = filledList(1, 6, 6, 2.0),
                   dl = filledList(1, 6, 6, 2.0), dr = filledList(1, 6, 6, 2.0);
  fixDirichletConditions_cross(6, 6, ul, ur, dl, dr, 1, 1);
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(dr[0](x, 0), 0.0);
    EXPECT_EQ(ul[0](x, 5), 0.0);
  }
  for (int x = 0; x < 5; ++x) EXPECT_EQ(ul[0](x + 1, 1), 0.0);
  EXPECT_EQ(ul[0](3, 3), 2.0);
}

TEST(DirichletConditions, ZeroStaysZeroAndNothingHappensWhenLoBelowNeta) {
  CImgList<double> a = filledList(1, 5, 5, 7.0), b = filledList(1, 5, 5, 7.0),
                   c = filledList(1, 5, 5, 7.0), d = filledList(1, 5, 5, 7.0);
  const CImgList<double> before(a);
  fixDirichletConditions(5, 5, a, b, c, d, 2, 1);
  fixDirichletConditions_cross(5, 5, a, b, c, d, 2, 1);
  EXPECT_TRUE(a[0] == before[0] && b[0] == before[0] && c[0] == before[0] && d[0] == before[0]);
  c[0](0, 0) = 0.0;
  fixDirichletConditions(5, 5, a, b, c, d, 1, 1);
  EXPECT_EQ(c[0](0, 0), 0.0);
  EXPECT_FALSE(std::signbit(c[0](0, 0)));
}

TEST(DirichletConditions, ImageOverloadMakesFrameRowsIdentityRows) {
  const int nc = 5, nl = 4;
  CImg<double> up(nc, nl, 1, 1, 9.0), diag(nc, nl, 1, 1, 9.0), down(nc, nl, 1, 1, 9.0),
      left(nc, nl, 1, 1, kAbsentEntry), right(nc, nl, 1, 1, 9.0);
  fixDirichletConditions(nc, nl, up, diag, down, left, right);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const bool frame = x == 0 || x == nc - 1 || y == 0 || y == nl - 1;
      EXPECT_EQ(diag(x, y), frame ? 1.0 : 9.0);
      EXPECT_EQ(up(x, y), y == 0 ? kAbsentEntry : (frame || y == 1) ? 0.0 : 9.0);
      EXPECT_EQ(down(x, y), y == nl - 1 ? kAbsentEntry : (frame || y == nl - 2) ? 0.0 : 9.0);
      // Written unconditionally: the absent entries inside become 0.0 on the
      // frame and the second ring, and stay elsewhere.
      EXPECT_EQ(left(x, y), x == 0 ? kAbsentEntry : (frame || x == 1) ? 0.0 : kAbsentEntry);
      EXPECT_EQ(right(x, y), x == nc - 1 ? kAbsentEntry : (frame || x == nc - 2) ? 0.0 : 9.0);
    }
}

TEST(DirichletConditions, CrossWithCentreZeroesTheFrameOfTheCentre) {
  const int nc = 4, nl = 4;
  CImg<double> centre(nc, nl, 1, 1, 1.0);
  CImgList<double> a = filledList(1, nc, nl, 1.0), b = a, c = a, d = a;
  fixDirichletConditions_cross(nc, nl, centre, a, b, c, d, 1, 1);
  cimg_forXY(centre, x, y) {
    const bool frame = x == 0 || x == nc - 1 || y == 0 || y == nl - 1;
    EXPECT_EQ(centre(x, y), frame ? 0.0 : 1.0);
  }
  EXPECT_EQ(d[0](0, 1), 0.0);  // the list form ran too
}

TEST(ExcludeWhite, ZeroCouplingsBecomeAbsentEverywhere) {
  CImgList<double> dr = filledList(2, 3, 2, 1.0), ul = dr, ur = dr, dl = dr;
  dr[0](1, 1) = 0.0;
  ul[1](2, 0) = -0.0;
  ur[0](0, 0) = kAbsentEntry;
  dl[1](1, 0) = 0.0;
  excludeWhite(3, 4, dr, ul, ur, dl);  // elements 0 and 1 are distances 3 and 4
  EXPECT_EQ(dr[0](1, 1), kAbsentEntry);
  EXPECT_EQ(ul[1](2, 0), kAbsentEntry);
  EXPECT_EQ(ur[0](0, 0), kAbsentEntry);
  EXPECT_EQ(dl[1](1, 0), kAbsentEntry);
  EXPECT_EQ(dr[0](0, 0), 1.0);
  EXPECT_EQ(dl[0](1, 0), 1.0);
}

TEST(ExcludeWhite, DoesNothingWhenLoBelowNetaOrFirstListEmpty) {
  CImgList<double> dr = filledList(1, 3, 2, 0.0), ul = dr, ur = dr, dl = dr;
  excludeWhite(2, 1, dr, ul, ur, dl);
  EXPECT_EQ(dr[0].max(), 0.0);
  EXPECT_EQ(dl[0].min(), 0.0);
  CImgList<double> empty;
  excludeWhite(1, 1, empty, ul, ur, dl);  // reads nothing of the other lists
  EXPECT_EQ(ul[0].min(), 0.0);
}
