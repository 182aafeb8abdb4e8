// Incomplete LU factorisation without fill-in, ILU(0): L (unit diagonal,
// not stored) and U keep exactly the pattern of A. Applied as the
// preconditioner M = L U of the CGS iteration; gives ln|det U|.
//
// The pivot of each elimination step is the first entry of U's row (the
// diagonal when A stores it); a missing or zero pivot is not detected and
// gives infinite or undefined values. solve/trans_solve need square systems.
#pragma once

#include "compcol_double.h"
#include "comprow_double.h"
#include "csr_arrays.h"
#include "mvvd.h"
#include "mvvi.h"
#include "qsort_double.h"  // QSort, SWAP_double, swap_int belong to this interface

class CompRow_ILUPreconditioner_double {
 private:
  MV_Vector_double l_val_;   // strictly lower factor L, values (l_nz_)
  MV_Vector_int l_rowptr_;   // row starts of L (dim(1) + 1)
  MV_Vector_int l_colind_;   // column index of each L entry
  int l_nz_;                 // number of L entries
  MV_Vector_double u_val_;   // upper factor U with its diagonal, values (u_nz_)
  MV_Vector_int u_rowptr_;   // row starts of U (dim(1) + 1)
  MV_Vector_int u_colind_;   // column index of each U entry
  int u_nz_;                 // number of U entries
  int dim_[2];               // rows, columns of A

 public:
  // Factors A (only read); every factor row sorted by column.
  explicit CompRow_ILUPreconditioner_double(const CompRow_Mat_double& A);
  ~CompRow_ILUPreconditioner_double();

  // New vector y = U^-1 L^-1 x.
  MV_Vector_double solve(const MV_Vector_double& x) const;
  // New vector y = (L U)^-T x.
  MV_Vector_double trans_solve(const MV_Vector_double& x) const;
  // Product of the diagonal entries of U; 0.0 when a row of U stores none.
  double detLP();
  // Sum of ln|u_ii| over the rows of U that store their diagonal; negative
  // diagonal entries are made positive in U itself (later solves use them).
  double logDetLP();

  // Views of the raw arrays of L (strictly lower, unit diagonal not stored)
  // and of U (diagonal first in each row), dim(0) rows each, for the
  // raw-array sweeps of sparse_sweeps.h.
  CsrArrays lower() const;
  CsrArrays upper() const;
};

class CompCol_ILUPreconditioner_double {
 private:
  MV_Vector_double l_val_;   // strictly lower factor L, values (l_nz_)
  MV_Vector_int l_colptr_;   // column starts of L (dim(1) + 1)
  MV_Vector_int l_rowind_;   // row index of each L entry
  int l_nz_;                 // number of L entries
  MV_Vector_double u_val_;   // upper factor U with its diagonal (last of each column)
  MV_Vector_int u_colptr_;   // column starts of U (dim(1) + 1)
  MV_Vector_int u_rowind_;   // row index of each U entry
  int u_nz_;                 // number of U entries
  int dim_[2];               // rows, columns of A

 public:
  // Factors A (only read); every factor column sorted by row.
  explicit CompCol_ILUPreconditioner_double(const CompCol_Mat_double& A);
  ~CompCol_ILUPreconditioner_double();

  // New vector y = U^-1 L^-1 x.
  MV_Vector_double solve(const MV_Vector_double& x) const;
  // New vector y = (L U)^-T x.
  MV_Vector_double trans_solve(const MV_Vector_double& x) const;
};
