// Generalised local-global model: indicator masks and the diagonal window,
// the assembled Hessian against the energy gradient written clique by
// clique, the stored pattern against the count, the pixel-block case with
// no distances, the wrappers, and the refused and repaired inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CImg.h"
#include "dense_reference.h"
#include "generalised_coefficients.h"
#include "generalised_model.h"
#include "generalised_rows.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Weight lists in the order of the argument lists.
enum List { kRight, kDown, kRightDown, kRightUp, kTRight, kTDown, kTRightDown, kTRightUp };

// Random inputs of an nc x nl image: derivatives in (-1, 1), data weights,
// link weights and regularisation weights in (0.5, 1.5); with
// `transverse` false the first image of z_t_down is zero.
struct Inputs {
  int nc, nl;
  CImg<double> ix, iy, it, rho, lambda, lambdaX;
  CImgList<double> z[8];

  Inputs(int w, int h, unsigned seed, bool transverse = true, int images = 6)
      : nc(w), nl(h), ix(w, h), iy(w, h), it(w, h), rho(w, h), lambda(8, 1), lambdaX(8, 1) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> sym(-1.0, 1.0), pos(0.5, 1.5);
    cimg_forXY(ix, x, y) {
      ix(x, y) = sym(rng);
      iy(x, y) = sym(rng);
      it(x, y) = sym(rng);
      rho(x, y) = pos(rng);
    }
    cimg_forX(lambda, l) {
      lambda(l) = pos(rng);
      lambdaX(l) = pos(rng);
    }
    for (CImgList<double>& list : z) {
      list.assign(images, w, h, 1, 1, 0.0);
      for (CImg<double>& img : list) cimg_forXY(img, x, y) img(x, y) = pos(rng);
    }
    if (!transverse) z[kTDown][0].fill(0.0);
  }

  double logdet(int scale, int neta, int lo, int nombre) const {
    return logdetA(ix, iy, it, rho, lambda, lambdaX, z[0], z[1], z[2], z[3], z[4], z[5], z[6], z[7],
                   scale, neta, lo, nombre);
  }
  int count(int scale, int neta, int lo) const {
    return NumberNonZeroElementInHessian(ix, iy, rho, lambda, lambdaX, z[0], z[1], z[2], z[3], z[4],
                                         z[5], z[6], z[7], scale, neta, lo);
  }
  GeneralisedHessianRows rows(int scale, int neta, int lo, int nombre) const {
    return generalisedHessianRows(ix, iy, rho, lambda, lambdaX, z[0], z[1], z[2], z[3], z[4], z[5],
                                  z[6], z[7], scale, neta, lo, nombre);
  }
  int taille() const { return 2 * nc * nl; }
  bool inside(int x, int y) const { return x >= 0 && x < nc && y >= 0 && y < nl; }
  bool onFrame(int x, int y) const { return x == 0 || y == 0 || x == nc - 1 || y == nl - 1; }
};

// --- The model written clique by clique -------------------------------------
//
// Per distance l and direction d (right, down, right-down, right-up) a
// clique links pixel p with a partner q = p +- l*d and carries a normal
// weight (z_right, z_down, z_rightDown, z_rightUp) and a transverse one
// (z_t_...), both read at a position W; its energy, seen from p, is
// c (wn (n . Delta)^2 + wt (t . Delta)^2) / 2 with Delta = (u_p - u_q,
// v_p - v_q), n the unit direction and t the unit normal to it. Links of p:
// when p - l*d and p + l*d are both inside, one to p + l*d (W = p) and one to
// p - l*d (W = p + l*d); when p - 2l*d is inside, one to p - l*d (W = p + l*d);
// when p + 2l*d is inside, one to p + l*d (W = p). A weight read outside the
// image is 0. c = lambda_S2[l] / gamma_HV for the axes, lambda_S2_cross[l] /
// gamma_Cross for the diagonals (in the diagonal window only), the
// normalisers doubled in transverse mode; a normaliser <= 0 drops the clique.

constexpr double kS = 0.7071067811865475;

struct Direction {
  int dx, dy;
  List normal, transverse;
  double nx, ny, tx, ty;
  bool diagonal;
};

