// The CGS iteration of the level solve, against the memory traffic it needs.
//
// Systems:
//   rubberwhale  the first level-0 solve of the default run on the sample
//                pair (examples/RubberWhale.list, 584 x 388 tile, padded to
//                584 x 392: 457 856 unknowns), reached by running the
//                program's set-up and coarser levels;
//   synthetic512 the synthetic 512 x 512 level of synthetic_level.h
//                (Neumann borders, 524 288 unknowns).
// Paths: reference (the CGS template with the vector operators and the
// preconditioner's solve), fused (fusedCGS), fused_plain (fusedCGS with the
// sweeps in the plain row order). Each run solves to 1e-6 from x = 0; the
// matrix and its ILU(0) factors are built once.
//
// Counters: cgs_iters; ns_per_unknown_iter, the time per CGS iteration per
// unknown; bytes_per_unknown_iter, what one fused iteration must move at
// least (the arrays of A, L and U twice each, and the reads and writes of
// the work vectors, 192 bytes per unknown; gathered neighbours counted as
// cache hits); stream_GBps, the bandwidth of a streaming loop (5 reads, 1
// write) over a working set of the same size, run right before each solve;
// bound_ns_per_unknown_iter = bytes / bandwidth; ratio_to_bound, the time
// over the bound of the same pair. Figures are medians over the solves.
//
// Run:  ./build/bench/bench_cgs   (from any folder)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CImg.h"
#include "cgs.h"
#include "cgs_ilu.h"
#include "comprow_double.h"
#include "ilupre_double.h"
#include "level_loop.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "run_parameters.h"
#include "run_setup.h"
#include "sparse_sweeps.h"
#include "synthetic_level.h"

using bench_level::SyntheticLevel;
using bench_level::System;
using cimg_library::CImg;

