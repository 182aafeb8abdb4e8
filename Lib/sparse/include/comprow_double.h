// Sparse matrix in compressed rows, the matrix of the flow systems. Owns
// copies of its arrays, or views the caller's; row starts and column
// indices are read as 0-based.
// Products go through dcsrmm_.
#pragma once

#include <iosfwd>

#include "compcol_double.h"
#include "coord_double.h"
#include "mvvd.h"
#include "mvvi.h"

class CompRow_Mat_double {
 private:
  MV_Vector_double val_;  // nz_ stored values, row after row
  MV_Vector_int rowptr_;  // dim_[0] + 1 row starts: row i is rowptr_(i)..rowptr_(i+1)-1
  MV_Vector_int colind_;  // column index of each stored value (nz_)
  int base_;              // index base given at construction (stored, never read)
  int nz_;                // number of stored entries
  int dim_[2];            // rows, columns

 public:
  // Empty 0 x 0 matrix.
  CompRow_Mat_double();
  // Deep copy.
  CompRow_Mat_double(const CompRow_Mat_double& S);
  // M x N matrix from copies of val[0..nz-1], the row starts r[0..M] and the
  // column indices c[0..nz-1]; the caller keeps and frees its arrays.
  // Nothing is validated.
  CompRow_Mat_double(int M, int N, int nz, double* val, int* r, int* c, int base);
  // The same without copies: views of val, r and c, which the matrix only
  // reads (products, factorisation) and which must outlive it.
  CompRow_Mat_double(int M, int N, int nz, double* val, int* r, int* c, int base,
                     MV_Vector_::ref_type);
  // The same from vectors, copied as they are.
  CompRow_Mat_double(int M, int N, int nz, const MV_Vector_double& val, const MV_Vector_int& r,
                     const MV_Vector_int& c, int base);
  // Conversions (counting sort by row); the sources are read as 0-based.
  // From compressed columns: entries of each row come out in column order.
  explicit CompRow_Mat_double(const CompCol_Mat_double& C);
  // From a coordinate list: entries of each row keep their source order.
  explicit CompRow_Mat_double(const Coord_Mat_double& CO);
  ~CompRow_Mat_double();

  // Deep copy of R.
  CompRow_Mat_double& operator=(const CompRow_Mat_double& R);
  // Sets the dimensions and resizes the arrays (contents not initialised).
  CompRow_Mat_double& newsize(int M, int N, int nz);

  // Read accessors (checked element access of the vectors).
  const double& val(int i) const { return val_(i); }
  const int& row_ptr(int i) const { return rowptr_(i); }
  const int& col_ind(int i) const { return colind_(i); }
  int dim(int i) const { return dim_[i]; }

  // Element (i, j): the first stored entry of row i in column j, else 0.0.
  // A column index of dim(1) or more writes "Array accessing exception --
  // out of bounds." to standard error and gives 0.0.
  double operator()(int i, int j) const;
  // The stored value of element (i, j) for writing; an element outside the
  // structure ends the process (exit status 1).
  double& set(int i, int j);

  // New vector A x; x.size() must equal dim(1) (else exit status 1).
  MV_Vector_double operator*(const MV_Vector_double& x) const;
  // New vector A^T x; x.size() must equal dim(0) (else exit status 1).
  MV_Vector_double trans_mult(const MV_Vector_double& x) const;
};

// One line per stored entry: 1-based row and column (width 14), value
// (width 20, scientific, precision 12); then, unless an entry (M, N) was
// printed, a last line for element (M, N). The stream's adjustment, float
// format and precision are restored.
std::ostream& operator<<(std::ostream& os, const CompRow_Mat_double& mat);