const Direction kDirections[4] = {
    {1, 0, kRight, kTRight, 1.0, 0.0, 0.0, 1.0, false},
    {0, 1, kDown, kTDown, 0.0, 1.0, 1.0, 0.0, false},
    {1, 1, kRightDown, kTRightDown, kS, kS, kS, -kS, true},
    {1, -1, kRightUp, kTRightUp, kS, -kS, kS, kS, true},
};

struct Link {
  int qx, qy;  // partner
  double c, wn, wt;
  const Direction* d;
};

template <typename F>
void forEachLink(const Inputs& in, bool transverse, int neta, int lo, int px, int py, F f) {
  const long long nc = in.nc, nl = in.nl;
  const int lower = std::max(1, static_cast<int>(neta * kS));
  const int upper = static_cast<int>(lo * kS) + 1;
  for (int l = neta; l <= lo; ++l) {
    const int k = l - neta;
    for (const Direction& d : kDirections) {
      if (d.diagonal && (l < lower || l > upper)) continue;
      long long gamma = d.diagonal ? 4 * (nc - 2 * l) * (nl - 2 * l)
                                   : 2 * ((nc - 2 * l) * nl + (nl - 2 * l) * nc);
      if (transverse) gamma *= 2;
      if (gamma <= 0) continue;
      const double c = (d.diagonal ? in.lambdaX(l) : in.lambda(l)) / static_cast<double>(gamma);
      const int ax = px + l * d.dx, ay = py + l * d.dy;  // ahead
      const int bx = px - l * d.dx, by = py - l * d.dy;  // behind
      const auto link = [&](int qx, int qy, int wx, int wy) {
        const bool w = in.inside(wx, wy);
        f(Link{qx, qy, c, w ? in.z[d.normal][k](wx, wy) : 0.0,
               w ? in.z[d.transverse][k](wx, wy) : 0.0, &d});
      };
      if (in.inside(ax, ay) && in.inside(bx, by)) {
        link(ax, ay, px, py);
        link(bx, by, ax, ay);
      }
      if (in.inside(px - 2 * l * d.dx, py - 2 * l * d.dy)) link(bx, by, ax, ay);
      if (in.inside(px + 2 * l * d.dx, py + 2 * l * d.dy)) link(ax, ay, px, py);
    }
  }
}

// Gradient of the model's energy at (u, v) (unscaled products, scale 1):
// data term rho (Ix u + Iy v) (Ix, Iy) plus the clique terms.
void energyGradient(const Inputs& in, bool transverse, int neta, int lo, const CImg<double>& u,
                    const CImg<double>& v, int px, int py, double& gu, double& gv) {
  const double r = in.rho(px, py), gx = in.ix(px, py), gy = in.iy(px, py);
  gu = r * (gx * gx * u(px, py) + gx * gy * v(px, py));
  gv = r * (gx * gy * u(px, py) + gy * gy * v(px, py));
  forEachLink(in, transverse, neta, lo, px, py, [&](const Link& k) {
    const Direction& d = *k.d;
    const double du = u(px, py) - u(k.qx, k.qy), dv = v(px, py) - v(k.qx, k.qy);
    const double dn = d.nx * du + d.ny * dv, dt = d.tx * du + d.ty * dv;
    gu += k.c * (k.wn * d.nx * dn + k.wt * d.tx * dt);
    gv += k.c * (k.wn * d.ny * dn + k.wt * d.ty * dt);
  });
}

// Expected off-centre coefficients of the U row (u = true) or V row of a
// pixel before the Dirichlet step, by column.
std::map<int, double> expectedCouplings(const Inputs& in, bool transverse, int neta, int lo, int px,
                                        int py, bool uRow) {
  const int ncnl = in.nc * in.nl;
  std::map<int, double> row;
  forEachLink(in, transverse, neta, lo, px, py, [&](const Link& k) {
    const Direction& d = *k.d;
    const double rowComponentN = uRow ? d.nx : d.ny, rowComponentT = uRow ? d.tx : d.ty;
    const int q = k.qy * in.nc + k.qx;
    row[q] -= k.c * (k.wn * rowComponentN * d.nx + k.wt * rowComponentT * d.tx);
    row[ncnl + q] -= k.c * (k.wn * rowComponentN * d.ny + k.wt * rowComponentT * d.ty);
  });
  return row;
}

