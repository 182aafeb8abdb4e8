// Randomized trace estimators: one probe skeleton (draw, solve, unpack,
// samples) shared by every member, which differ only in their operators.
#include "trace_estimators.h"

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cfenv>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "CImg.h"
#include "cgs_ilu.h"
#include "kept_memory.h"
#include "level_solve.h"
#include "mvvd.h"
#include "operators.h"
#include "random_deviates.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One probe as the operators see it: z and x = A^-1 z in the system
// numbering, the level size and, for the members with Ar, two scratch
// images of the level's size for the probe's U and V parts.
struct Probe {
  int nc, nl, ncnl;
  const MV_Vector_double& z;
  const MV_Vector_double& x;
  CImg<double>& B_u;
  CImg<double>& B_v;
};

// The deviates of one probe, in drawing order into system positions:
// pixels row by row, the U entry (position p) first, then the V entry
// (ncnl + p). put(k, d) stores deviate d at position k.
template <typename Put>
void draw_probe(long& idum, int nc, int nl, Put&& put) {
  const int ncnl = nc * nl;
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int p = y * nc + x;
      put(p, gasdev(&idum));
      put(ncnl + p, gasdev(&idum));
    }
}

// "Error CGS convergence <code> (in trace randomization)", after the
// solver's own message, for a probe whose solve failed.
void report_probe_failure(int code) {
  std::printf("Error CGS convergence %d (in trace randomization)\n", code);
  std::fflush(stdout);
}

// Worker threads and batch size of the probe solves; 0: detected / chosen.
std::atomic<int> g_threads_override{0};
std::atomic<int> g_batch_override{0};

// Right-hand sides one worker solves together: at most four (the lanes of
// one pass of the batched CGS), and no more than the in-flight budget
// allows at the level's size.
constexpr int kMaxBatch = 4;
// Bytes of the solve vectors (the solution and the seven CGS work
// vectors) of all probes in flight at once; caps the batch size, never
// the number of threads.
constexpr double kInFlightBytes = 320.0 * 1024 * 1024;
constexpr int kVectorsPerProbe = 8;

int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned h = std::thread::hardware_concurrency();
  return h > 0 ? static_cast<int>(h) : 1;
}

struct ProbePlan {
  int threads = 1;  // workers, the calling thread included
  int batch = 1;    // probes per batch, never more than the call has
};

// Counts of the plan are formed in 64 bits: a probe count up to INT_MAX and
// any override of the threads or the batch size overflow nothing.
ProbePlan probe_plan(int nbIt, int taille) {
  ProbePlan plan;
  const long long probes = std::max(nbIt, 1);
  const int t = g_threads_override.load();
  plan.threads = static_cast<int>(std::min<long long>(t > 0 ? t : available_cpus(), probes));
  const int b = g_batch_override.load();
  if (b > 0) {
    plan.batch = static_cast<int>(std::min<long long>(b, probes));
  } else {
    const double perProbe = double(kVectorsPerProbe) * sizeof(double) * taille;
    const double fit = kInFlightBytes / (perProbe * plan.threads);
    const long long share = (probes + plan.threads - 1) / plan.threads;
    plan.batch = static_cast<int>(std::max<long long>(
        1, std::min<long long>({kMaxBatch, share, fit >= kMaxBatch ? kMaxBatch : int(fit)})));
  }
  return plan;
}

