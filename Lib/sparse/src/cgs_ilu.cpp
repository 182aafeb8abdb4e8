// CGS with the ILU(0) preconditioner on raw arrays, without temporaries.
// Each element is formed as in the template (cgs.h) with the vector
// operators: u = r + q*beta, p = u + (q + p*beta)*beta, q = u - vhat*alpha,
// uhat = M^-1 (u + q), r = r - qhat*alpha, x = x + uhat*alpha; every inner
// product accumulates from 0.0 with the index ascending.
#include "cgs_ilu.h"

#include <cmath>
#include <cstddef>
#include <new>

#include "cgs.h"
#include "mvblasd.h"

namespace {

// Distance between consecutive work vectors, in doubles: n rounded up to
// whole 4 KiB pages plus 512 bytes, so that element k of the seven vectors
// falls at seven different offsets within a page (no 4K aliasing between
// the loads and stores of one pass).
std::size_t vectorStride(int n) {
  const std::size_t page = 512;  // doubles
  return (static_cast<std::size_t>(n) + page - 1) / page * page + 64;
}

constexpr int kWorkVectors = 7;

}  // namespace

void CgsWorkspace::Release::operator()(double* d) const {
  ::operator delete[](d, std::align_val_t(64));
}

CgsWorkspace::CgsWorkspace(int n)
    : n_(n),
      storage_(static_cast<double*>(::operator new[](
          sizeof(double) * vectorStride(n) * kWorkVectors, std::align_val_t(64)))) {
  double* v[kWorkVectors];
  for (int i = 0; i < kWorkVectors; ++i) v[i] = storage_.get() + vectorStride(n) * i;
  r = v[0];
  rtilde = v[1];
  p = v[2];
  q = v[3];
  u = v[4];
  vhat = v[5];
  t = v[6];
}

int fusedCGS(const CsrArrays& A, const IluSweeps& M, double* x, const double* b, int& max_iter,
             double& tol, CgsWorkspace& work) {
  const int n = A.n;
  double* const r = work.r;
  double* const rtilde = work.rtilde;
  double* const p = work.p;
  double* const q = work.q;
  double* const u = work.u;
  double* const vhat = work.vhat;
  double* const t = work.t;

  // r = b - A x, rtilde = r; ||b||^2, ||r||^2 and rho = dot(rtilde, r).
  double bb = 0.0, rr = 0.0, rho = 0.0;
  rowProducts(A, x, [&](int k, double ax) {
    const double rk = b[k] - ax;
    r[k] = rk;
    rtilde[k] = rk;
    bb += b[k] * b[k];
    rr += rk * rk;
    rho += rk * rk;
  });
  double normb = std::sqrt(bb);
  if (normb == 0.0) normb = 1;

  double resid = std::sqrt(rr) / normb;
  if (resid <= tol) {
    tol = resid;
    max_iter = 0;
    return 0;
  }

  double rho_1 = 0.0, rho_2 = 0.0;
  for (int i = 1; i <= max_iter; i++) {
    rho_1 = rho;
    if (rho_1 == 0) {
      tol = std::sqrt(rr) / normb;
      return 2;
    }
    // u and p, and phat = M^-1 p in the same pass.
    if (i == 1) {
      forwardSweep(M, t, [&](int k) {
        u[k] = r[k];
        p[k] = r[k];
        return p[k];
      });
    } else {
      const double beta = rho_1 / rho_2;
      forwardSweep(M, t, [&](int k) {
        const double uk = r[k] + q[k] * beta;
        const double pk = uk + (q[k] + p[k] * beta) * beta;
        u[k] = uk;
        p[k] = pk;
        return pk;
      });
    }
    backwardSweep(M, t);

    // vhat = A phat, alpha = rho_1 / dot(rtilde, vhat).
    double rv = 0.0;
    rowProducts(A, t, [&](int k, double v) {
      vhat[k] = v;
      rv += rtilde[k] * v;
    });
    const double alpha = rho_1 / rv;
    if (!std::isfinite(alpha)) {
      tol = resid;
      return 2;
    }

    // q = u - alpha vhat, and uhat = M^-1 (u + q) in the same pass.
    forwardSweep(M, t, [&](int k) {
      const double qk = u[k] - vhat[k] * alpha;
      q[k] = qk;
      return u[k] + qk;
    });
    backwardSweep(M, t);

    // r -= alpha A uhat, with ||r||^2 and the next rho = dot(rtilde, r).
    double rr_new = 0.0, rho_new = 0.0;
    rowProducts(A, t, [&](int k, double qh) {
      const double rk = r[k] - qh * alpha;
      r[k] = rk;
      rr_new += rk * rk;
      rho_new += rtilde[k] * rk;
    });
    const double new_resid = std::sqrt(rr_new) / normb;
    if (!std::isfinite(new_resid)) {  // x stays at the last finite iterate
      tol = resid;
      return 2;
    }
    for (int k = 0; k < n; ++k) x[k] = x[k] + t[k] * alpha;

    rho_2 = rho_1;
    rr = rr_new;
    rho = rho_new;
    resid = new_resid;
    if (resid < tol) {
      tol = resid;
      max_iter = i;
      return 0;
    }
  }

  tol = resid;
  return 1;
}

int fusedCGS(const CompRow_Mat_double& A, MV_Vector_double& x, const MV_Vector_double& b,
             const CompRow_ILUPreconditioner_double& M, int& max_iter, double& tol) {
  const int n = A.dim(0);
  // Anything but a square system with matching vectors and factors goes to
  // the template, which reports the mismatch as the operators do.
  if (A.dim(1) != n || x.size() != n || b.size() != n || M.lower().n != n || M.upper().n != n)
    return CGS(A, x, b, M, max_iter, tol);
  CgsWorkspace work(n);
  const IluSweeps sweeps(M);
  return fusedCGS(csrArrays(A), sweeps, n > 0 ? &x(0) : nullptr, n > 0 ? &b(0) : nullptr,
                  max_iter, tol, work);
}
