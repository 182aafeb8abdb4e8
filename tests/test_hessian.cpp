// Hessian assembly: stored counts, row order, symmetry, the product
// identity with the weighted Laplacian and the quadratic energy, each
// checked against a dense reference or a direct computation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "CImg.h"
#include "boundary_conditions.h"
#include "dense_reference.h"
#include "hessian_assembly.h"
#include "hs_level.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;
using hs_test::Assembled;
using hs_test::Level;
using hs_test::assemble;
using hs_test::toDense;

namespace {

long long expectedCount(int nc, int nl, bool periodic) {
  return periodic ? 12LL * nc * nl : 12LL * nc * nl - 4LL * nc - 4LL * nl;
}

const std::pair<int, int> kSizes[] = {{1, 1}, {1, 4}, {4, 1}, {2, 2}, {2, 3}, {3, 2}, {3, 3}, {5, 4}, {7, 6}};

// The assembly procedure written out with whole coefficient images: one
// image per stencil position, the border rule applied by the boundary
// condition routines, then the rows written position by position.
Assembled referenceAssembly(const Level& lv, float alpha, bool periodic, bool weighted) {
  const int nc = lv.nc, nl = lv.nl, ncnl = nc * nl;
  const double a = alpha;
  Assembled out{std::vector<double>(), std::vector<int>(), std::vector<int>(1, 0)};
  const auto put = [&](double v, int c) {
    out.val.push_back(v);
    out.col.push_back(c);
  };
  const auto putUnlessAbsent = [&](double v, int c) {
    if (v != kAbsentEntry) put(v, c);
  };
  for (int block = 0; block < 2; ++block) {
    CImg<double> ij(nc, nl), ij1(nc, nl), ij_1(nc, nl), i1j(nc, nl), i_1j(nc, nl), coupling(nc, nl);
    CImg<double> ijnc(nc, nl, 1, 1, kAbsentEntry), ij0(ijnc), inlj(ijnc), i0j(ijnc);
    cimg_forXY(ij, x, y) {
      const double rho = lv.rho(x, y), gx = lv.ix(x, y), gy = lv.iy(x, y);
      const double g = block == 0 ? gx : gy;
      coupling(x, y) = (gx * gy) * rho;
      if (weighted) {
        const double wE = lv.z[0](x, y), wW = lv.z[0]((x + nc - 1) % nc, y);
        const double wS = lv.z[1](x, y), wN = lv.z[1](x, (y + nl - 1) % nl);
        ij(x, y) = (g * g) * rho + a * (((wS + wN) + wE) + wW);
        ij1(x, y) = -a * wE;
        ij_1(x, y) = -a * wW;
        i1j(x, y) = -a * wS;
        i_1j(x, y) = -a * wN;
      } else {
        ij(x, y) = (g * g) * rho + a * 4.0;
        ij1(x, y) = ij_1(x, y) = i1j(x, y) = i_1j(x, y) = -a;
      }
    }
    if (periodic)
      fixPeriodConditions(nc, nl, i_1j, i1j, ij_1, ij1, ijnc, ij0, inlj, i0j);
    else
      fixNeumannConditions(nc, nl, i_1j, ij, i1j, ij_1, ij1);
    const int off = block * ncnl;
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        const int k = y * nc + x;
        if (block == 1) put(coupling(x, y), k);
        putUnlessAbsent(i0j(x, y), off + x);
        putUnlessAbsent(i_1j(x, y), off + k - nc);
        putUnlessAbsent(ij0(x, y), off + y * nc);
        putUnlessAbsent(ij_1(x, y), off + k - 1);
        put(ij(x, y), off + k);
        putUnlessAbsent(ij1(x, y), off + k + 1);
        putUnlessAbsent(ijnc(x, y), off + y * nc + nc - 1);
        putUnlessAbsent(i1j(x, y), off + k + nc);
        putUnlessAbsent(inlj(x, y), off + (nl - 1) * nc + x);
        if (block == 0) put(coupling(x, y), ncnl + k);
        out.ptr.push_back(static_cast<int>(out.val.size()));
      }
  }
  return out;
}

}  // namespace

TEST(HessianAssembly, EqualsCoefficientImagesWithBoundaryConditionsBitForBit) {
  for (bool weighted : {true, false})
    for (bool periodic : {false, true})
      for (auto [nc, nl] : kSizes) {
        Level lv(nc, nl, 11);
        // A zero link weight and a zero data weight are stored like any value.
        lv.z[0](0, 0) = 0.0;
        lv.rho(nc - 1, nl - 1) = 0.0;
        const float alpha = 0.61f;
        const Assembled got = assemble(lv, alpha, periodic, weighted);
        const Assembled want = referenceAssembly(lv, alpha, periodic, weighted);
        SCOPED_TRACE(::testing::Message() << nc << "x" << nl << (periodic ? " periodic" : " Neumann")
                                          << (weighted ? " weighted" : " unweighted"));
        EXPECT_EQ(got.ptr, want.ptr);
        ASSERT_EQ(static_cast<size_t>(got.n()), want.val.size());
        EXPECT_EQ(std::vector<double>(got.val.begin(), got.val.begin() + got.n()), want.val);
        EXPECT_EQ(std::vector<int>(got.col.begin(), got.col.begin() + got.n()), want.col);
      }
}

