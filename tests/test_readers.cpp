// Readers of outside data: the initial velocity field and binary PGM images.
#include "readers.h"

#include "scratch_dir.h"

#include <CImg.h>
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

using cimg_library::CImg;

namespace {

// Reads a field with its path line on standard output swallowed.
CImg<float> uv(const std::string& path, int dx, int dy, int Dx, int Dy, int ofx, int ofy) {
  ::testing::internal::CaptureStdout();
  CImg<float> f = read_aUVFile(path.c_str(), dx, dy, Dx, Dy, ofx, ofy);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), path + "\n");
  return f;
}

std::string pgm(const std::string& header, std::initializer_list<int> raster) {
  std::string s = header;
  for (int v : raster) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace

TEST(InitialField, OneLineGivesUAndMinusV) {
  ScratchDir dir;
  const std::string path = dir.write("one.uv", "0 0 1.5 2.0\n");
  const CImg<float> f = uv(path, 1, 1, 1, 1, 0, 0);
  ASSERT_EQ(f.width(), 1);
  ASSERT_EQ(f.depth(), 2);
  EXPECT_EQ(f(0, 0, 0), 1.5f);
  EXPECT_EQ(f(0, 0, 1), -2.0f);
}

TEST(InitialField, ColumnMajorOrderAndRowFlip) {
  ScratchDir dir;
  // Lines are (x, y) = (0, 0), (0, 1), (1, 0), (1, 1); file row y is field row 1 - y.
  const std::string path = dir.write("two.uv",
                                     "0 0 1 10\n"
                                     "0 1 2 20\n"
                                     "1 0 3 30\n"
                                     "1 1 4 40\n");
  const CImg<float> f = uv(path, 2, 2, 2, 2, 0, 0);
  EXPECT_EQ(f(0, 1, 0), 1.0f);
  EXPECT_EQ(f(0, 0, 0), 2.0f);
  EXPECT_EQ(f(1, 1, 0), 3.0f);
  EXPECT_EQ(f(1, 0, 0), 4.0f);
  EXPECT_EQ(f(0, 1, 1), -10.0f);
  EXPECT_EQ(f(0, 0, 1), -20.0f);
  EXPECT_EQ(f(1, 1, 1), -30.0f);
  EXPECT_EQ(f(1, 0, 1), -40.0f);
}

TEST(InitialField, WindowOfTheFlippedField) {
  ScratchDir dir;
  // 3 x 2 field; line (x, y) holds u = 10 x + y.
  std::string text;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 2; ++y)
      text += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(10 * x + y) +
              " 0.5\n";
  const std::string path = dir.write("three.uv", text);
  // Window 2 x 1 at column 1, row 1: field row 1 is file row 0.
  const CImg<float> f = uv(path, 2, 1, 3, 2, 1, 1);
  ASSERT_EQ(f.width(), 2);
  ASSERT_EQ(f.height(), 1);
  EXPECT_EQ(f(0, 0, 0), 10.0f);
  EXPECT_EQ(f(1, 0, 0), 20.0f);
  EXPECT_EQ(f(1, 0, 1), -0.5f);
}

// The largest magnitudes, blank lines after the field and line ends of
// other systems are taken.
TEST(InitialField, BoundsAndTrailingBlankLines) {
  ScratchDir dir;
  const std::string path =
      dir.write("edge.uv", "0 0 32767 -32767\r\n0 1 -1e-30 0x10\r\n\n  \r\n\n");
  const CImg<float> f = uv(path, 1, 2, 1, 2, 0, 0);
  EXPECT_EQ(f(0, 1, 0), 32767.0f);
  EXPECT_EQ(f(0, 1, 1), 32767.0f);
  EXPECT_EQ(f(0, 0, 0), -1e-30f);
  EXPECT_EQ(f(0, 0, 1), -16.0f);
}

TEST(InitialFieldDeathTest, RefusesWhatItCannotRead) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir;
  const std::string good = dir.write("good.uv", "0 0 1 1\n0 1 1 1\n1 0 1 1\n1 1 1 1\n");
  const std::string bad = dir.write("bad.uv", "0 0 1 1\n0 1 1 1\n1 0 one 1\n1 1 1 1\n");
  const std::string cut = dir.write("cut.uv", "0 0 1 1\n0 1 1 1\n");
  const std::string nan = dir.write("nan.uv", "0 0 1 1\n0 1 nan 1\n1 0 1 1\n1 1 1 1\n");
  const std::string inf = dir.write("inf.uv", "0 0 1 1\n0 1 1 1\n1 0 1 -inf\n1 1 1 1\n");
  const std::string over = dir.write("over.uv", "0 0 1 1\n0 1 1 1\n1 0 1 1\n1 1 1e39 1\n");
  const std::string big = dir.write("big.uv", "0 0 1 1\n0 1 -32767.5 1\n1 0 1 1\n1 1 1 1\n");
  const std::string five = dir.write("five.uv", "0 0 1 1 7\n0 1 1 1\n1 0 1 1\n1 1 1 1\n");
  const std::string extra =
      dir.write("extra.uv", "0 0 1 1\n0 1 1 1\n1 0 1 1\n1 1 1 1\n\n2 0 1 1\n");
  const struct {
    std::string file;
    int dx, dy, Dx, Dy, ofx, ofy;
    std::string message;
  } cases[] = {
      {dir.file("none.uv"), 1, 1, 1, 1, 0, 0, "Can't open .*none.uv for reading"},
      {bad, 2, 2, 2, 2, 0, 0, "bad.uv, line 3: expected \"i j u v\""},
      {cut, 2, 2, 2, 2, 0, 0, "cut.uv, line 3: expected \"i j u v\""},
      {nan, 2, 2, 2, 2, 0, 0,
       "nan.uv, line 2: the velocity \\(0 1 nan 1\\) must be finite, of magnitude at most 32767"},
      {inf, 2, 2, 2, 2, 0, 0, "inf.uv, line 3: the velocity"},
      {over, 2, 2, 2, 2, 0, 0, "over.uv, line 4: the velocity"},
      {big, 2, 2, 2, 2, 0, 0, "big.uv, line 2: the velocity"},
      {five, 2, 2, 2, 2, 0, 0, "five.uv, line 1: expected \"i j u v\""},
      {extra, 2, 2, 2, 2, 0, 0,
       "extra.uv, line 6: the file holds more than the 2 x 2 = 4 lines of the field"},
      {good, 1, 1, 1, 1, 0, 0, "good.uv, line 2: the file holds more than the 1 x 1 = 1 lines"},
      {good, 2, 2, 2, 2, 1, 0,
       "good.uv: the window of 2 x 2 pixels at column 1, row 0 reaches "
       "past the stored field of 2 x 2"},
      {good, 1, 2, 2, 2, 0, 1, "good.uv: the window of 1 x 2 pixels at column 0, row 1"},
      {good, 1, 1, 2, 2, 0, -1, "good.uv: the window"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EXIT((dir.remove_at_exit(),
                 read_aUVFile(c.file.c_str(), c.dx, c.dy, c.Dx, c.Dy, c.ofx, c.ofy)),
                ::testing::ExitedWithCode(1), c.message);
  }
}

TEST(Pgm, EightBitWindowAndComments) {
  ScratchDir dir;
  const std::string plain = dir.write("a.pgm", pgm("P5\n3 2\n255\n", {0, 1, 2, 200, 254, 255}));
  const std::string commented =
      dir.write("b.pgm", pgm("P5\n# made by hand\n# twice\n3 2\n255\n", {0, 1, 2, 200, 254, 255}));
  for (const std::string& path : {plain, commented}) {
    SCOPED_TRACE(path);
    const CImg<short> whole = read_pgm(path.c_str(), 3, 2, 0, 0);
    ASSERT_EQ(whole.width(), 3);
    ASSERT_EQ(whole.height(), 2);
    EXPECT_EQ(whole(0, 0), 0);
    EXPECT_EQ(whole(2, 0), 2);
    EXPECT_EQ(whole(0, 1), 200);
    EXPECT_EQ(whole(2, 1), 255);  // unsigned byte
    const CImg<short> window = read_pgm(path.c_str(), 2, 1, 1, 1);
    ASSERT_EQ(window.width(), 2);
    EXPECT_EQ(window(0, 0), 254);
    EXPECT_EQ(window(1, 0), 255);
  }
}

