// Run set-up pieces that decide on their own: the size refusals, the tile
// against the loaded images, the pyramid kernel, the iteration cap, the
// output names and the output folder's check.
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
      {"window ignored without -UVinit", tile(15, 16, 20, 16, 2), false, 5, 0, false},
      {"same window with -UVinit", tile(15, 16, 20, 16, 2), true, 5, 0, true},
      {"tile inside the whole-image size", tile(16, 16, 20, 20, 1), false, 4, 4, false},
      {"tile past the whole-image width", tile(16, 16, 20, 20, 1), false, 5, 0, true},
      {"tile past the whole-image height", tile(16, 16, 20, 20, 1), false, 0, 5, true},
      {"tile wider than the whole image", tile(24, 16, 20, 20, 1), false, 0, 0, true},
      {"largest offsets do not overflow", tile(16, 16, 20, 20, 1), false, 2147483647, 2147483647,
       true},
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

// The padded size in the refusal, its level count in the singular for one.
TEST(RunSetup, PaddedSizeRefusalCountsTheLevels) {
  EXPECT_EQ(check_run_sizes(tile(32767, 8, 32767, 8, 1)),
            "Refused: the tile 32767 x 8 padded for 1 level (32768 x 8) exceeds 32767 pixels.");
  EXPECT_EQ(check_run_sizes(tile(8, 32765, 8, 32765, 2)),
            "Refused: the tile 8 x 32765 padded for 2 levels (8 x 32768) exceeds 32767 pixels.");
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

// The tile must lie inside image 1 and the whole-image size inside image 2:
// a missing part would be filled with zeros taken as real pixels.
TEST(RunSetup, TileAndExtentAgainstTheImages) {
  struct Case {
    const char* what;
    int dx, dy, ofx, ofy, Dx, Dy;  // options
    int width, height;             // both images
    bool tileInside, extentInside;
  };
  const Case cases[] = {
      {"everything fits exactly", 32, 32, 0, 0, 32, 32, 32, 32, true, true},
      {"default tile on a small image", 256, 256, 0, 0, 256, 256, 32, 32, false, false},
      {"tile inside with offsets", 16, 8, 16, 24, 32, 32, 32, 32, true, true},
      {"one column past the right edge", 16, 8, 17, 0, 32, 32, 32, 32, false, true},
      {"one row past the bottom", 16, 8, 0, 25, 32, 32, 32, 32, false, true},
      {"extent one column wider", 8, 8, 0, 0, 33, 32, 32, 32, true, false},
      {"extent one row taller", 8, 8, 0, 0, 32, 33, 32, 32, true, false},
      {"largest offsets do not overflow", 16, 16, 2147483647, 2147483647, 32, 32, 32, 32, false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunParameters p = tile(c.dx, c.dy, c.Dx, c.Dy, 1);
    p.ofx = c.ofx;
    p.ofy = c.ofy;
    const std::string tileMessage = check_tile_in_image1(p, "one.pgm", c.width, c.height);
    const std::string extentMessage = check_extent_in_image2(p, "two.pgm", c.width, c.height);
    EXPECT_EQ(tileMessage.empty(), c.tileInside) << tileMessage;
    EXPECT_EQ(extentMessage.empty(), c.extentInside) << extentMessage;
  }
  // The messages give the sizes.
  RunParameters p = tile(256, 256, 300, 200, 1);
  EXPECT_EQ(check_tile_in_image1(p, "one.pgm", 32, 24),
            "Refused: the tile of 256 x 256 pixels at column 0, row 0 (-dx, -dy, -ofx, -ofy) "
            "does not lie inside image 1 one.pgm of 32 x 24 pixels.");
  EXPECT_EQ(check_extent_in_image2(p, "two.pgm", 32, 24),
            "Refused: the whole-image size 300 x 200 (-Dx, -Dy) exceeds image 2 two.pgm of "
            "32 x 24 pixels.");
}

// The output folder is tried by creating a file there, which also holds for
// a process that may write anywhere.
TEST(Outputs, OutputFolderCheck) {
  ScratchDir dir("outputs_folder");
  fs::create_directories(dir.path() / "out");
  write_text(dir / "plain", "a file, not a folder\n");
  struct Case {
    const char* what;
    std::string prefix;
    std::string reason;  // "" when the folder is fine
  };
  const Case cases[] = {
      {"existing folder with a trailing slash", dir / "out/", ""},
      {"existing folder and a name part", dir / "out/run_", ""},
      {"missing folder", dir / "none/run_", "No such file or directory"},
      {"a file in place of the folder", dir / "plain/run_", "Not a directory"},
      {"a folder nothing can be created in", "/proc/velmora_", "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message = check_output_folder(c.prefix.c_str());
    if (c.reason.empty()) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_NE(message.find(c.prefix), std::string::npos) << message;
      EXPECT_NE(message.find(c.reason), std::string::npos) << message;
    }
  }
  // The probe leaves nothing behind.
  EXPECT_TRUE(fs::is_empty(dir.path() / "out"));
}