// The probe loop one probe at a time: draw, solve
// (the system factored once), unpack, samples. The reference for the
// batched loop below.
template <std::size_t N, typename Samples>
std::array<double, N> sequential_sums(const FactoredSystem& A, long& idum, int nc, int nl,
                                      int nbIt, double tol, const Samples& samples) {
  std::array<double, N> sums{};
  const int ncnl = nc * nl;
  MV_Vector_double z(2 * ncnl, 0.0), x(2 * ncnl, 0.0);
  CImg<double> B_u(nc, nl, 1, 1, 0.0), B_v(nc, nl, 1, 1, 0.0);
  CImg<double> X(nc, nl, 2, 1, 0.0);
  Probe pr{nc, nl, ncnl, z, x, B_u, B_v};
  for (int it = 0; it < nbIt; ++it) {
    draw_probe(idum, nc, nl, [&](int k, float d) { z(k) = static_cast<double>(d); });
    const int code = A.solve(z, X, tol);
    if (code != 0) report_probe_failure(code);
    for (int y = 0; y < nl; ++y)
      for (int xx = 0; xx < nc; ++xx) {
        x(y * nc + xx) = X(xx, y, 0);
        x(ncnl + y * nc + xx) = X(xx, y, 1);
      }
    const std::array<double, N> s = samples(pr);
    for (std::size_t i = 0; i < N; ++i) sums[i] += s[i];
  }
  return sums;
}

// The buffers of one batched call (the probes, the solutions, the CGS work
// vectors), taken from the memory the process keeps for its solves: at a
// fine level they take hundreds of megabytes, which every call would
// otherwise fault in again. Pieces are handed out on 4096-byte boundaries;
// they hold what an earlier call left, and each is written before it is
// read.
class CallBuffers {
 public:
  explicit CallBuffers(std::size_t bytes) : memory_(bytes), bytes_(bytes), base_(memory_.data()) {}
  CallBuffers(const CallBuffers&) = delete;
  CallBuffers& operator=(const CallBuffers&) = delete;

  static std::size_t rounded(std::size_t bytes) { return (bytes + kPage - 1) / kPage * kPage; }
  // The next count elements of T, rounded up to whole pages.
  template <typename T>
  T* take(std::size_t count) {
    const std::size_t bytes = rounded(count * sizeof(T));
    assert(used_ + bytes <= bytes_);
    T* p = reinterpret_cast<T*>(base_ + used_);
    used_ += bytes;
    return p;
  }

 private:
  static constexpr std::size_t kPage = 4096;
  KeptMemory memory_;
  std::size_t bytes_;
  std::size_t used_ = 0;
  char* base_ = nullptr;
};

// The vectors of one worker: per lane of its batches the solution and the
// CGS work vectors, and the probe and scratch images of its samples.
struct WorkerSlots {
  static std::size_t bytes(int taille, int batch) {
    const std::size_t n = static_cast<std::size_t>(taille);
    return CallBuffers::rounded(n * sizeof(double)) +
           static_cast<std::size_t>(batch) *
               (CallBuffers::rounded(n * sizeof(double)) +
                CallBuffers::rounded(CgsWorkspace::doubles(taille) * sizeof(double)));
  }
  WorkerSlots(CallBuffers& buf, int nc, int nl, int batch)
      : z(buf.take<double>(static_cast<std::size_t>(2 * nc * nl)), 2 * nc * nl, MV_Vector_::ref),
        B_u(nc, nl, 1, 1, 0.0),
        B_v(nc, nl, 1, 1, 0.0) {
    const int taille = 2 * nc * nl;
    for (int j = 0; j < batch; ++j) {
      x.push_back(std::make_unique<MV_Vector_double>(
          buf.take<double>(static_cast<std::size_t>(taille)), taille, MV_Vector_::ref));
      work.push_back(std::make_unique<CgsWorkspace>(
          buf.take<double>(CgsWorkspace::doubles(taille)), taille, j));
    }
  }
  MV_Vector_double z;
  std::vector<std::unique_ptr<MV_Vector_double>> x;
  std::vector<std::unique_ptr<CgsWorkspace>> work;
  CImg<double> B_u, B_v;
};

// The probes a batched call holds at once (a ring of at most two batches
// per thread), the distance between them in floats, and the bytes of the
// call's buffers: the ring and every worker's slots.
int probe_ring(int nbIt, const ProbePlan& plan) {
  return static_cast<int>(std::min<long long>(nbIt, 2LL * plan.threads * plan.batch));
}

