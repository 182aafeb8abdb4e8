// Motion files of the program: a Flow field written and a window read back.
#include "motion_file.h"

#include "scratch_dir.h"

#include <CImg.h>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

using cimg_library::CImg;

TEST(MotionFile, WritesTheFieldByteForByte) {
  ScratchDir dir;
  const std::string path = dir.file("outUV_HS.motion");
  CImg<double> field(2, 1, 2, 1, 0.0);
  field(0, 0, 0) = 0.5;
  field(1, 0, 0) = -1.25;
  field(0, 0, 1) = 0.0;
  field(1, 0, 1) = 3.0;
  ::testing::internal::CaptureStdout();
  write_aMotionFile(path.c_str(), field);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), path + "\n");
  EXPECT_EQ(ScratchDir::read(path),
            "2 1\n#i\tj\tU\tV\n0\t0\t0.500000\t0.000000\n0\t1\t-1.250000\t3.000000\n");

  // An empty field gives the two header lines only.
  ::testing::internal::CaptureStdout();
  write_aMotionFile(path.c_str(), CImg<double>());
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(ScratchDir::read(path), "0 0\n#i\tj\tU\tV\n");
}

TEST(MotionFile, ReadsBackWholeFieldAndWindow) {
  ScratchDir dir;
  const std::string path = dir.file("a.motion");
  // 4 x 3 field with U = x + 10 y + 0.25, V = -(x + 10 y) / 8.
  CImg<double> field(4, 3, 2, 1, 0.0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      field(x, y, 0) = x + 10 * y + 0.25;
      field(x, y, 1) = -(x + 10 * y) / 8.0;
    }
  ::testing::internal::CaptureStdout();
  write_aMotionFile(path.c_str(), field);
  const CImg<float> whole = read_aMotionFile(path.c_str(), 4, 3, 4, 0, 0);
  const CImg<float> window = read_aMotionFile(path.c_str(), 2, 1, 4, 1, 2);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), path + "\n" + path + "\n" + path + "\n");

  ASSERT_EQ(whole.width(), 4);
  ASSERT_EQ(whole.height(), 3);
  ASSERT_EQ(whole.depth(), 2);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_FLOAT_EQ(whole(x, y, 0), x + 10 * y + 0.25f);
      EXPECT_NEAR(whole(x, y, 1), -(x + 10 * y) / 8.0, 5e-7);
    }
  ASSERT_EQ(window.width(), 2);
  ASSERT_EQ(window.height(), 1);
  EXPECT_FLOAT_EQ(window(0, 0, 0), 21.25f);  // stored (1, 2)
  EXPECT_FLOAT_EQ(window(1, 0, 0), 22.25f);  // stored (2, 2)
  EXPECT_FLOAT_EQ(window(1, 0, 1), -22.0f / 8);
}

TEST(MotionFileDeathTest, RefusesWhatItCannotRead) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir;
  const std::string good = dir.write("good.motion",
                                     "2 2\n#i\tj\tU\tV\n0\t0\t1\t2\n0\t1\t3\t4\n"
                                     "1\t0\t5\t6\n1\t1\t7\t8\n");
  const std::string bad_line = dir.write("bad.motion",
                                         "2 2\n#i\tj\tU\tV\n0\t0\t1\t2\n0\t1\tx\t4\n"
                                         "1\t0\t5\t6\n1\t1\t7\t8\n");
  const std::string cut = dir.write("cut.motion", "2 2\n#i\tj\tU\tV\n0\t0\t1\t2\n");
  const std::string no_sizes = dir.write("nosizes.motion", "#i\tj\tU\tV\n");
  const std::string missing = dir.file("missing.motion");
  const struct {
    std::string file;
    int dx, dy, Dx, ofx, ofy;
    std::string message;
  } cases[] = {
      {missing, 1, 1, 1, 0, 0, "Can't open .*missing.motion for reading"},
      {bad_line, 2, 2, 2, 0, 0, "bad.motion, line 4: expected \"i j U V\""},
      {cut, 2, 2, 2, 0, 0, "cut.motion, line 4: expected \"i j U V\""},
      {no_sizes, 1, 1, 1, 0, 0, "nosizes.motion, line 1: expected the sizes"},
      {good, 2, 1, 2, 1, 0, "good.motion: the window of 2 x 1 pixels at column 1, row 0 "
                            "reaches past the stored field"},
      {good, 1, 2, 2, 0, 1, "good.motion: the window of 1 x 2 pixels at column 0, row 1"},
      {good, 1, 1, 2, -1, 0, "good.motion: the window"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EXIT((dir.remove_at_exit(),
                 read_aMotionFile(c.file.c_str(), c.dx, c.dy, c.Dx, c.ofx, c.ofy)),
                ::testing::ExitedWithCode(1), c.message);
  }
}

TEST(MotionFileDeathTest, FileThatCannotBeCreated) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> field(1, 1, 2, 1, 0.0);
  const std::string bad = ::testing::TempDir() + "velmora-no-such-folder/x.motion";
  EXPECT_EXIT((dup2(2, 1), write_aMotionFile(bad.c_str(), field)), ::testing::ExitedWithCode(1),
              "Can't create .*velmora-no-such-folder/x.motion !");
}
