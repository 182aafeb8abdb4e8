// ILU(0) preconditioners and their log-determinant, QSort, the
// preconditioned CGS iteration, and the fast path (raw-array sweeps and the
// fused CGS) against them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cgs.h"
#include "cgs_ilu.h"
#include "comprow_double.h"
#include "dense_reference.h"
#include "hs_level.h"
#include "ilupre_double.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "mvvi.h"
#include "sparse_fixtures.h"
#include "sparse_sweeps.h"

namespace {

CompRow_Mat_double toMatrix(sparsefix::Csr& a) {
  return CompRow_Mat_double(a.n, a.n, a.nz(), a.val.data(), a.row_ptr.data(), a.col_ind.data(), 0);
}

MV_Vector_double toVector(const std::vector<double>& v) {
  return MV_Vector_double(v.data(), static_cast<int>(v.size()));
}

std::vector<double> toStd(const MV_Vector_double& v) {
  std::vector<double> out(v.size());
  for (int i = 0; i < v.size(); ++i) out[i] = v(i);
  return out;
}

// The preconditioner as a dense matrix M = L U, recovered from its solve:
// column j of M^-1 is solve(e_j), and M is the inverse of that.
template <class Pre>
dense::Matrix preconditionerMatrix(const Pre& pre, int n) {
  dense::Matrix inv(n), m(n);
  for (int j = 0; j < n; ++j) {
    MV_Vector_double e(n, 0.0);
    e(j) = 1.0;
    const MV_Vector_double col = pre.solve(e);
    for (int i = 0; i < n; ++i) inv(i, j) = col(i);
  }
  for (int j = 0; j < n; ++j) {
    std::vector<double> e(n, 0.0);
    e[j] = 1.0;
    const std::vector<double> col = dense::solve(inv, e);
    for (int i = 0; i < n; ++i) m(i, j) = col[i];
  }
  return m;
}

TEST(SparseILU, TwoByTwoFactors) {
  // [[4, 1], [2, 3]] = [[1, 0], [0.5, 1]] [[4, 1], [0, 2.5]].
  sparsefix::Csr a{2, {4, 1, 2, 3}, {0, 2, 4}, {0, 1, 0, 1}};
  CompRow_ILUPreconditioner_double pre(toMatrix(a));
  const MV_Vector_double y = pre.solve(MV_Vector_double(2, 5.0));
  EXPECT_DOUBLE_EQ(y(0), 1.0);
  EXPECT_DOUBLE_EQ(y(1), 1.0);
  // (L U)^-T (6, 4) = (1, 1): A^T = [[4, 2], [1, 3]].
  MV_Vector_double t(2);
  t(0) = 6.0;
  t(1) = 4.0;
  const MV_Vector_double yt = pre.trans_solve(t);
  EXPECT_DOUBLE_EQ(yt(0), 1.0);
  EXPECT_DOUBLE_EQ(yt(1), 1.0);
  EXPECT_DOUBLE_EQ(pre.detLP(), 10.0);
  EXPECT_DOUBLE_EQ(pre.logDetLP(), std::log(10.0));
}

// ILU(0) reproduces A on A's pattern: (L U)_ij = a_ij wherever A stores
// (i, j) (the fill-in that L U has elsewhere is dropped).
TEST(SparseILU, FactorsReproduceGridMatrixOnItsPattern) {
  const dense::Matrix d = sparsefix::gridMatrix(4, 5);
  sparsefix::Csr a = sparsefix::fromDense(d);
  CompRow_ILUPreconditioner_double pre(toMatrix(a));
  const dense::Matrix lu = preconditionerMatrix(pre, a.n);
  int offPattern = 0;
  for (int i = 0; i < a.n; ++i)
    for (int j = 0; j < a.n; ++j) {
      if (d(i, j) != 0.0)
        EXPECT_NEAR(lu(i, j), d(i, j), 1e-12) << i << "," << j;
      else if (std::fabs(lu(i, j)) > 1e-12)
        ++offPattern;
    }
  EXPECT_GT(offPattern, 0);  // not the exact LU: the fill was dropped

  // The column twin on the same matrix gives the same preconditioner.
  std::vector<double> cv;
  std::vector<int> cr, cp = {0};
  for (int j = 0; j < a.n; ++j) {
    for (int i = 0; i < a.n; ++i)
      if (d(i, j) != 0.0) {
        cv.push_back(d(i, j));
        cr.push_back(i);
      }
    cp.push_back(static_cast<int>(cv.size()));
  }
  CompCol_ILUPreconditioner_double colPre(
      CompCol_Mat_double(a.n, a.n, static_cast<int>(cv.size()), cv.data(), cr.data(), cp.data(), 0));
  MV_Vector_double x(a.n), z(a.n);
  for (int i = 0; i < a.n; ++i) {
    x(i) = std::sin(1.0 + i);
    z(i) = std::cos(2.0 * i);
  }
  const MV_Vector_double ys = pre.solve(x), yc = colPre.solve(x);
  const MV_Vector_double ts = pre.trans_solve(x), tc = colPre.trans_solve(x);
  for (int i = 0; i < a.n; ++i) {
    EXPECT_NEAR(ys(i), yc(i), 1e-13);
    EXPECT_NEAR(ts(i), tc(i), 1e-13);
  }
  // trans_solve applies the transpose of solve's operator: z.M^-1 x = M^-T z.x.
  EXPECT_NEAR(dot(z, ys), dot(pre.trans_solve(z), x), 1e-12);
}

// For a tridiagonal matrix ILU(0) is the exact LU factorisation: the solves
// are exact and ln|det U| is ln|det A| from the three-term recurrence
// theta_k = d_k theta_{k-1} - l_k u_{k-1} theta_{k-2}.
TEST(SparseILU, TridiagonalFactorsAreExact) {
  const int n = 9;
  const dense::Matrix d = sparsefix::tridiagonal(n);
  sparsefix::Csr a = sparsefix::fromDense(d);
  double thetaPrev = 1.0, theta = d(0, 0);
  for (int k = 1; k < n; ++k) {
    const double next = d(k, k) * theta - d(k, k - 1) * d(k - 1, k) * thetaPrev;
    thetaPrev = theta;
    theta = next;
  }
  std::vector<double> b(n);
  for (int i = 0; i < n; ++i) b[i] = 1.0 + i * (i % 2 ? -0.5 : 0.25);
  dense::Matrix dt(n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) dt(i, j) = d(j, i);

  CompRow_ILUPreconditioner_double pre(toMatrix(a));
  EXPECT_LT(dense::distance(toStd(pre.solve(toVector(b))), dense::solve(d, b)), 1e-13);
  EXPECT_LT(dense::distance(toStd(pre.trans_solve(toVector(b))), dense::solve(dt, b)), 1e-13);
  EXPECT_NEAR(pre.detLP(), theta, 1e-12 * std::fabs(theta));
  EXPECT_NEAR(pre.logDetLP(), std::log(std::fabs(theta)), 1e-13);
  EXPECT_NEAR(pre.logDetLP(), dense::logAbsDeterminant(d), 1e-13);

  // Rows stored in another column order give the same factors.
  sparsefix::Csr shuffled = a;
  for (int i = 0; i < n; ++i) {
    const int s = a.row_ptr[i], e = a.row_ptr[i + 1];
    std::reverse(shuffled.val.begin() + s, shuffled.val.begin() + e);
    std::reverse(shuffled.col_ind.begin() + s, shuffled.col_ind.begin() + e);
  }
  CompRow_ILUPreconditioner_double preShuffled(toMatrix(shuffled));
  EXPECT_EQ(toStd(preShuffled.solve(toVector(b))), toStd(pre.solve(toVector(b))));
}

TEST(SparseILU, LogDeterminantMakesNegativePivotsPositive) {
  // (0, 0) = -2, (1, 0) = 1, (1, 1) = 3: det = -6.
  sparsefix::Csr a{2, {-2, 1, 3}, {0, 1, 3}, {0, 0, 1}};
  CompRow_ILUPreconditioner_double pre(toMatrix(a));
  EXPECT_DOUBLE_EQ(pre.detLP(), -6.0);
  EXPECT_DOUBLE_EQ(pre.logDetLP(), std::log(6.0));
  EXPECT_DOUBLE_EQ(pre.detLP(), 6.0);
  // The changed factor U = [[2, 0], [0, 3]] with L = [[1, 0], [-0.5, 1]]:
  // solve((2, 0)) = U^-1 (2, 1) = (1, 1/3).
  MV_Vector_double x(2, 0.0);
  x(0) = 2.0;
  const MV_Vector_double y = pre.solve(x);
  EXPECT_DOUBLE_EQ(y(0), 1.0);
  EXPECT_DOUBLE_EQ(y(1), 1.0 / 3.0);

  // A row of U without its diagonal: detLP is 0, logDetLP skips the row.
  sparsefix::Csr b{2, {2, 1, 1}, {0, 2, 3}, {0, 1, 0}};
  CompRow_ILUPreconditioner_double noDiag(toMatrix(b));
  EXPECT_EQ(noDiag.detLP(), 0.0);
  EXPECT_DOUBLE_EQ(noDiag.logDetLP(), std::log(2.0));
}

// ---- QSort.

TEST(SparseQSort, KeysWithPartnerValues) {
  MV_Vector_int keys(6);
  MV_Vector_double vals(6);
  const int k[] = {5, 3, 9, 1, 7, 2};
  for (int i = 0; i < 6; ++i) {
    keys(i) = k[i];
    vals(i) = 10.0 * k[i];
  }
  EXPECT_EQ(QSort(keys, vals, 0, 6), 1);
  const int want[] = {1, 2, 3, 5, 7, 9};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(keys(i), want[i]);
    EXPECT_EQ(vals(i), 10.0 * want[i]);
  }
}

