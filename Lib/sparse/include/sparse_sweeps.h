// Raw-array kernels of the fast solve path: the row products of a
// compressed-row matrix and the forward (L) and backward (U) sweeps of its
// ILU(0) factors. Each product and forward sweep takes a hook that fuses an
// element-wise vector update into the same pass over memory.
//
// Every element is formed with the operations, in the order, of the
// reference kernels (dcsrmm_ and dcsrsm_ as the matrix and preconditioner
// classes call them): sums start from 0.0 and run over a row in storage
// order, so results agree bit for bit. The kernels take raw arrays and a
// length and do no checked element access inside; they keep no state, so
// several right-hand sides can share one matrix and one set of factors.
//
// Interleaving: the rows of a flow system come in two halves (the U block
// and the V block), whose rows chain only through the coupling of one
// pixel. When the factors' pattern allows it (see IluSweeps::split), the
// sweeps solve row k of the first half and row h + k of the second in one
// loop step, so the two chains of dependent operations overlap. The
// backward sweep, whose rows end in a division, also takes two strips of
// w rows (two image rows) of each half together, the lower strip one row
// behind the upper one (IluSweeps::strip): four chains. Every row still
// reads exactly the values it reads in the plain order.
#pragma once

#include "comprow_double.h"
#include "csr_arrays.h"
#include "ilupre_double.h"

// View of the arrays of the square matrix A (A must outlive the view).
CsrArrays csrArrays(const CompRow_Mat_double& A);

// The factors of an ILU(0) preconditioner as the sweeps use them (views:
// the preconditioner must outlive the object). Needs a square preconditioner.
struct IluSweeps {
  CsrArrays lower;  // L, strictly lower, unit diagonal not stored
  CsrArrays upper;  // U, the first entry of each row taken as its diagonal
  int split = 0;    // h = n / 2 when the halves are interleaved, 0 for the plain order
  int strip = 0;    // w when the backward sweep pairs strips of w rows, else 0

  // With interleave true, split and strip are those the pattern allows
  // (interleaveSplit, backwardStrip); with false, the plain order is used.
  explicit IluSweeps(const CompRow_ILUPreconditioner_double& M, bool interleave = true);
};

// h = n / 2 when the sweeps may take rows k and h + k together: n even and
// at least 2, every L entry of a second-half row h + k that lies in the
// first half has a column of at most k, and every U entry (after the
// diagonal) of a first-half row k that lies in the second half has a column
// of at least h + k. Otherwise 0.
int interleaveSplit(const CsrArrays& lower, const CsrArrays& upper);

// For split h > 0: the strip width w of the backward order (backwardOrder)
// when every row there reads only unknowns solved before it, else 0. The
// width tried is the distance from a row in the middle of the first half to
// its nearest U entry beyond the next row (the row below in an image).
int backwardStrip(const CsrArrays& upper, int h);

// Calls visit(k) once for every row k of an n-row system, in the order of
// the backward sweep: with h = 0, k = n-1 down to 0; otherwise rows h + k
// and k together, k descending, and with w > 0, from the top of each half,
// blocks of two strips of w rows, [lo, lo + w) and [lo + w, lo + 2w),
// stepped together from their last rows, the lower strip one row behind:
// step s visits h + lo + w + s, h + lo + s + 1, lo + w + s, lo + s + 1.
// The rows below the last whole block follow in the halves' order.
template <class Visit>
inline void backwardOrder(int n, int h, int w, Visit&& visit) {
  if (h == 0) {
    for (int k = n - 1; k >= 0; --k) visit(k);
    return;
  }
  int top = h;
  if (w > 1) {
    for (; top >= 2 * w; top -= 2 * w) {
      const int lo = top - 2 * w, hi = lo + w;
      visit(h + hi + w - 1);
      visit(hi + w - 1);
      for (int s = w - 2; s >= 0; --s) {
        visit(h + hi + s);
        visit(h + lo + s + 1);
        visit(hi + s);
        visit(lo + s + 1);
      }
      visit(h + lo);
      visit(lo);
    }
  }
  for (int k = top - 1; k >= 0; --k) {
    visit(h + k);
    visit(k);
  }
}

namespace sweep_detail {

// b - sum over row k of L of l * t[col]: unknown k of the unit-lower solve.
inline double lowerRow(const CsrArrays& L, const double* t, int k, double b) {
  double s = 0.0;
  for (int e = L.ptr[k]; e < L.ptr[k + 1]; ++e) s += L.val[e] * t[L.col[e]];
  return b - s;
}

// (b - sum over row k of U after its first entry of u * t[col]) / first
// entry (0.0 for an empty row): unknown k of the upper solve.
inline double upperRow(const CsrArrays& U, const double* t, int k, double b) {
  const int first = U.ptr[k], end = U.ptr[k + 1];
  double s = 0.0;
  for (int e = first + 1; e < end; ++e) s += U.val[e] * t[U.col[e]];
  return (b - s) / (first < end ? U.val[first] : 0.0);
}

}  // namespace sweep_detail

// out(k, y_k) for k = 0 .. n-1 in ascending order, y_k = the sum over the
// stored entries of row k of val * x[col], accumulated from 0.0 in storage
// order: the elements of A x as the matrix class computes them.
template <class Out>
inline void rowProducts(const CsrArrays& A, const double* x, Out&& out) {
  if (A.n <= 0) return;
  const int base = A.ptr[0];
  for (int k = 0; k < A.n; ++k) {
    double s = 0.0;
    for (int e = A.ptr[k] - base; e < A.ptr[k + 1] - base; ++e) s += A.val[e] * x[A.col[e]];
    out(k, s);
  }
}

