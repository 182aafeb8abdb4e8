// Sparse matrix in compressed columns: a source of the compressed-row
// conversion and of the column ILU(0) preconditioner. Owns copies of its
// arrays.
#pragma once

#include "mvvd.h"
#include "mvvi.h"

class CompCol_Mat_double {
 private:
  MV_Vector_double val_;  // nz_ stored values, column after column
  MV_Vector_int rowind_;  // row index of each stored value (nz_)
  MV_Vector_int colptr_;  // dim_[1] + 1 column starts
  int base_;              // index base given at construction (stored only)
  int nz_;                // number of stored entries
  int dim_[2];            // rows, columns

 public:
  // Empty 0 x 0 matrix.
  CompCol_Mat_double();
  CompCol_Mat_double(const CompCol_Mat_double& S);
  // M x N matrix from copies of val[0..nz-1], the row indices r[0..nz-1] and
  // the column starts c[0..N]; the caller keeps its arrays.
  CompCol_Mat_double(int M, int N, int nz, double* val, int* r, int* c, int base);
  CompCol_Mat_double& operator=(const CompCol_Mat_double& C);

  // Read accessors (checked element access of the vectors).
  const double& val(int i) const { return val_(i); }
  const int& row_ind(int i) const { return rowind_(i); }
  const int& col_ptr(int i) const { return colptr_(i); }
  int dim(int i) const { return dim_[i]; }
  int NumNonzeros() const { return nz_; }
  int base() const { return base_; }
};
