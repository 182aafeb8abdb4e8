// Text output of image rows.
#include "text_io.h"

#include "scratch_dir.h"

#include <CImg.h>
#include <gtest/gtest.h>

using cimg_library::CImg;

TEST(WriteLine, AppendsRowZeroWithTabs) {
  ScratchDir dir;
  const std::string path = dir.write("rows.txt", "kept\n");
  CImg<double> im(3, 2, 1, 1, 0.0);
  im(0, 0) = 1.0;
  im(1, 0) = 2.5;
  im(2, 0) = 1e-7;
  im(0, 1) = 99.0;  // row 1 is not written
  writeLine(im, path.c_str());
  writeLine(CImg<double>(1, 1, 1, 1, -123456789.0), path.c_str());
  writeLine(CImg<double>(), path.c_str());  // nothing for an empty image
  EXPECT_EQ(ScratchDir::read(path), "kept\n1\t2.5\t1e-07\n-1.23457e+08\n");
}

TEST(WriteLine, UnopenableFileIsSilent) {
  ScratchDir dir;
  const std::string path = dir.file("no/such/dir.txt");
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  writeLine(CImg<double>(2, 1, 1, 1, 1.0), path.c_str());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(ScratchDir::read(path), "");
}
