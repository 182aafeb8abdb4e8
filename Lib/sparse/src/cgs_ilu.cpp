// CGS with the ILU(0) preconditioner on raw arrays, without temporaries.
// Each element is formed as in the template (cgs.h) with the vector
// operators: u = r + q*beta, p = u + (q + p*beta)*beta, q = u - vhat*alpha,
// uhat = M^-1 (u + q), r = r - qhat*alpha, x = x + uhat*alpha; every inner
// product accumulates from 0.0 with the index ascending.
#include "cgs_ilu.h"

#include <cmath>
#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

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

// Shift of the workspace of a lane: 128 bytes per lane, four lanes within
// the 512 bytes that separate the vectors of one workspace.
constexpr std::size_t kLaneShift = 16;  // doubles
constexpr int kLaneOffsets = 4;
constexpr std::size_t kPageBytes = 4096;

}  // namespace

void CgsWorkspace::Release::operator()(double* d) const {
  ::operator delete[](d, std::align_val_t(kPageBytes));
}

std::size_t CgsWorkspace::doubles(int n) {
  return vectorStride(n) * kWorkVectors + kLaneShift * kLaneOffsets;
}

CgsWorkspace::CgsWorkspace(int n, int lane)
    : n_(n),
      storage_(static_cast<double*>(
          ::operator new[](sizeof(double) * doubles(n), std::align_val_t(kPageBytes)))) {
  place(storage_.get(), lane);
}

CgsWorkspace::CgsWorkspace(double* storage, int n, int lane) : n_(n) { place(storage, lane); }

void CgsWorkspace::place(double* storage, int lane) {
  const int slot = ((lane % kLaneOffsets) + kLaneOffsets) % kLaneOffsets;
  double* const base = storage + kLaneShift * static_cast<std::size_t>(slot);
  const std::size_t stride = vectorStride(n_);
  r = base;
  rtilde = base + stride;
  p = base + 2 * stride;
  q = base + 3 * stride;
  u = base + 4 * stride;
  vhat = base + 5 * stride;
  t = base + 6 * stride;
}

namespace {

// State of one lane of a batched solve between its passes.
struct Lane {
  double normb = 1.0, resid = 0.0, rr = 0.0, rho = 0.0;  // as in fusedCGS
  double rho_1 = 0.0, rho_2 = 0.0, alpha = 0.0, beta = 0.0;
  double rv = 0.0, rr_new = 0.0, rho_new = 0.0;
};

constexpr int kMaxLanesPerPass = 4;

// Calls f(width, lanes) for the active lanes act[0 .. m-1] in groups of at
// most four, width a std::integral_constant with the group's size.
template <class F>
void forLaneGroups(const int* act, int m, F&& f) {
  int g = 0;
  for (; g + kMaxLanesPerPass <= m; g += kMaxLanesPerPass)
    f(std::integral_constant<int, kMaxLanesPerPass>{}, act + g);
  switch (m - g) {
    case 3: f(std::integral_constant<int, 3>{}, act + g); break;
    case 2: f(std::integral_constant<int, 2>{}, act + g); break;
    case 1: f(std::integral_constant<int, 1>{}, act + g); break;
    default: break;
  }
}

}  // namespace