// Rows of the assembled matrix as column -> value maps (a repeated column
// fails the test).
std::vector<std::map<int, double>> storedRows(const GeneralisedHessianRows& h) {
  std::vector<std::map<int, double>> rows(h.row_ptr.size() - 1);
  for (std::size_t r = 0; r + 1 < h.row_ptr.size(); ++r)
    for (int t = h.row_ptr[r]; t < h.row_ptr[r + 1]; ++t) {
      const bool fresh = rows[r].emplace(h.col_ind[t], h.val[t]).second;
      EXPECT_TRUE(fresh) << "row " << r << " repeats column " << h.col_ind[t];
    }
  return rows;
}

std::string captureStdout(const std::function<void()>& f) {
  ::testing::internal::CaptureStdout();
  f();
  return ::testing::internal::GetCapturedStdout();
}

int lineCount(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

const char kCapacityMessage[] =
    "ERROR : number non zero elements in Hessian matrix with Dirichlet conditions !!! ";

}  // namespace

// --- Masks and the diagonal window ------------------------------------------

TEST(GeneralisedMasks, IndicatorTablesByDistance) {
  // 9 x 8 image: rows of IndLine1..3 and IndCol1..3 for l = 1 ... 4.
  const char* line[5][3] = {{},
                            {"011111110", "001111111", "111111100"},
                            {"001111100", "000011111", "111110000"},
                            {"000111000", "000000111", "111000000"},
                            {"000010000", "000000001", "100000000"}};
  const char* col[5][3] = {{},
                           {"01111110", "00111111", "11111100"},
                           {"00111100", "00001111", "11110000"},
                           {"00011000", "00000011", "11000000"},
                           {"00000000", "00000000", "00000000"}};
  const auto bits = [](const CImg<double>& img) {
    std::string s;
    for (unsigned i = 0; i < img.size(); ++i) s += img[i] == 1.0 ? '1' : img[i] == 0.0 ? '0' : '?';
    return s;
  };
  for (int neta : {1, 2})
    for (int lo = 1; lo <= 4; ++lo) {
      const DistanceMasks m = buildDistanceMasks(9, 8, neta, lo);
      SCOPED_TRACE(::testing::Message() << "neta " << neta << " lo " << lo);
      ASSERT_EQ(m.IndLine1.size(), static_cast<unsigned>(lo + 1));
      ASSERT_EQ(m.IndCol3.size(), static_cast<unsigned>(lo + 1));
      for (int l = 0; l <= lo; ++l) {
        const CImgList<double>* lines[3] = {&m.IndLine1, &m.IndLine2, &m.IndLine3};
        const CImgList<double>* cols[3] = {&m.IndCol1, &m.IndCol2, &m.IndCol3};
        for (int n = 0; n < 3; ++n) {
          EXPECT_EQ((*lines[n])[l].width(), 9);
          EXPECT_EQ((*cols[n])[l].height(), 8);
          EXPECT_EQ(bits((*lines[n])[l]), l < neta ? std::string(9, '0') : line[l][n]) << l;
          EXPECT_EQ(bits((*cols[n])[l]), l < neta ? std::string(8, '0') : col[l][n]) << l;
        }
      }
    }
  // lo < neta: no distances; lo < 0: no masks at all.
  EXPECT_EQ(buildDistanceMasks(9, 8, 3, 1).IndLine2.size(), 2u);
  EXPECT_EQ(buildDistanceMasks(9, 8, 1, -1).IndCol1.size(), 0u);
}

