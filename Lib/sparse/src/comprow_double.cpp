// Compressed-row matrix: construction and conversions, element lookup,
// products A x and A^T x through dcsrmm_, printing.
#include "comprow_double.h"

#include <cstdlib>
#include <iomanip>
#include <iostream>

#include "spblas.h"

CompRow_Mat_double::CompRow_Mat_double()
    : val_(0), rowptr_(0), colind_(0), base_(0), nz_(0), dim_{0, 0} {}

CompRow_Mat_double::CompRow_Mat_double(const CompRow_Mat_double& S)
    : val_(S.val_), rowptr_(S.rowptr_), colind_(S.colind_), base_(S.base_), nz_(S.nz_),
      dim_{S.dim_[0], S.dim_[1]} {}

CompRow_Mat_double::CompRow_Mat_double(int M, int N, int nz, double* val, int* r, int* c,
                                       int base)
    : val_(val, nz), rowptr_(r, M + 1), colind_(c, nz), base_(base), nz_(nz), dim_{M, N} {}

CompRow_Mat_double::CompRow_Mat_double(int M, int N, int nz, double* val, int* r, int* c,
                                       int base, MV_Vector_::ref_type view)
    : val_(val, nz, view), rowptr_(r, M + 1, view), colind_(c, nz, view), base_(base), nz_(nz),
      dim_{M, N} {}

CompRow_Mat_double::CompRow_Mat_double(int M, int N, int nz, const MV_Vector_double& val,
                                       const MV_Vector_int& r, const MV_Vector_int& c, int base)
    : val_(val), rowptr_(r), colind_(c), base_(base), nz_(nz), dim_{M, N} {}

namespace {

// Row starts of an M-row matrix whose nz entries have the row indices
// row(0..nz-1) (counting sort), written into rowptr (M + 1 elements).
template <class RowOf>
void countRows(int M, int nz, RowOf row, MV_Vector_int& rowptr) {
  MV_Vector_int tally(M + 1, 0);
  for (int e = 0; e < nz; e++) tally(row(e))++;
  rowptr(0) = 0;
  for (int r = 0; r < M; r++) rowptr(r + 1) = rowptr(r) + tally(r);
}

}  // namespace

CompRow_Mat_double::CompRow_Mat_double(const CompCol_Mat_double& C)
    : val_(C.NumNonzeros()), rowptr_(C.dim(0) + 1), colind_(C.NumNonzeros()), base_(C.base()),
      nz_(C.NumNonzeros()), dim_{C.dim(0), C.dim(1)} {
  countRows(dim_[0], nz_, [&C](int e) { return C.row_ind(e); }, rowptr_);
  MV_Vector_int tally = rowptr_;  // next free slot of each row
  int e = 0;
  for (int i = 1; i <= C.dim(1); i++) {
    for (; e < C.col_ptr(i); e++) {
      const int p = tally(C.row_ind(e));
      val_(p) = C.val(e);
      colind_(p) = i - 1;
      tally(C.row_ind(e))++;
    }
  }
}

CompRow_Mat_double::CompRow_Mat_double(const Coord_Mat_double& CO)
    : val_(CO.NumNonzeros()), rowptr_(CO.dim(0) + 1), colind_(CO.NumNonzeros()),
      base_(CO.base()), nz_(CO.NumNonzeros()), dim_{CO.dim(0), CO.dim(1)} {
  countRows(dim_[0], nz_, [&CO](int e) { return CO.row_ind(e); }, rowptr_);
  MV_Vector_int tally = rowptr_;
  for (int e = 0; e < nz_; e++) {
    const int p = tally(CO.row_ind(e));
    val_(p) = CO.val(e);
    colind_(p) = CO.col_ind(e);
    tally(CO.row_ind(e))++;
  }
}

CompRow_Mat_double::~CompRow_Mat_double() {
  // Members are destroyed in reverse order: colind_, rowptr_, val_.
}

CompRow_Mat_double& CompRow_Mat_double::operator=(const CompRow_Mat_double& R) {
  dim_[0] = R.dim_[0];
  dim_[1] = R.dim_[1];
  base_ = R.base_;
  nz_ = R.nz_;
  val_ = R.val_;
  rowptr_ = R.rowptr_;
  colind_ = R.colind_;
  return *this;
}

