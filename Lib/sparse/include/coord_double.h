// Sparse matrix as a coordinate list (row, column, value), in any order: a
// source of the compressed-row conversion. Owns copies of its arrays.
#pragma once

#include "mvvd.h"
#include "mvvi.h"

class Coord_Mat_double {
 private:
  MV_Vector_double val_;  // nz_ stored values
  MV_Vector_int rowind_;  // row of each value
  MV_Vector_int colind_;  // column of each value
  int base_;              // index base given at construction (stored only)
  int nz_;                // number of stored entries
  int dim_[2];            // rows, columns

 public:
  // Empty 0 x 0 matrix.
  Coord_Mat_double();
  Coord_Mat_double(const Coord_Mat_double& S);
  // M x N matrix from copies of val, the rows r and the columns c, nz entries
  // each; the caller keeps its arrays.
  Coord_Mat_double(int M, int N, int nz, double* val, int* r, int* c, int base);
  Coord_Mat_double& operator=(const Coord_Mat_double& C);

  // Read accessors (checked element access of the vectors).
  const double& val(int i) const { return val_(i); }
  const int& row_ind(int i) const { return rowind_(i); }
  const int& col_ind(int i) const { return colind_(i); }
  int dim(int i) const { return dim_[i]; }
  int NumNonzeros() const { return nz_; }
  int base() const { return base_; }
};