TEST(GeneralisedMasks, DiagonalWindow) {
  // Window [max(1, trunc(neta / sqrt 2)), trunc(lo / sqrt 2) + 1], worked by hand.
  struct Case {
    int neta, lo;
    std::vector<int> inWindow;  // distances neta ... lo inside it
  } cases[] = {{1, 1, {1}}, {1, 2, {1, 2}}, {1, 3, {1, 2, 3}},      {1, 4, {1, 2, 3}},
               {2, 1, {}},  {2, 2, {2}},    {2, 3, {2, 3}},         {2, 4, {2, 3}},
               {3, 4, {3}}, {5, 8, {5, 6}}, {1, 7, {1, 2, 3, 4, 5}}};
  for (const Case& c : cases) {
    std::vector<int> got;
    for (int l = c.neta; l <= c.lo; ++l)
      if (diagonalDistance(c.neta, c.lo, l)) got.push_back(l);
    EXPECT_EQ(got, c.inWindow) << "neta " << c.neta << " lo " << c.lo;
  }
  // Below neta the window itself may start lower: trunc(5 / sqrt 2) = 3.
  EXPECT_TRUE(diagonalDistance(5, 8, 3));
  EXPECT_FALSE(diagonalDistance(5, 8, 2));
}

// --- The assembled matrix ----------------------------------------------------

TEST(GeneralisedHessian, ProductWithAFieldIsTheEnergyGradient) {
  struct Case {
    int neta, lo;
    bool transverse;
  } cases[] = {{1, 3, true}, {1, 2, false}, {2, 3, true}, {1, 4, true}};
  for (const Case& c : cases) {
    const Inputs in(10, 10, 21 + c.lo, c.transverse);
    const GeneralisedHessianRows h = in.rows(1, c.neta, c.lo, in.count(1, c.neta, c.lo));
    ASSERT_FALSE(h.refused);
    const dense::Matrix m =
        dense::fromCompressedRows(in.taille(), h.val.data(), h.row_ptr.data(), h.col_ind.data());
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    // The field, and its copy with the frame held at zero (the Dirichlet
    // condition) on which the gradient is taken.
    CImg<double> u(10, 10), v(10, 10), u0(10, 10, 1, 1, 0.0), v0(10, 10, 1, 1, 0.0);
    std::vector<double> x(in.taille());
    cimg_forXY(u, px, py) {
      u(px, py) = x[py * 10 + px] = d(rng);
      v(px, py) = x[100 + py * 10 + px] = d(rng);
      if (!in.onFrame(px, py)) {
        u0(px, py) = u(px, py);
        v0(px, py) = v(px, py);
      }
    }
    const std::vector<double> hx = dense::multiply(m, x);
    SCOPED_TRACE(::testing::Message()
                 << "neta " << c.neta << " lo " << c.lo << (c.transverse ? " transverse" : ""));
    cimg_forXY(u, px, py) {
      const int k = py * 10 + px;
      if (in.onFrame(px, py)) {
        EXPECT_EQ(hx[k], u(px, py)) << px << "," << py;
        EXPECT_EQ(hx[100 + k], v(px, py)) << px << "," << py;
        continue;
      }
      double gu, gv;
      energyGradient(in, c.transverse, c.neta, c.lo, u0, v0, px, py, gu, gv);
      EXPECT_NEAR(hx[k], gu, 1e-13) << px << "," << py;
      EXPECT_NEAR(hx[100 + k], gv, 1e-13) << px << "," << py;
    }
  }
}

