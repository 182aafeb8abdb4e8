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
// loop step, so the two chains of dependent operations overlap; every row
// still reads exactly the values it reads in the plain order.
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

  // With interleave true, split is the largest order-preserving one the
  // pattern allows (interleaveSplit); with false, the plain order is used.
  explicit IluSweeps(const CompRow_ILUPreconditioner_double& M, bool interleave = true);
};

// h = n / 2 when the sweeps may take rows k and h + k together: n even and
// at least 2, every L entry of a second-half row h + k that lies in the
// first half has a column of at most k, and every U entry (after the
// diagonal) of a first-half row k that lies in the second half has a column
// of at least h + k. Otherwise 0.
int interleaveSplit(const CsrArrays& lower, const CsrArrays& upper);

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

// y = U^-1 L^-1 x (n elements each, y not overlapping x): the
// preconditioner's solve on caller-owned storage.
void iluSolve(const IluSweeps& M, const double* x, double* y);