std::size_t probe_stride(int taille) {
  return CallBuffers::rounded(sizeof(float) * static_cast<std::size_t>(taille)) / sizeof(float);
}

std::size_t call_buffer_bytes(int taille, int nbIt, const ProbePlan& plan) {
  return probe_stride(taille) * sizeof(float) * static_cast<std::size_t>(probe_ring(nbIt, plan)) +
         WorkerSlots::bytes(taille, plan.batch) * static_cast<std::size_t>(plan.threads);
}

// The same probes, solves, samples, console lines and sums as
// sequential_sums, bit for bit, with the solves in batches on plan.threads
// threads. This thread draws the probes in order from the one generator
// (the deviates kept as the floats they are) into a ring of at most two
// batches per thread, while the other threads solve the batches already
// drawn; when the ring is full it solves a drawn batch itself, and once
// every probe is drawn it joins the others. A probe's slot is reused once
// its samples are formed. Each probe's samples are kept apart and added,
// with the console lines of the failed solves, in ascending probe order
// once all are done.
template <std::size_t N, typename Samples>
std::array<double, N> batched_sums(const FactoredSystem& A, long& idum, int nc, int nl, int nbIt,
                                   double tol, const ProbePlan& plan, const Samples& samples) {
  const int ncnl = nc * nl, taille = 2 * ncnl;
  const int ring = probe_ring(nbIt, plan);
  const std::size_t stride = probe_stride(taille);
  CallBuffers buffers(call_buffer_bytes(taille, nbIt, plan));
  float* const deviates = buffers.take<float>(stride * static_cast<std::size_t>(ring));
  auto probe = [&](int it) { return deviates + stride * static_cast<std::size_t>(it % ring); };
  std::vector<std::array<double, N>> probeSamples(static_cast<std::size_t>(nbIt));
  std::vector<int> codes(static_cast<std::size_t>(nbIt), 0);
  std::vector<std::unique_ptr<WorkerSlots>> slots;
  for (int t = 0; t < plan.threads; ++t)
    slots.push_back(std::make_unique<WorkerSlots>(buffers, nc, nl, plan.batch));

  // Batch numbers in 64 bits: the workers take numbers past the last one.
  const long long batches = (static_cast<long long>(nbIt) + plan.batch - 1) / plan.batch;
  auto firstOf = [&](long long batch) { return static_cast<int>(batch * plan.batch); };
  auto endOf = [&](long long batch) {
    return static_cast<int>(std::min<long long>(nbIt, (batch + 1) * plan.batch));
  };
  std::atomic<long long> nextBatch{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable changed;  // a probe drawn, a batch done, a failure
  int drawn = 0;                     // probes drawn so far
  std::vector<char> done(static_cast<std::size_t>(nbIt), 0);  // samples formed
  std::exception_ptr error;          // the first failure of a worker (all guarded by mutex)

  // Solves one batch whose probes are all drawn, forms their samples and
  // releases their slots.
  auto solveBatch = [&](WorkerSlots& ws, long long batch) {
    const int first = firstOf(batch), count = endOf(batch) - first;
    std::vector<const double*> bv(static_cast<std::size_t>(count));
    std::vector<double*> xv(static_cast<std::size_t>(count));
    std::vector<CgsWorkspace*> wv(static_cast<std::size_t>(count));
    // The right-hand side goes into r, which the solve's first pass reads
    // before overwriting it.
    for (int j = 0; j < count; ++j) {
      const std::size_t l = static_cast<std::size_t>(j);
      const float* d = probe(first + j);
      double* r = ws.work[l]->r;
      for (int k = 0; k < taille; ++k) r[k] = static_cast<double>(d[k]);
      bv[l] = r;
      xv[l] = &(*ws.x[l])(0);
      wv[l] = ws.work[l].get();
    }
    A.solve_batch(count, bv.data(), xv.data(), tol, codes.data() + first, wv.data());
    for (int j = 0; j < count; ++j) {
      const float* d = probe(first + j);
      for (int k = 0; k < taille; ++k) ws.z(k) = static_cast<double>(d[k]);
      Probe pr{nc, nl, ncnl, ws.z, *ws.x[static_cast<std::size_t>(j)], ws.B_u, ws.B_v};
      probeSamples[static_cast<std::size_t>(first + j)] = samples(pr);
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (int it = first; it < first + count; ++it) done[static_cast<std::size_t>(it)] = 1;
    }
    changed.notify_all();
  };
  auto fail = [&] {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!error) error = std::current_exception();
      failed.store(true);
    }
    changed.notify_all();
  };
  // A worker: the next batch in order, once drawn, until none is left.
  auto work = [&](WorkerSlots& ws) {
    try {
      while (!failed.load()) {
        const long long batch = nextBatch.fetch_add(1);
        if (batch >= batches) break;
        {
          std::unique_lock<std::mutex> lock(mutex);
          changed.wait(lock, [&] { return drawn >= endOf(batch) || failed.load(); });
        }
        if (failed.load()) break;
        solveBatch(ws, batch);
      }
    } catch (...) {
      fail();
    }
  };

  // The workers run in this thread's floating-point environment (the
  // flushing of denormals included).
  std::fenv_t env;
  std::fegetenv(&env);
  std::vector<std::thread> pool;
  try {
    for (int t = 1; t < plan.threads; ++t)
      pool.emplace_back([&, t] {
        std::fesetenv(&env);
        work(*slots[static_cast<std::size_t>(t)]);
      });
  } catch (...) {
    // Fewer threads than planned: the results do not depend on it.
  }
  try {
    for (int it = 0; it < nbIt && !failed.load();) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        const bool free = it < ring || done[static_cast<std::size_t>(it - ring)];
        if (!free) {
          // Ring full: solve the next batch here if it is drawn, else wait
          // for a slot.
          long long batch = nextBatch.load();
          const bool ready = batch < batches && endOf(batch) <= drawn;
          lock.unlock();
          if (ready && nextBatch.compare_exchange_strong(batch, batch + 1)) {
            solveBatch(*slots[0], batch);
          } else if (!ready) {
            lock.lock();
            changed.wait(lock, [&] {
              return done[static_cast<std::size_t>(it - ring)] || failed.load();
            });
          }
          continue;
        }
      }
      float* d = probe(it);
      draw_probe(idum, nc, nl, [d](int k, float v) { d[k] = v; });
      {
        std::lock_guard<std::mutex> lock(mutex);
        drawn = it + 1;
      }
      changed.notify_all();
      ++it;
    }
  } catch (...) {
    fail();
  }
  work(*slots[0]);
  for (std::thread& th : pool) th.join();
  if (error) std::rethrow_exception(error);

  std::array<double, N> sums{};
  for (int it = 0; it < nbIt; ++it) {
    const int code = codes[static_cast<std::size_t>(it)];
    if (code != 0) {
      FactoredSystem::report_failure(code);
      report_probe_failure(code);
    }
    for (std::size_t i = 0; i < N; ++i) sums[i] += probeSamples[static_cast<std::size_t>(it)][i];
  }
  return sums;
}

