// Level solve and Hessian assembly on the synthetic levels of
// synthetic_level.h.
//
// Benchmarks (size = width = height, periodic 0 = Neumann, 1 = periodic):
//   BM_HornAndSchunck/size/periodic   one full level solve (assembly,
//                                     right-hand side, ILU(0), CGS);
//   BM_CgsIterations/size/periodic    the CGS template alone on the same
//                                     system (matrix and ILU(0) built once;
//                                     bench_cgs sets it against fusedCGS);
//   BM_MatrixAndIlu/size/periodic     the copy into a compressed-row matrix
//                                     and its ILU(0) factorisation;
//   BM_Assembly/size/periodic         fillingSparseHessian_A_HS alone;
//   BM_TraceInvAAr/size/periodic/threads/batch
//                                     one CGS_randomB_traceInvAAr call with
//                                     30 probes (tolerance 1e-6) on the
//                                     level's Hessian, link weights 1, on
//                                     `threads` worker threads (0: all the
//                                     CPUs the process may use) in batches
//                                     of `batch` probes (0: the estimator's
//                                     choice).
// Counters: cgs_iters (iterations to 1e-6; for the trace estimate the mean
// over its 30 probes, solved again outside the timing), unknowns, and for
// the CGS run time_per_unknown_iter (time per CGS iteration per unknown).
#include <benchmark/benchmark.h>

#include <vector>

#include "CImg.h"
#include "cgs.h"
#include "comprow_double.h"
#include "hessian_assembly.h"
#include "ilupre_double.h"
#include "level_solve.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "operators.h"
#include "random_deviates.h"
#include "synthetic_level.h"
#include "trace_estimators.h"

using cimg_library::CImg;
using cimg_library::CImgList;
using bench_level::kAlpha;
using bench_level::SyntheticLevel;
using bench_level::System;

