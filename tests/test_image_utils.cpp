// Image utilities: padding sizes, borders, flow stacking, pyramids,
// thresholds and the 8-bit PGM byte stream.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <unistd.h>

#include "CImg.h"
#include "image_utils.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tempPath(const char* name) {
  return ::testing::TempDir() + "velmora_" + std::to_string(::getpid()) + "_" + name;
}

}  // namespace

TEST(ExpandDim, Table) {
  struct Case {
    int nc, nl, resol, wantC, wantL;
  };
  const Case cases[] = {
      {250, 256, 3, 256, 256}, {257, 130, 2, 260, 132}, {255, 17, 0, 255, 17},
      {3, 7, -1, 3, 7},        {5, 1, 3, 8, 8},         {0, 16, 4, 0, 16},
      {32767, 1, 1, 32768, 2}, {1024, 1023, 10, 1024, 1024},
  };
  for (const Case& c : cases) {
    int nc = -1, nl = -1;
    expand_dim(c.nc, c.nl, c.resol, &nc, &nl);
    EXPECT_EQ(nc, c.wantC) << c.nc << "x" << c.nl << " resol " << c.resol;
    EXPECT_EQ(nl, c.wantL) << c.nc << "x" << c.nl << " resol " << c.resol;
  }
}

// The padding of expand_dim on sides it does not take: the tile sides the
// command-line check pads, up to the largest int, in 64 bits.
TEST(PaddedSide, SidesOfAnyIntSize) {
  const struct {
    long long n;
    int resol;
    long long want;
  } cases[] = {
      {2147483647, 7, 2147483648LL}, {2147483520, 7, 2147483520LL}, {40000, 3, 40000},
      {40001, 3, 40008},             {9, 0, 9},                     {9, -2, 9},
      {0, 5, 0},                     {1, 30, 1LL << 30},
  };
  for (const auto& c : cases)
    EXPECT_EQ(padded_side(c.n, c.resol), c.want) << c.n << " resol " << c.resol;
}

TEST(ExpandDim, RefusesSizesBeyondSixteenBits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int nc = 0, nl = 0;
  EXPECT_EXIT(expand_dim(32768, 4, 2, &nc, &nl), ::testing::ExitedWithCode(1), "32768 x 4");
}

TEST(Expand, PadsWithZerosAndKeepsTheDepth) {
  CImg<double> im(3, 2, 2, 1);
  cimg_forXYZ(im, x, y, z) im(x, y, z) = 1 + x + 3 * y + 6 * z;
  const CImg<double> e = expand(im, 1);
  ASSERT_EQ(e.width(), 4);
  ASSERT_EQ(e.height(), 2);
  ASSERT_EQ(e.depth(), 2);
  ASSERT_EQ(e.spectrum(), 1);
  cimg_forXYZ(e, x, y, z) EXPECT_EQ(e(x, y, z), x < 3 ? im(x, y, z) : 0.0);
}

TEST(FlowStacking, FillAndFillChannel) {
  CImg<double> a(3, 2), b(4, 3);
  cimg_forXY(a, x, y) a(x, y) = x + 10 * y;
  cimg_forXY(b, x, y) b(x, y) = -(x + 10 * y);
  const CImg<double> uv = fill(a, b);
  ASSERT_EQ(uv.depth(), 2);
  ASSERT_EQ(uv.width(), 3);
  cimg_forXY(a, x, y) {
    EXPECT_EQ(uv(x, y, 0), a(x, y));
    EXPECT_EQ(uv(x, y, 1), b(x, y));  // b read with its own width
  }
  CImg<double> out(3, 2, 2, 1, 7.0);
  FillChannel(out, a, 1);
  cimg_forXY(a, x, y) {
    EXPECT_EQ(out(x, y, 0), 7.0);
    EXPECT_EQ(out(x, y, 1), a(x, y));
  }
}

TEST(Borders, SetZeroBorderAndExpandedRegion) {
  const CImg<double> ones(5, 4, 1, 1, 1.0);
  CImg<double> a(ones);
  setZeroBorder(a, 0, 0);
  EXPECT_TRUE(a == ones);
  setZeroBorder(a, 1, 1);
  cimg_forXY(a, x, y) EXPECT_EQ(a(x, y), (x == 0 || x == 4 || y == 0 || y == 3) ? 0.0 : 1.0);
  CImg<double> b(ones);
  setZeroBorder(b, 2, 0);
  cimg_forXY(b, x, y) EXPECT_EQ(b(x, y), (x < 2 || x >= 3) ? 0.0 : 1.0);
  CImg<double> c(ones);
  setZeroBorderOnExpandedRegion(c, 3, 2);
  cimg_forXY(c, x, y) EXPECT_EQ(c(x, y), (x < 3 && y < 2) ? 1.0 : 0.0);
}

