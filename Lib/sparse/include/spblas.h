// Sparse BLAS-style products C <- alpha op(A) B + beta C and triangular
// solves C <- alpha op(A)^-1 B with a sparse A and dense column-major
// blocks B and C (element (i, j) of B at b[i + ldb*j]).
//
// Index convention shared by every routine here:
//  - pntr may start at any base: entry t of a row (column) lives at
//    val[t - pntr[0]] and indx[t - pntr[0]];
//  - an index value q read from indx/jndx addresses the dense operand as
//    1-based (dense row q - 1); a 0-based caller therefore passes the
//    address of element 1 of that operand;
//  - products: the row (column) counter addresses the other operand 0-based;
//  - solves: unknown i lives at c[pntr[0] + i - 1] (the matrix's index
//    space), B is read 0-based; a 0-based caller passes b = &x[0] and
//    c = &y[1]; b may be the same storage as C (in-place solve).
// descra[0] must be 0 (general matrix); otherwise, and on the other
// descriptor checks of the solves, a message goes to standard error and the
// process ends with exit status 1. work and lwork are accepted, not used.
#pragma once

extern "C" {

// ---- Products, C <- alpha op(A) B + beta C; op(A) is m x k, B k x n, C m x n.
// transa 1 or 2: op(A) = A^T; any other value: op(A) = A.

// A in coordinate form: val, indx (rows), jndx (columns), nnz entries.
void scoomm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* jndx,
             const int& nnz, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float* work, const int& lwork);
void dcoomm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* jndx,
             const int& nnz, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double* work, const int& lwork);
// A in compressed columns: pntr column starts, indx row indices.
void scscmm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* pntr,
             const float* b, const int& ldb, const float& beta, float* c, const int& ldc,
             float* work, const int& lwork);
void dcscmm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* pntr,
             const double* b, const int& ldb, const double& beta, double* c, const int& ldc,
             double* work, const int& lwork);
// A in compressed rows: pntr row starts, indx column indices.
void scsrmm_(const int& transa, const int& m, const int& n, const int& k, const float& alpha,
             const int* descra, const float* val, const int* indx, const int* pntr,
             const float* b, const int& ldb, const float& beta, float* c, const int& ldc,
             float* work, const int& lwork);
void dcsrmm_(const int& transa, const int& m, const int& n, const int& k, const double& alpha,
             const int* descra, const double* val, const int* indx, const int* pntr,
             const double* b, const int& ldb, const double& beta, double* c, const int& ldc,
             double* work, const int& lwork);

// ---- Triangular solves, C <- alpha op(A)^-1 B; A is m x m, B and C m x n.
// transa 0: A, 1 or 2: A^T (other values: "Bad transa"). descra[1]: 1 lower,
// 2 upper triangle; descra[2]: 0 diagonal stored, 1 unit diagonal not
// stored. Rows (columns) must be sorted by index so that a stored diagonal
// is the first entry of an upper row (last of a lower row). beta must be 0
// and unitd 1; dv is not used.
void scscsm_(const int& transa, const int& m, const int& n, const int& unitd, const float* dv,
             const float& alpha, const int* descra, const float* val, const int* indx,
             const int* pntr, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float* work, const int& lwork);
void dcscsm_(const int& transa, const int& m, const int& n, const int& unitd, const double* dv,
             const double& alpha, const int* descra, const double* val, const int* indx,
             const int* pntr, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double* work, const int& lwork);
void scsrsm_(const int& transa, const int& m, const int& n, const int& unitd, const float* dv,
             const float& alpha, const int* descra, const float* val, const int* indx,
             const int* pntr, const float* b, const int& ldb, const float& beta, float* c,
             const int& ldc, float* work, const int& lwork);
void dcsrsm_(const int& transa, const int& m, const int& n, const int& unitd, const double* dv,
             const double& alpha, const int* descra, const double* val, const int* indx,
             const int* pntr, const double* b, const int& ldb, const double& beta, double* c,
             const int& ldc, double* work, const int& lwork);

}  // extern "C"

