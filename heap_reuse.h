// Heap policy of the process. Every level solve, trace probe and
// log-determinant allocates and frees arrays of the system's size (the
// compressed rows, the ILU factors, the CGS work vectors). Left to the
// default policy, each large block is a fresh memory map that is returned
// on free, so the next solve faults the same pages in again, which costs
// more than the arithmetic. Serving every block from the heap and keeping
// freed memory in the process lets the solves reuse it. Results are not
// affected.
#ifndef VELMORA_HEAP_REUSE_H
#define VELMORA_HEAP_REUSE_H

#include <malloc.h>

inline void keep_freed_memory_for_reuse() {
  mallopt(M_MMAP_MAX, 0);                // no per-block memory maps
  mallopt(M_TRIM_THRESHOLD, 1 << 30);    // return freed heap only above 1 GiB
}

#endif