// Sums over nbIt probes of the N samples x . (M_i z) that `samples` forms
// from one probe (each accumulated over k ascending from 0.0). The system is
// factored once; every probe is solved from 0 with tolerance tol. One
// thread and batches of one probe run the sequential loop; otherwise the
// batched loop, with the same results bit for bit.
template <std::size_t N, typename Samples>
std::array<double, N> probe_sums(int taille, int nombre, int nc, int nl, double* val,
                                 int* row_ptr, int* col_ind, int nbIt, double tol,
                                 const Samples& samples) {
  assert(taille == 2 * nc * nl);
  long idum = probe_seed();
  if (nbIt <= 0) return std::array<double, N>{};
  const FactoredSystem A(taille, nombre, val, row_ptr, col_ind);
  const ProbePlan plan = probe_plan(nbIt, taille);
  if ((plan.threads == 1 && plan.batch == 1) || taille == 0)
    return sequential_sums<N>(A, idum, nc, nl, nbIt, tol, samples);
  return batched_sums<N>(A, idum, nc, nl, nbIt, tol, plan, samples);
}

// Mean of the single-trace members: sum / nbIt, not a number for nbIt <= 0.
double mean_of(double sum, int nbIt) { return nbIt > 0 ? sum / nbIt : kNaN; }

// Results of the multi-trace members: sum * (1/nbIt), in a new[] array.
template <std::size_t N>
double* means_array(const std::array<double, N>& sums, int nbIt) {
  double* r = new double[N];
  const double inv = nbIt > 0 ? 1.0 / nbIt : kNaN;
  for (std::size_t i = 0; i < N; ++i) r[i] = sums[i] * inv;
  return r;
}

// Data block of one pixel: J_u and J_v of the probe at flat index p.
struct DataBlock {
  const CImg<double>&IxIx, &IxIy, &IyIy;
  void J(const Probe& pr, int x, int y, double& Ju, double& Jv) const {
    const int p = y * pr.nc + x;
    const double zu = pr.z(p), zv = pr.z(pr.ncnl + p);
    Ju = IxIx(x, y) * zu + IxIy(x, y) * zv;
    Jv = IxIy(x, y) * zu + IyIy(x, y) * zv;
  }
};

// B_u, B_v <- the probe's U and V parts as images.
void probe_images(Probe& pr) {
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) {
      pr.B_u(x, y) = pr.z(y * pr.nc + x);
      pr.B_v(x, y) = pr.z(pr.ncnl + y * pr.nc + x);
    }
}
// B_u, B_v <- -laplacian of the probe's U and V parts.
void smoothness_images(Probe& pr, const CImgList<double>& reg_out, bool periodic) {
  probe_images(pr);
  pr.B_u = -laplacian(pr.B_u, reg_out, periodic);
  pr.B_v = -laplacian(pr.B_v, reg_out, periodic);
}

// x . (M z) for a smoothness operator whose U and V parts are the images
// Mu, Mv, over the U block then the V block.
double smoothness_sample(const Probe& pr, const CImg<double>& Mu, const CImg<double>& Mv) {
  double s = 0.0;
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) s += pr.x(y * pr.nc + x) * Mu(x, y);
  for (int y = 0; y < pr.nl; ++y)
    for (int x = 0; x < pr.nc; ++x) s += pr.x(pr.ncnl + y * pr.nc + x) * Mv(x, y);
  return s;
}

// x . (Ar z).
double smoothness_sample(const Probe& pr) { return smoothness_sample(pr, pr.B_u, pr.B_v); }

// The three data samples x . (A0 z), x . (A0Fx z), x . (A0dFx z) of a
// four-trace member; `weights(x, y, J, a0, fx, dfx)` gives the three
// operator values of one component with data block value J.
template <typename Weights>
std::array<double, 3> data_samples(const Probe& pr, const DataBlock& blk, const Weights& weights) {
  std::array<double, 3> s{};
  // U block, then V block: k ascending.
  for (int part = 0; part < 2; ++part)
    for (int y = 0; y < pr.nl; ++y)
      for (int x = 0; x < pr.nc; ++x) {
        double Ju, Jv, a0, fx, dfx;
        blk.J(pr, x, y, Ju, Jv);
        weights(x, y, part == 0 ? Ju : Jv, a0, fx, dfx);
        const double xk = pr.x(part * pr.ncnl + y * pr.nc + x);
        s[0] += xk * a0;
        s[1] += xk * fx;
        s[2] += xk * dfx;
      }
  return s;
}

// A0, A0Fx and A0dFx at one pixel for the exponential data weight, from the
// data block value J of one component.
struct ExponentialBlocks {
  const CImg<double>&data_out, &x2;
  void operator()(int x, int y, double J, double& a0, double& fx, double& dfx) const {
    const double rho = data_out(x, y), w = x2(x, y);
    a0 = J * rho;
    fx = w * rho * J;
    dfx = rho * w * w * J;
  }
};

// The four-trace members: Ar and the three data operators that
// `weights(x, y, J, a0, fx, dfx)` gives per pixel, in a new[] array.
template <typename Weights>
double* four_traces(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                    const CImg<double>& IxIx, const CImg<double>& IxIy, const CImg<double>& IyIy,
                    const CImgList<double>& reg_out, int nbIt, double tol, bool periodic,
                    const Weights& weights) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const auto sums = probe_sums<4>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        smoothness_images(pr, reg_out, periodic);
        const std::array<double, 3> d = data_samples(pr, blk, weights);
        return std::array<double, 4>{smoothness_sample(pr), d[0], d[1], d[2]};
      });
  return means_array(sums, nbIt);
}

}  // namespace

int set_trace_probe_threads(int n) { return g_threads_override.exchange(n > 0 ? n : 0); }

void set_trace_probe_batch(int n) { g_batch_override.store(n > 0 ? n : 0); }

int trace_probe_threads(int nbIt) { return probe_plan(std::max(nbIt, 1), 2).threads; }

std::size_t trace_probe_buffer_bytes(int nc, int nl, int nbIt) {
  const long long ncnl = static_cast<long long>(nc) * nl, taille = 2 * ncnl;
  if (nbIt <= 0 || taille <= 0 || taille > std::numeric_limits<int>::max()) return 0;
  const ProbePlan plan = probe_plan(nbIt, static_cast<int>(taille));
  const std::size_t image = sizeof(double) * static_cast<std::size_t>(ncnl);
  if (plan.threads == 1 && plan.batch == 1)  // z, x, B_u, B_v, X
    return 4 * image + 2 * image + 2 * image;
  return call_buffer_bytes(static_cast<int>(taille), nbIt, plan) +
         2 * image * static_cast<std::size_t>(plan.threads);  // + B_u, B_v per worker
}

std::size_t trace_sample_image_bytes(int nc, int nl, TraceSampleImages images) {
  if (nc <= 0 || nl <= 0) return 0;
  const std::size_t image = sizeof(double) * static_cast<std::size_t>(nc) * nl;
  switch (images) {
    case TraceSampleImages::Smoothness:
      return 5 * image;
    case TraceSampleImages::SmoothnessAndPowers:
      return 9 * image;
    default:
      return 0;
  }
}

double CGS_randomB_traceInvA(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                             int* col_ind, int nbIt, double tol) {
  const auto sums = probe_sums<1>(taille, nombre, nc, nl, val, row_ptr, col_ind, nbIt, tol,
                                  [](Probe& pr) {
                                    double s = 0.0;
                                    for (int k = 0; k < 2 * pr.ncnl; ++k) s += pr.x(k) * pr.z(k);
                                    return std::array<double, 1>{s};
                                  });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAA0(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                               const CImg<double>& IxIx, const CImg<double>& IxIy,
                               const CImg<double>& IyIy, const CImg<double>& data_out, int nbIt,
                               double tol) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const auto sums = probe_sums<1>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        double s = 0.0;
        for (int part = 0; part < 2; ++part)
          for (int y = 0; y < pr.nl; ++y)
            for (int x = 0; x < pr.nc; ++x) {
              double Ju, Jv;
              blk.J(pr, x, y, Ju, Jv);
              s += pr.x(part * pr.ncnl + y * pr.nc + x) * ((part == 0 ? Ju : Jv) * data_out(x, y));
            }
        return std::array<double, 1>{s};
      });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, const CImgList<double>& reg_out, int nbIt, double tol,
                               bool periodic) {
  const auto sums = probe_sums<1>(taille, nombre, nc, nl, val, row_ptr, col_ind, nbIt, tol,
                                  [&](Probe& pr) {
                                    smoothness_images(pr, reg_out, periodic);
                                    return std::array<double, 1>{smoothness_sample(pr)};
                                  });
  return mean_of(sums[0], nbIt);
}

