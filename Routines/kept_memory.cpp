// The process's kept block: one anonymous mapping, grown with mremap so
// that the pages already faulted in stay.
#include "kept_memory.h"

#include <sys/mman.h>

#include <mutex>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t rounded(std::size_t bytes) {
  return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

struct Block {
  std::mutex mutex;
  char* base = nullptr;
  std::size_t bytes = 0;
  bool leased = false;
};

Block& block() {
  static Block* b = new Block;  // never destroyed: leases may end at exit
  return *b;
}

char* map(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<char*>(p);
}

void ask_huge_pages(char* p, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  madvise(p, bytes, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace

KeptMemory::KeptMemory(std::size_t bytes) : bytes_(rounded(bytes > 0 ? bytes : 1)) {
  Block& b = block();
  {
    std::lock_guard<std::mutex> lock(b.mutex);
    if (!b.leased) {
      if (b.bytes < bytes_) {
        char* grown;
        if (b.base) {
          void* p = mremap(b.base, b.bytes, bytes_, MREMAP_MAYMOVE);
          if (p == MAP_FAILED) throw std::bad_alloc();
          grown = static_cast<char*>(p);
        } else {
          grown = map(bytes_);
        }
        ask_huge_pages(grown, bytes_);
        b.base = grown;
        b.bytes = bytes_;
      }
      b.leased = true;
      kept_ = true;
      data_ = b.base;
      return;
    }
  }
  data_ = map(bytes_);
  ask_huge_pages(data_, bytes_);
}

KeptMemory::~KeptMemory() {
  if (kept_) {
    Block& b = block();
    std::lock_guard<std::mutex> lock(b.mutex);
    b.leased = false;
  } else {
    munmap(data_, bytes_);
  }
}
