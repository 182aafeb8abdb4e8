// Preconditioned conjugate gradient squared (CGS) for a non-symmetric
// system A x = b. Header only.
//
// Needs of the types: A * v (new vector), M.solve(v) (an approximation of
// A^-1 v, new vector), Vector with a size constructor, copy, assignment,
// element access, +, -, +=, -=, scalar * vector, dot and norm.
//
// In/out:
//   x        start on entry, last iterate on return (updated in place);
//   max_iter largest number of iterations; on code 0 the number done (0 when
//            the start already passes the test), otherwise unchanged;
//   tol      tolerance on the relative residual ||b - A x|| / ||b|| (||b||
//            taken as 1 when b = 0); on return the relative residual of x.
// Return code: 0 converged, 1 not converged within max_iter iterations,
// 2 breakdown: rho = dot(rtilde, r) is 0, or the step length alpha or the
// new residual is not finite; x then holds the last finite iterate and tol
// its relative residual.
#pragma once

#include <cmath>

template <class Matrix, class Vector, class Preconditioner, class Real>
int CGS(const Matrix& A, Vector& x, const Vector& b, const Preconditioner& M, int& max_iter,
        Real& tol) {
  Real resid;
  Vector rho_1(1), rho_2(1), alpha(1), beta(1);
  Vector p, phat, q, qhat, vhat, u, uhat;

  Real normb = norm(b);
  Vector r = b - A * x;
  Vector rtilde = r;  // shadow residual, fixed from here on

  if (normb == 0.0) normb = 1;

  resid = norm(r) / normb;
  if (resid <= tol) {
    tol = resid;
    max_iter = 0;
    return 0;
  }

  for (int i = 1; i <= max_iter; i++) {
    rho_1(0) = dot(rtilde, r);
    if (rho_1(0) == 0) {
      tol = norm(r) / normb;
      return 2;
    }
    if (i == 1) {
      u = r;
      p = u;
    } else {
      beta(0) = rho_1(0) / rho_2(0);
      u = r + beta(0) * q;
      p = u + beta(0) * (q + beta(0) * p);
    }
    phat = M.solve(p);
    vhat = A * phat;
    alpha(0) = rho_1(0) / dot(rtilde, vhat);
    if (!std::isfinite(alpha(0))) {  // dot(rtilde, vhat) = 0 or overflow
      tol = resid;
      return 2;
    }
    q = u - alpha(0) * vhat;
    uhat = M.solve(u + q);
    // x is not read before its update, so the residual is checked first:
    // a non-finite residual leaves x at the last finite iterate.
    qhat = A * uhat;
    r -= alpha(0) * qhat;
    const Real new_resid = norm(r) / normb;
    if (!std::isfinite(new_resid)) {
      tol = resid;
      return 2;
    }
    x += alpha(0) * uhat;
    rho_2(0) = rho_1(0);
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
