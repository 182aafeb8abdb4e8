// Memory of the solves kept for the whole process. The work vectors of a
// level solve and the probe buffers of a trace estimate are of the
// system's size and are needed again at every solve; taken from one block
// that the process keeps, they are faulted in once instead of at every
// call. The block grows (keeping its pages) when a caller needs more, as
// happens once per pyramid level, and asks for transparent huge pages.
#pragma once

#include <cstddef>

class KeptMemory {
 public:
  // At least `bytes` bytes on a 4096-byte boundary, uninitialised (they
  // hold what an earlier user left): the process's block when no other
  // lease holds it, else a block of this lease's own, released with it.
  explicit KeptMemory(std::size_t bytes);
  ~KeptMemory();
  KeptMemory(const KeptMemory&) = delete;
  KeptMemory& operator=(const KeptMemory&) = delete;

  char* data() const { return data_; }
  // Whether this lease holds the process's block.
  bool kept() const { return kept_; }

 private:
  char* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool kept_ = false;
};
