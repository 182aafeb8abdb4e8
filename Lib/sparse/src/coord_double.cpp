// Coordinate-list matrix: construction and copies.
#include "coord_double.h"

Coord_Mat_double::Coord_Mat_double()
    : val_(0), rowind_(0), colind_(0), base_(0), nz_(0), dim_{0, 0} {}

Coord_Mat_double::Coord_Mat_double(const Coord_Mat_double& S)
    : val_(S.val_), rowind_(S.rowind_), colind_(S.colind_), base_(S.base_), nz_(S.nz_),
      dim_{S.dim_[0], S.dim_[1]} {}

Coord_Mat_double::Coord_Mat_double(int M, int N, int nz, double* val, int* r, int* c, int base)
    : val_(val, nz), rowind_(r, nz), colind_(c, nz), base_(base), nz_(nz), dim_{M, N} {}

Coord_Mat_double& Coord_Mat_double::operator=(const Coord_Mat_double& C) {
  dim_[0] = C.dim_[0];
  dim_[1] = C.dim_[1];
  base_ = C.base_;
  nz_ = C.nz_;
  val_ = C.val_;
  rowind_ = C.rowind_;
  colind_ = C.colind_;
  return *this;
}