TEST(Pgm, RasterStartingWithWhiteSpaceIsNotShifted) {
  ScratchDir dir;
  for (int first : {32, 10, 9, 0, 33}) {
    SCOPED_TRACE(first);
    const std::string path = dir.write("w.pgm", pgm("P5\n3 1\n255\n", {first, 65, 7}));
    const CImg<short> im = read_pgm(path.c_str(), 3, 1, 0, 0);
    EXPECT_EQ(im(0, 0), first);
    EXPECT_EQ(im(1, 0), 65);
    EXPECT_EQ(im(2, 0), 7);
  }
  // Two leading white-space samples, header all on one line.
  const std::string path = dir.write("x.pgm", pgm("P5\n2 1 255 ", {32, 13}));
  const CImg<short> im = read_pgm(path.c_str(), 2, 1, 0, 0);
  EXPECT_EQ(im(0, 0), 32);
  EXPECT_EQ(im(1, 0), 13);
}

TEST(Pgm, TenBitSamplesAndShortRaster) {
  ScratchDir dir;
  // Native (little-endian) order: bytes 1, 2 are 1 + 2 * 256 = 513.
  const std::string path = dir.write("t.pgm", pgm("P5\n2 2\n1023\n", {1, 2, 255, 3, 0, 0, 10}));
  const CImg<short> im = read_pgm(path.c_str(), 2, 2, 0, 0);
  EXPECT_EQ(im(0, 0), 513);
  EXPECT_EQ(im(1, 0), 1023);
  EXPECT_EQ(im(0, 1), 0);
  EXPECT_EQ(im(1, 1), 0);  // only one of its two bytes is present

  const std::string shorter = dir.write("s.pgm", pgm("P5\n3 1\n255\n", {9}));
  const CImg<short> s = read_pgm(shorter.c_str(), 3, 1, 0, 0);
  EXPECT_EQ(s(0, 0), 9);
  EXPECT_EQ(s(1, 0), 0);
  EXPECT_EQ(s(2, 0), 0);
}

TEST(PgmDeathTest, RefusesWhatItCannotRead) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir;
  const std::string deep = dir.write("deep.pgm", pgm("P5\n1 1\n4095\n", {0, 0}));
  const std::string good = dir.write("good.pgm", pgm("P5\n3 2\n255\n", {1, 2, 3, 4, 5, 6}));
  const std::string garbled = dir.write("garbled.pgm", "P5\n3 x\n255\n");
  const std::string glued = dir.write("glued.pgm", pgm("P5\n1 1\n255x", {1}));

  // The maximum-value message goes to standard output.
  EXPECT_EXIT((dir.remove_at_exit(), dup2(2, 1), read_pgm(deep.c_str(), 1, 1, 0, 0)),
              ::testing::ExitedWithCode(1),
              "Can't read images .*deep.pgm Brastemok problem def=4095 \\(255 ou 1023\\)!");
  const struct {
    std::string file;
    int dx, dy, ofx, ofy;
    std::string message;
  } cases[] = {
      {dir.file("none.pgm"), 1, 1, 0, 0, "Can't open .*none.pgm for reading"},
      {good, 3, 2, 1, 0, "good.pgm: the window of 3 x 2 pixels at column 1, row 0 lies outside "
                         "the 3 x 2 image"},
      {good, 1, 3, 0, 0, "good.pgm: the window of 1 x 3 pixels"},
      {good, 1, 1, 0, -1, "good.pgm: the window"},
      {garbled, 1, 1, 0, 0, "garbled.pgm: malformed PGM header"},
      {glued, 1, 1, 0, 0, "glued.pgm: malformed PGM header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EXIT((dir.remove_at_exit(), read_pgm(c.file.c_str(), c.dx, c.dy, c.ofx, c.ofy)),
                ::testing::ExitedWithCode(1), c.message);
  }
}
