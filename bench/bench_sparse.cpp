// Cost of the sparse building blocks on a system of the size and pattern of
// a level Hessian (two unknowns per pixel, 5-point stencil per unknown plus
// the U-V coupling): product, ILU(0) construction, preconditioner solve and
// a full CGS solve to 1e-6.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "cgs.h"
#include "comprow_double.h"
#include "ilupre_double.h"
#include "mvblasd.h"
#include "mvvd.h"

namespace {

// Non-symmetric, diagonally dominant Hessian-like matrix of 2 w h unknowns.
struct System {
  int n = 0;
  std::vector<double> val;
  std::vector<int> row_ptr, col_ind;
  explicit System(int w) {
    const int h = w, np = w * h;
    n = 2 * np;
    row_ptr.push_back(0);
    for (int r = 0; r < n; ++r) {
      const int p = r % np, x = p % w, y = p / w, off = r - p;
      auto add = [&](int c, double v) {
        col_ind.push_back(c);
        val.push_back(v);
      };
      if (r >= np) add(p, 0.3);  // V row: coupling to U first
      if (y > 0) add(off + p - w, -1.0);
      if (x > 0) add(off + p - 1, -1.1);
      add(r, 4.8 + 0.01 * (p % 7));
      if (x + 1 < w) add(off + p + 1, -0.9);
      if (y + 1 < h) add(off + p + w, -1.0);
      if (r < np) add(np + p, 0.3);
      row_ptr.push_back(static_cast<int>(val.size()));
    }
  }
  CompRow_Mat_double matrix() {
    return CompRow_Mat_double(n, n, static_cast<int>(val.size()), val.data(), row_ptr.data(),
                              col_ind.data(), 0);
  }
};

void BM_Product(benchmark::State& state) {
  System s(static_cast<int>(state.range(0)));
  const CompRow_Mat_double A = s.matrix();
  const MV_Vector_double x(s.n, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(A * x);
}

void BM_IluBuild(benchmark::State& state) {
  System s(static_cast<int>(state.range(0)));
  const CompRow_Mat_double A = s.matrix();
  for (auto _ : state) {
    CompRow_ILUPreconditioner_double M(A);
    benchmark::DoNotOptimize(&M);
  }
}

void BM_IluSolve(benchmark::State& state) {
  System s(static_cast<int>(state.range(0)));
  const CompRow_Mat_double A = s.matrix();
  const CompRow_ILUPreconditioner_double M(A);
  const MV_Vector_double x(s.n, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(M.solve(x));
}

void BM_CgsSolve(benchmark::State& state) {
  System s(static_cast<int>(state.range(0)));
  const CompRow_Mat_double A = s.matrix();
  MV_Vector_double b(s.n);
  for (int i = 0; i < s.n; ++i) b(i) = std::sin(0.01 * i);
  int iterations = 0;
  for (auto _ : state) {
    const CompRow_ILUPreconditioner_double M(A);
    MV_Vector_double x(s.n, 0.0);
    int maxIter = 1000;
    double tol = 1e-6;
    benchmark::DoNotOptimize(CGS(A, x, b, M, maxIter, tol));
    iterations = maxIter;
  }
  state.counters["cgs_iterations"] = iterations;
}

BENCHMARK(BM_Product)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IluBuild)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IluSolve)->Arg(64)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CgsSolve)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace
