// The memory a run needs, worked out before it computes anything, and the
// memory available to it.
#pragma once

#include <cstddef>
#include <string>

#include "run_parameters.h"

// Peak resident bytes of the run of p for its tile padded to W x H pixels:
// the images of the pyramids and of the finest level, its compressed-row
// system and ILU(0) factors, the CGS work vectors and, when an estimate is
// made, the probe buffers with the threads they would use.
std::size_t run_memory_bytes(const RunParameters& p, int W, int H);

// What the process may use.
struct MemoryLimits {
  std::size_t physical = 0;       // physical memory
  std::size_t address_limit = 0;  // soft address-space limit, 0 when none is set
  std::size_t address_used = 0;   // address space the process holds now
  std::size_t thread_reserve = 0; // address space the run's threads reserve
};

// The limits of this process for a run whose estimates use `threads`
// worker threads.
MemoryLimits memory_limits(int threads);

// "" when a run needing `needed` resident bytes fits the limits: its bytes
// within the physical memory and, with an address-space limit, the address
// space held now, its bytes and the threads' reserves within the limit.
// Otherwise the one-line refusal, which gives the memory needed and the
// memory available (no line end).
std::string memory_refusal(std::size_t needed, const MemoryLimits& limits);

// The check of run_setup: refuses (exit status 1) a run of p that cannot
// fit, then grows the heap to what the run will use.
void plan_run_memory(const RunParameters& p);
