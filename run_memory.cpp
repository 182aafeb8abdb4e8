// Memory of a run: the arrays of the finest level, which dominate the
// peak, counted from the sizes the code allocates, and the limits of the
// process.
#include "run_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "cgs_ilu.h"
#include "heap_reuse.h"
#include "hessian_assembly.h"
#include "hyperparameter_steps.h"
#include "image_utils.h"
#include "refusal.h"
#include "trace_estimators.h"

namespace {

// Bytes per pixel of the finest level outside the solver's arrays: the
// pyramids (eleven planes over all levels), the level's derivative, weight
// and flow images and the temporaries of a level solve; with an estimate,
// what the images of the evidence updates on the calling thread add (they
// mostly reuse what the level solve freed), the images of the samples on
// every probe thread being counted apart. Measured peaks of default and
// estimated runs from 128 x 128 to 4096 x 4096 pixels, on 1 to 8 threads,
// lie up to 12 % below the totals these give.
constexpr double kImageBytesPerPixel = 290.0;
constexpr double kEstimateImageBytesPerPixel = 16.0;
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

// The images the trace samples of the finest level make: those of the
// joint update when it runs there, else those of the alpha update (the
// beta update's samples make none).
TraceSampleImages sample_images(const RunParameters& p) {
  const JointEstimator joint = joint_estimator(p);
  if ((p.sigmaRobEstim || p.sigmaRegRobEstim) && joint != JointEstimator::None)
    return joint == JointEstimator::DataAndRegularisation ? TraceSampleImages::SmoothnessAndPowers
                                                          : TraceSampleImages::Smoothness;
  return p.sigmaAlphaEstim ? TraceSampleImages::Smoothness : TraceSampleImages::None;
}

// The first line of a file, "" when it cannot be read.
std::string first_line(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// A limit file's value in bytes: a whole number, surrounding blanks
// allowed; false for "max", for anything else and for 0.
bool limit_value(const std::string& text, unsigned long long& value) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  const std::size_t last = text.find_last_not_of(" \t\r\n");
  const std::string digits = text.substr(first, last - first + 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 20)
    return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(digits.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value > 0;
}

// The folders of a cgroup path from its mount point: "" (the mount point
// itself), then each deeper one. None for a path that leaves the mount
// point (".."): the cgroup lies outside the hierarchy this process sees,
// whose folders are not its own.
std::vector<std::string> cgroup_folders(const std::string& path) {
  std::vector<std::string> folders{""};
  std::istringstream in(path);
  std::string part;
  while (std::getline(in, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") return {};
    folders.push_back(folders.back() + "/" + part);
  }
  return folders;
}

// Lowers `best` to the smallest limit set in `file` of the cgroup at
// `path` under `mount` and of every cgroup above it; values from
// `none_from` up mean no limit.
void take_smallest_limit(CgroupMemoryLimit& best, const std::string& mount,
                         const std::string& path, const char* file,
                         unsigned long long none_from) {
  for (const std::string& folder : cgroup_folders(path)) {
    const std::string name = mount + folder + "/" + file;
    unsigned long long value = 0;
    if (!limit_value(first_line(name), value) || value >= none_from) continue;
    const std::size_t bytes = value > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(value);
    if (best.bytes == 0 || bytes < best.bytes) best = CgroupMemoryLimit{bytes, name};
  }
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
  const double nombre = static_cast<double>(hessianStoredCount(W, H, p.periodic));
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
    // Every thread that forms samples holds their images at once.
    images += kEstimateImageBytesPerPixel * n +
              static_cast<double>(trace_probe_threads(p.nbIt)) *
                  static_cast<double>(trace_sample_image_bytes(W, H, sample_images(p)));
  }
  return RunMemory{kBaseBytes + images + system + factors, kept};
}

std::size_t bytes_of(double b) {
  return b >= 1.8e19 ? static_cast<std::size_t>(1.8e19) : static_cast<std::size_t>(b);
}

}  // namespace

std::string check_hessian_entries(const RunParameters& p) {
  int W = 0, H = 0;
  expand_dim(p.dxOrig, p.dyOrig, p.nb_resol, &W, &H);
  // The entries outnumber the unknowns 2*W*H: one limit covers both.
  const long long entries = hessianStoredCount(W, H, p.periodic);
  if (entries <= INT_MAX) return "";
  return "Refused: the tile " + std::to_string(p.dxOrig) + " x " + std::to_string(p.dyOrig) +
         " padded for " + level_count(p.nb_resol) + " (" + std::to_string(W) + " x " +
         std::to_string(H) + ") gives a sparse Hessian of " + std::to_string(entries) +
         " stored entries at its finest level, more than the limit of " +
         std::to_string(INT_MAX) + ".";
}

CgroupMemoryLimit cgroup_memory_limit(const std::string& root) {
  const std::string top = root.empty() || root.back() != '/' ? root + "/" : root;
  CgroupMemoryLimit best;
  std::ifstream cgroups(top + "proc/self/cgroup");
  std::string line;
  while (std::getline(cgroups, line)) {
    // hierarchy:controllers:path
    const std::size_t a = line.find(':');
    const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1);
    const std::string path = line.substr(b + 1);
    if (id == "0" && controllers.empty()) {
      take_smallest_limit(best, top + "sys/fs/cgroup", path, "memory.max", ULLONG_MAX);
      continue;
    }
    std::istringstream list(controllers);
    std::string controller;
    while (std::getline(list, controller, ','))
      if (controller == "memory")
        take_smallest_limit(best, top + "sys/fs/cgroup/memory", path, "memory.limit_in_bytes",
                            1ULL << 62);
  }
  return best;
}

MemoryLimits memory_limits(int threads, const std::string& root) {
  MemoryLimits m;
  const CgroupMemoryLimit cgroup = cgroup_memory_limit(root);
  m.cgroup_limit = cgroup.bytes;
  m.cgroup_file = cgroup.file;
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
  if (m.cgroup_limit > 0 && needed > m.cgroup_limit)
    return "Refused: the run needs about " + figure(needed) + " of memory, more than the " +
           figure(m.cgroup_limit) + " memory limit of its control group (" + m.cgroup_file +
           ").";
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

std::string memory_refusal_before_input(const RunParameters& p, const std::string& root) {
  int W = 0, H = 0;
  expand_dim(p.dxOrig, p.dyOrig, p.nb_resol, &W, &H);
  const int before = set_trace_probe_threads(1);
  const RunMemory m = run_memory(p, W, H);
  set_trace_probe_threads(before);
  return memory_refusal(bytes_of(m.heap + m.kept), memory_limits(1, root));
}

std::size_t plan_run_memory(const RunParameters& p, const std::string& root) {
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
    const std::string refusal = memory_refusal(needed, memory_limits(threads, root));
    if (refusal.empty()) {
      if (threads < all)
        std::cout << "The probe solves use " << threads << " of " << all
                  << " threads: the memory available holds no more (about " << figure(needed)
                  << ")" << std::endl;
      reserve_heap(bytes_of(m.heap));
      return needed;
    }
    if (threads == 1) refuse(refusal);
  }
  return 0;  // not reached: the loop ends at one thread
}