void fusedCGSBatch(const CsrArrays& A, const IluSweeps& M, int count, double* const* x,
                   const double* const* b, int* max_iter, double* tol, int* code,
                   CgsWorkspace* const* work) {
  if (count <= 0) return;
  const int n = A.n;
  std::vector<Lane> lane(static_cast<std::size_t>(count));
  std::vector<int> act(static_cast<std::size_t>(count));
  int m = 0;  // active lanes: act[0 .. m-1], ascending
  for (int j = 0; j < count; ++j) act[m++] = j;
  // Keeps the lanes for which keep(j) is true (in order).
  auto retain = [&](auto&& keep) {
    int w = 0;
    for (int a = 0; a < m; ++a)
      if (keep(act[a])) act[w++] = act[a];
    m = w;
  };

  // r = b - A x, rtilde = r; ||b||^2, ||r||^2 and rho.
  forLaneGroups(act.data(), m, [&](auto width, const int* g) {
    constexpr int W = decltype(width)::value;
    const double* xs[W];
    double *r[W], *rt[W];
    const double* bs[W];
    double bb[W], rr[W], rho[W];
    for (int j = 0; j < W; ++j) {
      xs[j] = x[g[j]];
      bs[j] = b[g[j]];
      r[j] = work[g[j]]->r;
      rt[j] = work[g[j]]->rtilde;
      bb[j] = rr[j] = rho[j] = 0.0;
    }
    rowProductsBatch<W>(A, xs, [&](int k, const double* ax) {
#pragma GCC unroll 8
      for (int j = 0; j < W; ++j) {
        const double rk = bs[j][k] - ax[j];
        r[j][k] = rk;
        rt[j][k] = rk;
        bb[j] += bs[j][k] * bs[j][k];
        rr[j] += rk * rk;
        rho[j] += rk * rk;
      }
    });
    for (int j = 0; j < W; ++j) {
      Lane& s = lane[g[j]];
      s.normb = std::sqrt(bb[j]);
      if (s.normb == 0.0) s.normb = 1;
      s.rr = rr[j];
      s.rho = rho[j];
      s.resid = std::sqrt(rr[j]) / s.normb;
    }
  });
  retain([&](int j) {
    if (lane[j].resid <= tol[j]) {
      tol[j] = lane[j].resid;
      max_iter[j] = 0;
      code[j] = 0;
      return false;
    }
    return true;
  });

  for (int i = 1; m > 0; i++) {
    retain([&](int j) {
      Lane& s = lane[j];
      if (i > max_iter[j]) {  // the limit: the last resid
        tol[j] = s.resid;
        code[j] = 1;
        return false;
      }
      s.rho_1 = s.rho;
      if (s.rho_1 == 0) {
        tol[j] = std::sqrt(s.rr) / s.normb;
        code[j] = 2;
        return false;
      }
      if (i > 1) s.beta = s.rho_1 / s.rho_2;
      return true;
    });
    if (m == 0) break;

    // u and p with phat = M^-1 p; vhat = A phat and dot(rtilde, vhat).
    forLaneGroups(act.data(), m, [&](auto width, const int* g) {
      constexpr int W = decltype(width)::value;
      double *r[W], *q[W], *p[W], *u[W], *t[W], *vhat[W], *rt[W];
      double beta[W], rv[W];
      for (int j = 0; j < W; ++j) {
        CgsWorkspace& wk = *work[g[j]];
        r[j] = wk.r;
        q[j] = wk.q;
        p[j] = wk.p;
        u[j] = wk.u;
        t[j] = wk.t;
        vhat[j] = wk.vhat;
        rt[j] = wk.rtilde;
        beta[j] = lane[g[j]].beta;
        rv[j] = 0.0;
      }
      if (i == 1) {
        forwardSweepBatch<W>(M, t, [&](int k, double* rhs) {
#pragma GCC unroll 8
          for (int j = 0; j < W; ++j) {
            u[j][k] = r[j][k];
            p[j][k] = r[j][k];
            rhs[j] = p[j][k];
          }
        });
      } else {
        forwardSweepBatch<W>(M, t, [&](int k, double* rhs) {
#pragma GCC unroll 8
          for (int j = 0; j < W; ++j) {
            const double uk = r[j][k] + q[j][k] * beta[j];
            const double pk = uk + (q[j][k] + p[j][k] * beta[j]) * beta[j];
            u[j][k] = uk;
            p[j][k] = pk;
            rhs[j] = pk;
          }
        });
      }
      backwardSweepBatch<W>(M, t);
      const double* tc[W];
      for (int j = 0; j < W; ++j) tc[j] = t[j];
      rowProductsBatch<W>(A, tc, [&](int k, const double* v) {
#pragma GCC unroll 8
        for (int j = 0; j < W; ++j) {
          vhat[j][k] = v[j];
          rv[j] += rt[j][k] * v[j];
        }
      });
      for (int j = 0; j < W; ++j) lane[g[j]].rv = rv[j];
    });
    retain([&](int j) {
      Lane& s = lane[j];
      s.alpha = s.rho_1 / s.rv;
      if (!std::isfinite(s.alpha)) {
        tol[j] = s.resid;
        code[j] = 2;
        return false;
      }
      return true;
    });
    if (m == 0) break;

    // q = u - alpha vhat with uhat = M^-1 (u + q); r -= alpha A uhat with
    // ||r||^2 and the next rho.
    forLaneGroups(act.data(), m, [&](auto width, const int* g) {
      constexpr int W = decltype(width)::value;
      double *r[W], *q[W], *u[W], *t[W], *vhat[W], *rt[W];
      double alpha[W], rr[W], rho[W];
      for (int j = 0; j < W; ++j) {
        CgsWorkspace& wk = *work[g[j]];
        r[j] = wk.r;
        q[j] = wk.q;
        u[j] = wk.u;
        t[j] = wk.t;
        vhat[j] = wk.vhat;
        rt[j] = wk.rtilde;
        alpha[j] = lane[g[j]].alpha;
        rr[j] = rho[j] = 0.0;
      }
      forwardSweepBatch<W>(M, t, [&](int k, double* rhs) {
#pragma GCC unroll 8
        for (int j = 0; j < W; ++j) {
          const double qk = u[j][k] - vhat[j][k] * alpha[j];
          q[j][k] = qk;
          rhs[j] = u[j][k] + qk;
        }
      });
      backwardSweepBatch<W>(M, t);
      const double* tc[W];
      for (int j = 0; j < W; ++j) tc[j] = t[j];
      rowProductsBatch<W>(A, tc, [&](int k, const double* qh) {
#pragma GCC unroll 8
        for (int j = 0; j < W; ++j) {
          const double rk = r[j][k] - qh[j] * alpha[j];
          r[j][k] = rk;
          rr[j] += rk * rk;
          rho[j] += rt[j][k] * rk;
        }
      });
      for (int j = 0; j < W; ++j) {
        lane[g[j]].rr_new = rr[j];
        lane[g[j]].rho_new = rho[j];
      }
    });
    retain([&](int j) {
      Lane& s = lane[j];
      const double new_resid = std::sqrt(s.rr_new) / s.normb;
      if (!std::isfinite(new_resid)) {  // x stays at the last finite iterate
        tol[j] = s.resid;
        code[j] = 2;
        return false;
      }
      s.resid = new_resid;
      return true;
    });

    // x += alpha uhat, then the convergence test.
    for (int a = 0; a < m; ++a) {
      const int j = act[a];
      double* const xj = x[j];
      const double* const t = work[j]->t;
      const double alpha = lane[j].alpha;
      for (int k = 0; k < n; ++k) xj[k] = xj[k] + t[k] * alpha;
    }
    retain([&](int j) {
      Lane& s = lane[j];
      s.rho_2 = s.rho_1;
      s.rr = s.rr_new;
      s.rho = s.rho_new;
      if (s.resid < tol[j]) {
        tol[j] = s.resid;
        max_iter[j] = i;
        code[j] = 0;
        return false;
      }
      return true;
    });
  }
}

// One right-hand side: a batch of one lane.
int fusedCGS(const CsrArrays& A, const IluSweeps& M, double* x, const double* b, int& max_iter,
             double& tol, CgsWorkspace& work) {
  double* xs[1] = {x};
  const double* bs[1] = {b};
  CgsWorkspace* ws[1] = {&work};
  int code = 0;
  fusedCGSBatch(A, M, 1, xs, bs, &max_iter, &tol, &code, ws);
  return code;
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