TEST(AllocPyramid, LevelSizes) {
  const CImgList<double> p = alloc_pyramid(256, 128, 2, 2);
  ASSERT_EQ(p.size(), 8u);
  const int want[3][2] = {{256, 128}, {128, 64}, {64, 32}};
  for (int l = 0; l < 3; ++l) {
    EXPECT_EQ(p[l].width(), want[l][0]);
    EXPECT_EQ(p[l].height(), want[l][1]);
    EXPECT_EQ(p[l].depth(), 2);
    EXPECT_EQ(p[l].spectrum(), 1);
  }
  for (int l = 3; l < 8; ++l) EXPECT_TRUE(p[l].is_empty());
  // Sizes not divisible by 2^coarse are rounded down at the coarsest level.
  const CImgList<double> q = alloc_pyramid(250, 100, 1, 3);
  EXPECT_EQ(q[3].width(), 31);
  EXPECT_EQ(q[0].width(), 248);
  EXPECT_EQ(q[0].height(), 96);
  const CImgList<double> none = alloc_pyramid(64, 64, 1, -1);
  ASSERT_EQ(none.size(), 8u);
  for (int l = 0; l < 8; ++l) EXPECT_TRUE(none[l].is_empty());
}

TEST(AllocPyramid, OneDimensional) {
  const CImgList<double> p = alloc_pyramid(10, 2);
  ASSERT_EQ(p.size(), 8u);
  const int want[3] = {11, 6, 3};
  for (int l = 0; l < 3; ++l) {
    EXPECT_EQ(p[l].width(), want[l]);
    EXPECT_EQ(p[l].height(), 1);
  }
  EXPECT_TRUE(p[3].is_empty());
  EXPECT_EQ(alloc_pyramid(1, 1)[1].width(), 2);
}

TEST(WritePgm255, ByteStream) {
  CImg<double> im(2, 1, 1, 1, 0.25, 2.0);
  std::string path = tempPath("two.pgm");
  write_pgm255(im, &path[0], 0.0f, 1.0f);
  EXPECT_EQ(readFile(path), std::string("P5\n2 1\n255\n") + '\x40' + '\xff');
  // Rounding half up, saturation, rows top first, second plane ignored, and
  // a value that is not a number written as 0.
  CImg<double> im2(3, 2, 2, 1, 9.0);
  const double values[6] = {0.5, 1.0, 0.0, -3.0, 0.1, std::numeric_limits<double>::quiet_NaN()};
  for (int i = 0; i < 6; ++i) im2(i % 3, i / 3, 0) = values[i];
  write_pgm255(im2, &path[0], 0.0f, 1.0f);
  const std::string bytes = std::string("P5\n3 2\n255\n") + '\x80' + '\xff' + '\x00' + '\x00' + '\x1a' + '\x00';
  EXPECT_EQ(readFile(path), bytes);
  // A range other than [0, 1]: 150 in [100, 200] is the middle grey.
  CImg<double> mid(1, 1, 1, 1, 150.0);
  write_pgm255(mid, &path[0], 100.0f, 200.0f);
  EXPECT_EQ(readFile(path).back(), '\x80');
  std::remove(path.c_str());
  EXPECT_TRUE(im == CImg<double>(2, 1, 1, 1, 0.25, 2.0));
}

TEST(WritePgm255, UncreatableFileEndsWithItsName) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> im(2, 2, 1, 1, 0.5);
  char path[] = "/nonexistent-velmora-dir/out.pgm";
  EXPECT_EXIT(write_pgm255(im, path, 0.0f, 1.0f), ::testing::ExitedWithCode(1),
              "/nonexistent-velmora-dir/out.pgm");
}

TEST(Thresholds, BinarizeAndMinMax) {
  CImg<double> in(3, 1, 2, 1, 0.0, -3.0, 1e-9, 5.0, 5.0, 5.0);
  const CImg<double> b = binarize(in, 0.0);
  EXPECT_EQ(b(0, 0), 0.0);
  EXPECT_EQ(b(1, 0), 0.0);
  EXPECT_EQ(b(2, 0), 1.0);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(b(x, 0, 1), 5.0);  // only the first plane
  const CImg<double> t = treshold_minmax(CImg<double>(5, 1, 1, 1, -1.0, 0.0, 0.5, 1.0, 2.0), 0.0, 1.0, 9.0);
  EXPECT_TRUE(t == CImg<double>(5, 1, 1, 1, 9.0, 9.0, 0.5, 9.0, 9.0));
}

TEST(Thresholds, RefuseSizesBeyondSixteenBits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> wide(32768, 1, 1, 1, 1.0);
  EXPECT_EXIT(binarize(wide, 0.0), ::testing::ExitedWithCode(1), "binarize.*32768");
  EXPECT_EXIT(treshold_minmax(wide, 0.0, 1.0, 0.0), ::testing::ExitedWithCode(1), "treshold_minmax.*32768");
}
