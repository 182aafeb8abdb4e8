// Run set-up pieces that decide on their own: the size refusals, the check
// of PNM files against their header, the loading of exact 10-bit samples,
// the pyramid kernel, the iteration cap and the output names.
#include <gtest/gtest.h>

#include <string>

#include "CImg.h"
#include "level_loop.h"
#include "outputs.h"
#include "program_run.h"
#include "run_setup.h"

using namespace velmora_test;
using cimg_library::CImg;

namespace {

RunParameters tile(int dx, int dy, int Dx, int Dy, int L) {
  RunParameters p;
  p.dx = p.dxOrig = dx;
  p.dy = p.dyOrig = dy;
  p.Dx = Dx;
  p.Dy = Dy;
  p.nb_resol = L;
  return p;
}

}  // namespace

TEST(RunSetup, SizeRefusals) {
  struct Case {
    const char* what;
    RunParameters p;
    bool uvinit;
    int ofx, ofy;
    bool refused;
  };
  const Case cases[] = {
      {"defaults", tile(256, 256, 256, 256, 3), false, 0, 0, false},
      {"largest side with one level", tile(32766, 8, 32766, 8, 1), false, 0, 0, false},
      {"odd side at the limit pads past it", tile(32767, 8, 32767, 8, 1), false, 0, 0, true},
      {"tile too wide", tile(32768, 8, 8, 8, 1), false, 0, 0, true},
      {"tile too tall", tile(8, 40000, 8, 8, 1), false, 0, 0, true},
      {"whole image too wide", tile(8, 8, 32768, 8, 1), false, 0, 0, true},
      {"whole image too tall", tile(8, 8, 8, 32768, 1), false, 0, 0, true},
      {"padding passes the limit", tile(32767, 8, 32767, 8, 2), false, 0, 0, true},
      {"padding at the limit", tile(32764, 8, 32764, 8, 2), false, 0, 0, false},
      {"-UVinit window inside", tile(16, 16, 20, 20, 1), true, 4, 4, false},
      {"-UVinit window past the right edge", tile(16, 16, 20, 20, 1), true, 5, 0, true},
      {"-UVinit window past the bottom", tile(16, 16, 20, 20, 1), true, 0, 5, true},
      {"-UVinit negative offset", tile(16, 16, 20, 20, 1), true, -1, 0, true},
      {"-UVinit padding past the field", tile(15, 16, 15, 16, 1), true, 0, 0, true},
      {"window ignored without -UVinit", tile(16, 16, 8, 8, 1), false, 5, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunParameters p = c.p;
    p.UVinit = c.uvinit;
    p.ofx = c.ofx;
    p.ofy = c.ofy;
    EXPECT_EQ(!check_run_sizes(p).empty(), c.refused) << check_run_sizes(p);
  }
}

TEST(RunSetup, PnmFilesAgainstTheirHeader) {
  ScratchDir dir("setup_pnm");
  struct Case {
    const char* what;
    std::string content;
    bool complete;
  };
  const Case cases[] = {
      {"8-bit exact", "P5\n3 2\n255\n" + std::string(6, 'a'), true},
      {"8-bit one short", "P5\n3 2\n255\n" + std::string(5, 'a'), false},
      {"8-bit raster starting with white space", "P5\n2 1\n255\n\r\n", true},
      {"comment in the header", "P5\n# made by hand\n3 2\n255\n" + std::string(6, 'a'), true},
      {"16-bit exact", "P5\n2 2\n1023\n" + std::string(8, '\1'), true},
      {"16-bit one byte short", "P5\n2 2\n1023\n" + std::string(7, '\1'), false},
      {"colour exact", "P6\n2 1\n255\n" + std::string(6, 'c'), true},
      {"colour short", "P6\n2 1\n255\n" + std::string(4, 'c'), false},
      {"text exact", "P2\n2 2\n255\n1 2\n3 4\n", true},
      {"text short", "P2\n2 2\n255\n1 2 3\n", false},
      {"bitmap exact", "P4\n9 2\n" + std::string(4, '\xff'), true},
      {"bitmap short", "P4\n9 2\n" + std::string(3, '\xff'), false},
      {"header only", "P5\n3 2\n255\n", false},
      {"not a PNM file", "GIF89a", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "img", c.content);
    EXPECT_EQ(check_pnm_complete((dir / "img").c_str()).empty(), c.complete);
  }
}

// 10-bit samples and the invalid-sample markers 1022 and 1023 keep their
// exact values (the external converter would lower about half of them).
TEST(RunSetup, TenBitSamplesLoadExactly) {
  ScratchDir dir("setup_10bit");
  Grey g;
  g.width = 6;
  g.height = 1;
  g.v = {0, 300, 513, 900, 1022, 1023};
  write_pgm(dir / "ten.pgm", g, 1023);
  const CImg<double> img = load_grey_image((dir / "ten.pgm").c_str());
  ASSERT_EQ(img.width(), 6);
  ASSERT_EQ(img.height(), 1);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(img(x, 0), g.v[x]) << x;
}

// Formats other than PNM go through the external converter: a PNG made
// from an 8-bit PGM loads with the same values.
TEST(RunSetup, OtherFormatsThroughTheConverter) {
  if (std::system("command -v convert > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  ScratchDir dir("setup_png");
  Grey g;
  g.width = 5;
  g.height = 2;
  g.v = {0, 13, 32, 128, 255, 1, 2, 3, 250, 10};
  write_pgm(dir / "eight.pgm", g, 255);
  ASSERT_EQ(std::system(("convert " + dir / "eight.pgm" + " " + dir / "eight.png").c_str()), 0);
  const CImg<double> img = load_grey_image((dir / "eight.png").c_str());
  ASSERT_EQ(img.width(), 5);
  ASSERT_EQ(img.height(), 2);
  EXPECT_EQ(img.spectrum(), 1);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(img(x, y), g.at(x, y)) << x << "," << y;
}

TEST(RunSetup, PyramidKernelAndItsTranspose) {
  const CImg<double> k = burt_kernel();
  ASSERT_EQ(k.width(), 5);
  ASSERT_EQ(k.height(), 1);
  const double expected[5] = {0.05, 0.25, 0.4, 0.25, 0.05};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(k(i, 0), expected[i]);
  EXPECT_DOUBLE_EQ(k.sum(), 1.0);
  const CImg<double> t = k.get_permute_axes("yxzc");
  EXPECT_EQ(t.width(), 1);
  EXPECT_EQ(t.height(), 5);
}

TEST(LevelLoop, IterationCap) {
  struct Case {
    int maxIt, level, cap;
  };
  const Case cases[] = {{1000, 0, 1000}, {1000, 1, 10},  {1000, 2, 1}, {1000, 3, 1},
                        {300, 1, 3},     {199, 1, 1},    {0, 0, 1},    {-5, 0, 1},
                        {250000, 2, 25}, {99, 1, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(iteration_cap(c.maxIt, c.level), c.cap) << c.maxIt << " at level " << c.level;
}

TEST(Outputs, FileNamesForAnyPrefixLength) {
  EXPECT_EQ(output_file_name("out/", kMotionSuffix), "out/UV_HS.motion");
  EXPECT_EQ(output_file_name("", kDataOutSuffix), "UV_HSDataOut.pgm");
  const std::string prefix(400, 'q');
  EXPECT_EQ(output_file_name(prefix.c_str(), kRegOutYSuffix), prefix + "UV_HSRegOutY.pgm");
  EXPECT_EQ(std::string(kRegOutXSuffix), "UV_HSRegOutX.pgm");
}
