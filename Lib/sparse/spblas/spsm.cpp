// Sparse triangular solves C <- alpha op(A)^-1 B for compressed-row and
// compressed-column storage, float and double, and the dense block helpers
// shared with the products.
//
// Unknown i of column j is held at x[i] with x = c + (pntr[0] - 1) + ldc j,
// the matrix's index space: an index value q then names x[q - pntr[0]],
// i.e. c[q - 1]. For a 0-based caller passing c = &y[1], x is &y[0].
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include "spblas.h"

namespace {

template <class T>
void scaleRectangularArray(int m, int n, T* c, int ldc, const double& beta) {
  if (beta == 1.0) return;
  for (int j = 0; j < n; j++) {
    T* cj = c + static_cast<long>(ldc) * j;
    if (beta == 0.0)
      for (int i = 0; i < m; i++) cj[i] = 0;
    else
      for (int i = 0; i < m; i++) cj[i] = static_cast<T>(static_cast<double>(cj[i]) * beta);
  }
}

// Copies the m x n block B into C with memmove semantics: when the two
// blocks overlap (other than coinciding), B is first copied aside.
template <class T>
void copyRectangularArray(int m, int n, const T* b, int ldb, T* c, int ldc) {
  if (m <= 0 || n <= 0 || b == c) return;
  const std::uintptr_t b0 = reinterpret_cast<std::uintptr_t>(b);
  const std::uintptr_t b1 = reinterpret_cast<std::uintptr_t>(b + static_cast<long>(ldb) * (n - 1) + m);
  const std::uintptr_t c0 = reinterpret_cast<std::uintptr_t>(c);
  const std::uintptr_t c1 = reinterpret_cast<std::uintptr_t>(c + static_cast<long>(ldc) * (n - 1) + m);
  if (n == 1) {
    std::memmove(c, b, sizeof(T) * static_cast<std::size_t>(m));
    return;
  }
  if (b0 < c1 && c0 < b1) {
    std::vector<T> aside(static_cast<std::size_t>(m) * n);
    for (int j = 0; j < n; j++)
      std::memcpy(aside.data() + static_cast<std::size_t>(m) * j, b + static_cast<long>(ldb) * j,
                  sizeof(T) * static_cast<std::size_t>(m));
    for (int j = 0; j < n; j++)
      std::memcpy(c + static_cast<long>(ldc) * j, aside.data() + static_cast<std::size_t>(m) * j,
                  sizeof(T) * static_cast<std::size_t>(m));
    return;
  }
  for (int j = 0; j < n; j++)
    std::memcpy(c + static_cast<long>(ldc) * j, b + static_cast<long>(ldb) * j,
                sizeof(T) * static_cast<std::size_t>(m));
}

[[noreturn]] void fail(const char* what) {
  std::cerr << what << "\n";
  std::exit(1);
}

void checkUnitd(int unitd) {
  if (unitd != 1) fail("unitd != 1 not implemented");
}

// Address of unknown 0 of column j (see the file comment).
template <class T>
T* unknowns(T* c, const int* pntr, int ldc, int j) {
  return c + (static_cast<long>(pntr[0]) - 1) + static_cast<long>(ldc) * j;
}

// Stored diagonal at position t of a row (column) spanning [from, to): an
// empty row (column) has none and acts as a zero diagonal.
template <class T>
T diagonalAt(const T* val, int t, int from, int to) {
  return from < to ? val[t] : T(0);
}

// ---- Row kernels: each unknown gathered once from B and solved unknowns.
// With alpha other than 1 the right-hand side b(i) - s is scaled by alpha.

template <class T>
void rowLowerUnit(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = 0; i < m; i++) {
      T s = 0;
      for (int t = pntr[i] - base; t < pntr[i + 1] - base; t++) s += val[t] * x[indx[t] - base];
      x[i] = alpha == 1 ? bj[i] - s : alpha * (bj[i] - s);
    }
  }
}

template <class T>
void rowLowerDiag(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = 0; i < m; i++) {
      const int last = pntr[i + 1] - base - 1;  // the diagonal
      T s = 0;
      for (int t = pntr[i] - base; t < last; t++) s += val[t] * x[indx[t] - base];
      x[i] = (alpha == 1 ? bj[i] - s : alpha * (bj[i] - s)) /
             diagonalAt(val, last, pntr[i] - base, pntr[i + 1] - base);
    }
  }
}

template <class T>
void rowUpperUnit(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = m - 1; i >= 0; i--) {
      T s = 0;
      for (int t = pntr[i] - base; t < pntr[i + 1] - base; t++) s += val[t] * x[indx[t] - base];
      x[i] = alpha == 1 ? bj[i] - s : alpha * (bj[i] - s);
    }
  }
}

