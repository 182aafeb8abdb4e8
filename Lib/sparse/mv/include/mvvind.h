// Inclusive index range start..end of a dense vector, or the whole vector.
#pragma once

class MV_VecIndex {
 private:
  int start_;
  int end_;
  char all_;  // 1: the whole vector, whatever start_ and end_ hold

 public:
  // The whole vector.
  MV_VecIndex() : start_(0), end_(0), all_(1) {}
  // The single element i1.
  explicit MV_VecIndex(int i1) : start_(i1), end_(i1), all_(0) {}
  // Elements i1 to i2, both included.
  MV_VecIndex(int i1, int i2) : start_(i1), end_(i2), all_(0) {}
  MV_VecIndex(const MV_VecIndex& s) = default;
  MV_VecIndex& operator=(const MV_VecIndex& s) = default;

  // First element of the range (0 for the whole vector).
  int start() const { return all_ == 1 ? 0 : start_; }
  // Last element of the range (0 for the whole vector).
  int end() const { return all_ == 1 ? 0 : end_; }
  // 1 when the range stands for the whole vector.
  int all() const { return all_; }
  // Number of elements of an explicit range.
  int length() const { return all_ == 1 ? 0 : end_ - start_ + 1; }

  // The range shifted by i elements (upwards for +, downwards for -).
  MV_VecIndex operator+(int i) const { return MV_VecIndex(start_ + i, end_ + i); }
  MV_VecIndex& operator+=(int i) { start_ += i; end_ += i; return *this; }
  MV_VecIndex operator-(int i) const { return MV_VecIndex(start_ - i, end_ - i); }
  MV_VecIndex& operator-=(int i) { start_ -= i; end_ -= i; return *this; }
};