TEST(HessianCount, FormulaAndRefusal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (bool periodic : {false, true})
    for (auto [nc, nl] : kSizes) EXPECT_EQ(hessianStoredCount(nc, nl, periodic), expectedCount(nc, nl, periodic));
  EXPECT_EQ(hessianStoredCount(0, 5, false), 0);
  EXPECT_EQ(hessianNombre(512, 512, true), 12 * 512 * 512);
  // 12 * 20000 * 20000 does not fit in an int.
  EXPECT_EXIT(hessianNombre(20000, 20000, false), ::testing::ExitedWithCode(1), "20000 x 20000.*too large");
}

TEST(HessianAssembly, StoredCountsAndRowLengthsInBothModes) {
  for (bool periodic : {false, true})
    for (auto [nc, nl] : kSizes) {
      const Level lv(nc, nl, 1);
      const Assembled a = assemble(lv, 0.7f, periodic);
      SCOPED_TRACE(::testing::Message() << nc << "x" << nl << (periodic ? " periodic" : " Neumann"));
      EXPECT_EQ(a.ptr[0], 0);
      EXPECT_EQ(a.n(), expectedCount(nc, nl, periodic));
      for (int r = 0; r < lv.taille(); ++r) {
        const int x = (r % (nc * nl)) % nc, y = (r % (nc * nl)) / nc;
        const int len = a.ptr[r + 1] - a.ptr[r];
        // Neumann: 2 + one per present neighbour.
        const int neighbours = (x > 0) + (x < nc - 1) + (y > 0) + (y < nl - 1);
        EXPECT_EQ(len, periodic ? 6 : 2 + neighbours) << "row " << r;
      }
    }
}

TEST(HessianAssembly, ColumnsAscendExceptOnSmallPeriodicLevels) {
  for (bool periodic : {false, true})
    for (auto [nc, nl] : kSizes) {
      if (periodic && (nc < 3 || nl < 3)) continue;
      const Assembled a = assemble(Level(nc, nl, 2), 0.3f, periodic);
      for (int r = 0; r + 1 < static_cast<int>(a.ptr.size()); ++r)
        for (int t = a.ptr[r] + 1; t < a.ptr[r + 1]; ++t) EXPECT_LT(a.col[t - 1], a.col[t]) << nc << "x" << nl << " row " << r;
    }
}

TEST(HessianAssembly, RowOrderOfPeriodicEdgeCases) {
  struct Case {
    int nc, nl, row;
    std::vector<int> cols;
  };
  const Case cases[] = {
      // Pixel (0, 0) of a 4 x 3 level: diagonal, right, left partner, lower,
      // upper partner, coupling.
      {4, 3, 0, {0, 1, 3, 4, 8, 12}},
      // Its V row: coupling first.
      {4, 3, 12, {0, 12, 13, 15, 16, 20}},
      // Width 2: the left partner shares the right neighbour's column.
      {2, 3, 0, {0, 1, 1, 2, 4, 6}},
      // Width 1: both horizontal partners fall on the diagonal column.
      {1, 4, 1, {0, 1, 1, 1, 2, 5}},
      // Height 1: the vertical partners stand first and ninth.
      {4, 1, 1, {1, 0, 1, 2, 1, 5}},
  };
  for (const Case& c : cases) {
    const Assembled a = assemble(Level(c.nc, c.nl, 3), 1.0f, true);
    const std::vector<int> got(a.col.begin() + a.ptr[c.row], a.col.begin() + a.ptr[c.row + 1]);
    EXPECT_EQ(got, c.cols) << c.nc << "x" << c.nl << " row " << c.row;
  }
}

TEST(HessianAssembly, SymmetricAndEqualToDataBlockMinusAlphaLaplacian) {
  const float alpha = 0.37f;
  const double a = alpha;
  for (bool periodic : {false, true})
    for (auto [nc, nl] : kSizes) {
      const Level lv(nc, nl, 4);
      const int ncnl = nc * nl;
      const dense::Matrix h = toDense(assemble(lv, alpha, periodic), lv.taille());
      SCOPED_TRACE(::testing::Message() << nc << "x" << nl << (periodic ? " periodic" : " Neumann"));
      for (int i = 0; i < h.n; ++i)
        for (int j = 0; j < i; ++j) ASSERT_EQ(h(i, j), h(j, i)) << i << "," << j;
      std::mt19937 rng(9);
      std::uniform_real_distribution<double> d(-1, 1);
      CImg<double> u(nc, nl), v(nc, nl);
      std::vector<double> x(lv.taille());
      cimg_forXY(u, px, py) {
        u(px, py) = x[py * nc + px] = d(rng);
        v(px, py) = x[ncnl + py * nc + px] = d(rng);
      }
      const std::vector<double> hx = dense::multiply(h, x);
      const CImg<double> lu = laplacian(u, lv.z, periodic), lvv = laplacian(v, lv.z, periodic);
      cimg_forXY(u, px, py) {
        const int k = py * nc + px;
        const double r = lv.rho(px, py), gx = lv.ix(px, py), gy = lv.iy(px, py);
        EXPECT_NEAR(hx[k], r * (gx * gx * u(px, py) + gx * gy * v(px, py)) - a * lu(px, py), 1e-12);
        EXPECT_NEAR(hx[ncnl + k], r * (gx * gy * u(px, py) + gy * gy * v(px, py)) - a * lvv(px, py), 1e-12);
      }
    }
}