namespace {

int cgsIterations(const System& s) {
  const CompRow_Mat_double A(s.taille, s.taille, s.nombre, const_cast<double*>(s.val.data()),
                             const_cast<int*>(s.ptr.data()), const_cast<int*>(s.col.data()), 0);
  const CompRow_ILUPreconditioner_double M(A);
  MV_Vector_double x(s.taille, 0.0);
  int maxIter = 500;
  double tol = 1e-6;
  CGS(A, x, s.b, M, maxIter, tol);
  return maxIter;
}

void BM_HornAndSchunck(benchmark::State& state) {
  const SyntheticLevel lv(static_cast<int>(state.range(0)));
  const bool periodic = state.range(1) != 0;
  CImg<double> uv(lv.n, lv.n, 2, 1, 0.0);
  for (auto _ : state) {
    const bool failed = HornAndSchunck(uv, lv.uvTil, lv.ix, lv.iy, lv.it, kAlpha, lv.rho, lv.z, periodic);
    benchmark::DoNotOptimize(failed);
    if (failed) state.SkipWithError("the level solve did not converge");
  }
  state.counters["cgs_iters"] = cgsIterations(System(lv, periodic));
  state.counters["unknowns"] = 2.0 * lv.n * lv.n;
}

void BM_CgsIterations(benchmark::State& state) {
  const SyntheticLevel lv(static_cast<int>(state.range(0)));
  const System s(lv, state.range(1) != 0);
  const CompRow_Mat_double A(s.taille, s.taille, s.nombre, const_cast<double*>(s.val.data()),
                             const_cast<int*>(s.ptr.data()), const_cast<int*>(s.col.data()), 0);
  const CompRow_ILUPreconditioner_double M(A);
  int iters = 0;
  for (auto _ : state) {
    MV_Vector_double x(s.taille, 0.0);
    int maxIter = 500;
    double tol = 1e-6;
    benchmark::DoNotOptimize(CGS(A, x, s.b, M, maxIter, tol));
    iters = maxIter;
  }
  state.counters["cgs_iters"] = iters;
  state.counters["unknowns"] = s.taille;
  // Inverted iteration-invariant rate: seconds per (unknown * CGS iteration).
  state.counters["time_per_unknown_iter"] =
      benchmark::Counter(double(s.taille) * iters,
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_MatrixAndIlu(benchmark::State& state) {
  const SyntheticLevel lv(static_cast<int>(state.range(0)));
  const System s(lv, state.range(1) != 0);
  for (auto _ : state) {
    const CompRow_Mat_double A(s.taille, s.taille, s.nombre, const_cast<double*>(s.val.data()),
                               const_cast<int*>(s.ptr.data()), const_cast<int*>(s.col.data()), 0);
    const CompRow_ILUPreconditioner_double M(A);
    benchmark::DoNotOptimize(&M);
  }
  state.counters["unknowns"] = s.taille;
}

void BM_Assembly(benchmark::State& state) {
  const SyntheticLevel lv(static_cast<int>(state.range(0)));
  const bool periodic = state.range(1) != 0;
  const int nombre = hessianNombre(lv.n, lv.n, periodic);
  std::vector<double> val(nombre);
  std::vector<int> col(nombre), ptr(2 * lv.n * lv.n + 1);
  for (auto _ : state) {
    fillingSparseHessian_A_HS(val.data(), col.data(), ptr.data(), lv.ix, lv.iy, lv.rho, lv.z, kAlpha, nombre, periodic);
    benchmark::DoNotOptimize(val.data());
    benchmark::ClobberMemory();
  }
  state.counters["unknowns"] = 2.0 * lv.n * lv.n;
}

constexpr int kTraceProbes = 30;

// Mean CGS iterations of the probe solves of one trace estimate: the same
// number of Gaussian probes drawn as the estimator draws them.
double meanProbeIterations(System& s, int n) {
  const FactoredSystem A(s.taille, s.nombre, s.val.data(), s.ptr.data(), s.col.data());
  long idum = probe_seed();
  MV_Vector_double z(s.taille, 0.0);
  CImg<double> X(n, n, 2, 1, 0.0);
  const int ncnl = n * n;
  double total = 0.0;
  for (int it = 0; it < kTraceProbes; ++it) {
    for (int p = 0; p < ncnl; ++p) {
      z(p) = gasdev(&idum);
      z(ncnl + p) = gasdev(&idum);
    }
    int iters = 0;
    A.solve(z, X, 1e-6, &iters);
    total += iters;
  }
  return total / kTraceProbes;
}

void BM_TraceInvAAr(benchmark::State& state) {
  const SyntheticLevel lv(static_cast<int>(state.range(0)));
  const bool periodic = state.range(1) != 0;
  System s(lv, periodic);
  set_trace_probe_threads(static_cast<int>(state.range(2)));
  set_trace_probe_batch(static_cast<int>(state.range(3)));
  state.counters["threads"] = trace_probe_threads(kTraceProbes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(CGS_randomB_traceInvAAr(s.taille, s.nombre, lv.n, lv.n, s.val.data(),
                                                     s.ptr.data(), s.col.data(), lv.z,
                                                     kTraceProbes, 1e-6, periodic));
  }
  set_trace_probe_threads(0);
  set_trace_probe_batch(0);
  state.counters["cgs_iters"] = meanProbeIterations(s, lv.n);
  state.counters["unknowns"] = s.taille;
}

void levelArgs(benchmark::internal::Benchmark* b) {
  for (int size : {256, 512})
    for (int periodic : {0, 1}) b->Args({size, periodic});
  b->ArgNames({"size", "periodic"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_HornAndSchunck)->Apply(levelArgs);
BENCHMARK(BM_CgsIterations)->Apply(levelArgs);
BENCHMARK(BM_MatrixAndIlu)->Apply(levelArgs);
BENCHMARK(BM_Assembly)->Apply(levelArgs);
// threads 1: the calling thread alone; 0: every CPU the process may use.
// batch 0: the size the estimator chooses; 1 with one thread: the plain
// one-probe-at-a-time loop.
BENCHMARK(BM_TraceInvAAr)
    ->Args({512, 0, 1, 1})
    ->Args({512, 0, 1, 0})
    ->Args({512, 0, 0, 0})
    ->Args({512, 0, 0, 2})
    ->ArgNames({"size", "periodic", "threads", "batch"})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->Repetitions(3);