double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, int nbIt, double tol, bool periodic) {
  const CImgList<double> ones(2, nc, nl, 1, 1, 1.0);
  return CGS_randomB_traceInvAAr(taille, nombre, nc, nl, val, row_ptr, col_ind, ones, nbIt, tol,
                                 periodic);
}

double* CGS_randomB_traceInvAA0Fx(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                                  const CImg<double>& IxIx, const CImg<double>& IxIy,
                                  const CImg<double>& IyIy, const CImg<double>& data_out,
                                  const CImgList<double>& reg_out, const CImg<double>& x2,
                                  int nbIt, double tol, bool periodic) {
  return four_traces(taille, nombre, val, row_ptr, col_ind, IxIx, IxIy, IyIy, reg_out, nbIt, tol,
                     periodic, ExponentialBlocks{data_out, x2});
}

double* CGS_randomB_traceInvAA0Fx_QuasiTV(int taille, int nombre, double* val, int* row_ptr,
                                          int* col_ind, const CImg<double>& IxIx,
                                          const CImg<double>& IxIy, const CImg<double>& IyIy,
                                          const CImg<double>& data_out,
                                          const CImgList<double>& reg_out, const CImg<double>& x2,
                                          double tau, int nbIt, double tol, bool periodic) {
  const double fourTau2 = 4.0 * tau * tau, fourTau = 4.0 * tau;
  const auto weights = [&](int x, int y, double J, double& a0, double& fx, double& dfx) {
    const double rho = data_out(x, y), w = x2(x, y);
    const double s = fourTau2 * w + 1.0;
    const double g1 = -(fourTau * w) / s;
    const double g2 = (4.0 * w * (fourTau2 * w - 1.0)) / (s * std::sqrt(s));
    a0 = J * rho;
    fx = rho * J * g1;
    dfx = rho * J * (rho * g2 + g1 * g1);
  };
  return four_traces(taille, nombre, val, row_ptr, col_ind, IxIx, IxIy, IyIy, reg_out, nbIt, tol,
                     periodic, weights);
}

double* CGS_randomB_traceInvAA0ArFx(int taille, int nombre, double* val, int* row_ptr,
                                    int* col_ind, const CImg<double>& IxIx,
                                    const CImg<double>& IxIy, const CImg<double>& IyIy,
                                    const CImg<double>& data_out, const CImgList<double>& reg_out,
                                    const CImg<double>& x2, const CImg<double>& UV, int nbIt,
                                    double tol, bool periodic) {
  const DataBlock blk{IxIx, IxIy, IyIy};
  const ExponentialBlocks weights{data_out, x2};
  const CImg<double> U = UV.get_slice(0), V = UV.get_slice(1);
  const auto sums = probe_sums<6>(
      taille, nombre, IxIx.width(), IxIx.height(), val, row_ptr, col_ind, nbIt, tol,
      [&](Probe& pr) {
        probe_images(pr);
        // Power-weighted Laplacians of the raw probe parts, then Ar.
        auto powered = [&](const CImg<double>& part, const CImg<double>& flow, double power) {
          return -laplacianPiemeDerivRobustWeight(part, reg_out, flow, power, periodic);
        };
        const CImg<double> B2_u = powered(pr.B_u, U, 2.0), B2_v = powered(pr.B_v, V, 2.0);
        const CImg<double> B4_u = powered(pr.B_u, U, 4.0), B4_v = powered(pr.B_v, V, 4.0);
        pr.B_u = -laplacian(pr.B_u, reg_out, periodic);
        pr.B_v = -laplacian(pr.B_v, reg_out, periodic);
        const std::array<double, 3> d = data_samples(pr, blk, weights);
        return std::array<double, 6>{smoothness_sample(pr), d[0], d[1], d[2],
                                     smoothness_sample(pr, B2_u, B2_v),
                                     smoothness_sample(pr, B4_u, B4_v)};
      });
  return means_array(sums, nbIt);
}
