// Heap policy of the process. Every level solve, trace probe and
// log-determinant allocates and frees arrays of the system's size (the
// compressed rows, the ILU factors). Left to the default policy, each
// large block is a fresh memory map that is returned on free, and freed
// heap is handed back once it passes the trim threshold, so the next solve
// faults the same pages in again, which costs more than the arithmetic.
// Serving every block from the heap and never handing freed memory back
// lets the solves reuse it; growing the heap once, before the run, to what
// the run needs and asking for transparent huge pages on it faults the
// arrays in 2 MiB at a time. Results are not affected.
#ifndef VELMORA_HEAP_REUSE_H
#define VELMORA_HEAP_REUSE_H

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

inline void keep_freed_memory_for_reuse() {
  mallopt(M_MMAP_MAX, 0);         // no per-block memory maps
  mallopt(M_TRIM_THRESHOLD, -1);  // freed heap stays with the process
}

// Grows the heap by about `bytes` (one block allocated and freed: only its
// first page is touched) and asks for transparent huge pages on the new
// part. Nothing happens when the heap cannot grow so far; it then grows as
// the run needs, in small pages.
inline void reserve_heap(std::size_t bytes) {
  if (bytes == 0) return;
  char* const before = static_cast<char*>(sbrk(0));
  void* const block = std::malloc(bytes);
  if (block == nullptr) return;
  std::free(block);
  char* const after = static_cast<char*>(sbrk(0));
  if (before == reinterpret_cast<char*>(-1) || after <= before) return;
#ifdef MADV_HUGEPAGE
  const std::uintptr_t huge = std::uintptr_t(2) << 20;
  const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(before) + huge - 1) / huge * huge;
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(after);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

#endif
