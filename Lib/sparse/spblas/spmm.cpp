// Sparse matrix times dense block, C <- alpha op(A) B + beta C, for
// coordinate, compressed-column and compressed-row storage, float and double.
#include <cstdlib>
#include <iostream>

#include "spblas.h"

namespace {

[[noreturn]] void notGeneral() {
  std::cerr << "Must have general matrix" << "\n";
  std::exit(1);
}

// C(i, j) += alpha v B(q - 1, j) over the entries of row i. B is addressed
// through b[q - 1 + ldb j], never through a pointer formed before b.
template <class T>
void compRowMatVec(int m, int n, const T& alpha, const T* val, const int* indx, const int* pntr,
                   const T* b, int ldb, T* c, int ldc) {
  if (alpha == 0) return;
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* cj = c + static_cast<long>(ldc) * j;
    for (int i = 0; i < m; i++) {
      T sum = cj[i];
      for (int t = pntr[i] - base; t < pntr[i + 1] - base; t++)
        sum += alpha * val[t] * bj[indx[t] - 1];
      cj[i] = sum;
    }
  }
}

// C(q - 1, j) += alpha v B(l, j) over the entries of column l.
template <class T>
void compColMatVec(int n, int k, const T& alpha, const T* val, const int* indx, const int* pntr,
                   const T* b, int ldb, T* c, int ldc) {
  if (alpha == 0) return;
  const int base = pntr[0];
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* cj = c + static_cast<long>(ldc) * j;
    for (int l = 0; l < k; l++) {
      const T bl = bj[l];
      for (int t = pntr[l] - base; t < pntr[l + 1] - base; t++)
        cj[indx[t] - 1] += alpha * val[t] * bl;
    }
  }
}

// C(indx[t] - 1, j) += alpha val[t] B(jndx[t] - 1, j).
template <class T>
void coordMatVec(int n, const T& alpha, const T* val, const int* indx, const int* jndx, int nnz,
                 const T* b, int ldb, T* c, int ldc) {
  for (int j = 0; j < n; j++) {
    const T* bj = b + static_cast<long>(ldb) * j;
    T* cj = c + static_cast<long>(ldc) * j;
    for (int t = 0; t < nnz; t++) cj[indx[t] - 1] += alpha * val[t] * bj[jndx[t] - 1];
  }
}

}  // namespace

// ---- Kernels.

void CompRowMatVec_double(int m, int n, int, const double& alpha, const double* val,
                          const int* indx, const int* pntr, const double* b, int ldb, double* c,
                          int ldc) {
  compRowMatVec(m, n, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void CompRowMatVec_float(int m, int n, int, const float& alpha, const float* val,
                         const int* indx, const int* pntr, const float* b, int ldb, float* c,
                         int ldc) {
  compRowMatVec(m, n, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void CompColMatVec_double(int, int n, int k, const double& alpha, const double* val,
                          const int* indx, const int* pntr, const double* b, int ldb, double* c,
                          int ldc) {
  compColMatVec(n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void CompColMatVec_float(int, int n, int k, const float& alpha, const float* val,
                         const int* indx, const int* pntr, const float* b, int ldb, float* c,
                         int ldc) {
  compColMatVec(n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void CoordMatVec_double(int, int n, int, const double& alpha, const double* val,
                        const int* indx, const int* jndx, const int& nnz, const double* b,
                        int ldb, double* c, int ldc) {
  coordMatVec(n, alpha, val, indx, jndx, nnz, b, ldb, c, ldc);
}

void CoordMatVec_float(int, int n, int, const float& alpha, const float* val,
                       const int* indx, const int* jndx, const int& nnz, const float* b, int ldb,
                       float* c, int ldc) {
  coordMatVec(n, alpha, val, indx, jndx, nnz, b, ldb, c, ldc);
}

// ---- Entry points.

extern "C" {

void scoomm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* jndx,
             const int& nnz, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_float(m, n, c, ldc, beta);
  if (alpha == 0.0f) return;
  if (transa == 1 || transa == 2)
    CoordMatVec_float(m, n, k, alpha, val, jndx, indx, nnz, b, ldb, c, ldc);
  else
    CoordMatVec_float(m, n, k, alpha, val, indx, jndx, nnz, b, ldb, c, ldc);
}

void dcoomm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* jndx,
             const int& nnz, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_double(m, n, c, ldc, beta);
  if (alpha == 0.0) return;
  if (transa == 1 || transa == 2)
    CoordMatVec_double(m, n, k, alpha, val, jndx, indx, nnz, b, ldb, c, ldc);
  else
    CoordMatVec_double(m, n, k, alpha, val, indx, jndx, nnz, b, ldb, c, ldc);
}

void scscmm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* pntr,
             const float* b, const int& ldb, const float& beta, float* c, const int& ldc,
             float*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_float(m, n, c, ldc, beta);
  if (transa == 1 || transa == 2)
    CompRowMatVec_float(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
  else
    CompColMatVec_float(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void dcscmm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* pntr,
             const double* b, const int& ldb, const double& beta, double* c, const int& ldc,
             double*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_double(m, n, c, ldc, beta);
  if (transa == 1 || transa == 2)
    CompRowMatVec_double(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
  else
    CompColMatVec_double(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void scsrmm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* pntr,
             const float* b, const int& ldb, const float& beta, float* c, const int& ldc,
             float*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_float(m, n, c, ldc, beta);
  if (transa == 1 || transa == 2)
    CompColMatVec_float(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
  else
    CompRowMatVec_float(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

void dcsrmm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* pntr,
             const double* b, const int& ldb, const double& beta, double* c, const int& ldc,
             double*, const int&) {
  if (descra[0] != 0) notGeneral();
  ScaleRectangularArray_double(m, n, c, ldc, beta);
  if (transa == 1 || transa == 2)
    CompColMatVec_double(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
  else
    CompRowMatVec_double(m, n, k, alpha, val, indx, pntr, b, ldb, c, ldc);
}

}  // extern "C"
