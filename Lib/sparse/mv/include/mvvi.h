// Dense vector of ints that either owns its storage or is a view of
// storage owned elsewhere. Misuse (failed allocation, resizing a view,
// non-conformant assignment into a view, a range past the end) writes a
// message to standard error and ends the process with exit status 1;
// element access past the end fails the assertion "i < dim_".
#pragma once

#include <cassert>
#include <iosfwd>

#include "mvvind.h"
#include "mvvref.h"

class MV_Vector_int {
 private:
  int* p_;     // first element; null only in a default-constructed vector
  int dim_;    // number of elements
  int ref_;    // 0: owns p_ (array of dim_ elements); 1: view of foreign storage

 public:
  // Empty vector: no storage, 0 elements, owning.
  MV_Vector_int();
  // Owning vector of n elements, values not initialised. A negative n or an
  // allocation failure ends the process (exit status 1).
  explicit MV_Vector_int(int n);
  // Owning vector of n elements, each set to v.
  MV_Vector_int(int n, const int& v);
  // Owning deep copy of m (also when m is a view).
  MV_Vector_int(const MV_Vector_int& m);
  // Owning copy of the caller's array d[0..n-1]; d stays the caller's.
  MV_Vector_int(int* d, int n);
  MV_Vector_int(const int* d, int n);
  // View of d[0..N-1]: nothing is allocated or copied, d is never freed.
  MV_Vector_int(int* d, int N, MV_Vector_::ref_type i);
  // Frees the storage of an owning vector; a view frees nothing.
  ~MV_Vector_int();

  // Element i, 0 <= i < size(); the upper bound is asserted.
  int& operator()(int i) {
    assert(i < dim_);
    return p_[i];
  }
  const int& operator()(int i) const {
    assert(i < dim_);
    return p_[i];
  }
  int& operator[](int i) {
    assert(i < dim_);
    return p_[i];
  }

  // Number of elements.
  int size() const { return dim_; }

  // Every element becomes s (written into the viewed storage for a view).
  MV_Vector_int& operator=(const int& s);
  // Owning target: takes m's size and contents. View target: sizes must be
  // equal; the elements are copied into the viewed storage (overlapping
  // views of one array are copied correctly).
  MV_Vector_int& operator=(const MV_Vector_int& m);
  // Resizes an owning vector to n elements; contents are lost unless n equals
  // size(). A view cannot be resized (exit status 1).
  MV_Vector_int& newsize(int n);

  // View of the whole vector.
  MV_Vector_int operator()();
  const MV_Vector_int operator()() const;
  // View of the elements I.start() to I.end() (the whole vector when I.all());
  // an end at or past size() ends the process.
  MV_Vector_int operator()(const MV_VecIndex& I);
  const MV_Vector_int operator()(const MV_VecIndex& I) const;
};

// Writes every element in index order with the stream's formatting, each
// followed by "\n".
std::ostream& operator<<(std::ostream& s, const MV_Vector_int& V);