TEST(GeneralisedHessian, StoredPatternEqualsTheCount) {
  for (auto [nc, nl] : {std::pair<int, int>{9, 8}, {12, 12}})
    for (int lo = 1; lo <= 3; ++lo)
      for (bool transverse : {true, false}) {
        const Inputs in(nc, nl, 100 + lo, transverse);
        const int ncnl = nc * nl;
        SCOPED_TRACE(::testing::Message()
                     << nc << "x" << nl << " lo " << lo << (transverse ? " transverse" : ""));
        const int count = in.count(1, 1, lo);
        const GeneralisedHessianRows h = in.rows(1, 1, lo, count);
        ASSERT_FALSE(h.refused);
        ASSERT_EQ(h.row_ptr.size(), static_cast<std::size_t>(in.taille() + 1));
        EXPECT_EQ(h.row_ptr[0], 0);
        // The Dirichlet step only turns couplings into explicit zeros: the
        // count it does not see is the stored count.
        EXPECT_EQ(h.count, count);
        EXPECT_EQ(h.row_ptr[in.taille()], count);
        const std::vector<std::map<int, double>> rows = storedRows(h);
        long long expectedTotal = 0, frameZeros = 0;
        for (int r = 0; r < in.taille(); ++r) {
          const bool uRow = r < ncnl;
          const int px = (r % ncnl) % nc, py = (r % ncnl) / nc;
          std::set<int> want{py * nc + px, ncnl + py * nc + px};
          for (const auto& [col, value] : expectedCouplings(in, transverse, 1, lo, px, py, uRow))
            if (value != 0.0) want.insert(col);
          std::set<int> got;
          for (const auto& e : rows[r]) got.insert(e.first);
          EXPECT_EQ(got, want) << "row " << r;
          expectedTotal += static_cast<long long>(want.size());
          if (in.onFrame(px, py))
            for (const auto& [col, value] : rows[r]) {
              const bool own = col == (uRow ? 0 : ncnl) + py * nc + px;
              EXPECT_EQ(value, own ? 1.0 : 0.0) << "frame row " << r << " column " << col;
              frameZeros += !own;
            }
        }
        EXPECT_EQ(expectedTotal, count);
        EXPECT_GT(frameZeros, 2LL * (nc + nl));
      }
}

TEST(GeneralisedHessian, RowOrder) {
  // Pixel (6, 6) of a 12 x 12 image, lo = 3: its U row ascends; its V row
  // starts with the U columns above it, distance rising, and only the
  // diagonal partners (the axis couplings of V rows to U vanish): l = 1
  // (5, 5), (7, 5); l = 2 (4, 4), (8, 4); l = 3 (3, 3), (9, 3); then its own
  // U column and the diagonal partners below; the V columns then start
  // from distance 3 down, at (3, 3).
  const Inputs in(12, 12, 81);
  const GeneralisedHessianRows h = in.rows(1, 1, 3, in.count(1, 1, 3));
  const int p = 6 * 12 + 6;
  const std::vector<int> uRow(h.col_ind.begin() + h.row_ptr[p],
                              h.col_ind.begin() + h.row_ptr[p + 1]);
  EXPECT_TRUE(std::is_sorted(uRow.begin(), uRow.end()));
  EXPECT_EQ(uRow.size(), 2u + 12 + 12 + 12);  // centres, axis, diagonal, cross diagonal
  const std::vector<int> vRowStart(h.col_ind.begin() + h.row_ptr[144 + p],
                                   h.col_ind.begin() + h.row_ptr[144 + p] + 14);
  EXPECT_EQ(vRowStart,
            (std::vector<int>{65, 67, 52, 56, 39, 45, 78, 89, 91, 100, 104, 111, 117, 144 + 39}));
}

TEST(GeneralisedHessian, NoDistancesLeavesOneBlockPerPixel) {
  // lo < neta: every row holds its two centre entries, the matrix is one
  // 2 x 2 block per pixel (identity on the frame), and ILU(0) is exact on it.
  struct Case {
    int scale, neta, lo;
    bool wrapper;  // the unit-weight wrappers with lo = 0 (empty lists)
  } cases[] = {{2, 2, 1, false}, {3, 3, 2, false}, {2, 1, 0, true}, {3, 1, 0, true}};
  for (const Case& c : cases) {
    const Inputs in(9, 8, 7);
    SCOPED_TRACE(::testing::Message()
                 << "scale " << c.scale << " neta " << c.neta << " lo " << c.lo);
    const float sigma = static_cast<float>(c.scale - 1);
    const CImg<double> xx = in.ix.get_mul(in.ix).get_blur(sigma, 1, false);
    const CImg<double> yy = in.iy.get_mul(in.iy).get_blur(sigma, 1, false);
    const CImg<double> xy = in.ix.get_mul(in.iy).get_blur(sigma, 1, false);
    double want = 0.0;
    cimg_forXY(xx, x, y) if (!in.onFrame(x, y)) {
      const double r = in.rho(x, y);
      want +=
          std::log(std::fabs((xx(x, y) * r) * (yy(x, y) * r) - (xy(x, y) * r) * (xy(x, y) * r)));
    }
    const int ncnl = 72;
    int count;
    double got;
    if (c.wrapper) {
      count = NumberNonZeroElementInHessian_Gen_BruhnAndAl(in.ix, in.iy, in.rho, in.lambda,
                                                           in.lambdaX, c.scale, c.lo);
      got = logdetA_Gen_BruhnAndAl(in.ix, in.iy, in.it, in.rho, in.lambda, in.lambdaX, c.scale,
                                   c.lo, count);
    } else {
      count = in.count(c.scale, c.neta, c.lo);
      got = in.logdet(c.scale, c.neta, c.lo, count);
      const GeneralisedHessianRows h = in.rows(c.scale, c.neta, c.lo, count);
      EXPECT_EQ(h.count, 2LL * 2 * ncnl);
      for (int r = 0; r < 2 * ncnl; ++r) EXPECT_EQ(h.row_ptr[r + 1] - h.row_ptr[r], 2) << r;
    }
    EXPECT_EQ(count, 4 * ncnl);
    EXPECT_NEAR(got, want, 1e-9 * std::fabs(want));
  }
}

