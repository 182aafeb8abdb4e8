// Views of the matrix and factor arrays, the interleaving test and the
// backward sweep of the raw-array kernels.
#include "sparse_sweeps.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <vector>

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
    : lower(M.lower()), upper(M.upper()), split(interleave ? interleaveSplit(lower, upper) : 0),
      strip(split > 0 ? backwardStrip(upper, split) : 0) {}

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

int backwardStrip(const CsrArrays& U, int h) {
  if (h <= 0 || 2 * h != U.n) return 0;
  // The candidate: the largest, over three consecutive middle rows, of the
  // nearest distance beyond 1 to a first-half column (one of the three may
  // sit at an image border, where a wrap partner is nearer).
  int w = 0;
  for (int k = h / 2; k < h / 2 + 3 && k < h; ++k) {
    int nearest = 0;
    for (int e = U.ptr[k] + 1; e < U.ptr[k + 1]; ++e) {
      const int d = U.col[e] - k;
      if (d > 1 && U.col[e] < h && (nearest == 0 || d < nearest)) nearest = d;
    }
    w = std::max(w, nearest);
  }
  if (w < 2 || 2 * w > h) return 0;
  // Run the order: every unknown a row reads (a column beyond the row) must
  // be solved already; an entry in the row's own column reads the
  // right-hand side, as in the plain order.
  std::vector<char> solved(static_cast<std::size_t>(U.n), 0);
  bool valid = true;
  backwardOrder(U.n, h, w, [&](int k) {
    for (int e = U.ptr[k] + 1; e < U.ptr[k + 1]; ++e)
      if (U.col[e] > k && !solved[U.col[e]]) valid = false;
    solved[k] = 1;
  });
  return valid ? w : 0;
}

void backwardSweep(const IluSweeps& M, double* t) {
  const CsrArrays& U = M.upper;
  backwardOrder(U.n, M.split, M.strip,
                [&](int k) { t[k] = sweep_detail::upperRow(U, t, k, t[k]); });
}

void iluSolve(const IluSweeps& M, const double* x, double* y) {
  forwardSweep(M, y, [x](int k) { return x[k]; });
  backwardSweep(M, y);
}
