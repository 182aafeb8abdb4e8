// ILU(0) preconditioners and their log-determinant, QSort, and the
// preconditioned CGS iteration.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cgs.h"
#include "comprow_double.h"
#include "dense_reference.h"
#include "ilupre_double.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "mvvi.h"
#include "sparse_fixtures.h"

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
