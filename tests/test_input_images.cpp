// Input images: the PNM reader (every header layout, exact 8- and 16-bit
// samples, bitmaps, colour files), its refusals, the sample limit of 1023
// and the converter path for other formats (the converter taken from PATH,
// never from the working folder).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CImg.h"
#include "input_images.h"
#include "program_run.h"

using namespace velmora_test;
using cimg_library::CImg;

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

#if !defined(__SANITIZE_ADDRESS__)
// Reads path with the address space limited to 1 GiB, prints the message
// on standard error and exits with 0 when the file was refused as short.
[[noreturn]] void read_with_little_memory(const std::string& path) {
  struct rlimit limit;
  limit.rlim_cur = limit.rlim_max = 1UL << 30;
  ::setrlimit(RLIMIT_AS, &limit);
  CImg<double> img;
  const std::string message = read_pnm_grey(path.c_str(), img);
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(message.find("less data than its header announces") != std::string::npos ? 0 : 3);
}
#endif

// Loads image from the folder cwd with PATH set to path; prints the size
// and the first sample on standard error and exits with 0.
[[noreturn]] void load_from(const std::string& cwd, const std::string& path,
                            const std::string& image) {
  if (::chdir(cwd.c_str()) != 0) std::exit(3);
  ::setenv("PATH", path.c_str(), 1);
  const CImg<double> img = load_grey_image(image.c_str());
  std::fprintf(stderr, "loaded %d x %d, first sample %g\n", img.width(), img.height(), img(0, 0));
  std::exit(0);
}

// An executable shell script that writes the 1 x 1 PNM image of sample
// value `sample` to standard output, or to its second argument when that is
// a file name (the two ways the library calls a converter).
void write_converter(const std::string& path, int sample, const std::string& also = "") {
  write_text(path, "#!/bin/sh\n" + also + "\nif [ \"$2\" != pnm:- ]; then exec > \"$2\"; fi\n" +
                       "printf 'P5\\n1 1\\n255\\n\\" + std::to_string(sample / 64) +
                       std::to_string(sample / 8 % 8) + std::to_string(sample % 8) + "'\n");
  ::chmod(path.c_str(), 0755);
}

}  // namespace

