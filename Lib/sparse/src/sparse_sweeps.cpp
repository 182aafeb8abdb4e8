// Views of the matrix and factor arrays, the interleaving test and the
// backward sweep of the raw-array kernels.
#include "sparse_sweeps.h"

#include <cassert>

CsrArrays csrArrays(const CompRow_Mat_double& A) {
  assert(A.dim(0) == A.dim(1));
  CsrArrays a;
  a.n = A.dim(0);
  if (a.n == 0) return a;
  a.ptr = &A.row_ptr(0);
  if (A.row_ptr(a.n) > A.row_ptr(0)) {
    a.val = &A.val(0);
    a.col = &A.col_ind(0);
  }
  return a;
}

IluSweeps::IluSweeps(const CompRow_ILUPreconditioner_double& M, bool interleave)
    : lower(M.lower()), upper(M.upper()), split(interleave ? interleaveSplit(lower, upper) : 0) {}

int interleaveSplit(const CsrArrays& L, const CsrArrays& U) {
  const int n = L.n;
  if (n < 2 || n % 2 != 0 || U.n != n) return 0;
  const int h = n / 2;
  // Forward: row h + k is solved right after row k, so the first-half
  // unknowns it reads must be among 0 .. k.
  for (int k = 0; k < h; ++k)
    for (int e = L.ptr[h + k]; e < L.ptr[h + k + 1]; ++e)
      if (L.col[e] < h && L.col[e] > k) return 0;
  // Backward: row k is solved right after row h + k, so the second-half
  // unknowns it reads must be among h + k .. n - 1.
  for (int k = 0; k < h; ++k)
    for (int e = U.ptr[k] + 1; e < U.ptr[k + 1]; ++e)
      if (U.col[e] >= h && U.col[e] < h + k) return 0;
  return h;
}

void backwardSweep(const IluSweeps& M, double* t) {
  const CsrArrays& U = M.upper;
  const int h = M.split;
  if (h > 0) {
    for (int k = h - 1; k >= 0; --k) {
      t[h + k] = sweep_detail::upperRow(U, t, h + k, t[h + k]);
      t[k] = sweep_detail::upperRow(U, t, k, t[k]);
    }
  } else {
    for (int k = U.n - 1; k >= 0; --k) t[k] = sweep_detail::upperRow(U, t, k, t[k]);
  }
}

void iluSolve(const IluSweeps& M, const double* x, double* y) {
  forwardSweep(M, y, [x](int k) { return x[k]; });
  backwardSweep(M, y);
}