TEST(GeneralisedHessian, WrappersFixNetaToOneAndUnitWeights) {
  const Inputs in(9, 8, 31);
  const int lo = 2;
  const CImgList<double> ones(lo, 9, 8, 1, 1, 1.0);
  const int count = in.count(2, 1, lo);
  EXPECT_EQ(NumberNonZeroElementInHessian_Gen_Rob_BruhnAndAl(
                in.ix, in.iy, in.rho, in.lambda, in.lambdaX, in.z[0], in.z[1], in.z[2], in.z[3],
                in.z[4], in.z[5], in.z[6], in.z[7], 2, lo),
            count);
  EXPECT_EQ(logdetA_Gen_Rob_BruhnAndAl(in.ix, in.iy, in.it, in.rho, in.lambda, in.lambdaX, in.z[0],
                                       in.z[1], in.z[2], in.z[3], in.z[4], in.z[5], in.z[6],
                                       in.z[7], 2, lo, count),
            in.logdet(2, 1, lo, count));
  const int unitCount =
      NumberNonZeroElementInHessian(in.ix, in.iy, in.rho, in.lambda, in.lambdaX, ones, ones, ones,
                                    ones, ones, ones, ones, ones, 2, 1, lo);
  EXPECT_EQ(NumberNonZeroElementInHessian_Gen_BruhnAndAl(in.ix, in.iy, in.rho, in.lambda,
                                                         in.lambdaX, 2, lo),
            unitCount);
  EXPECT_EQ(
      logdetA_Gen_BruhnAndAl(in.ix, in.iy, in.it, in.rho, in.lambda, in.lambdaX, 2, lo, unitCount),
      logdetA(in.ix, in.iy, in.it, in.rho, in.lambda, in.lambdaX, ones, ones, ones, ones, ones,
              ones, ones, ones, 2, 1, lo, unitCount));
  // Equal normal and transverse weights cancel every coupling between U and
  // V but the data term: fewer entries than with the random weights.
  EXPECT_LT(unitCount, count);
}

// --- Refused and repaired inputs ---------------------------------------------