// The sort and its exchange helpers come with the preconditioner's header.
TEST(SparseQSort, ExchangeHelpers) {
  double a = 1.5, b = -2.0;
  SWAP_double(a, b);
  EXPECT_EQ(a, -2.0);
  EXPECT_EQ(b, 1.5);
  int i = 7, j = 3;
  swap_int(i, j);
  EXPECT_EQ(i, 3);
  EXPECT_EQ(j, 7);
}

// Against std::sort on sizes around the insertion threshold and larger,
// sorted subranges with untouched surroundings, distinct keys (partners
// determined) and keys with many ties (pairs kept as a multiset).
TEST(SparseQSort, MatchesStdSortWithPartners) {
  std::mt19937 rng(12345);
  for (int size : {0, 1, 2, 3, 4, 5, 6, 7, 11, 17, 64, 257, 2000})
    for (bool ties : {false, true})
      for (int pattern = 0; pattern < 3; ++pattern) {
        SCOPED_TRACE(testing::Message() << "size " << size << (ties ? " ties" : "") << " pattern "
                                        << pattern);
        std::vector<int> k(size);
        std::iota(k.begin(), k.end(), 0);
        if (pattern == 0) std::shuffle(k.begin(), k.end(), rng);
        if (pattern == 2) std::reverse(k.begin(), k.end());
        if (ties)
          for (int& v : k) v %= 5;
        const int pad = 3;
        MV_Vector_int keys(size + 2 * pad, -99);
        MV_Vector_double vals(size + 2 * pad, -99.0);
        std::vector<std::pair<int, double>> want;
        for (int i = 0; i < size; ++i) {
          keys(pad + i) = k[i];
          vals(pad + i) = i + 0.5;
          want.emplace_back(k[i], i + 0.5);
        }
        QSort(keys, vals, pad, size);
        std::vector<std::pair<int, double>> got;
        for (int i = 0; i < size; ++i) got.emplace_back(keys(pad + i), vals(pad + i));
        EXPECT_TRUE(std::is_sorted(got.begin(), got.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; }));
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want);
        for (int i = 0; i < pad; ++i) {
          EXPECT_EQ(keys(i), -99);
          EXPECT_EQ(keys(pad + size + i), -99);
          EXPECT_EQ(vals(pad + size + i), -99.0);
        }

        MV_Vector_double alone(size);
        std::vector<double> ref(size);
        for (int i = 0; i < size; ++i) alone(i) = ref[i] = std::sin(3.0 * k[i] + 1.0);
        QSort(alone, 0, size);
        std::sort(ref.begin(), ref.end());
        EXPECT_EQ(toStd(alone), ref);
      }
}

