// Memory of a run: the arrays of the finest level, which dominate the
// peak, counted from the sizes the code allocates, and the limits of the
// process.
#include "run_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cgs_ilu.h"
#include "heap_reuse.h"
#include "image_utils.h"
#include "trace_estimators.h"

namespace {

// Bytes per pixel of the finest level outside the solver's arrays: the
// pyramids (eleven planes over all levels), the level's derivative, weight
// and flow images and the temporaries of a level solve; with an estimate,
// the images of the evidence updates besides. Measured peaks of default
// and estimated runs from 128 x 128 to 4096 x 4096 pixels lie up to 6 %
// below the totals these give.
constexpr double kImageBytesPerPixel = 290.0;
constexpr double kEstimateImageBytesPerPixel = 260.0;
// The program, its libraries and the small allocations of a run.
constexpr double kBaseBytes = 8.0 * 1024 * 1024;
// Address space a worker thread reserves: its stack and its heap arena.
constexpr std::size_t kThreadReserve = std::size_t(72) << 20;

double gib(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024 * 1024); }

std::string figure(std::size_t bytes) {
  char text[64];
  if (bytes >= (std::size_t(1) << 30))
    std::snprintf(text, sizeof text, "%.1f GiB", gib(bytes));
  else
    std::snprintf(text, sizeof text, "%.0f MiB", static_cast<double>(bytes) / (1024.0 * 1024));
  return text;
}

bool estimates(const RunParameters& p) {
  return p.sigmaAlphaEstim || p.sigmaBetaEstim || p.sigmaRobEstim || p.sigmaRegRobEstim;
}

// Address space the process holds now (VmSize of /proc/self/status).
std::size_t address_space_now() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) {
      std::istringstream in(line.substr(7));
      unsigned long long kib = 0;
      if (in >> kib) return static_cast<std::size_t>(kib) * 1024;
    }
  return 0;
}

struct RunMemory {
  double heap = 0, kept = 0;  // bytes on the heap, bytes of the kept block
};

RunMemory run_memory(const RunParameters& p, int W, int H) {
  const double n = static_cast<double>(W) * H;
  const double taille = 2.0 * n;
  // The system (values and column indices, row starts) and its factors.
  const double nombre = p.periodic ? 12.0 * n : std::max(0.0, 12.0 * n - 4.0 * W - 4.0 * H);
  const double system = nombre * (sizeof(double) + sizeof(int)) + (taille + 1) * sizeof(int);
  const double factors = nombre * (sizeof(double) + sizeof(int)) + 2 * (taille + 1) * sizeof(int);
  // The memory kept for the solves: the CGS work vectors of a level solve
  // or the probe buffers of a trace estimate, whichever is larger.
  const double workspace =
      taille <= 2147483647.0 ? static_cast<double>(CgsWorkspace::doubles(static_cast<int>(taille))) *
                                   sizeof(double)
                             : 7.0 * taille * sizeof(double);
  double kept = workspace, images = kImageBytesPerPixel * n;
  if (estimates(p)) {
    kept = std::max(kept, static_cast<double>(trace_probe_buffer_bytes(W, H, p.nbIt)));
    images += kEstimateImageBytesPerPixel * n;
  }
  return RunMemory{kBaseBytes + images + system + factors, kept};
}

std::size_t bytes_of(double b) {
  return b >= 1.8e19 ? static_cast<std::size_t>(1.8e19) : static_cast<std::size_t>(b);
}

}  // namespace

std::size_t run_memory_bytes(const RunParameters& p, int W, int H) {
  const RunMemory m = run_memory(p, W, H);
  return bytes_of(m.heap + m.kept);
}

MemoryLimits memory_limits(int threads) {
  MemoryLimits m;
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && page > 0) m.physical = static_cast<std::size_t>(pages) * page;
  struct rlimit as {};
  if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
    m.address_limit = static_cast<std::size_t>(as.rlim_cur);
  m.address_used = address_space_now();
  m.thread_reserve = kThreadReserve * static_cast<std::size_t>(std::max(threads - 1, 0));
  return m;
}

std::string memory_refusal(std::size_t needed, const MemoryLimits& m) {
  if (m.physical > 0 && needed > m.physical)
    return "Refused: the run needs about " + figure(needed) + " of memory, more than the " +
           figure(m.physical) + " of physical memory.";
  if (m.address_limit > 0) {
    const std::size_t used = m.address_used + m.thread_reserve;
    const std::size_t room = m.address_limit > used ? m.address_limit - used : 0;
    if (needed > room)
      return "Refused: the run needs about " + figure(needed) + " of memory, more than the " +
             figure(room) + " left under the address-space limit of " + figure(m.address_limit) +
             ".";
  }
  return "";
}

void plan_run_memory(const RunParameters& p) {
  int W = 0, H = 0;
  expand_dim(p.dxOrig, p.dyOrig, p.nb_resol, &W, &H);
  // With an estimate, every worker thread of the probe solves holds its
  // own vectors: when the run does not fit with all of them, the fewest
  // threads down from there that fit are used (the results do not depend
  // on their number); with none, the run is refused with the figure of one.
  const int all = estimates(p) ? trace_probe_threads(p.nbIt) : 1;
  for (int threads = all; threads >= 1; --threads) {
    if (threads < all) set_trace_probe_threads(threads);
    const RunMemory m = run_memory(p, W, H);
    const std::size_t needed = bytes_of(m.heap + m.kept);
    const std::string refusal = memory_refusal(needed, memory_limits(threads));
    if (refusal.empty()) {
      if (threads < all)
        std::cout << "The probe solves use " << threads << " of " << all
                  << " threads: the memory available holds no more (about " << figure(needed)
                  << ")" << std::endl;
      reserve_heap(bytes_of(m.heap));
      return;
    }
    if (threads == 1) {
      std::cout.flush();
      std::fprintf(stderr, "%s\n", refusal.c_str());
      std::exit(1);
    }
  }
}
