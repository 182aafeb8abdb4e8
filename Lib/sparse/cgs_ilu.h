// CGS with the ILU(0) preconditioner on compressed-row systems, the solver
// of the flow systems: the iteration of the CGS template (cgs.h) with the
// same iterates, iteration count, return code and final tolerance bit for
// bit, computed without temporaries. The work vectors are allocated once
// per solve (or once by the caller for many solves), the vector updates and
// inner products are fused into the passes of the products and of the
// triangular sweeps, and the sweeps interleave the U and V halves of the
// system where the pattern allows (sparse_sweeps.h).
//
// One iteration makes seven passes over the unknowns: forward sweep fused
// with the update of u and p; backward sweep; product A phat fused with
// dot(rtilde, vhat); forward sweep fused with the update of q; backward
// sweep; product A uhat fused with the update of r and the inner products
// for its norm and the next rho; the update of x.
//
// In/out arguments and return codes are those of the template: x the start
// on entry and the last iterate on return; max_iter the iteration limit,
// on code 0 the number of iterations done; tol the tolerance on
// ||b - A x|| / ||b||, on return the relative residual of x. Code 0
// converged, 1 iteration limit, 2 breakdown (rho = 0, or a step length or a
// residual that is not finite; x then holds the last finite iterate).
#pragma once

#include <cstddef>
#include <memory>

#include "comprow_double.h"
#include "csr_arrays.h"
#include "ilupre_double.h"
#include "mvvd.h"
#include "sparse_sweeps.h"

// The seven work vectors of one CGS solve on n unknowns (uninitialised).
// phat and uhat share t: phat is dead once A phat is formed. The vectors
// of a workspace, and those of workspaces made with different `lane`
// numbers (0 .. 3), start at different offsets within a memory page, so
// that the loads and stores of one batched pass do not alias.
class CgsWorkspace {
 public:
  explicit CgsWorkspace(int n, int lane = 0);
  // The same vectors in caller-owned storage of doubles(n) elements that
  // starts on a 4096-byte boundary; the storage must outlive the workspace,
  // which never frees it.
  CgsWorkspace(double* storage, int n, int lane);
  // Elements of the storage of a workspace on n unknowns.
  static std::size_t doubles(int n);
  int size() const { return n_; }

  double* r;       // residual b - A x
  double* rtilde;  // shadow residual, fixed after the start
  double* p;
  double* q;
  double* u;
  double* vhat;    // A phat
  double* t;       // phat, then uhat

 private:
  struct Release {
    void operator()(double* d) const;
  };
  void place(double* storage, int lane);
  int n_;
  std::unique_ptr<double, Release> storage_;  // null for caller-owned storage
};

// The solve on raw arrays: A (n x n), its factors M, x and b of n elements
// (x updated in place, b only read), work of size n. Several solves may
// share A and M; each needs its own work vectors.
int fusedCGS(const CsrArrays& A, const IluSweeps& M, double* x, const double* b, int& max_iter,
             double& tol, CgsWorkspace& work);

// Right-hand sides b[j], j < count, of one system solved together: lane j
// ends with exactly the x[j], max_iter[j], tol[j] and return code code[j]
// of fusedCGS(A, M, x[j], b[j], max_iter[j], tol[j], *work[j]) alone (the
// same iterates, bit for bit), and stops at its own convergence, limit or
// breakdown while the others go on. The lanes advance one iteration at a
// time through shared passes over A and the factors (up to four lanes per
// pass). Every lane needs its own x, b and workspace of A's size.
void fusedCGSBatch(const CsrArrays& A, const IluSweeps& M, int count, double* const* x,
                   const double* const* b, int* max_iter, double* tol, int* code,
                   CgsWorkspace* const* work);

// The same for the matrix and preconditioner classes, with work vectors of
// its own. x and b must have A's size (the product's and the difference's
// messages and exit status 1 otherwise, as in the template).
int fusedCGS(const CompRow_Mat_double& A, MV_Vector_double& x, const MV_Vector_double& b,
             const CompRow_ILUPreconditioner_double& M, int& max_iter, double& tol);