// ---- CGS.

struct IdentityPreconditioner {
  MV_Vector_double solve(const MV_Vector_double& x) const { return x; }
};

// Returns its argument on the first call and infinities afterwards.
struct PoisonedPreconditioner {
  mutable int calls = 0;
  MV_Vector_double solve(const MV_Vector_double& x) const {
    return ++calls == 1 ? x : MV_Vector_double(x.size(), std::numeric_limits<double>::infinity());
  }
};

double relativeResidual(const CompRow_Mat_double& A, const MV_Vector_double& x,
                        const MV_Vector_double& b) {
  const double nb = norm(b);
  return norm(b - A * x) / (nb == 0.0 ? 1.0 : nb);
}

TEST(SparseCGS, ConvergesOnNonSymmetricGridSystem) {
  const dense::Matrix d = sparsefix::gridMatrix(12, 10, 0.6);
  sparsefix::Csr a = sparsefix::fromDense(d);
  const CompRow_Mat_double A = toMatrix(a);
  const CompRow_ILUPreconditioner_double M(A);
  std::vector<double> bs(a.n);
  for (int i = 0; i < a.n; ++i) bs[i] = std::sin(0.3 * i) + 0.1;
  const MV_Vector_double b = toVector(bs);
  MV_Vector_double x(a.n, 0.0);
  int maxIter = 200;
  double tol = 1e-10;
  ASSERT_EQ(CGS(A, x, b, M, maxIter, tol), 0);
  EXPECT_GT(maxIter, 1);
  EXPECT_LT(maxIter, 200);
  EXPECT_LT(tol, 1e-10);
  EXPECT_LT(relativeResidual(A, x, b), 1e-10);
  EXPECT_NEAR(tol, relativeResidual(A, x, b), 1e-12);  // reported = true residual
  EXPECT_LT(dense::distance(toStd(x), dense::solve(d, bs)), 1e-8);
  EXPECT_EQ(toStd(b), bs);  // the right-hand side is not changed
}