CompRow_Mat_double& CompRow_Mat_double::newsize(int M, int N, int nz) {
  dim_[0] = M;
  dim_[1] = N;
  nz_ = nz;
  val_.newsize(nz);
  rowptr_.newsize(M + 1);
  colind_.newsize(nz);
  return *this;
}

double CompRow_Mat_double::operator()(int i, int j) const {
  for (int t = rowptr_(i); t < rowptr_(i + 1); t++)
    if (colind_(t) == j) return val_(t);
  if (i < dim_[0] && j < dim_[1]) return 0.0;
  std::cerr << "Array accessing exception -- out of bounds." << "\n";
  return 0.0;
}

double& CompRow_Mat_double::set(int i, int j) {
  for (int t = rowptr_(i); t < rowptr_(i + 1); t++)
    if (colind_(t) == j) return val_(t);
  std::cerr << "Array element (" << i << "," << j << ") not in sparse structure -- cannot assign."
            << "\n";
  std::exit(1);
}

namespace {

[[noreturn]] void incompatible() {
  std::cerr << "Error in CompCol Matvec -- incompatible dimensions." << "\n";
  std::exit(1);
}

}  // namespace

// y = A x, y(i) = sum over row i of val * x(col). The kernel reads column
// index q at x[q] through the address of element 1 of x (formed as the
// address of element 0 plus one, valid for any non-empty x).
MV_Vector_double CompRow_Mat_double::operator*(const MV_Vector_double& x) const {
  const int M = dim_[0];
  const int N = dim_[1];
  if (x.size() != N) incompatible();
  MV_Vector_double result(M, 0.0);
  if (M == 0 || N == 0 || nz_ == 0) return result;
  const int descra[3] = {0, 0, 0};
  dcsrmm_(0, M, 1, N, 1.0, descra, &val_(0), &colind_(0), &rowptr_(0), &x(0) + 1, N, 1.0,
          &result(0), M, nullptr, M);
  return result;
}

// y = A^T x, y(j) = sum over the entries (i, j) of val * x(i).
MV_Vector_double CompRow_Mat_double::trans_mult(const MV_Vector_double& x) const {
  const int M = dim_[0];
  const int N = dim_[1];
  if (x.size() != M) incompatible();
  MV_Vector_double result(N, 0.0);
  if (M == 0 || N == 0 || nz_ == 0) return result;
  const int descra[3] = {0, 0, 0};
  dcsrmm_(1, N, 1, M, 1.0, descra, &val_(0), &colind_(0), &rowptr_(0), &x(0), M, 1.0,
          &result(0) + 1, N, nullptr, N);
  return result;
}

std::ostream& operator<<(std::ostream& os, const CompRow_Mat_double& mat) {
  const int M = mat.dim(0);
  const int N = mat.dim(1);
  const std::ios_base::fmtflags adjust = os.flags() & std::ios_base::adjustfield;
  const std::ios_base::fmtflags floatfield = os.flags() & std::ios_base::floatfield;
  const std::streamsize precision = os.precision();
  os.setf(std::ios_base::right, std::ios_base::adjustfield);
  os.setf(std::ios_base::scientific, std::ios_base::floatfield);
  os.precision(12);

  bool lastPrinted = false;
  for (int i = 0; i < M; i++) {
    for (int t = mat.row_ptr(i); t < mat.row_ptr(i + 1); t++) {
      os << std::setw(14) << i + 1 << "    " << std::setw(14) << mat.col_ind(t) + 1 << "    "
         << std::setw(20) << mat.val(t) << "\n";
      if (i + 1 == M && mat.col_ind(t) + 1 == N) lastPrinted = true;
    }
  }
  // The corner element shows the size; an empty matrix has none.
  if (!lastPrinted && M > 0 && N > 0)
    os << std::setw(14) << M << "    " << std::setw(14) << N << "    " << std::setw(20)
       << mat(M - 1, N - 1) << "\n";

  os.setf(adjust, std::ios_base::adjustfield);
  os.setf(floatfield, std::ios_base::floatfield);
  os.precision(precision);
  return os;
}