// ---- Product kernels: add alpha op(A) B into C (no scaling of C). They
// return at once when alpha is 0 (the compressed ones).

// C(i, j) += alpha val * B(q - 1, j) over the entries of row i, i < m (k unused).
void CompRowMatVec_double(int m, int n, int k, const double& alpha, const double* val,
                          const int* indx, const int* pntr, const double* b, int ldb, double* c,
                          int ldc);
void CompRowMatVec_float(int m, int n, int k, const float& alpha, const float* val,
                         const int* indx, const int* pntr, const float* b, int ldb, float* c,
                         int ldc);
// C(q - 1, j) += alpha val * B(l, j) over the entries of column l, l < k (m unused).
void CompColMatVec_double(int m, int n, int k, const double& alpha, const double* val,
                          const int* indx, const int* pntr, const double* b, int ldb, double* c,
                          int ldc);
void CompColMatVec_float(int m, int n, int k, const float& alpha, const float* val,
                         const int* indx, const int* pntr, const float* b, int ldb, float* c,
                         int ldc);
// C(indx[t] - 1, j) += alpha val[t] B(jndx[t] - 1, j), t < nnz (m, k unused).
void CoordMatVec_double(int m, int n, int k, const double& alpha, const double* val,
                        const int* indx, const int* jndx, const int& nnz, const double* b,
                        int ldb, double* c, int ldc);
void CoordMatVec_float(int m, int n, int k, const float& alpha, const float* val,
                       const int* indx, const int* jndx, const int& nnz, const float* b, int ldb,
                       float* c, int ldc);

// ---- Dense block helpers.

// C <- beta C on the m x n block: beta 1 leaves C, beta 0 stores zeros
// (NaNs included), otherwise multiplies (the float form in double, rounded).
void ScaleRectangularArray_double(int m, int n, double* c, int ldc, const double& beta);
void ScaleRectangularArray_float(int m, int n, float* c, int ldc, const double& beta);
// Copies the m x n block B into C; nothing when b and c are the same address
// with the same leading dimension; overlapping blocks are copied as memmove
// would.
void CopyRectangularArray_double(int m, int n, const double* b, int ldb, double* c, int ldc);
void CopyRectangularArray_float(int m, int n, const float* b, int ldb, float* c, int ldc);

// ---- Triangular-solve kernels, named storage _ triangle Unit|Diag _ type.
// Each ends the process when unitd is not 1 and returns at once (C
// untouched) when alpha is 0. Row kernels gather (B only read, may share C's
// storage); column kernels copy B into C's index space first and scatter.
// Rows 0..m-1; unit diagonal not stored.
void CompRow_LowerUnitSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompRow_LowerUnitSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Rows 0..m-1; diagonal is the last entry of each row.
void CompRow_LowerDiagSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompRow_LowerDiagSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Rows m-1..0; unit diagonal not stored.
void CompRow_UpperUnitSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompRow_UpperUnitSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Rows m-1..0; diagonal is the first entry of each row.
void CompRow_UpperDiagSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompRow_UpperDiagSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Columns 0..m-1; unit diagonal not stored.
void CompCol_LowerUnitSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompCol_LowerUnitSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Columns 0..m-1; diagonal is the first entry of each column.
void CompCol_LowerDiagSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompCol_LowerDiagSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Columns m-1..0; unit diagonal not stored.
void CompCol_UpperUnitSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompCol_UpperUnitSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
// Columns m-1..0; diagonal is the last entry of each column.
void CompCol_UpperDiagSolve_double(int m, int n, int unitd, const double* dv, double alpha, const double* val,
                                   const int* indx, const int* pntr, const double* b, int ldb, double* c, int ldc);
void CompCol_UpperDiagSolve_float(int m, int n, int unitd, const float* dv, float alpha, const float* val,
                                  const int* indx, const int* pntr, const float* b, int ldb, float* c, int ldc);