// The return states: code, iterate, tolerance and iteration count.
TEST(SparseCGS, ReturnStates) {
  sparsefix::Csr a2{2, {4, 1, 2, 3}, {0, 2, 4}, {0, 1, 0, 1}};
  const CompRow_Mat_double A = toMatrix(a2);
  const CompRow_ILUPreconditioner_double M(A);
  const MV_Vector_double b(2, 5.0);  // solution (1, 1)

  {  // b = 0 from x = 0: immediate success, tol 0.
    MV_Vector_double x(2, 0.0);
    int it = 10;
    double tol = 0.0;
    EXPECT_EQ(CGS(A, x, MV_Vector_double(2, 0.0), M, it, tol), 0);
    EXPECT_EQ(it, 0);
    EXPECT_EQ(tol, 0.0);
  }
  {  // a start that solves the system
    MV_Vector_double x(2, 1.0);
    int it = 10;
    double tol = 1e-12;
    EXPECT_EQ(CGS(A, x, b, M, it, tol), 0);
    EXPECT_EQ(it, 0);
    EXPECT_EQ(tol, 0.0);
  }
  {  // max_iter 0: not converged, x unchanged, tol = initial residual 1
    MV_Vector_double x(2, 0.0);
    int it = 0;
    double tol = 1e-12;
    EXPECT_EQ(CGS(A, x, b, M, it, tol), 1);
    EXPECT_EQ(it, 0);
    EXPECT_EQ(tol, 1.0);
    EXPECT_EQ(toStd(x), (std::vector<double>{0.0, 0.0}));
  }
  {  // exact preconditioner: one iteration
    MV_Vector_double x(2, 0.0);
    int it = 10;
    double tol = 1e-12;
    EXPECT_EQ(CGS(A, x, b, M, it, tol), 0);
    EXPECT_EQ(it, 1);
    EXPECT_NEAR(x(0), 1.0, 1e-14);
    EXPECT_NEAR(x(1), 1.0, 1e-14);
    EXPECT_LT(tol, 1e-12);
  }
  {  // negative tol from the solution: rho_1 = 0 breakdown, tol 0
    MV_Vector_double x(2, 1.0);
    int it = 10;
    double tol = -1.0;
    EXPECT_EQ(CGS(A, x, b, M, it, tol), 2);
    EXPECT_EQ(it, 10);
    EXPECT_EQ(tol, 0.0);
  }
  {  // not converged within max_iter: tol is the residual of the iterate
    const dense::Matrix d = sparsefix::gridMatrix(8, 8, 0.5);
    sparsefix::Csr g = sparsefix::fromDense(d);
    const CompRow_Mat_double G = toMatrix(g);
    std::vector<double> bs(g.n, 1.0);
    const MV_Vector_double bg = toVector(bs);
    MV_Vector_double x(g.n, 0.0);
    int it = 2;
    double tol = 1e-14;
    EXPECT_EQ(CGS(G, x, bg, IdentityPreconditioner(), it, tol), 1);
    EXPECT_EQ(it, 2);
    EXPECT_GT(tol, 1e-14);
    EXPECT_NEAR(tol, relativeResidual(G, x, bg), 1e-12);
  }
}