template <class T>
void rowUpperDiag(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = m - 1; i >= 0; i--) {
      const int first = pntr[i] - base;  // the diagonal
      T s = 0;
      for (int t = first + 1; t < pntr[i + 1] - base; t++) s += val[t] * x[indx[t] - base];
      x[i] = (alpha == 1 ? bj[i] - s : alpha * (bj[i] - s)) /
             diagonalAt(val, first, first, pntr[i + 1] - base);
    }
  }
}

// ---- Column kernels: B copied into C's index space, then each final
// unknown is spread over the rest of its column. With alpha other than 1
// the stored-diagonal kernels store and spread alpha x(i) / diagonal, the
// unit kernels spread alpha times each value.

template <class T>
void copyIntoUnknowns(int m, int n, const T* b, int ldb, T* c, const int* pntr, int ldc) {
  copyRectangularArray(m, n, b, ldb, unknowns(c, pntr, ldc, 0), ldc);
}

template <class T>
void colLowerUnit(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  copyIntoUnknowns(m, n, b, ldb, c, pntr, ldc);
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = 0; i < m; i++) {
      const T xi = alpha == 1 ? x[i] : alpha * x[i];
      for (int t = pntr[i] - base; t < pntr[i + 1] - base; t++) x[indx[t] - base] -= val[t] * xi;
    }
  }
}

template <class T>
void colLowerDiag(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  copyIntoUnknowns(m, n, b, ldb, c, pntr, ldc);
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = 0; i < m; i++) {
      const int first = pntr[i] - base;  // the diagonal
      x[i] = (alpha == 1 ? x[i] : alpha * x[i]) / diagonalAt(val, first, first, pntr[i + 1] - base);
      const T xi = x[i];
      for (int t = first + 1; t < pntr[i + 1] - base; t++) x[indx[t] - base] -= val[t] * xi;
    }
  }
}

template <class T>
void colUpperUnit(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  copyIntoUnknowns(m, n, b, ldb, c, pntr, ldc);
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = m - 1; i >= 0; i--) {
      const T xi = alpha == 1 ? x[i] : alpha * x[i];
      for (int t = pntr[i] - base; t < pntr[i + 1] - base; t++) x[indx[t] - base] -= val[t] * xi;
    }
  }
}

template <class T>
void colUpperDiag(int m, int n, T alpha, const T* val, const int* indx, const int* pntr,
                  const T* b, int ldb, T* c, int ldc) {
  copyIntoUnknowns(m, n, b, ldb, c, pntr, ldc);
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    T* x = unknowns(c, pntr, ldc, j);
    for (int i = m - 1; i >= 0; i--) {
      const int last = pntr[i + 1] - base - 1;  // the diagonal
      x[i] = (alpha == 1 ? x[i] : alpha * x[i]) /
             diagonalAt(val, last, pntr[i] - base, pntr[i + 1] - base);
      const T xi = x[i];
      for (int t = pntr[i] - base; t < last; t++) x[indx[t] - base] -= val[t] * xi;
    }
  }
}

}  // namespace

// ---- Dense block helpers.

void ScaleRectangularArray_double(int m, int n, double* c, int ldc, const double& beta) {
  scaleRectangularArray(m, n, c, ldc, beta);
}

void ScaleRectangularArray_float(int m, int n, float* c, int ldc, const double& beta) {
  scaleRectangularArray(m, n, c, ldc, beta);
}

void CopyRectangularArray_double(int m, int n, const double* b, int ldb, double* c, int ldc) {
  copyRectangularArray(m, n, b, ldb, c, ldc);
}

void CopyRectangularArray_float(int m, int n, const float* b, int ldb, float* c, int ldc) {
  copyRectangularArray(m, n, b, ldb, c, ldc);
}

// ---- Kernels.

#define VELMORA_DEFINE_SOLVE_KERNEL(name, T, impl)                                             \
  void name(int m, int n, int unitd, const T*, T alpha, const T* val, const int* indx,       \
            const int* pntr, const T* b, int ldb, T* c, int ldc) {                           \
    checkUnitd(unitd);                                                                        \
    if (alpha == 0) return;                                                                   \
    impl<T>(m, n, alpha, val, indx, pntr, b, ldb, c, ldc);                                    \
  }

