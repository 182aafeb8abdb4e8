// Iterative quicksort over a range of a vector: median-of-three
// partitioning with an explicit stack down to partitions of 5 elements or
// fewer, then one insertion pass behind a sentinel. Keys of an int vector
// may carry partner values of a double vector along.
#include "qsort_double.h"

#include <cassert>

void SWAP_double(double& A, double& B) {
  const double t = A;
  A = B;
  B = t;
}

void swap_int(int& a, int& b) {
  const int t = a;
  a = b;
  b = t;
}

namespace {

// Keys with optional partners; swap(i, j) moves both.
struct KeysWithPartners {
  int* key;
  double* partner;
  void swap(int i, int j) const {
    swap_int(key[i], key[j]);
    SWAP_double(partner[i], partner[j]);
  }
  // Moves element `from` down to position `to` (< from), shifting the
  // elements in between one place up.
  void rotateDown(int from, int to) const {
    const int k = key[from];
    const double x = partner[from];
    for (int t = from; t > to; t--) {
      key[t] = key[t - 1];
      partner[t] = partner[t - 1];
    }
    key[to] = k;
    partner[to] = x;
  }
};

struct KeysAlone {
  double* key;
  void swap(int i, int j) const { SWAP_double(key[i], key[j]); }
  void rotateDown(int from, int to) const {
    const double k = key[from];
    for (int t = from; t > to; t--) key[t] = key[t - 1];
    key[to] = k;
  }
};

constexpr int kMaxThresh = 4;  // partitions spanning <= 4 (5 elements) are left
constexpr int kStackSize = 64;

template <class Seq>
void quickSort(const Seq& s, int base_ptr, int total_elems) {
  auto* v = s.key;
  if (total_elems > kMaxThresh) {
    int lo = base_ptr;
    int hi = base_ptr + total_elems - 1;
    int stackLo[kStackSize];
    int stackHi[kStackSize];
    int top = 0;
    stackLo[top] = 0;  // sentinel pair: popping it ends the phase
    stackHi[top] = 0;
    top++;
    while (top > 0) {
      const int mid = lo + (hi - lo) / 2;
      if (v[mid] < v[lo]) s.swap(mid, lo);
      if (v[hi] < v[mid]) {
        s.swap(mid, hi);
        if (v[mid] < v[lo]) s.swap(mid, lo);
      }
      const auto pivot = v[mid];
      int left = lo + 1;
      int right = hi - 1;
      do {
        while (v[left] < pivot) left++;
        while (pivot < v[right]) right--;
        if (left < right) {
          s.swap(left, right);
          left++;
          right--;
        } else if (left == right) {
          left++;
          right--;
          break;
        }
      } while (left <= right);

      if (right - lo <= kMaxThresh) {
        if (hi - left <= kMaxThresh) {
          top--;  // both parts small: take the next pending pair
          lo = stackLo[top];
          hi = stackHi[top];
        } else {
          lo = left;
        }
      } else if (hi - left <= kMaxThresh) {
        hi = right;
      } else if (right - lo > hi - left) {
        // Push the larger part, go on with the smaller: the stack depth
        // stays below log2(total_elems).
        stackLo[top] = lo;
        stackHi[top] = right;
        top++;
        lo = left;
      } else {
        stackLo[top] = left;
        stackHi[top] = hi;
        top++;
        hi = right;
      }
    }
  }

  // Insertion pass. The smallest of the first min(5, n) keys is the
  // smallest of all (after partitioning) and stops every inner scan.
  const int end = base_ptr + total_elems - 1;
  const int thresh = end < base_ptr + kMaxThresh ? end : base_ptr + kMaxThresh;
  int smallest = base_ptr;
  for (int run = base_ptr + 1; run <= thresh; run++)
    if (v[run] < v[smallest]) smallest = run;
  if (smallest != base_ptr) s.swap(smallest, base_ptr);
  for (int run = base_ptr + 2; run <= end; run++) {
    int t = run - 1;
    while (v[run] < v[t]) t--;
    t++;
    if (t != run) s.rotateDown(run, t);
  }
}

}  // namespace

int QSort(MV_Vector_int& v, MV_Vector_double& x, int base_ptr, int total_elems) {
  if (total_elems <= 0) return 1;
  assert(base_ptr >= 0 && base_ptr + total_elems <= v.size() && base_ptr + total_elems <= x.size());
  quickSort(KeysWithPartners{&v[base_ptr], &x[base_ptr]}, 0, total_elems);
  return 1;
}

int QSort(MV_Vector_double& v, int base_ptr, int total_elems) {
  if (total_elems <= 0) return 1;
  assert(base_ptr >= 0 && base_ptr + total_elems <= v.size());
  quickSort(KeysAlone{&v[base_ptr]}, 0, total_elems);
  return 1;
}
