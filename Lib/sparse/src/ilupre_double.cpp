// ILU(0) preconditioners in compressed rows and compressed columns: split of
// A into L and U, sort of each factor row (column), elimination restricted
// to A's pattern, triangular solves, determinant of U.
#include "ilupre_double.h"

#include <cmath>

#include "qsort_double.h"
#include "spblas.h"

namespace {

// Address of element 0, or null for an empty vector (the kernels then never
// read through it).
const double* data(const MV_Vector_double& v) { return v.size() > 0 ? &v(0) : nullptr; }
double* data(MV_Vector_double& v) { return v.size() > 0 ? &v(0) : nullptr; }
const int* data(const MV_Vector_int& v) { return v.size() > 0 ? &v(0) : nullptr; }
int* data(MV_Vector_int& v) { return v.size() > 0 ? &v(0) : nullptr; }

// True when v[begin .. end-1] is strictly ascending (an empty or one-entry
// range is; v is then not read).
bool strictlyAscending(const int* v, int begin, int end) {
  for (int t = begin + 1; t < end; t++)
    if (!(v[t - 1] < v[t])) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Compressed rows.

CompRow_ILUPreconditioner_double::CompRow_ILUPreconditioner_double(const CompRow_Mat_double& A)
    : l_val_(0), l_rowptr_(A.dim(1) + 1), l_colind_(0), l_nz_(0), u_val_(0),
      u_rowptr_(A.dim(1) + 1), u_colind_(0), u_nz_(0), dim_{A.dim(0), A.dim(1)} {
  const int rows = dim_[1];  // the split walks dim(1) rows (square matrices)

  // The entries of A are read through raw pointers below: the checked
  // access to the first and the last entry of every non-empty row first
  // ends the process, as a read out of range would, on rows outside A's
  // arrays.
  const double* av = nullptr;
  const int* ac = nullptr;
  const int* ap = rows > 0 ? &A.row_ptr(0) : nullptr;
  for (int i = 0; i < rows; i++) {
    (void)A.row_ptr(i + 1);
    if (ap[i] < ap[i + 1]) {
      (void)A.val(ap[i]), (void)A.val(ap[i + 1] - 1);
      (void)A.col_ind(ap[i]), (void)A.col_ind(ap[i + 1] - 1);
      if (!av) av = &A.val(0), ac = &A.col_ind(0);
    }
  }

  // Count the entries of each factor.
  for (int i = 0; i < rows; i++)
    for (int t = ap[i]; t < ap[i + 1]; t++) {
      if (ac[t] >= i)
        u_nz_++;
      else
        l_nz_++;
    }
  l_val_.newsize(l_nz_);
  l_colind_.newsize(l_nz_);
  u_val_.newsize(u_nz_);
  u_colind_.newsize(u_nz_);

  // Split: strictly lower entries to L, the others to U, in A's order.
  {
    double* lv = data(l_val_);
    int* lc = data(l_colind_);
    int* lp = &l_rowptr_(0);
    double* uv = data(u_val_);
    int* uc = data(u_colind_);
    int* up = &u_rowptr_(0);
    lp[0] = 0;
    up[0] = 0;
    int lj = 0, uj = 0;
    for (int i = 0; i < rows; i++) {
      for (int t = ap[i]; t < ap[i + 1]; t++) {
        if (ac[t] < i) {
          lv[lj] = av[t];
          lc[lj] = ac[t];
          lj++;
        } else {
          uv[uj] = av[t];
          uc[uj] = ac[t];
          uj++;
        }
      }
      lp[i + 1] = lj;
      up[i + 1] = uj;
    }
  }

  // Sort every factor row by column: the diagonal becomes U's first entry.
  // A row already strictly ascending is its own (unique) sorted order and
  // is left as it is: the sort would give it back unchanged.
  for (int i = 0; i < rows; i++) {
    if (!strictlyAscending(data(l_colind_), l_rowptr_[i], l_rowptr_[i + 1]))
      QSort(l_colind_, l_val_, l_rowptr_[i], l_rowptr_[i + 1] - l_rowptr_[i]);
    if (!strictlyAscending(data(u_colind_), u_rowptr_[i], u_rowptr_[i + 1]))
      QSort(u_colind_, u_val_, u_rowptr_[i], u_rowptr_[i + 1] - u_rowptr_[i]);
  }

  // Elimination row by row, dropping every update outside the pattern. For
  // L entry (i, k): l_ik /= u_kk (first entry of U's row k), then row k of U
  // times l_ik is subtracted from row i where row i stores the column.
  double* lv = data(l_val_);
  const int* lc = data(l_colind_);
  const int* lp = data(l_rowptr_);
  double* uv = data(u_val_);
  const int* uc = data(u_colind_);
  const int* up = data(u_rowptr_);
  for (int i = 1; i < dim_[0]; i++) {
    const int lend = lp[i + 1];
    const int uend = up[i + 1];
    for (int j = lp[i]; j < lend; j++) {
      const int k = lc[j];
      int pn = up[k];
      const int kend = up[k + 1];
      // A row of U without entries has no pivot: it acts as a zero pivot.
      const double multiplier = (lv[j] /= (pn < kend ? uv[pn] : 0.0));
      if (pn >= kend) continue;
      int qn = j + 1;
      int rn = up[i];
      for (pn++; pn < kend && uc[pn] < i; pn++) {
        while (qn < lend && lc[qn] < uc[pn]) qn++;
        if (qn < lend && lc[qn] == uc[pn]) lv[qn] -= multiplier * uv[pn];
      }
      for (; pn < kend; pn++) {
        while (rn < uend && uc[rn] < uc[pn]) rn++;
        if (rn < uend && uc[rn] == uc[pn]) uv[rn] -= multiplier * uv[pn];
      }
    }
  }
}

CompRow_ILUPreconditioner_double::~CompRow_ILUPreconditioner_double() {
  // Members are destroyed in reverse order: u_colind_ ... l_val_.
}

// y = U^-1 L^-1 x: a downward unit-lower row solve into y, then the upward
// row solve of U in place (b = y[0], c = y[1] address the same unknowns).
MV_Vector_double CompRow_ILUPreconditioner_double::solve(const MV_Vector_double& x) const {
  const int M = x.size();
  MV_Vector_double y(M);
  if (M == 0) return y;
  const int lower[3] = {0, 1, 1};
  const int upper[3] = {0, 2, 0};
  dcsrsm_(0, M, 1, 1, nullptr, 1.0, lower, data(l_val_), data(l_colind_), data(l_rowptr_), &x(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  dcsrsm_(0, M, 1, 1, nullptr, 1.0, upper, data(u_val_), data(u_colind_), data(u_rowptr_), &y(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  return y;
}

// y = (L U)^-T x = L^-T U^-T x.
MV_Vector_double CompRow_ILUPreconditioner_double::trans_solve(const MV_Vector_double& x) const {
  const int M = x.size();
  MV_Vector_double y(M);
  if (M == 0) return y;
  const int lower[3] = {0, 1, 1};
  const int upper[3] = {0, 2, 0};
  dcsrsm_(1, M, 1, 1, nullptr, 1.0, upper, data(u_val_), data(u_colind_), data(u_rowptr_), &x(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  dcsrsm_(1, M, 1, 1, nullptr, 1.0, lower, data(l_val_), data(l_colind_), data(l_rowptr_), &y(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  return y;
}

double CompRow_ILUPreconditioner_double::detLP() {
  double det = 1.0;
  for (int i = 0; i < dim_[0]; i++) {
    bool found = false;
    for (int t = u_rowptr_(i); t < u_rowptr_(i + 1); t++)
      if (u_colind_(t) == i) {
        det *= u_val_(t);
        found = true;
      }
    if (!found) det = 0.0;
  }
  return det;
}

double CompRow_ILUPreconditioner_double::logDetLP() {
  double sum = 0.0;
  for (int i = 0; i < dim_[0]; i++)
    for (int t = u_rowptr_(i); t < u_rowptr_(i + 1); t++)
      if (u_colind_(t) == i) {
        if (u_val_(t) < 0.0) u_val_(t) = -u_val_(t);
        sum += std::log(u_val_(t));
      }
  return sum;
}

CsrArrays CompRow_ILUPreconditioner_double::lower() const {
  return CsrArrays{dim_[0], data(l_val_), data(l_colind_), data(l_rowptr_)};
}

CsrArrays CompRow_ILUPreconditioner_double::upper() const {
  return CsrArrays{dim_[0], data(u_val_), data(u_colind_), data(u_rowptr_)};
}

// ---------------------------------------------------------------------------
// Compressed columns.

CompCol_ILUPreconditioner_double::CompCol_ILUPreconditioner_double(const CompCol_Mat_double& A)
    : l_val_(0), l_colptr_(A.dim(1) + 1), l_rowind_(0), l_nz_(0), u_val_(0),
      u_colptr_(A.dim(1) + 1), u_rowind_(0), u_nz_(0), dim_{A.dim(0), A.dim(1)} {
  const int cols = dim_[1];

  for (int i = 0; i < cols; i++)
    for (int t = A.col_ptr(i); t < A.col_ptr(i + 1); t++) {
      if (A.row_ind(t) > i)
        l_nz_++;
      else
        u_nz_++;
    }
  l_val_.newsize(l_nz_);
  l_rowind_.newsize(l_nz_);
  u_val_.newsize(u_nz_);
  u_rowind_.newsize(u_nz_);

  // Split: entries below the diagonal to L, the others to U.
  l_colptr_(0) = 0;
  u_colptr_(0) = 0;
  int lj = 0, uj = 0;
  for (int i = 0; i < cols; i++) {
    for (int t = A.col_ptr(i); t < A.col_ptr(i + 1); t++) {
      if (A.row_ind(t) > i) {
        l_val_(lj) = A.val(t);
        l_rowind_(lj) = A.row_ind(t);
        lj++;
      } else {
        u_val_(uj) = A.val(t);
        u_rowind_(uj) = A.row_ind(t);
        uj++;
      }
    }
    l_colptr_(i + 1) = lj;
    u_colptr_(i + 1) = uj;
  }

  // Sort every factor column by row: the diagonal becomes U's last entry.
  for (int i = 0; i < cols; i++) {
    QSort(l_rowind_, l_val_, l_colptr_[i], l_colptr_[i + 1] - l_colptr_[i]);
    QSort(u_rowind_, u_val_, u_colptr_[i], u_colptr_[i + 1] - u_colptr_[i]);
  }

  // Left-looking elimination: column i of L is divided by its pivot (last
  // entry of U's column i), then column i + 1 receives the updates of every
  // column k named by its U entries (k ascending, the diagonal excluded):
  // u_r,i+1 -= l_rk u_k,i+1 for rows r <= i + 1, l_r,i+1 -= l_rk u_k,i+1
  // below; updates outside the pattern are dropped.
  double* lv = data(l_val_);
  const int* lr = data(l_rowind_);
  const int* lp = data(l_colptr_);
  double* uv = data(u_val_);
  const int* ur = data(u_rowind_);
  const int* up = data(u_colptr_);
  for (int i = 0; i < dim_[0] - 1; i++) {
    // An empty U column has no pivot: it acts as a zero pivot.
    const double pivot = up[i] < up[i + 1] ? uv[up[i + 1] - 1] : 0.0;
    for (int j = lp[i]; j < lp[i + 1]; j++) lv[j] /= pivot;

    const int uend = up[i + 2];
    const int lend = lp[i + 2];
    for (int j = up[i + 1]; j < uend - 1; j++) {
      const int k = ur[j];
      const double multiplier = uv[j];
      const int kend = lp[k + 1];
      int pn = lp[k];
      int qn = j + 1;
      int rn = lp[i + 1];
      for (; pn < kend && lr[pn] <= i + 1; pn++) {
        while (qn < uend && ur[qn] < lr[pn]) qn++;
        if (qn < uend && ur[qn] == lr[pn]) uv[qn] -= lv[pn] * multiplier;
      }
      for (; pn < kend; pn++) {
        while (rn < lend && lr[rn] < lr[pn]) rn++;
        if (rn < lend && lr[rn] == lr[pn]) lv[rn] -= lv[pn] * multiplier;
      }
    }
  }
}

CompCol_ILUPreconditioner_double::~CompCol_ILUPreconditioner_double() {}

// y = U^-1 L^-1 x with the column kernels (the second stage in place).
MV_Vector_double CompCol_ILUPreconditioner_double::solve(const MV_Vector_double& x) const {
  const int M = x.size();
  MV_Vector_double y(M);
  if (M == 0) return y;
  const int lower[3] = {0, 1, 1};
  const int upper[3] = {0, 2, 0};
  dcscsm_(0, M, 1, 1, nullptr, 1.0, lower, data(l_val_), data(l_rowind_), data(l_colptr_), &x(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  dcscsm_(0, M, 1, 1, nullptr, 1.0, upper, data(u_val_), data(u_rowind_), data(u_colptr_), &y(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  return y;
}

// y = (L U)^-T x.
MV_Vector_double CompCol_ILUPreconditioner_double::trans_solve(const MV_Vector_double& x) const {
  const int M = x.size();
  MV_Vector_double y(M);
  if (M == 0) return y;
  const int lower[3] = {0, 1, 1};
  const int upper[3] = {0, 2, 0};
  dcscsm_(1, M, 1, 1, nullptr, 1.0, upper, data(u_val_), data(u_rowind_), data(u_colptr_), &x(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  dcscsm_(1, M, 1, 1, nullptr, 1.0, lower, data(l_val_), data(l_rowind_), data(l_colptr_), &y(0),
          M, 0.0, &y(0) + 1, M, nullptr, M);
  return y;
}
