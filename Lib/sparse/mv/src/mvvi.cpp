// Dense int vectors: construction, assignment, views, output.
#include "mvvi.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>

namespace {

// Array of n ints, or null when n is negative or the allocation fails.
int* allocate(int n) {
  if (n < 0) return nullptr;
  return new (std::nothrow) int[n];
}

// dst[0..n-1] = src[0..n-1]; overlapping ranges are copied as memmove does.
void copyElements(int* dst, const int* src, int n) {
  if (n > 0 && dst != src) std::memmove(dst, src, sizeof(int) * static_cast<std::size_t>(n));
}

[[noreturn]] void failConstruction() {
  std::cerr << "Error: NULL pointer in MV_Vector_int(int) constructor " << "\n"
            << "       Most likely out of memory... " << "\n";
  std::exit(1);
}

[[noreturn]] void failAssignment() {
  std::cerr << "Error : NULL pointer in operator= " << "\n";
  std::exit(1);
}

}  // namespace

MV_Vector_int::MV_Vector_int() : p_(nullptr), dim_(0), ref_(0) {}

MV_Vector_int::MV_Vector_int(int n) : p_(allocate(n)), dim_(n), ref_(0) {
  if (p_ == nullptr) failConstruction();
}

MV_Vector_int::MV_Vector_int(int n, const int& v) : p_(allocate(n)), dim_(n), ref_(0) {
  if (p_ == nullptr) failConstruction();
  for (int i = 0; i < n; i++) p_[i] = v;
}

MV_Vector_int::MV_Vector_int(const MV_Vector_int& m)
    : p_(allocate(m.dim_)), dim_(m.dim_), ref_(0) {
  if (p_ == nullptr) {
    std::cerr << "Error:  Null pointer in MV_Vector_int(const MV_Vector&); " << "\n";
    std::exit(1);
  }
  copyElements(p_, m.p_, dim_);
}

MV_Vector_int::MV_Vector_int(int* d, int n) : p_(allocate(n)), dim_(n), ref_(0) {
  if (p_ == nullptr) {
    std::cerr << "Error: Null pointer in MV_Vector_int(int*, int) " << "\n";
    std::exit(1);
  }
  copyElements(p_, d, n);
}

MV_Vector_int::MV_Vector_int(const int* d, int n) : p_(allocate(n)), dim_(n), ref_(0) {
  if (p_ == nullptr) {
    std::cerr << "Error: Null pointer in MV_Vector_int(int*, int) " << "\n";
    std::exit(1);
  }
  copyElements(p_, d, n);
}

MV_Vector_int::MV_Vector_int(int* d, int N, MV_Vector_::ref_type i)
    : p_(d), dim_(N), ref_(i) {}

MV_Vector_int::~MV_Vector_int() {
  if (p_ != nullptr && ref_ == 0) delete[] p_;
}

MV_Vector_int& MV_Vector_int::operator=(const int& s) {
  for (int i = 0; i < dim_; i++) p_[i] = s;
  return *this;
}

MV_Vector_int& MV_Vector_int::newsize(int n) {
  if (ref_) {
    std::cerr << "MV_Vector::newsize can't operator on references.\n";
    std::exit(1);
  }
  if (n == dim_) return *this;
  int* fresh = allocate(n);
  if (fresh == nullptr) failAssignment();
  delete[] p_;
  p_ = fresh;
  dim_ = n;
  return *this;
}

MV_Vector_int& MV_Vector_int::operator=(const MV_Vector_int& m) {
  if (&m == this) return *this;
  if (ref_) {
    if (dim_ != m.dim_) {
      std::cerr << "MV_VectorRef::operator=  non-conformant assignment.\n";
      std::exit(1);
    }
    copyElements(p_, m.p_, dim_);
    return *this;
  }
  if (dim_ != m.dim_) {
    // m may be a view of this vector's own storage: copy into the new block
    // before the old one is released.
    int* fresh = allocate(m.dim_);
    if (fresh == nullptr) failAssignment();
    copyElements(fresh, m.p_, m.dim_);
    delete[] p_;
    p_ = fresh;
    dim_ = m.dim_;
  } else {
    copyElements(p_, m.p_, dim_);
  }
  return *this;
}

MV_Vector_int MV_Vector_int::operator()() {
  return MV_Vector_int(p_, dim_, MV_Vector_::ref);
}

const MV_Vector_int MV_Vector_int::operator()() const {
  return MV_Vector_int(p_, dim_, MV_Vector_::ref);
}

namespace {

[[noreturn]] void failRange(const MV_VecIndex& I, int dim) {
  std::cerr << "MV_VecIndex: (" << I.start() << ":" << I.end() << ") too big for matrix (0:"
            << dim - 1 << ") " << "\n";
  std::exit(1);
}

}  // namespace

MV_Vector_int MV_Vector_int::operator()(const MV_VecIndex& I) {
  if (I.all()) return MV_Vector_int(p_, dim_, MV_Vector_::ref);
  // A negative start or a start past the end would name storage outside
  // the vector: refused like an end past the last element.
  if (I.end() >= dim_ || I.start() < 0 || I.start() > I.end()) failRange(I, dim_);
  return MV_Vector_int(p_ + I.start(), I.end() - I.start() + 1, MV_Vector_::ref);
}

const MV_Vector_int MV_Vector_int::operator()(const MV_VecIndex& I) const {
  if (I.all()) return MV_Vector_int(p_, dim_, MV_Vector_::ref);
  if (I.end() >= dim_ || I.start() < 0 || I.start() > I.end()) failRange(I, dim_);
  return MV_Vector_int(p_ + I.start(), I.end() - I.start() + 1, MV_Vector_::ref);
}

std::ostream& operator<<(std::ostream& s, const MV_Vector_int& V) {
  for (int i = 0; i < V.size(); i++) s << V(i) << "\n";
  return s;
}
