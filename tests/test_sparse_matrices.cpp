// Sparse products and triangular solves of the BLAS-style layer, and the
// compressed-row matrix with its conversions, against dense references.
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comprow_double.h"
#include "dense_reference.h"
#include "mvvd.h"
#include "mvvi.h"
#include "spblas.h"

namespace {

// Fixture: the 3 x 4 matrix
//   [1 0 2 0]
//   [0 3 0 4]
//   [5 0 6 7]
// in 1-based coordinate, compressed-column and compressed-row arrays.
constexpr int kRows = 3, kCols = 4;
const double kDense[kRows][kCols] = {{1, 0, 2, 0}, {0, 3, 0, 4}, {5, 0, 6, 7}};
const double kCsrVal[] = {1, 2, 3, 4, 5, 6, 7};
const int kCsrCol1[] = {1, 3, 2, 4, 1, 3, 4};  // 1-based columns
const int kCsrPtr1[] = {1, 3, 5, 8};           // 1-based row starts
const double kCscVal[] = {1, 5, 3, 2, 6, 4, 7};
const int kCscRow1[] = {1, 3, 2, 1, 3, 2, 3};
const int kCscPtr1[] = {1, 3, 4, 6, 8};
// Coordinate list in a scrambled order.
const double kCooVal[] = {6, 1, 4, 7, 2, 5, 3};
const int kCooRow1[] = {3, 1, 2, 3, 1, 3, 2};
const int kCooCol1[] = {3, 1, 4, 4, 3, 1, 2};

enum class Storage { Coo, Csc, Csr };

// C = alpha op(A) B + beta C0 computed densely; B has `inner` rows.
std::vector<double> denseProduct(bool trans, int n, double alpha, const std::vector<double>& b,
                                 int ldb, double beta, const std::vector<double>& c0, int ldc) {
  const int m = trans ? kCols : kRows, k = trans ? kRows : kCols;
  std::vector<double> c = c0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < m; ++i) {
      double s = 0.0;
      for (int l = 0; l < k; ++l) s += (trans ? kDense[l][i] : kDense[i][l]) * b[l + ldb * j];
      c[i + ldc * j] = alpha * s + beta * c0[i + ldc * j];
    }
  return c;
}

