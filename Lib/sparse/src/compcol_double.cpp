// Compressed-column matrix: construction and copies.
#include "compcol_double.h"

CompCol_Mat_double::CompCol_Mat_double()
    : val_(0), rowind_(0), colptr_(0), base_(0), nz_(0), dim_{0, 0} {}

CompCol_Mat_double::CompCol_Mat_double(const CompCol_Mat_double& S)
    : val_(S.val_), rowind_(S.rowind_), colptr_(S.colptr_), base_(S.base_), nz_(S.nz_),
      dim_{S.dim_[0], S.dim_[1]} {}

CompCol_Mat_double::CompCol_Mat_double(int M, int N, int nz, double* val, int* r, int* c,
                                       int base)
    : val_(val, nz), rowind_(r, nz), colptr_(c, N + 1), base_(base), nz_(nz), dim_{M, N} {}

CompCol_Mat_double& CompCol_Mat_double::operator=(const CompCol_Mat_double& C) {
  dim_[0] = C.dim_[0];
  dim_[1] = C.dim_[1];
  base_ = C.base_;
  nz_ = C.nz_;
  val_ = C.val_;
  rowind_ = C.rowind_;
  colptr_ = C.colptr_;
  return *this;
}