VELMORA_DEFINE_SOLVE_KERNEL(CompRow_LowerUnitSolve_double, double, rowLowerUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_LowerUnitSolve_float, float, rowLowerUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_LowerDiagSolve_double, double, rowLowerDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_LowerDiagSolve_float, float, rowLowerDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_UpperUnitSolve_double, double, rowUpperUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_UpperUnitSolve_float, float, rowUpperUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_UpperDiagSolve_double, double, rowUpperDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompRow_UpperDiagSolve_float, float, rowUpperDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_LowerUnitSolve_double, double, colLowerUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_LowerUnitSolve_float, float, colLowerUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_LowerDiagSolve_double, double, colLowerDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_LowerDiagSolve_float, float, colLowerDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_UpperUnitSolve_double, double, colUpperUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_UpperUnitSolve_float, float, colUpperUnit)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_UpperDiagSolve_double, double, colUpperDiag)
VELMORA_DEFINE_SOLVE_KERNEL(CompCol_UpperDiagSolve_float, float, colUpperDiag)

#undef VELMORA_DEFINE_SOLVE_KERNEL

// ---- Entry points.

namespace {

template <class T>
using SolveKernel = void (*)(int, int, int, const T*, T, const T*, const int*, const int*,
                             const T*, int, T*, int);

// Checks the descriptor and picks the kernel. own[triangle][diag] are the
// kernels of the matrix's own storage, other[...] those of the other storage
// (used for the transpose: lower in one storage is upper in the other).
template <class T>
void solveEntry(int transa, int m, int n, int unitd, const T* dv, T alpha, const int* descra,
                const T* val, const int* indx, const int* pntr, const T* b, int ldb, T beta,
                T* c, int ldc, const SolveKernel<T> own[2][2], const SolveKernel<T> other[2][2]) {
  if (descra[0] != 0) fail("Must have general matrix");
  if (beta != 0) fail("beta != 0 not implemented");
  if (transa != 0 && transa != 1 && transa != 2) fail("Bad transa");
  if (descra[1] != 1 && descra[1] != 2) fail("Bad descra[1]");
  if (descra[2] != 0 && descra[2] != 1) fail("Bad descra[2]");
  const int lower = descra[1] == 1 ? 0 : 1;  // 0 lower, 1 upper
  const int unit = descra[2];                // 0 stored diagonal, 1 unit
  SolveKernel<T> kernel = transa == 0 ? own[lower][unit] : other[1 - lower][unit];
  kernel(m, n, unitd, dv, alpha, val, indx, pntr, b, ldb, c, ldc);
}

const SolveKernel<double> kRowDouble[2][2] = {
    {CompRow_LowerDiagSolve_double, CompRow_LowerUnitSolve_double},
    {CompRow_UpperDiagSolve_double, CompRow_UpperUnitSolve_double}};
const SolveKernel<double> kColDouble[2][2] = {
    {CompCol_LowerDiagSolve_double, CompCol_LowerUnitSolve_double},
    {CompCol_UpperDiagSolve_double, CompCol_UpperUnitSolve_double}};
const SolveKernel<float> kRowFloat[2][2] = {
    {CompRow_LowerDiagSolve_float, CompRow_LowerUnitSolve_float},
    {CompRow_UpperDiagSolve_float, CompRow_UpperUnitSolve_float}};
const SolveKernel<float> kColFloat[2][2] = {
    {CompCol_LowerDiagSolve_float, CompCol_LowerUnitSolve_float},
    {CompCol_UpperDiagSolve_float, CompCol_UpperUnitSolve_float}};

}  // namespace

extern "C" {

void scscsm_(const int& transa, const int& m, const int& n, const int& unitd, const float* dv,
             const float& alpha, const int* descra, const float* val, const int* indx,
             const int* pntr, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float*, const int&) {
  solveEntry<float>(transa, m, n, unitd, dv, alpha, descra, val, indx, pntr, b, ldb, beta, c, ldc,
                    kColFloat, kRowFloat);
}

void dcscsm_(const int& transa, const int& m, const int& n, const int& unitd, const double* dv,
             const double& alpha, const int* descra, const double* val, const int* indx,
             const int* pntr, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double*, const int&) {
  solveEntry<double>(transa, m, n, unitd, dv, alpha, descra, val, indx, pntr, b, ldb, beta, c,
                     ldc, kColDouble, kRowDouble);
}

void scsrsm_(const int& transa, const int& m, const int& n, const int& unitd, const float* dv,
             const float& alpha, const int* descra, const float* val, const int* indx,
             const int* pntr, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float*, const int&) {
  solveEntry<float>(transa, m, n, unitd, dv, alpha, descra, val, indx, pntr, b, ldb, beta, c, ldc,
                    kRowFloat, kColFloat);
}

void dcsrsm_(const int& transa, const int& m, const int& n, const int& unitd, const double* dv,
             const double& alpha, const int* descra, const double* val, const int* indx,
             const int* pntr, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double*, const int&) {
  solveEntry<double>(transa, m, n, unitd, dv, alpha, descra, val, indx, pntr, b, ldb, beta, c,
                     ldc, kRowDouble, kColDouble);
}

}  // extern "C"
