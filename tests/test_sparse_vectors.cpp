// Dense vectors of the sparse library: ownership, views, assignment rules,
// index ranges and the free arithmetic operators.
#include <cmath>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "mvblasd.h"
#include "mvvd.h"
#include "mvvi.h"
#include "mvvind.h"

namespace {

std::vector<double> values(const MV_Vector_double& v) {
  std::vector<double> out;
  for (int i = 0; i < v.size(); ++i) out.push_back(v(i));
  return out;
}

TEST(SparseVectors, ConstructorsOwnOrView) {
  MV_Vector_double empty(0);
  EXPECT_EQ(empty.size(), 0);
  EXPECT_EQ(norm(empty), 0.0);

  MV_Vector_double filled(3, 2.5);
  EXPECT_EQ(values(filled), (std::vector<double>{2.5, 2.5, 2.5}));
  MV_Vector_int ints(4, 7);
  EXPECT_EQ(ints.size(), 4);
  EXPECT_EQ(ints(3), 7);

  double raw[3] = {1.0, 2.0, 3.0};
  MV_Vector_double copied(raw, 3);
  const double* craw = raw;
  MV_Vector_double copiedConst(craw, 3);
  raw[0] = 9.0;  // the copies keep their own storage
  EXPECT_EQ(copied(0), 1.0);
  EXPECT_EQ(copiedConst(0), 1.0);

  {
    MV_Vector_double view(raw, 3, MV_Vector_::ref);
    view(1) = -2.0;  // a view writes into the caller's array
    MV_Vector_double deep(view);
    deep(2) = 100.0;  // a copy of a view owns its storage
    EXPECT_EQ(deep(1), -2.0);
  }  // destroying the view frees nothing (the sanitizer build checks it)
  EXPECT_EQ(raw[1], -2.0);
  EXPECT_EQ(raw[2], 3.0);
}

TEST(SparseVectors, AssignmentIntoOwningVectors) {
  MV_Vector_double target;
  MV_Vector_double source(5);
  for (int i = 0; i < 5; ++i) source(i) = i + 0.5;
  target = source;
  source(0) = -1.0;
  EXPECT_EQ(values(target), (std::vector<double>{0.5, 1.5, 2.5, 3.5, 4.5}));

  target = target;  // self-assignment leaves the vector unchanged
  EXPECT_EQ(values(target), (std::vector<double>{0.5, 1.5, 2.5, 3.5, 4.5}));

  target = 3.0;  // scalar assignment keeps the size
  EXPECT_EQ(values(target), (std::vector<double>(5, 3.0)));

  MV_Vector_int ia(2, 1), ib(3, 4);
  ia = ib;
  EXPECT_EQ(ia.size(), 3);
  EXPECT_EQ(ia(2), 4);
}

// An owning vector assigned a view of its own storage of another size takes
// the viewed elements; the old block is released only after the copy (a
// read of freed memory would be reported by the sanitizer build).
TEST(SparseVectors, AssignmentFromViewOfOwnStorage) {
  MV_Vector_double v(6);
  for (int i = 0; i < 6; ++i) v(i) = 10.0 * i;
  v = v(MV_VecIndex(2, 4));
  EXPECT_EQ(values(v), (std::vector<double>{20.0, 30.0, 40.0}));

  MV_Vector_int w(5, 0);
  for (int i = 0; i < 5; ++i) w(i) = i;
  w = w(MV_VecIndex(3, 4));
  EXPECT_EQ(w.size(), 2);
  EXPECT_EQ(w(0), 3);
  EXPECT_EQ(w(1), 4);
}

TEST(SparseVectors, AssignmentIntoViews) {
  double raw[6] = {0, 0, 0, 0, 0, 0};
  MV_Vector_double view(raw, 4, MV_Vector_::ref);
  MV_Vector_double four(4);
  for (int i = 0; i < 4; ++i) four(i) = i + 1.0;
  view = four;
  EXPECT_EQ(raw[0], 1.0);
  EXPECT_EQ(raw[3], 4.0);
  EXPECT_EQ(raw[4], 0.0);

  view = -1.0;  // scalar assignment writes the viewed storage only
  EXPECT_EQ(raw[3], -1.0);
  EXPECT_EQ(raw[4], 0.0);

  // Overlapping views of one array, target one element after the source,
  // and the other way round: the target receives the source's old contents.
  double a[5] = {1, 2, 3, 4, 5};
  MV_Vector_double src(a, 4, MV_Vector_::ref), dst(a + 1, 4, MV_Vector_::ref);
  dst = src;
  EXPECT_EQ(std::vector<double>(a, a + 5), (std::vector<double>{1, 1, 2, 3, 4}));
  double b[5] = {1, 2, 3, 4, 5};
  MV_Vector_double src2(b + 1, 4, MV_Vector_::ref), dst2(b, 4, MV_Vector_::ref);
  dst2 = src2;
  EXPECT_EQ(std::vector<double>(b, b + 5), (std::vector<double>{2, 3, 4, 5, 5}));
}

TEST(SparseVectors, IndexRangesAndWholeViews) {
  MV_Vector_double v(5);
  for (int i = 0; i < 5; ++i) v(i) = i;
  MV_Vector_double tail = v(MV_VecIndex(2, 4));  // a view, not a copy
  EXPECT_EQ(tail.size(), 3);
  tail(0) = 42.0;
  EXPECT_EQ(v(2), 42.0);

  MV_Vector_double whole = v(MV_VecIndex());
  EXPECT_EQ(whole.size(), 5);
  whole(4) = -4.0;
  EXPECT_EQ(v(4), -4.0);
  MV_Vector_double all = v();
  all(0) = 7.0;
  EXPECT_EQ(v(0), 7.0);

  const MV_Vector_double& cv = v;
  EXPECT_EQ(cv(MV_VecIndex(1, 1)).size(), 1);
  EXPECT_EQ(cv(MV_VecIndex(1, 1))(0), 1.0);

  MV_VecIndex r(3, 6);
  EXPECT_EQ(r.start(), 3);
  EXPECT_EQ(r.end(), 6);
  EXPECT_EQ(r.all(), 0);
  EXPECT_EQ(MV_VecIndex().start(), 0);
  EXPECT_EQ(MV_VecIndex().all(), 1);
}

TEST(SparseVectors, Newsize) {
  MV_Vector_double v(3, 1.0);
  v.newsize(3);  // same size: contents kept
  EXPECT_EQ(values(v), (std::vector<double>{1.0, 1.0, 1.0}));
  v.newsize(7);
  EXPECT_EQ(v.size(), 7);
  v.newsize(0);
  EXPECT_EQ(v.size(), 0);
}

TEST(SparseVectors, ArithmeticOperators) {
  MV_Vector_double x(3), y(3);
  x(0) = 1.0; x(1) = -2.0; x(2) = 0.5;
  y(0) = 4.0; y(1) = 1.0;  y(2) = 2.0;
  EXPECT_EQ(values(x + y), (std::vector<double>{5.0, -1.0, 2.5}));
  EXPECT_EQ(values(x - y), (std::vector<double>{-3.0, -3.0, -1.5}));
  EXPECT_EQ(values(2.0 * x), (std::vector<double>{2.0, -4.0, 1.0}));
  EXPECT_EQ(values(x * -1.0), (std::vector<double>{-1.0, 2.0, -0.5}));
  EXPECT_EQ(dot(x, y), 4.0 - 2.0 + 1.0);
  EXPECT_EQ(norm(y), std::sqrt(21.0));

  MV_Vector_double z = x;
  z += y;
  EXPECT_EQ(values(z), (std::vector<double>{5.0, -1.0, 2.5}));
  z -= x;
  EXPECT_EQ(values(z), values(y));
  z *= 0.5;
  EXPECT_EQ(values(z), (std::vector<double>{2.0, 0.5, 1.0}));

  // dot accumulates from 0.0 with the index ascending: 1 is absorbed by 1e16.
  MV_Vector_double big(3), ones(3, 1.0);
  big(0) = 1.0; big(1) = 1e16; big(2) = -1e16;
  EXPECT_EQ(dot(big, ones), 0.0);
}

TEST(SparseVectors, Output) {
  MV_Vector_double v(2);
  v(0) = 1.0;
  v(1) = 2.5;
  std::ostringstream os;
  os << v;
  EXPECT_EQ(os.str(), "1\n2.5\n");
  MV_Vector_int w(2, 3);
  std::ostringstream oi;
  oi << w;
  EXPECT_EQ(oi.str(), "3\n3\n");
}

}  // namespace
