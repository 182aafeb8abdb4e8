// The memory a run needs, worked out before it computes anything, and the
// memory available to it.
#pragma once

#include <cstddef>
#include <string>

#include "run_parameters.h"

// "" when the sparse Hessian of the finest level (the tile padded for
// p.nb_resol levels, p.periodic borders) can be stored: its entry count,
// which also bounds its unknowns, within the int counts of its arrays
// (2^31 - 1). Otherwise the one-line refusal with the count and the limit
// (no line end). The largest square tile that fits has 13376 pixels a side.
std::string check_hessian_entries(const RunParameters& p);

// Memory limit of the process's control group: the smallest limit set on
// its cgroup or on any cgroup above it, read from the files under `root`
// ("/" for this system): root/proc/self/cgroup names the cgroup, by the
// line "0::/path" under cgroup v2 (limit files
// root/sys/fs/cgroup/path/memory.max, "max" meaning none) and by the line
// of the "memory" controller under cgroup v1 (root/sys/fs/cgroup/memory/
// path/memory.limit_in_bytes, a value of 2^62 or more meaning none, as
// the kernel's "unlimited" is just below 2^63). bytes = 0 when no limit
// is set or none can be read; file names the file that holds the limit.
struct CgroupMemoryLimit {
  std::size_t bytes = 0;
  std::string file;
};
CgroupMemoryLimit cgroup_memory_limit(const std::string& root);

// What the process may use.
struct MemoryLimits {
  std::size_t physical = 0;       // physical memory
  std::size_t cgroup_limit = 0;   // memory limit of its control group, 0 when none is set
  std::string cgroup_file;        // the file that sets cgroup_limit
  std::size_t address_limit = 0;  // soft address-space limit, 0 when none is set
  std::size_t address_used = 0;   // address space the process holds now
  std::size_t thread_reserve = 0; // address space the run's threads reserve
};

// The limits of this process for a run whose estimates use `threads`
// worker threads; the control group's limit read under `root`.
MemoryLimits memory_limits(int threads, const std::string& root = "/");

// "" when a run needing `needed` resident bytes fits the limits: its bytes
// within the physical memory and the control group's memory limit and,
// with an address-space limit, the address space held now, its bytes and
// the threads' reserves within the limit. Otherwise the one-line refusal,
// which gives the memory needed and the memory available (no line end).
std::string memory_refusal(std::size_t needed, const MemoryLimits& limits);

// "" when the run of p fits the limits (read under `root`) with its probe
// solves on one thread, the least plan_run_memory can use; otherwise the
// refusal plan_run_memory would give (no line end). The thread count set
// by set_trace_probe_threads is left as it was.
std::string memory_refusal_before_input(const RunParameters& p, const std::string& root = "/");

// The check of run_setup. The peak resident bytes of the run of p, its
// tile padded for p.nb_resol levels: the images of the pyramids and of the
// finest level, its compressed-row system and ILU(0) factors, the CGS work
// vectors and, when an estimate is made, the probe buffers and the images
// of the samples on every thread the probe solves use. With an estimate,
// when the run does not fit with all the probe threads, the fewest down
// from there that fit are set (set_trace_probe_threads) and a line on
// standard output says so. A run that cannot fit even so (the control
// group's limit read under `root`) is refused: a message on standard error,
// exit status 1. Otherwise the heap is grown to what the run will use, and
// the peak bytes are returned.
std::size_t plan_run_memory(const RunParameters& p, const std::string& root = "/");