// Valid files, among them the layouts the image library's own reader
// refuses (one-line header, comment between the numbers, P4) or misreads
// (text samples run together in a P1 bitmap).
TEST(InputImages, ReadsEveryPnmLayout) {
  ScratchDir dir("images_layouts");
  struct Case {
    const char* what;
    std::string content;
    int width, height;
    std::vector<double> values;  // row-major, channel 0
  };
  const Case cases[] = {
      {"8-bit binary",
       "P5\n3 2\n255\n" + bytes({0, 1, 32, 10, 254, 255}),
       3,
       2,
       {0, 1, 32, 10, 254, 255}},
      {"header on one line", "P5 3 1 255\n" + bytes({7, 8, 9}), 3, 1, {7, 8, 9}},
      {"comment between the numbers",
       "P5\n3 # width\n# more\n1\n255\n" + bytes({1, 2, 3}),
       3,
       1,
       {1, 2, 3}},
      {"each field on its own line, CR LF", "P5\r\n2\r\n1\r\n255\n" + bytes({5, 6}), 2, 1, {5, 6}},
      {"raster starting with white-space values",
       "P5\n3 1\n255\n" + bytes({32, 13, 9}),
       3,
       1,
       {32, 13, 9}},
      {"10-bit binary, most significant byte first",
       "P5\n4 1\n1023\n" + bytes({0, 0, 2, 1, 3, 254, 3, 255}),
       4,
       1,
       {0, 513, 1022, 1023}},
      {"maxval below 255", "P5\n2 1\n100\n" + bytes({0, 100}), 2, 1, {0, 100}},
      {"text grey",
       "P2\n# comment\n3 2\n1023\n0 1 2\n 1021 1022\n1023\n",
       3,
       2,
       {0, 1, 2, 1021, 1022, 1023}},
      {"colour binary: the red channel",
       "P6\n2 1\n255\n" + bytes({10, 20, 30, 40, 50, 60}),
       2,
       1,
       {10, 40}},
      {"colour text", "P3\n2 1\n255\n10 20 30 40 50 60\n", 2, 1, {10, 40}},
      {"text bitmap, digits run together", "P1\n3 2\n101\n0 1 0\n", 3, 2, {0, 255, 0, 255, 0, 255}},
      {"binary bitmap, rows padded to bytes",
       "P4\n9 2\n" + bytes({0xA0, 0x80, 0x00, 0x00}),
       9,
       2,
       {0, 255, 0, 255, 255, 255, 255, 255, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255}},
      {"data after the raster is ignored", "P5\n1 1\n255\n" + bytes({42, 43, 44}), 1, 1, {42}},
      // The fewest bytes that hold the samples: one-digit samples, one
      // separator between them and none after the last.
      {"text grey, shortest raster", "P2\n2 2\n9\n1 2 3 4", 2, 2, {1, 2, 3, 4}},
      {"text bitmap, shortest raster", "P1\n3 1\n011", 3, 1, {255, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "img", c.content);
    CImg<double> img;
    EXPECT_EQ(read_pnm_grey((dir / "img").c_str(), img), "");
    ASSERT_EQ(img.width(), c.width);
    ASSERT_EQ(img.height(), c.height);
    EXPECT_EQ(img.spectrum(), 1);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        EXPECT_EQ(img(x, y), c.values[static_cast<std::size_t>(y) * c.width + x])
            << "at (" << x << ", " << y << ")";
  }
}

TEST(InputImages, RefusesBrokenPnmFiles) {
  ScratchDir dir("images_refusals");
  struct Case {
    const char* what;
    std::string content;
    std::string message;  // expected part of the message
  };
  const Case cases[] = {
      {"8-bit raster one byte short", "P5\n3 2\n255\n" + std::string(5, 'a'),
       "less data than its header announces (5 of 6 bytes)"},
      {"16-bit raster one byte short", "P5\n2 2\n1023\n" + std::string(7, '\1'),
       "less data than its header announces (7 of 8 bytes)"},
      {"colour raster short", "P6\n2 1\n255\n" + std::string(4, 'c'), "(4 of 6 bytes)"},
      {"bitmap raster short", "P4\n9 2\n" + bytes({0xff, 0xff, 0xff}), "(3 of 4 bytes)"},
      {"header only", "P5\n3 2\n255\n", "(0 of 6 bytes)"},
      {"text raster short", "P2\n2 2\n255\n1 2 3\n",
       "less data than its header announces (6 bytes after the header, room for at most 3 of 4 "
       "samples)"},
      {"text raster short, found while reading", "P2\n2 2\n255\n1 2 3        \n",
       "(3 of 4 samples)"},
      // 21 bytes that announce 32767 x 32767 samples: refused before the
      // raster is allocated.
      {"text raster far too short", "P2\n32767 32767\n255\n0\n",
       "(2 bytes after the header, room for at most 1 of 1073676289 samples)"},
      {"colour text raster short", "P3\n2 1\n255\n1 2 3 4 5\n",
       "(10 bytes after the header, room for at most 5 of 6 samples)"},
      {"text bitmap one digit short", "P1\n3 2\n10101",
       "(5 bytes after the header, room for at most 5 of 6 samples)"},
      {"text bitmap short, found while reading", "P1\n3 2\n1 0 1\n", "(3 of 6 samples)"},
      {"binary raster far too short", "P5\n32767 32767\n255\n" + bytes({0}),
       "(1 of 1073676289 bytes)"},
      {"maxval 0", "P5\n1 1\n0\n" + bytes({0}),
       "maximum value 0 in its header (accepted: 1 to 65535)"},
      {"maxval above 16 bits", "P5\n1 1\n70000\n" + bytes({0, 0}), "maximum value 70000"},
      {"binary sample above maxval", "P5\n2 1\n100\n" + bytes({100, 101}),
       "sample of 101, above the maximum value 100"},
      {"16-bit sample above maxval", "P5\n1 1\n1023\n" + bytes({4, 0}),
       "sample of 1024, above the maximum value 1023"},
      {"text sample above maxval", "P2\n2 1\n255\n1 300\n",
       "sample of 300, above the maximum value 255"},
      {"text sample that is no number", "P2\n3 1\n255\n1 x 3\n",
       "sample that is not a decimal integer (\"x\")"},
      {"negative text sample", "P2\n1 1\n255\n-6\n", "not a decimal integer (\"-6\")"},
      {"fractional text sample", "P2\n1 1\n255\n6.5\n", "not a decimal integer (\"6.5\")"},
      {"bitmap digit other than 0 or 1", "P1\n2 1\n1 2\n", "not 0 or 1 (\"2\")"},
      {"size that is no number", "P5\n3 x\n255\n", "unreadable PNM header"},
      {"negative size", "P5\n-3 2\n255\n", "unreadable PNM header"},
      {"side above 32767", "P5\n40000 1\n255\n" + std::string(40000, '\x40'),
       "limited to 32767 pixels per side"},
      {"no magic number", "GIF89a", "is not a PNM file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(dir / "img", c.content);
    CImg<double> img;
    const std::string message = read_pnm_grey((dir / "img").c_str(), img);
    EXPECT_NE(message.find(dir / "img"), std::string::npos) << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << message;
  }
}

// A short file that announces the largest raster is refused without taking
// the memory of that raster (2 GiB of 16-bit samples): under an address
// space limit of 1 GiB the reader would otherwise end by bad_alloc.
TEST(InputImagesDeathTest, ShortRasterRefusedBeforeAllocating) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ScratchDir dir("images_short_raster");
  for (const char* content : {"P2\n32767 32767\n255\n0\n", "P3\n32767 32767\n255\n0 0 0\n",
                              "P1\n32767 32767\n0\n", "P5\n32767 32767\n1023\n\1\2"}) {
    SCOPED_TRACE(content);
    write_text(dir / "img", content);
    EXPECT_EXIT(read_with_little_memory(dir / "img"), ::testing::ExitedWithCode(0),
                "less data than its header announces");
  }
#endif
}

// 1022 and 1023 mark invalid samples: an image is taken when every sample
// lies from 0 to 1023, whatever its format.
TEST(InputImages, SampleLimit) {
  struct Case {
    const char* what;
    std::vector<double> values;
    std::string message;  // "" when taken
  };
  const Case cases[] = {
      {"8-bit range", {0, 128, 255}, ""},
      {"10-bit range with the markers", {0, 1022, 1023}, ""},
      {"one sample above 1023: the largest is named", {5, 1024, 4095, 7}, "has samples up to 4095"},
      {"16-bit white", {65535, 0, 0}, "has samples up to 65535"},
      {"negative sample", {3, -2, 1}, "has a sample of -2"},
      {"not a number", {3, std::nan(""), 1}, "has a sample that is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CImg<double> img(static_cast<int>(c.values.size()), 1, 1, 1);
    for (std::size_t k = 0; k < c.values.size(); ++k) img[k] = c.values[k];
    const std::string message = check_samples("in.tif", img);
    if (c.message.empty()) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_NE(message.find("The image in.tif " + c.message), std::string::npos) << message;
      EXPECT_NE(message.find("from 0 to 1023"), std::string::npos) << message;
    }
  }
}

// 10-bit samples and the invalid-sample markers 1022 and 1023 keep their
// exact values (the external converter would lower about half of them).
TEST(InputImages, TenBitSamplesLoadExactly) {
  ScratchDir dir("images_10bit");
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
// from an 8-bit PGM loads with the same values; one made from a 16-bit PGM
// with samples above 1023 is refused.
TEST(InputImages, OtherFormatsThroughTheConverter) {
  if (std::system("command -v convert > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  ScratchDir dir("images_png");
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

  Grey deep = g;
  for (double& v : deep.v) v *= 200.0;  // up to 51000
  write_pgm(dir / "deep.pgm", deep, 65535);
  ASSERT_EQ(std::system(("convert " + dir / "deep.pgm" + " " + dir / "deep.png").c_str()), 0);
  const std::string png = dir / "deep.png";
  EXPECT_EXIT(load_grey_image(png.c_str()), ::testing::ExitedWithCode(1),
              "deep.png has samples up to 51000; samples must lie from 0 to 1023");
}

// Converters are looked up in the absolute folders of PATH only: a convert
// or magick script in the working folder (it would leave a marker file and
// give a 1 x 1 image) is never run, neither through the library's search nor
// through an empty or relative PATH entry. Without a convert on PATH the
// message says the file is not PNM and names the converter.
TEST(InputImagesDeathTest, ConverterFromPathOnly) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child runs in these folders
  ScratchDir dir("images_converter_path");
  for (const char* sub : {"work", "bin", "empty", "two words"})
    fs::create_directories(dir.path() / sub);
  const std::string marker = dir / "marker";
  for (const char* trap : {"work/convert", "work/magick"})
    write_converter(dir / trap, 99, ": > '" + marker + "'");
  write_converter(dir / "bin/convert", 7);
  write_converter(dir / "two words/convert", 8);
  const bool real_convert = std::system("command -v convert > /dev/null 2>&1") == 0;
  Grey g;
  g.width = 3;
  g.height = 2;
  g.v = {13, 200, 0, 1, 2, 3};
  write_pgm(dir / "eight.pgm", g, 255);
  if (!real_convert ||
      std::system(("convert " + dir / "eight.pgm" + " " + dir / "eight.png").c_str()) != 0)
    write_text(dir / "eight.png", "\x89PNG\r\n\x1a\n not a real one");
  const char* const user_path = std::getenv("PATH");
  const std::string not_found =
      "eight.png is not a PNM file, and the converter \"convert\" \\(ImageMagick\\) that reads "
      "other formats was not found on PATH";
  struct Case {
    const char* what;
    std::string path;
    int status;
    std::string message;
    bool needs_real_convert;
  };
  const Case cases[] = {
      {"the user's PATH, with convert", user_path ? user_path : "", 0,
       "loaded 3 x 2, first sample 13", true},
      {"a folder of PATH with its own convert", dir / "bin", 0, "loaded 1 x 1, first sample 7",
       false},
      {"no convert on PATH", dir / "empty", 1, not_found, false},
      {"relative and empty entries naming the working folder", ".:" + dir / "empty" + "::work",
       1, not_found, false},
      // The library would run "<folder>/two" with the rest as arguments.
      {"a folder name the shell would split", dir / "two words", 1, not_found, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_real_convert && !real_convert) continue;
    EXPECT_EXIT(load_from(dir / "work", c.path, dir / "eight.png"),
                ::testing::ExitedWithCode(c.status), c.message);
    EXPECT_FALSE(fs::exists(marker)) << "a converter of the working folder was run";
    fs::remove(marker);
  }
  EXPECT_EQ(find_converter("convert").empty(), !real_convert);
  if (real_convert) {
    EXPECT_EQ(find_converter("convert")[0], '/');
  }
}