namespace {

// Standard output goes to /dev/null while the object lives (the set-up and
// the coarse levels print their progress lines).
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    std::FILE* null = std::fopen("/dev/null", "w");
    dup2(fileno(null), 1);
    std::fclose(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

// The system of the first solve at level 0 of the default run.
System rubberWhaleFinest() {
  const std::string top = VELMORA_SOURCE_DIR;
  const std::string list = top + "/examples/RubberWhale.list";
  QuietStdout quiet;
  // The list file names the images relative to the repository's top folder.
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(top);
  const char* argv[] = {"Velmora", "-inPath", list.c_str(), "-dx", "584", "-dy", "388",
                        "-Dx",     "584",     "-Dy",        "388"};
  RunParameters p = read_run_parameters(11, argv);
  const RunDisplay display;
  RunSetup s = run_setup(p, display);
  HyperParameters h = initial_hyperparameters(p);
  for (int resol = p.nb_resol - 1; resol > 0; --resol) {
    LevelState level = start_level(p, s, h, resol);
    iterate_level(p, s, h, level, display);
    project_to_finer_level(s, resol);
  }
  const LevelState level = start_level(p, s, h, 0);
  std::filesystem::current_path(here);
  return System(s.pyrf_x[0], s.pyrf_y[0], s.pyrf_t[0], s.pyrOut[0], level.reg_out, s.pyrXtil[0],
                static_cast<float>(h.alpha), p.periodic);
}

const System& system(int which) {
  static std::unique_ptr<System> cache[2];
  if (!cache[which]) {
    if (which == 0)
      cache[which] = std::make_unique<System>(rubberWhaleFinest());
    else
      cache[which] = std::make_unique<System>(SyntheticLevel(512), false);
  }
  return *cache[which];
}

// Bytes per iteration of the fused path: A, L and U (values, column
// indices, row starts) read twice, and 192 bytes of work-vector traffic per
// unknown.
double fusedBytesPerIteration(const CompRow_Mat_double& A, const IluSweeps& M) {
  auto arrays = [](const CsrArrays& a) {
    return 12.0 * (a.ptr[a.n] - a.ptr[0]) + 4.0 * (a.n + 1);
  };
  return 2.0 * (arrays(csrArrays(A)) + arrays(M.lower) + arrays(M.upper)) + 192.0 * A.dim(0);
}

// Passes of y = a + b + c + d + e over arrays of `bytes` in all (reads and
// writes counted once). bandwidth() runs four passes, as the solve's passes
// follow each other over its arrays, and returns the median bytes per
// second of the last three.
class Stream {
 public:
  explicit Stream(double bytes)
      : n_(static_cast<std::size_t>(bytes / 48.0)), a_(n_, 1.0), b_(n_, 2.0), c_(n_, 3.0),
        d_(n_, 4.0), e_(n_, 5.0), y_(n_, 0.0) {}
  double bandwidth() {
    std::vector<double> rates;
    for (int pass = 0; pass < 4; ++pass) {
      const auto t0 = std::chrono::steady_clock::now();
      for (std::size_t i = 0; i < n_; ++i) y_[i] = a_[i] + b_[i] + c_[i] + d_[i] + e_[i];
      benchmark::ClobberMemory();
      const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (pass > 0) rates.push_back(48.0 * n_ / s);
    }
    benchmark::DoNotOptimize(y_.data());
    std::sort(rates.begin(), rates.end());
    return rates[1];
  }

 private:
  std::size_t n_;
  std::vector<double> a_, b_, c_, d_, e_, y_;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

enum Path { kReference = 0, kFused = 1, kFusedPlain = 2 };

void BM_CgsIteration(benchmark::State& state) {
  const System& s = system(static_cast<int>(state.range(0)));
  const Path path = static_cast<Path>(state.range(1));
  const CompRow_Mat_double A(s.taille, s.taille, s.nombre, const_cast<double*>(s.val.data()),
                             const_cast<int*>(s.ptr.data()), const_cast<int*>(s.col.data()), 0);
  const CompRow_ILUPreconditioner_double M(A);
  const IluSweeps sweeps(M, path != kFusedPlain);
  const CsrArrays a = csrArrays(A);
  CgsWorkspace work(s.taille);
  const double bytes = fusedBytesPerIteration(A, sweeps);
  // Working set: the arrays once, the seven work vectors, x and b. The
  // machine is shared: each solve is paired with a stream pass right before
  // it (not timed), and the ratio is the median over the pairs.
  Stream stream((bytes - 192.0 * s.taille) / 2 + 72.0 * s.taille);

  int iters = 0;
  std::vector<double> ns, gbps, ratio;
  for (auto _ : state) {
    state.PauseTiming();
    const double bw = stream.bandwidth();
    MV_Vector_double x(s.taille, 0.0);
    int maxIter = 500;
    double tol = 1e-6;
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    int code = 0;
    if (path == kReference)
      code = CGS(A, x, s.b, M, maxIter, tol);
    else
      code = fusedCGS(a, sweeps, &x(0), &s.b(0), maxIter, tol, work);
    const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    benchmark::DoNotOptimize(code);
    if (code != 0) state.SkipWithError("CGS did not converge");
    iters = maxIter;
    const double perUnknownIter = sec / (double(s.taille) * iters) * 1e9;
    const double bound = bytes / s.taille / bw * 1e9;
    ns.push_back(perUnknownIter);
    gbps.push_back(bw * 1e-9);
    ratio.push_back(perUnknownIter / bound);
  }
  state.counters["cgs_iters"] = iters;
  state.counters["unknowns"] = s.taille;
  state.counters["ns_per_unknown_iter"] = median(ns);
  state.counters["bytes_per_unknown_iter"] = bytes / s.taille;
  state.counters["stream_GBps"] = median(gbps);
  state.counters["bound_ns_per_unknown_iter"] = bytes / s.taille / (median(gbps) * 1e9) * 1e9;
  state.counters["ratio_to_bound"] = median(ratio);
  state.SetLabel(path == kReference ? "reference" : path == kFused ? "fused" : "fused_plain");
}

void cgsArgs(benchmark::internal::Benchmark* b) {
  for (int sys : {0, 1})
    for (int path : {kReference, kFused, kFusedPlain}) b->Args({sys, path});
  b->ArgNames({"system", "path"})->Unit(benchmark::kMillisecond)->MinTime(2.0);
}

}  // namespace

BENCHMARK(BM_CgsIteration)->Apply(cgsArgs);