TEST(GeneralisedModel, RefusedCallsComputeNothing) {
  struct Case {
    const char* name;
    int neta, lo;
    void (*change)(Inputs&);
  } cases[] = {
      {"neta 0", 0, 2, [](Inputs&) {}},
      {"lo beyond the image", 1, 8, [](Inputs&) {}},
      {"image 1 x n", 1, 0, [](Inputs& in) { in = Inputs(1, 8, 3); }},
      {"image n x 1", 1, 0, [](Inputs& in) { in = Inputs(9, 1, 3); }},
      {"short lambda_S2", 1, 3, [](Inputs& in) { in.lambda.assign(3, 1, 1, 1, 1.0); }},
      {"short lambda_S2_cross", 1, 3, [](Inputs& in) { in.lambdaX.assign(1, 3, 1, 1, 1.0); }},
      {"short weight list", 1, 3, [](Inputs& in) { in.z[kRightUp].remove(2, 5); }},
      {"weight image of another size", 1, 3,
       [](Inputs& in) { in.z[kTRightDown][2].assign(9, 7, 1, 1, 1.0); }},
      {"data weights of another size", 1, 2, [](Inputs& in) { in.rho.assign(8, 8, 1, 1, 1.0); }},
      {"second derivative of another depth", 1, 2,
       [](Inputs& in) { in.iy.assign(9, 8, 2, 1, 1.0); }},
  };
  for (const Case& c : cases) {
    Inputs in(9, 8, 3);
    c.change(in);
    SCOPED_TRACE(c.name);
    double ld = 0.0;
    const std::string outLogdet = captureStdout([&] { ld = in.logdet(2, c.neta, c.lo, 1000); });
    EXPECT_TRUE(std::isnan(ld));
    int count = 0;
    const std::string outCount = captureStdout([&] { count = in.count(2, c.neta, c.lo); });
    EXPECT_EQ(count, -1);
    for (const std::string& out : {outLogdet, outCount}) {
      // One refusal line, after the report of a distance above the bound.
      EXPECT_NE(out.find("nothing computed\n"), std::string::npos) << out;
      EXPECT_EQ(out.find("nothing computed\n"), out.size() - 17) << out;
      EXPECT_LE(lineCount(out), 2) << out;
    }
    captureStdout([&] { EXPECT_TRUE(in.rows(2, c.neta, c.lo, 1000).refused); });
  }
  // The limits themselves are accepted: lo = nc - 1 with lists long enough,
  // lambda_S2_cross holding exactly the largest diagonal distance (3 for lo 3).
  Inputs in(9, 8, 3, true, 7);
  in.lambdaX.assign(4, 1, 1, 1, 1.0);
  in.lambda.assign(4, 1, 1, 1, 1.0);
  EXPECT_FALSE(std::isnan(in.logdet(2, 1, 3, in.count(2, 1, 3))));
  in.lambda.assign(8, 1, 1, 1, 1.0);
  in.lambdaX.assign(8, 1, 1, 1, 1.0);
  captureStdout([&] { EXPECT_FALSE(in.rows(2, 1, 7, 10).refused); });
}

TEST(GeneralisedModel, DistanceAboveTheBoundIsReportedAndComputed) {
  // 9 x 8: logdetA's bound is lo <= 4 (nl / 2), the count's lo <= 3.
  const Inputs in(9, 8, 41);
  int count4 = 0, count5 = 0;
  double ld4 = 0.0, ld5 = 0.0;
  const std::string c4 = captureStdout([&] { count4 = in.count(2, 1, 4); });
  const std::string l4 = captureStdout([&] { ld4 = in.logdet(2, 1, 4, count4); });
  const std::string c5 = captureStdout([&] { count5 = in.count(2, 1, 5); });
  const std::string l5 = captureStdout([&] { ld5 = in.logdet(2, 1, 5, count5); });
  EXPECT_EQ(c4, "Error : lo must respect lo <= nc/2 - 1 and lo <= nl/2 - 1\n");
  EXPECT_EQ(l4, "");
  EXPECT_EQ(c5, c4);
  EXPECT_EQ(l5, "Error : lo must respect lo <= nc/2 and lo <= nl/2\n");
  EXPECT_TRUE(std::isfinite(ld4));
  EXPECT_TRUE(std::isfinite(ld5));
  EXPECT_EQ(in.rows(2, 1, 5, count5).count, count5);
}

TEST(GeneralisedModel, SmallCapacityStillStoresTheWholeMatrix) {
  const Inputs in(9, 8, 51);
  const int count = in.count(2, 1, 2);
  double full = 0.0;
  EXPECT_EQ(captureStdout([&] { full = in.logdet(2, 1, 2, count); }), "");
  ASSERT_TRUE(std::isfinite(full));
  for (int nombre : {count / 2, 1, 0, -5}) {
    double ld = 0.0;
    const std::string out = captureStdout([&] { ld = in.logdet(2, 1, 2, nombre); });
    EXPECT_EQ(out, kCapacityMessage + std::to_string(count) + "\n") << nombre;
    EXPECT_EQ(ld, full) << nombre;
    GeneralisedHessianRows h;
    captureStdout([&] { h = in.rows(2, 1, 2, nombre); });
    EXPECT_EQ(h.count, count);
    EXPECT_GE(h.val.size(), static_cast<std::size_t>(count));
    // Past the stored entries the arrays hold zeros, never leftovers.
    for (std::size_t t = count; t < h.val.size(); ++t) ASSERT_EQ(h.val[t], 0.0) << t;
  }
  // A capacity of exactly the count (nombre * 1.2 truncated) is enough.
  EXPECT_EQ(captureStdout([&] { in.logdet(2, 1, 2, static_cast<int>(count / 1.2) + 1); }), "");
}