TEST(HessianAssembly, HalfQuadraticFormIsTheEnergy) {
  const float alpha = 1.3f;
  const double a = alpha;
  for (bool periodic : {false, true})
    for (auto [nc, nl] : kSizes) {
      const Level lv(nc, nl, 5);
      const int ncnl = nc * nl;
      const dense::Matrix h = toDense(assemble(lv, alpha, periodic), lv.taille());
      std::mt19937 rng(13);
      std::uniform_real_distribution<double> d(-1, 1);
      std::vector<double> x(lv.taille());
      for (double& e : x) e = d(rng);
      const auto U = [&](int px, int py) { return x[py * nc + px]; };
      const auto V = [&](int px, int py) { return x[ncnl + py * nc + px]; };
      // E_d + alpha * E_r, with E_d = 1/2 sum rho (Ix u + Iy v)^2 and E_r =
      // 1/2 sum over links w (du^2 + dv^2); periodic levels add the wrap links.
      double e = 0.0;
      for (int py = 0; py < nl; ++py)
        for (int px = 0; px < nc; ++px) {
          const double res = lv.ix(px, py) * U(px, py) + lv.iy(px, py) * V(px, py);
          e += 0.5 * lv.rho(px, py) * res * res;
          if (px + 1 < nc || periodic) {
            const int q = (px + 1) % nc;
            const double du = U(q, py) - U(px, py), dv = V(q, py) - V(px, py);
            e += 0.5 * a * lv.z[0](px, py) * (du * du + dv * dv);
          }
          if (py + 1 < nl || periodic) {
            const int q = (py + 1) % nl;
            const double du = U(px, q) - U(px, py), dv = V(px, q) - V(px, py);
            e += 0.5 * a * lv.z[1](px, py) * (du * du + dv * dv);
          }
        }
      const std::vector<double> hx = dense::multiply(h, x);
      double q = 0.0;
      for (int i = 0; i < lv.taille(); ++i) q += x[i] * hx[i];
      EXPECT_NEAR(0.5 * q, e, 1e-12 * (1.0 + std::fabs(e))) << nc << "x" << nl << (periodic ? " periodic" : " Neumann");
    }
}

TEST(HessianAssembly, UnitWeightsGiveTheUnweightedMatrix) {
  for (bool periodic : {false, true}) {
    Level lv(5, 4, 6);
    lv.z = CImgList<double>(2, 5, 4, 1, 1, 1.0);
    const Assembled w = assemble(lv, 0.9f, periodic, true);
    const Assembled p = assemble(lv, 0.9f, periodic, false);
    EXPECT_EQ(w.val, p.val);
    EXPECT_EQ(w.col, p.col);
    EXPECT_EQ(w.ptr, p.ptr);
  }
}

TEST(HessianAssembly, ZeroDataWeightKeepsDiagonalAndZeroCoupling) {
  Level lv(3, 3, 7);
  lv.rho.fill(0.0);
  const Assembled a = assemble(lv, 0.5f, false);
  // U row of the centre pixel (k = 4): columns 1, 3, 4, 5, 7, 13.
  const int r = 4;
  ASSERT_EQ(a.ptr[r + 1] - a.ptr[r], 6);
  EXPECT_EQ(a.col[a.ptr[r] + 5], 9 + 4);
  EXPECT_EQ(a.val[a.ptr[r] + 5], 0.0);
  const double sumW = lv.z[0](1, 1) + lv.z[0](0, 1) + lv.z[1](1, 1) + lv.z[1](1, 0);
  EXPECT_NEAR(a.val[a.ptr[r] + 2], 0.5 * sumW, 1e-15);
}

TEST(HessianAssembly, NeumannSinglePixelReducesToTheDataTerm) {
  const Level lv(1, 1, 8);
  const Assembled a = assemble(lv, 2.0f, false);
  ASSERT_EQ(a.n(), 4);
  const double r = lv.rho(0, 0), gx = lv.ix(0, 0), gy = lv.iy(0, 0);
  EXPECT_EQ(a.col, (std::vector<int>{0, 1, 0, 1}));
  EXPECT_NEAR(a.val[0], gx * gx * r, 1e-14);
  EXPECT_EQ(a.val[1], gx * gy * r);
  EXPECT_EQ(a.val[2], gx * gy * r);
  EXPECT_NEAR(a.val[3], gy * gy * r, 1e-14);
}