// Runs one product entry point on the fixture (double or float).
template <class T>
std::vector<double> runProduct(Storage st, int transa, int n, double alpha,
                               const std::vector<double>& b, int ldb, double beta,
                               const std::vector<double>& c0, int ldc) {
  const bool trans = transa == 1 || transa == 2;
  const int m = trans ? kCols : kRows, k = trans ? kRows : kCols;
  const int descra[3] = {0, 0, 0};
  std::vector<T> bt(b.begin(), b.end()), ct(c0.begin(), c0.end());
  std::vector<T> csr(std::begin(kCsrVal), std::end(kCsrVal));
  std::vector<T> csc(std::begin(kCscVal), std::end(kCscVal));
  std::vector<T> coo(std::begin(kCooVal), std::end(kCooVal));
  const T a = static_cast<T>(alpha), be = static_cast<T>(beta);
  if constexpr (std::is_same<T, double>::value) {
    if (st == Storage::Csr)
      dcsrmm_(transa, m, n, k, a, descra, csr.data(), kCsrCol1, kCsrPtr1, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
    else if (st == Storage::Csc)
      dcscmm_(transa, m, n, k, a, descra, csc.data(), kCscRow1, kCscPtr1, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
    else
      dcoomm_(transa, m, n, k, a, descra, coo.data(), kCooRow1, kCooCol1, 7, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
  } else {
    if (st == Storage::Csr)
      scsrmm_(transa, m, n, k, a, descra, csr.data(), kCsrCol1, kCsrPtr1, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
    else if (st == Storage::Csc)
      scscmm_(transa, m, n, k, a, descra, csc.data(), kCscRow1, kCscPtr1, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
    else
      scoomm_(transa, m, n, k, a, descra, coo.data(), kCooRow1, kCooCol1, 7, bt.data(), ldb, be,
              ct.data(), ldc, nullptr, 0);
  }
  return std::vector<double>(ct.begin(), ct.end());
}

// Every entry point, both orientations (transa 1, 2 and a code that means
// "no transpose"), two right-hand columns in padded blocks: the padding
// rows must come out untouched.
TEST(SparseProducts, AllEntryPointsMatchDenseProduct) {
  const int n = 2, ldb = 6, ldc = 7;
  std::vector<double> b(ldb * n), c0(ldc * n);
  for (int i = 0; i < ldb * n; ++i) b[i] = 0.25 * i - 1.0;
  for (int i = 0; i < ldc * n; ++i) c0[i] = 10.0 + i;
  for (Storage st : {Storage::Coo, Storage::Csc, Storage::Csr})
    for (int transa : {0, 1, 2, 5})
      for (bool single : {false, true}) {
        SCOPED_TRACE(testing::Message() << "storage " << static_cast<int>(st) << " transa "
                                        << transa << (single ? " float" : " double"));
        const bool trans = transa == 1 || transa == 2;
        const std::vector<double> want = denseProduct(trans, n, 2.0, b, ldb, 0.5, c0, ldc);
        const std::vector<double> got =
            single ? runProduct<float>(st, transa, n, 2.0, b, ldb, 0.5, c0, ldc)
                   : runProduct<double>(st, transa, n, 2.0, b, ldb, 0.5, c0, ldc);
        for (int i = 0; i < ldc * n; ++i) EXPECT_NEAR(got[i], want[i], single ? 1e-4 : 1e-13) << i;
      }
}

TEST(SparseProducts, BetaAndAlphaEdgeCases) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> b = {1, 2, 3, 4};
  // beta = 0 clears C, NaNs included, before the product is added.
  for (Storage st : {Storage::Coo, Storage::Csc, Storage::Csr}) {
    const std::vector<double> c = runProduct<double>(st, 0, 1, 1.0, b, 4, 0.0, {nan, nan, nan}, 3);
    EXPECT_EQ(c, (std::vector<double>{7, 22, 51}));
    // alpha = 0 gives beta C; with beta = 1 C is unchanged.
    EXPECT_EQ(runProduct<double>(st, 0, 1, 0.0, b, 4, 3.0, {1, 2, 3}, 3),
              (std::vector<double>{3, 6, 9}));
    EXPECT_EQ(runProduct<float>(st, 1, 1, 0.0, b, 4, 1.0, {1, 2, 3, 4}, 4),
              (std::vector<double>{1, 2, 3, 4}));
  }
}

// The 0-based form given the address of element 1 of x gives the same
// product as the 1-based form given element 0.
TEST(SparseProducts, ZeroBasedCallersPassElementOne) {
  const int col0[] = {0, 2, 1, 3, 0, 2, 3};
  const int ptr0[] = {0, 2, 4, 7};
  const int descra[3] = {0, 0, 0};
  const std::vector<double> x = {1, -1, 2, 0.5};
  std::vector<double> c1(3), c0(3);
  dcsrmm_(0, 3, 1, 4, 1.0, descra, kCsrVal, kCsrCol1, kCsrPtr1, x.data(), 4, 0.0, c1.data(), 3,
          nullptr, 0);
  dcsrmm_(0, 3, 1, 4, 1.0, descra, kCsrVal, col0, ptr0, x.data() + 1, 4, 0.0, c0.data(), 3,
          nullptr, 0);
  EXPECT_EQ(c1, c0);
  EXPECT_EQ(c1, (std::vector<double>{5, -1, 20.5}));
}

// ---- Triangular solves.

// 4 x 4 lower triangle with its diagonal, and an upper one.
dense::Matrix lowerTriangle() {
  dense::Matrix m(4);
  const double v[4][4] = {{2, 0, 0, 0}, {1, 3, 0, 0}, {0, -1, 4, 0}, {0.5, 0, 2, 5}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m(i, j) = v[i][j];
  return m;
}
dense::Matrix upperTriangle() {
  dense::Matrix m(4);
  const double v[4][4] = {{4, 1, 0, -2}, {0, 2, 3, 0}, {0, 0, 5, 1}, {0, 0, 0, 3}};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) m(i, j) = v[i][j];
  return m;
}

// Base-0 sorted arrays of the triangle t, by rows or by columns, with the
// diagonal stored or left out (unit).
struct Arrays {
  std::vector<double> val;
  std::vector<float> valf;
  std::vector<int> ind, ptr;
};
Arrays store(const dense::Matrix& t, bool byColumns, bool unit) {
  Arrays a;
  a.ptr.push_back(0);
  for (int o = 0; o < t.n; ++o) {
    for (int p = 0; p < t.n; ++p) {
      const int i = byColumns ? p : o, j = byColumns ? o : p;
      if (t(i, j) != 0.0 && !(unit && i == j)) {
        a.val.push_back(t(i, j));
        a.valf.push_back(static_cast<float>(t(i, j)));
        a.ind.push_back(p);
      }
    }
    a.ptr.push_back(static_cast<int>(a.val.size()));
  }
  return a;
}

// Every solve entry point, storage, triangle, diagonal kind and orientation
// against a dense solve; two right-hand columns; the result vector has
// exactly m n elements and is passed from element 1 (0-based arrays), so
// any write past it is caught by the sanitizer build and any shift of the
// solution by the comparison. Then the in-place form b = y[0], c = y[1].
TEST(SparseSolves, AllKernelsMatchDenseSolve) {
  const int m = 4, n = 2;
  for (bool upper : {false, true})
    for (bool unit : {false, true})
      for (bool byColumns : {false, true})
        for (int transa : {0, 1, 2})
          for (bool single : {false, true})
            for (bool inPlace : {false, true}) {
              SCOPED_TRACE(testing::Message() << (upper ? "upper" : "lower") << (unit ? " unit" : " diag")
                                              << (byColumns ? " csc" : " csr") << " transa " << transa
                                              << (single ? " float" : " double")
                                              << (inPlace ? " in place" : ""));
              dense::Matrix t = upper ? upperTriangle() : lowerTriangle();
              if (unit)
                for (int i = 0; i < m; ++i) t(i, i) = 1.0;
              const Arrays a = store(t, byColumns, unit);
              dense::Matrix op(m);
              for (int i = 0; i < m; ++i)
                for (int j = 0; j < m; ++j) op(i, j) = transa ? t(j, i) : t(i, j);
              std::vector<double> rhs(m * n);
              for (int i = 0; i < m * n; ++i) rhs[i] = 1.0 + 0.5 * i - (i % 3);
              const int descra[3] = {0, upper ? 2 : 1, unit ? 1 : 0};
              std::vector<double> y(m * n);
              std::vector<float> yf(m * n);
              if (!single) {
                std::vector<double> b = rhs;
                const double* bp = inPlace ? (y = rhs, y.data()) : b.data();
                (byColumns ? dcscsm_ : dcsrsm_)(transa, m, n, 1, nullptr, 1.0, descra, a.val.data(),
                                                a.ind.data(), a.ptr.data(), bp, m, 0.0, y.data() + 1, m,
                                                nullptr, 0);
              } else {
                std::vector<float> b(rhs.begin(), rhs.end());
                const float* bp = inPlace ? (yf.assign(rhs.begin(), rhs.end()), yf.data()) : b.data();
                (byColumns ? scscsm_ : scsrsm_)(transa, m, n, 1, nullptr, 1.0f, descra, a.valf.data(),
                                                a.ind.data(), a.ptr.data(), bp, m, 0.0f, yf.data() + 1,
                                                m, nullptr, 0);
                y.assign(yf.begin(), yf.end());
              }
              for (int j = 0; j < n; ++j) {
                const std::vector<double> want =
                    dense::solve(op, std::vector<double>(rhs.begin() + m * j, rhs.begin() + m * (j + 1)));
                for (int i = 0; i < m; ++i) EXPECT_NEAR(y[i + m * j], want[i], single ? 1e-5 : 1e-14);
              }
            }
}

TEST(SparseSolves, AlphaZeroLeavesCAndUpperExample) {
  // [[2, 1], [0, 4]] x = (4, 8): x = (1, 2) by the row upper kernel.
  const double val[] = {2, 1, 4};
  const int ind[] = {0, 1, 1}, ptr[] = {0, 2, 3};
  const double b[] = {4, 8};
  double y[2] = {-7, -7};
  const int descra[3] = {0, 2, 0};
  dcsrsm_(0, 2, 1, 1, nullptr, 0.0, descra, val, ind, ptr, b, 2, 0.0, y + 1, 2, nullptr, 0);
  EXPECT_EQ(y[0], -7);
  EXPECT_EQ(y[1], -7);
  dcsrsm_(0, 2, 1, 1, nullptr, 1.0, descra, val, ind, ptr, b, 2, 0.0, y + 1, 2, nullptr, 0);
  EXPECT_EQ(y[0], 1.0);
  EXPECT_EQ(y[1], 2.0);
}

TEST(SparseSolves, RectangularCopyBehavesLikeMemmove) {
  double a[6] = {1, 2, 3, 4, 5, 6};
  CopyRectangularArray_double(4, 1, a, 4, a + 2, 4);  // forward overlap
  EXPECT_EQ(std::vector<double>(a, a + 6), (std::vector<double>{1, 2, 1, 2, 3, 4}));
  double c[7] = {1, 2, 3, 4, 5, 6, 7};
  CopyRectangularArray_double(2, 2, c + 1, 3, c, 2);  // 2 x 2 block, overlapping
  EXPECT_EQ(std::vector<double>(c, c + 4), (std::vector<double>{2, 3, 5, 6}));
  float f[4] = {1, 2, 3, 4};
  ScaleRectangularArray_float(2, 2, f, 2, 0.5);
  EXPECT_EQ(std::vector<float>(f, f + 4), (std::vector<float>{0.5f, 1, 1.5f, 2}));
}

// ---- Compressed-row matrix.

CompRow_Mat_double fixtureMatrix() {
  std::vector<double> val(std::begin(kCsrVal), std::end(kCsrVal));
  std::vector<int> col = {0, 2, 1, 3, 0, 2, 3}, ptr = {0, 2, 4, 7};
  return CompRow_Mat_double(kRows, kCols, 7, val.data(), ptr.data(), col.data(), 0);
}

void expectEqualsFixture(const CompRow_Mat_double& a) {
  ASSERT_EQ(a.dim(0), kRows);
  ASSERT_EQ(a.dim(1), kCols);
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) EXPECT_EQ(a(i, j), kDense[i][j]) << i << "," << j;
}

TEST(SparseCompRow, ConstructionCopiesAndLookup) {
  std::vector<double> val(std::begin(kCsrVal), std::end(kCsrVal));
  std::vector<int> col = {0, 2, 1, 3, 0, 2, 3}, ptr = {0, 2, 4, 7};
  CompRow_Mat_double a(kRows, kCols, 7, val.data(), ptr.data(), col.data(), 0);
  val.assign(7, -1.0);  // the matrix holds its own copies
  col.assign(7, 0);
  expectEqualsFixture(a);

  CompRow_Mat_double copy(a);
  CompRow_Mat_double assigned;
  assigned = a;
  a.set(2, 3) = 70.0;
  EXPECT_EQ(a(2, 3), 70.0);
  expectEqualsFixture(copy);
  expectEqualsFixture(assigned);

  MV_Vector_double v(std::begin(kCsrVal), 7);
  MV_Vector_int r(ptr.data(), 4), c(std::vector<int>{0, 2, 1, 3, 0, 2, 3}.data(), 7);
  expectEqualsFixture(CompRow_Mat_double(kRows, kCols, 7, v, r, c, 0));

  // Absent entry in range: 0.0 silently; a column out of range: message, 0.0.
  testing::internal::CaptureStderr();
  EXPECT_EQ(copy(1, 2), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  testing::internal::CaptureStderr();
  EXPECT_EQ(copy(0, 5), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Array accessing exception -- out of bounds.\n");

  a.newsize(2, 5, 3);
  EXPECT_EQ(a.dim(0), 2);
  EXPECT_EQ(a.dim(1), 5);
}

TEST(SparseCompRow, ProductsMatchDense) {
  // [[2, 1], [0, 3]] with x = (1, 1): A x = (3, 3), A^T x = (2, 4).
  double val[] = {2, 1, 3};
  int ptr[] = {0, 2, 3}, col[] = {0, 1, 1};
  CompRow_Mat_double s(2, 2, 3, val, ptr, col, 0);
  const MV_Vector_double ones(2, 1.0);
  const MV_Vector_double ax = s * ones, atx = s.trans_mult(ones);
  EXPECT_EQ(ax(0), 3.0);
  EXPECT_EQ(ax(1), 3.0);
  EXPECT_EQ(atx(0), 2.0);
  EXPECT_EQ(atx(1), 4.0);

  const CompRow_Mat_double a = fixtureMatrix();
  MV_Vector_double x(kCols), z(kRows);
  for (int j = 0; j < kCols; ++j) x(j) = 0.5 * j - 1.0;
  for (int i = 0; i < kRows; ++i) z(i) = i + 2.0;
  const MV_Vector_double y = a * x, w = a.trans_mult(z);
  ASSERT_EQ(y.size(), kRows);
  ASSERT_EQ(w.size(), kCols);
  for (int i = 0; i < kRows; ++i) {
    double s2 = 0.0;
    for (int j = 0; j < kCols; ++j) s2 += kDense[i][j] * x(j);
    EXPECT_EQ(y(i), s2);
  }
  for (int j = 0; j < kCols; ++j) {
    double s2 = 0.0;
    for (int i = 0; i < kRows; ++i) s2 += kDense[i][j] * z(i);
    EXPECT_EQ(w(j), s2);
  }
}

TEST(SparseCompRow, ConversionsFromColumnsAndCoordinates) {
  std::vector<double> cv(std::begin(kCscVal), std::end(kCscVal));
  std::vector<int> cr = {0, 2, 1, 0, 2, 1, 2}, cp = {0, 2, 3, 5, 7};
  const CompCol_Mat_double cc(kRows, kCols, 7, cv.data(), cr.data(), cp.data(), 0);
  const CompRow_Mat_double fromCol(cc);
  expectEqualsFixture(fromCol);
  for (int t = 0; t < 7; ++t) EXPECT_EQ(fromCol.val(t), kCsrVal[t]);  // rows in column order

  // Coordinates: rows keep the source order of their entries.
  std::vector<double> ov(std::begin(kCooVal), std::end(kCooVal));
  std::vector<int> orow = {2, 0, 1, 2, 0, 2, 1}, ocol = {2, 0, 3, 3, 2, 0, 1};
  const Coord_Mat_double co(kRows, kCols, 7, ov.data(), orow.data(), ocol.data(), 0);
  const CompRow_Mat_double fromCoo(co);
  expectEqualsFixture(fromCoo);
  const int rowStarts[] = {0, 2, 4, 7};
  for (int i = 0; i <= kRows; ++i) EXPECT_EQ(fromCoo.row_ptr(i), rowStarts[i]);
  const double order[] = {1, 2, 4, 3, 6, 7, 5};
  for (int t = 0; t < 7; ++t) EXPECT_EQ(fromCoo.val(t), order[t]);
}

TEST(SparseCompRow, Printing) {
  double val[] = {1, 2};
  int ptr[] = {0, 2, 2}, col[] = {0, 1};
  const CompRow_Mat_double a(2, 2, 2, val, ptr, col, 0);
  std::ostringstream os;
  os.precision(3);
  os << a << 1.5;
  EXPECT_EQ(os.str(),
            "             1                 1      1.000000000000e+00\n"
            "             1                 2      2.000000000000e+00\n"
            "             2                 2      0.000000000000e+00\n"
            "1.5");  // the stream's own settings are back afterwards

  // With the corner entry stored there is no extra line; an empty matrix
  // prints nothing.
  double v3[] = {4};
  int p3[] = {0, 0, 1}, c3[] = {1};
  std::ostringstream corner;
  corner << CompRow_Mat_double(2, 2, 1, v3, p3, c3, 0);
  EXPECT_EQ(corner.str(), "             2                 2      4.000000000000e+00\n");
  std::ostringstream empty;
  empty << CompRow_Mat_double();
  EXPECT_EQ(empty.str(), "");

  // A converted compressed-column matrix lists its entries row by row.
  double cv[] = {1, 3, 2};
  int cr[] = {0, 1, 0}, cp[] = {0, 2, 3};
  std::ostringstream conv;
  conv << CompRow_Mat_double(CompCol_Mat_double(2, 2, 3, cv, cr, cp, 0));
  EXPECT_EQ(conv.str(),
            "             1                 1      1.000000000000e+00\n"
            "             1                 2      2.000000000000e+00\n"
            "             2                 1      3.000000000000e+00\n"
            "             2                 2      0.000000000000e+00\n");
}

}  // namespace