// t = L^-1 b with b(k) = rhs(k): rhs is called once per row, just before
// t[k] is written (rows ascending within each half), and may update other
// vectors at position k. t must not be read by rhs.
template <class Rhs>
inline void forwardSweep(const IluSweeps& M, double* t, Rhs&& rhs) {
  const CsrArrays& L = M.lower;
  const int h = M.split;
  if (h > 0) {
    for (int k = 0; k < h; ++k) {
      t[k] = sweep_detail::lowerRow(L, t, k, rhs(k));
      t[h + k] = sweep_detail::lowerRow(L, t, h + k, rhs(h + k));
    }
  } else {
    for (int k = 0; k < L.n; ++k) t[k] = sweep_detail::lowerRow(L, t, k, rhs(k));
  }
}

// t = U^-1 t in place.
void backwardSweep(const IluSweeps& M, double* t);

// Batched forms: W right-hand sides of one system in one pass over the
// matrix or factor arrays. Lane j reads and writes only its own vectors
// (x[j], t[j]); each of its elements is formed exactly as the
// single-vector kernel above forms it, rows in the same order, so lane j
// ends with the bits of the single-vector kernel applied to its vectors.
// Each entry of a row is loaded once for the W lanes, whose chains of
// dependent operations overlap.

// out(k, s) for k ascending, s[j] = row k of A times x[j] (j < W).
template <int W, class Out>
inline void rowProductsBatch(const CsrArrays& A, const double* const* x, Out&& out) {
  if (A.n <= 0) return;
  const int base = A.ptr[0];
  for (int k = 0; k < A.n; ++k) {
    double s[W];
#pragma GCC unroll 8
    for (int j = 0; j < W; ++j) s[j] = 0.0;
    for (int e = A.ptr[k] - base; e < A.ptr[k + 1] - base; ++e) {
      const double v = A.val[e];
      const int c = A.col[e];
#pragma GCC unroll 8
      for (int j = 0; j < W; ++j) s[j] += v * x[j][c];
    }
    out(k, static_cast<const double*>(s));
  }
}

namespace sweep_detail {

// Unknown k of the unit-lower solve for W lanes: t[j][k] = b[j] - row k of
// L times t[j].
template <int W>
inline void lowerRows(const CsrArrays& L, double* const* t, int k, const double* b) {
  double s[W];
#pragma GCC unroll 8
  for (int j = 0; j < W; ++j) s[j] = 0.0;
  for (int e = L.ptr[k]; e < L.ptr[k + 1]; ++e) {
    const double v = L.val[e];
    const int c = L.col[e];
#pragma GCC unroll 8
    for (int j = 0; j < W; ++j) s[j] += v * t[j][c];
  }
#pragma GCC unroll 8
  for (int j = 0; j < W; ++j) t[j][k] = b[j] - s[j];
}

// Unknown k of the upper solve for W lanes, in place (upperRow per lane).
template <int W>
inline void upperRows(const CsrArrays& U, double* const* t, int k) {
  const int first = U.ptr[k], end = U.ptr[k + 1];
  double s[W];
#pragma GCC unroll 8
  for (int j = 0; j < W; ++j) s[j] = 0.0;
  for (int e = first + 1; e < end; ++e) {
    const double v = U.val[e];
    const int c = U.col[e];
#pragma GCC unroll 8
    for (int j = 0; j < W; ++j) s[j] += v * t[j][c];
  }
  const double d = first < end ? U.val[first] : 0.0;
#pragma GCC unroll 8
  for (int j = 0; j < W; ++j) t[j][k] = (t[j][k] - s[j]) / d;
}

}  // namespace sweep_detail

// t[j] = L^-1 b_j for j < W; rhs(k, b) fills b[0..W-1] with the lanes'
// right-hand sides at row k, called once per row just before the lanes'
// t[j][k] are written (in the order of forwardSweep), and may update other
// vectors at position k. rhs must not read t.
template <int W, class Rhs>
inline void forwardSweepBatch(const IluSweeps& M, double* const* t, Rhs&& rhs) {
  const CsrArrays& L = M.lower;
  const int h = M.split;
  double b[W];
  if (h > 0) {
    for (int k = 0; k < h; ++k) {
      rhs(k, b);
      sweep_detail::lowerRows<W>(L, t, k, b);
      rhs(h + k, b);
      sweep_detail::lowerRows<W>(L, t, h + k, b);
    }
  } else {
    for (int k = 0; k < L.n; ++k) {
      rhs(k, b);
      sweep_detail::lowerRows<W>(L, t, k, b);
    }
  }
}

// t[j] = U^-1 t[j] in place for j < W, rows in the order of backwardSweep.
template <int W>
inline void backwardSweepBatch(const IluSweeps& M, double* const* t) {
  const CsrArrays& U = M.upper;
  backwardOrder(U.n, M.split, M.strip,
                [&](int k) { sweep_detail::upperRows<W>(U, t, k); });
}

// y = U^-1 L^-1 x (n elements each, y not overlapping x): the
// preconditioner's solve on caller-owned storage.
void iluSolve(const IluSweeps& M, const double* x, double* y);