TEST(GeneralisedModel, NonPositiveNormaliserAddsNothing) {
  // 4 x 4 at l = 2: nc - 2l = 0, both normalisers are 0; 3 x 5 at l = 2:
  // both are negative. Distance 2 then changes nothing.
  for (auto [nc, nl] : {std::pair<int, int>{4, 4}, {3, 5}}) {
    const Inputs in(nc, nl, 61);
    SCOPED_TRACE(::testing::Message() << nc << "x" << nl);
    int count1 = 0, count2 = 0;
    double ld1 = 0.0, ld2 = 0.0;
    captureStdout([&] {
      count1 = in.count(2, 1, 1);
      count2 = in.count(2, 1, 2);
      ld1 = in.logdet(2, 1, 1, count1);
      ld2 = in.logdet(2, 1, 2, count2);
    });
    EXPECT_TRUE(std::isfinite(ld2));
    EXPECT_EQ(ld2, ld1);
    EXPECT_EQ(count2, count1);
  }
}

TEST(GeneralisedModel, InfiniteWeightsNeverLeaveTheImage) {
  // Infinite weights whose products with a zero mask are not-a-number in
  // couplings that leave the image from the frame; the Dirichlet step
  // turns them into 0.0, and they must still not be stored.
  Inputs in(9, 8, 71);
  const double inf = std::numeric_limits<double>::infinity();
  in.z[kTDown][0](8, 1) = inf;      // U row of (8, 0) towards (8, -1)
  in.z[kRight][0](1, 7) = inf;      // U row of (0, 7) towards (-1, 7)
  in.z[kRightDown][0](8, 0) = inf;  // towards (9, 1)
  in.z[kTRightUp][1](5, 6) = inf;   // interior, distance 2
  const int lo = 2, ncnl = 72;
  int count = 0;
  GeneralisedHessianRows h;
  captureStdout([&] {
    count = in.count(1, 1, lo);
    h = in.rows(1, 1, lo, count);
    in.logdet(1, 1, lo, count);
  });
  ASSERT_FALSE(h.refused);
  EXPECT_GE(h.count, count);  // not-a-number cleared to 0.0 is stored, not counted
  const std::vector<std::map<int, double>> rows = storedRows(h);
  for (int r = 0; r < 2 * ncnl; ++r) {
    const int px = (r % ncnl) % 9, py = (r % ncnl) / 9;
    for (const auto& e : rows[r]) {
      ASSERT_GE(e.first, 0);
      ASSERT_LT(e.first, 2 * ncnl);
      const int qx = (e.first % ncnl) % 9, qy = (e.first % ncnl) / 9;
      const int dx = qx - px, dy = qy - py, l = std::max(std::abs(dx), std::abs(dy));
      const bool partner = (dx == 0 || dy == 0 || std::abs(dx) == std::abs(dy)) && l <= lo;
      EXPECT_TRUE(partner) << "row " << r << " (" << px << "," << py << ") column " << e.first;
    }
  }
}

TEST(GeneralisedModel, OversizedImageIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  refuseOversizedCount(100, 100, 0);
  refuseOversizedCount(100, 100, INT_MAX);
  EXPECT_EXIT(refuseOversizedCount(30000, 30000, 0), ::testing::ExitedWithCode(1),
              "30000 x 30000.*too large");
  EXPECT_EXIT(refuseOversizedCount(100, 100, 1LL + INT_MAX), ::testing::ExitedWithCode(1),
              "too large");
}