// A step length or residual that is not finite stops the iteration with
// code 2, the last finite iterate in x and its relative residual in tol.
TEST(SparseCGS, NonFiniteBreakdown) {
  // Skew matrix, identity preconditioner: dot(rtilde, A r) = 0, alpha = inf.
  sparsefix::Csr skew{2, {1, -1}, {0, 1, 2}, {1, 0}};
  const CompRow_Mat_double S = toMatrix(skew);
  MV_Vector_double b(2);
  b(0) = 1.0;
  b(1) = 2.0;
  MV_Vector_double x(2, 0.0);
  int it = 5;
  double tol = 1e-10;
  EXPECT_EQ(CGS(S, x, b, IdentityPreconditioner(), it, tol), 2);
  EXPECT_EQ(toStd(x), (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(tol, 1.0);
  EXPECT_EQ(it, 5);

  // A preconditioner that returns infinities in the second solve of the
  // first iteration: the residual becomes NaN; x keeps the start.
  sparsefix::Csr a2{2, {4, 1, 2, 3}, {0, 2, 4}, {0, 1, 0, 1}};
  const CompRow_Mat_double A = toMatrix(a2);
  MV_Vector_double y(2, 0.5);
  it = 5;
  tol = 1e-10;
  EXPECT_EQ(CGS(A, y, MV_Vector_double(2, 5.0), PoisonedPreconditioner(), it, tol), 2);
  EXPECT_EQ(toStd(y), (std::vector<double>{0.5, 0.5}));
  EXPECT_DOUBLE_EQ(tol, 0.5);  // ||b - A (0.5, 0.5)|| / ||b|| = 0.5
  EXPECT_EQ(it, 5);
}

}  // namespace

namespace {

// Systems smaller than the usual Hessians: a 1 x 1 system and a diagonal
// matrix (no L entries) are multiplied, factored and solved without
// touching storage outside the vectors.
TEST(SparseSmallSystems, OneByOneAndDiagonal) {
  sparsefix::Csr one{1, {4.0}, {0, 1}, {0}};
  const CompRow_Mat_double A = toMatrix(one);
  const MV_Vector_double two(1, 2.0);
  EXPECT_EQ((A * two)(0), 8.0);
  EXPECT_EQ(A.trans_mult(two)(0), 8.0);
  const CompRow_ILUPreconditioner_double M(A);
  EXPECT_EQ(M.solve(MV_Vector_double(1, 8.0))(0), 2.0);
  EXPECT_EQ(M.trans_solve(MV_Vector_double(1, 8.0))(0), 2.0);
  MV_Vector_double x(1, 0.0);
  int it = 5;
  double tol = 1e-12;
  EXPECT_EQ(CGS(A, x, MV_Vector_double(1, 8.0), M, it, tol), 0);
  EXPECT_EQ(x(0), 2.0);

  sparsefix::Csr diag{3, {2.0, 4.0, 8.0}, {0, 1, 2, 3}, {0, 1, 2}};
  CompRow_ILUPreconditioner_double D(toMatrix(diag));
  const MV_Vector_double y = D.solve(MV_Vector_double(3, 8.0));
  EXPECT_EQ(toStd(y), (std::vector<double>{4.0, 2.0, 1.0}));
  EXPECT_DOUBLE_EQ(D.logDetLP(), std::log(64.0));
}

}  // namespace

// ---- Fast path: raw-array sweeps and the fused CGS, against the reference
// path (the CGS template, the vector operators and the preconditioner's
// dcsrsm_ solve), bit for bit.

namespace {

// Bit patterns, so that equality means bit for bit (signed zeros included).
std::vector<std::uint64_t> bits(const double* v, int n) {
  std::vector<std::uint64_t> out(n);
  if (n > 0) std::memcpy(out.data(), v, sizeof(double) * n);
  return out;
}
std::vector<std::uint64_t> bits(const MV_Vector_double& v) {
  return bits(v.size() > 0 ? &v(0) : nullptr, v.size());
}
std::uint64_t bits(double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

// A named compressed-row system and the strip width its backward sweep
// should take (the level width for Hessians of two image rows or more).
struct NamedSystem {
  std::string name;
  sparsefix::Csr a;
  int strip = 0;
};

// Flow-system Hessians from the assembler (two halves, U and V block) and
// matrices whose halves cannot be interleaved.
std::vector<NamedSystem> sweepSystems() {
  std::vector<NamedSystem> out;
  const struct {
    int nc, nl;
    bool periodic;
  } levels[] = {{7, 5, false}, {16, 9, true}, {2, 3, true}, {1, 1, false}, {33, 20, false}};
  unsigned seed = 11;
  for (const auto& l : levels) {
    const hs_test::Level lv(l.nc, l.nl, seed++);
    const hs_test::Assembled h = hs_test::assemble(lv, 0.7f, l.periodic);
    sparsefix::Csr a;
    a.n = lv.taille();
    a.val.assign(h.val.begin(), h.val.begin() + h.n());
    a.col_ind.assign(h.col.begin(), h.col.begin() + h.n());
    a.row_ptr = h.ptr;
    out.push_back({"hessian " + std::to_string(l.nc) + "x" + std::to_string(l.nl) +
                       (l.periodic ? " periodic" : " neumann"),
                   a, l.nl >= 2 ? l.nc : 0});
  }
  out.push_back({"grid 6x5", sparsefix::fromDense(sparsefix::gridMatrix(6, 5, 0.4))});
  out.push_back({"tridiagonal 9", sparsefix::fromDense(sparsefix::tridiagonal(9))});
  return out;
}

bool isHessian(const NamedSystem& s) { return s.name.rfind("hessian", 0) == 0; }

}  // namespace

// The halves may be taken together only when every row reads, from the
// other half, unknowns already solved in the interleaved order.
TEST(SparseSweeps, InterleavingFollowsTheCouplingPattern) {
  // 4 x 4 matrices: the diagonal, plus the listed (row, column) entries.
  const struct {
    std::vector<std::pair<int, int>> entries;
    int split;
  } cases[] = {
      {{}, 2},
      {{{2, 0}, {3, 1}, {0, 2}, {1, 3}}, 2},  // couplings within a pixel
      {{{3, 0}}, 2},                          // row h+1 reads unknown 0 <= 1
      {{{2, 1}}, 0},                          // row h+0 would read unknown 1 before it is solved
      {{{0, 3}}, 2},                          // row 0 reads unknown 3 >= h+0
      {{{1, 2}}, 0},                          // row 1 would read unknown 2 before it is solved
      {{{1, 0}, {3, 2}, {0, 1}, {2, 3}}, 2},  // links within each half
  };
  for (const auto& c : cases) {
    dense::Matrix d(4);
    for (int i = 0; i < 4; ++i) d(i, i) = 4.0 + i;
    for (const auto& e : c.entries) d(e.first, e.second) = 0.5;
    sparsefix::Csr a = sparsefix::fromDense(d);
    const CompRow_ILUPreconditioner_double M(toMatrix(a));
    EXPECT_EQ(interleaveSplit(M.lower(), M.upper()), c.split) << ::testing::PrintToString(c.entries);
    EXPECT_EQ(IluSweeps(M).split, c.split);
    EXPECT_EQ(IluSweeps(M, false).split, 0);
  }
  // Odd sizes keep the plain order; every assembled Hessian interleaves.
  sparsefix::Csr odd = sparsefix::fromDense(sparsefix::tridiagonal(5));
  EXPECT_EQ(IluSweeps(CompRow_ILUPreconditioner_double(toMatrix(odd))).split, 0);
  for (NamedSystem& s : sweepSystems()) {
    const CompRow_ILUPreconditioner_double M(toMatrix(s.a));
    EXPECT_EQ(IluSweeps(M).split, isHessian(s) ? s.a.n / 2 : 0) << s.name;
    EXPECT_EQ(IluSweeps(M).strip, s.strip) << s.name;
    EXPECT_EQ(IluSweeps(M, false).strip, 0) << s.name;
  }
}

// The strip order is refused when a row would read an unknown of the upper
// strip that is solved after it: here U(x, y) reads U(x - 2, y + 1).
TEST(SparseSweeps, StripOrderRefusedWhenARowWouldReadAheadOfIt) {
  const int nc = 7, nl = 5, n = 2 * nc * nl;
  const hs_test::Level lv(nc, nl, 3);
  const hs_test::Assembled h = hs_test::assemble(lv, 0.7f, false);
  sparsefix::Csr a{n, std::vector<double>(h.val.begin(), h.val.begin() + h.n()), h.ptr,
                   std::vector<int>(h.col.begin(), h.col.begin() + h.n())};
  // Row 10 = (3, 1) lies in the lower strip of the second block from the
  // top (rows 7..13 under 14..20); add the entry (10, 15) in sorted place.
  const int row = 10, col = row + nc - 2;
  int at = a.row_ptr[row];
  while (at < a.row_ptr[row + 1] && a.col_ind[at] < col) ++at;
  a.val.insert(a.val.begin() + at, 0.01);
  a.col_ind.insert(a.col_ind.begin() + at, col);
  for (int r = row + 1; r <= n; ++r) ++a.row_ptr[r];

  const CompRow_ILUPreconditioner_double M(toMatrix(a));
  const IluSweeps sweeps(M);
  EXPECT_EQ(sweeps.split, n / 2);
  EXPECT_EQ(sweeps.strip, 0);
  MV_Vector_double x(n);
  for (int i = 0; i < n; ++i) x(i) = std::cos(0.3 * i) + 2.0;
  const MV_Vector_double ref = M.solve(x);
  std::vector<double> y(n);
  iluSolve(sweeps, &x(0), y.data());
  EXPECT_EQ(bits(y.data(), n), bits(ref));
  // Forced, the strip order would read the unknown before it is solved.
  IluSweeps forced = sweeps;
  forced.strip = nc;
  iluSolve(forced, &x(0), y.data());
  EXPECT_NE(bits(y.data(), n), bits(ref));
}

// y = U^-1 L^-1 x by the interleaved sweeps (halves and strips), by the
// plain-order sweeps and by the preconditioner's own solve: the same bits.
TEST(SparseSweeps, InterleavedSolveEqualsThePlainOneBitForBit) {
  for (NamedSystem& s : sweepSystems()) {
    SCOPED_TRACE(s.name);
    const CompRow_ILUPreconditioner_double M(toMatrix(s.a));
    const int n = s.a.n;
    MV_Vector_double x(n);
    for (int i = 0; i < n; ++i) x(i) = std::sin(0.7 * i + 0.2) * (i % 3 == 0 ? 100.0 : 1.0);
    const MV_Vector_double ref = M.solve(x);
    std::vector<double> fast(n), plain(n);
    iluSolve(IluSweeps(M), &x(0), fast.data());
    iluSolve(IluSweeps(M, false), &x(0), plain.data());
    EXPECT_EQ(bits(fast.data(), n), bits(ref));
    EXPECT_EQ(bits(plain.data(), n), bits(ref));
  }
}

namespace {

// One solve by the template and by the fused path; returns the template's
// code after checking that the fused path (with the interleaved and with
// the plain sweeps) gives the same code, count, tolerance and iterate.
int expectSameSolve(sparsefix::Csr& a, const std::vector<double>& b, const std::vector<double>& x0,
                    int maxIter, double tol) {
  const CompRow_Mat_double A = toMatrix(a);
  const CompRow_ILUPreconditioner_double M(A);
  const MV_Vector_double bv = toVector(b);

  MV_Vector_double xRef = toVector(x0);
  int itRef = maxIter;
  double tolRef = tol;
  const int codeRef = CGS(A, xRef, bv, M, itRef, tolRef);

  MV_Vector_double xFast = toVector(x0);
  int itFast = maxIter;
  double tolFast = tol;
  EXPECT_EQ(fusedCGS(A, xFast, bv, M, itFast, tolFast), codeRef);
  EXPECT_EQ(itFast, itRef);
  EXPECT_EQ(bits(tolFast), bits(tolRef));
  EXPECT_EQ(bits(xFast), bits(xRef));

  std::vector<double> xPlain = x0;
  int itPlain = maxIter;
  double tolPlain = tol;
  CgsWorkspace work(a.n);
  EXPECT_EQ(fusedCGS(csrArrays(A), IluSweeps(M, false), xPlain.data(), b.data(), itPlain,
                     tolPlain, work),
            codeRef);
  EXPECT_EQ(itPlain, itRef);
  EXPECT_EQ(bits(tolPlain), bits(tolRef));
  EXPECT_EQ(bits(xPlain.data(), a.n), bits(xRef));
  EXPECT_EQ(toStd(bv), b);  // b only read
  return codeRef;
}

std::vector<double> wave(int n, double f, double scale = 1.0) {
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = scale * (std::sin(f * i + 0.3) + 0.2);
  return v;
}

}  // namespace

// Converged solves on flow Hessians and other matrices, from zero and from
// a non-zero start, and solves that end on the iteration limit.
TEST(SparseFusedCGS, SameIteratesAsTheTemplate) {
  for (NamedSystem& s : sweepSystems()) {
    SCOPED_TRACE(s.name);
    const int n = s.a.n;
    const std::vector<double> zero(n, 0.0);
    const int converged = expectSameSolve(s.a, wave(n, 0.37), zero, 500, 1e-6);
    const int fromStart = expectSameSolve(s.a, wave(n, 1.1, 1e3), wave(n, 0.05), 500, 1e-12);
    const int limited = expectSameSolve(s.a, wave(n, 0.37), zero, 2, 1e-15);
    if (isHessian(s) && n > 2) {  // the 1 x 1 level is a 2 x 2 system
      EXPECT_EQ(converged, 0);
      EXPECT_EQ(fromStart, 0);
      EXPECT_EQ(limited, 1);
    }
  }
  // Limit 0, and a right-hand side of zero.
  sparsefix::Csr g = sparsefix::fromDense(sparsefix::gridMatrix(4, 4));
  EXPECT_EQ(expectSameSolve(g, wave(16, 0.5), std::vector<double>(16, 0.0), 0, 1e-6), 1);
  EXPECT_EQ(expectSameSolve(g, std::vector<double>(16, 0.0), std::vector<double>(16, 0.0), 9, 0.0), 0);
}

// The three breakdowns: rho = 0, a step length that is not finite, and a
// residual that is not finite.
TEST(SparseFusedCGS, SameBreakdownsAsTheTemplate) {
  // The start solves the system and tol is negative: rho = 0 at once.
  sparsefix::Csr a2{2, {4, 1, 2, 3}, {0, 2, 4}, {0, 1, 0, 1}};
  EXPECT_EQ(expectSameSolve(a2, {5.0, 5.0}, {1.0, 1.0}, 10, -1.0), 2);

  // A stored zero pivot: the factors hold infinities, the step length is NaN.
  sparsefix::Csr zeroPivot{2, {0.0, 1.0, 1.0, 2.0}, {0, 2, 4}, {0, 1, 0, 1}};
  EXPECT_EQ(expectSameSolve(zeroPivot, {1.0, 2.0}, {0.0, 0.0}, 10, 1e-8), 2);

  // A 4 x 4 grid with entries of mixed signs, where ILU(0) is a poor
  // preconditioner and the first residual is about 1e4 times ||b||: with
  // b = 1e153, ||b||^2 is finite but ||r||^2 overflows after a finite step.
  dense::Matrix d = sparsefix::gridMatrix(4, 4, 0.0);
  for (int i = 0; i < d.n; ++i)
    for (int j = 0; j < d.n; ++j)
      if (d(i, j) != 0.0) d(i, j) = std::sin(11.0 * i + 3.0 * j + 1.0) * (i == j ? 1.0 : 2.0);
  sparsefix::Csr mixed = sparsefix::fromDense(d);
  {  // the same solve at unit scale runs its first iteration to a finite residual
    const CompRow_Mat_double A = toMatrix(mixed);
    const CompRow_ILUPreconditioner_double M(A);
    MV_Vector_double x(16, 0.0);
    int it = 1;
    double tol = 1e-300;
    ASSERT_EQ(CGS(A, x, MV_Vector_double(16, 1.0), M, it, tol), 1);
    ASSERT_GT(tol, 1e3);
    ASSERT_LT(tol, 1e6);
  }
  EXPECT_EQ(expectSameSolve(mixed, std::vector<double>(16, 1e153), std::vector<double>(16, 0.0), 50,
                            1e-10),
            2);
}

// One workspace serves several right-hand sides on one matrix and one set
// of factors; each solve equals a solve alone.
TEST(SparseFusedCGS, WorkspaceSharedByRightHandSides) {
  const hs_test::Level lv(12, 8, 5);
  const hs_test::Assembled h = hs_test::assemble(lv, 1.3f, false);
  const int n = lv.taille();
  const CompRow_Mat_double A(n, n, h.n(), const_cast<double*>(h.val.data()),
                             const_cast<int*>(h.ptr.data()), const_cast<int*>(h.col.data()), 0);
  const CompRow_ILUPreconditioner_double M(A);
  const IluSweeps sweeps(M);
  CgsWorkspace work(n);
  for (double f : {0.2, 0.9, 2.5}) {
    const std::vector<double> b = wave(n, f);
    std::vector<double> x(n, 0.0);
    int it = 500;
    double tol = 1e-8;
    const int code = fusedCGS(csrArrays(A), sweeps, x.data(), b.data(), it, tol, work);
    MV_Vector_double xRef(n, 0.0);
    int itRef = 500;
    double tolRef = 1e-8;
    EXPECT_EQ(CGS(A, xRef, toVector(b), M, itRef, tolRef), code);
    EXPECT_EQ(it, itRef);
    EXPECT_EQ(bits(x.data(), n), bits(xRef));
  }
}

namespace {

// One right-hand side of a batch: b, the start, the limit and the tolerance.
struct LaneCase {
  std::vector<double> b, x0;
  int maxIter;
  double tol;
};

// Solves the lanes as one batch and each alone by the fused path (with the
// interleaved and with the plain sweeps); every lane's code, count,
// tolerance and iterate must agree bit for bit. Returns the codes.
std::vector<int> expectSameBatch(sparsefix::Csr& a, const std::vector<LaneCase>& lanes) {
  const CompRow_Mat_double A = toMatrix(a);
  const CompRow_ILUPreconditioner_double M(A);
  const int n = a.n, count = static_cast<int>(lanes.size());
  std::vector<int> codes;
  for (bool interleave : {true, false}) {
    SCOPED_TRACE(interleave ? "interleaved" : "plain");
    const IluSweeps sweeps(M, interleave);
    std::vector<std::vector<double>> x;
    std::vector<std::unique_ptr<CgsWorkspace>> work;
    std::vector<double*> xp;
    std::vector<const double*> bp;
    std::vector<CgsWorkspace*> wp;
    std::vector<int> it, code(count, -1);
    std::vector<double> tol;
    for (int j = 0; j < count; ++j) {
      x.push_back(lanes[j].x0);
      work.push_back(std::make_unique<CgsWorkspace>(n, j));
      it.push_back(lanes[j].maxIter);
      tol.push_back(lanes[j].tol);
    }
    for (int j = 0; j < count; ++j) {
      xp.push_back(x[j].data());
      bp.push_back(lanes[j].b.data());
      wp.push_back(work[j].get());
    }
    fusedCGSBatch(csrArrays(A), sweeps, count, xp.data(), bp.data(), it.data(), tol.data(),
                  code.data(), wp.data());
    for (int j = 0; j < count; ++j) {
      SCOPED_TRACE(j);
      std::vector<double> xAlone = lanes[j].x0;
      int itAlone = lanes[j].maxIter;
      double tolAlone = lanes[j].tol;
      CgsWorkspace own(n);
      EXPECT_EQ(code[j], fusedCGS(csrArrays(A), sweeps, xAlone.data(), lanes[j].b.data(), itAlone,
                                  tolAlone, own));
      EXPECT_EQ(it[j], itAlone);
      EXPECT_EQ(bits(tol[j]), bits(tolAlone));
      EXPECT_EQ(bits(x[j].data(), n), bits(xAlone.data(), n));
    }
    codes = code;
  }
  return codes;
}

}  // namespace

// A batch of right-hand sides: each lane stops at its own convergence,
// limit or breakdown, with the iterate of its solve alone; six lanes make
// a pass of four and one of two, then fewer as lanes drop out.
TEST(SparseFusedCGS, BatchLanesEqualTheirSolvesAlone) {
  for (NamedSystem& s : sweepSystems()) {
    SCOPED_TRACE(s.name);
    const int n = s.a.n;
    const std::vector<double> zero(n, 0.0);
    const std::vector<int> codes =
        expectSameBatch(s.a, {{wave(n, 0.37), zero, 500, 1e-6},
                              {wave(n, 1.1, 1e3), wave(n, 0.05), 500, 1e-12},
                              {wave(n, 0.37), zero, 2, 1e-15},
                              {zero, zero, 9, 0.0},
                              {wave(n, 0.9), zero, 0, 1e-6},
                              {wave(n, 2.1, 1e-3), zero, 500, 1e-9}});
    if (isHessian(s) && n > 2) {
      EXPECT_EQ(codes, (std::vector<int>{0, 0, 1, 0, 1, 0}));
    }
  }
  // Breakdowns beside converging lanes: rho = 0 at once (the start solves
  // the system, tol negative), a step length that is not finite (a stored
  // zero pivot), a residual that overflows.
  sparsefix::Csr a2{2, {4, 1, 2, 3}, {0, 2, 4}, {0, 1, 0, 1}};
  EXPECT_EQ(expectSameBatch(a2, {{{5.0, 5.0}, {1.0, 1.0}, 10, -1.0},
                                 {{5.0, 5.0}, {0.0, 0.0}, 10, 1e-8},
                                 {{1.0, 2.0}, {0.0, 0.0}, 0, 1e-8}}),
            (std::vector<int>{2, 0, 1}));
  sparsefix::Csr zeroPivot{2, {0.0, 1.0, 1.0, 2.0}, {0, 2, 4}, {0, 1, 0, 1}};
  EXPECT_EQ(expectSameBatch(zeroPivot, {{{1.0, 2.0}, {0.0, 0.0}, 10, 1e-8},
                                        {{0.0, 0.0}, {0.0, 0.0}, 10, 1e-8}}),
            (std::vector<int>{2, 0}));
  dense::Matrix d = sparsefix::gridMatrix(4, 4, 0.0);
  for (int i = 0; i < d.n; ++i)
    for (int j = 0; j < d.n; ++j)
      if (d(i, j) != 0.0) d(i, j) = std::sin(11.0 * i + 3.0 * j + 1.0) * (i == j ? 1.0 : 2.0);
  sparsefix::Csr mixed = sparsefix::fromDense(d);
  const std::vector<int> codes = expectSameBatch(
      mixed, {{std::vector<double>(16, 1.0), std::vector<double>(16, 0.0), 1, 1e-300},
              {std::vector<double>(16, 1e153), std::vector<double>(16, 0.0), 50, 1e-10},
              {wave(16, 0.8), std::vector<double>(16, 0.0), 50, 1e-10}});
  EXPECT_EQ(codes[0], 1);
  EXPECT_EQ(codes[1], 2);
}
