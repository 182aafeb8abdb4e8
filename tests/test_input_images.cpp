// Input images: the PNM reader (every header layout, exact 8- and 16-bit
// samples, bitmaps, colour files), its refusals, the sample limit of 1023
// and the converter for other formats (taken from PATH, never from the
// working folder, run without a shell, any file name read as it is).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "CImg.h"
#include "input_images.h"
#include "program_run.h"
#include "texture_pair.h"

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
// and the samples on standard error ("loaded 3 x 1: 4 5 6") and exits
// with 0.
[[noreturn]] void load_from(const std::string& cwd, const std::string& path,
                            const std::string& image) {
  if (::chdir(cwd.c_str()) != 0) std::exit(3);
  ::setenv("PATH", path.c_str(), 1);
  const CImg<double> img = load_grey_image(image.c_str());
  std::string line = "loaded " + std::to_string(img.width()) + " x " +
                     std::to_string(img.height()) + ":";
  for (const double v : img) line += " " + std::to_string(static_cast<long>(v));
  std::fprintf(stderr, "%s\n", line.c_str());
  std::exit(0);
}

// What load_from prints for the image g.
std::string loaded(const Grey& g) {
  std::string line = "loaded " + std::to_string(g.width) + " x " + std::to_string(g.height) + ":";
  for (const double v : g.v) line += " " + std::to_string(static_cast<long>(v));
  return line;
}

// An executable shell script that runs `also` and writes the 1 x 1 PNM
// image of sample value `sample` to standard output.
void write_converter(const std::string& path, int sample, const std::string& also = "") {
  write_text(path, "#!/bin/sh\n" + also + "\nprintf 'P5\\n1 1\\n255\\n\\" +
                       std::to_string(sample / 64) + std::to_string(sample / 8 % 8) +
                       std::to_string(sample % 8) + "'\n");
  ::chmod(path.c_str(), 0755);
}

// ImageMagick's convert, called directly to make the test files.
const char* const kImageMagick = "/usr/bin/convert";

bool have_imagemagick() { return ::access(kImageMagick, X_OK) == 0; }

// Runs ImageMagick's convert with args (quoted here); true on success.
bool imagemagick(const std::vector<std::string>& args) {
  std::string command = kImageMagick;
  for (const std::string& a : args) command += " " + quote(a);
  return std::system(command.c_str()) == 0;
}

// The 3 x 2 image of samples first, first + 1, ... first + 5.
Grey ramp(int first) {
  Grey g;
  g.width = 3;
  g.height = 2;
  for (int k = 0; k < 6; ++k) g.v.push_back(first + k);
  return g;
}

// Writes g as an 8-bit PNG at path, made from a PGM under a plain name
// beside it.
void write_png(const std::string& path, const Grey& g) {
  const fs::path folder = fs::path(path).parent_path();
  const std::string pgm = folder / "making.pgm", png = folder / "making.png";
  write_pgm(pgm, g, 255);
  ASSERT_TRUE(imagemagick({pgm, png}));
  fs::rename(png, path);
  fs::remove(pgm);
}

// The names of the files in folder.
std::set<std::string> files_in(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// Number of descriptors open in this process.
int open_descriptors() {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
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

// Formats other than PNM go through the converter, whose PNM output our
// own reader takes: each file loads with the samples of the PNM image it
// was made from (8 and 16 bits, the red channel of a colour file, the 0 and
// 255 of a two-level image the converter writes as a bitmap, the first
// frame of a file of several). A 16-bit PNG with samples above 1023 is
// refused.
TEST(InputImages, OtherFormatsThroughTheConverter) {
  if (!have_imagemagick()) GTEST_SKIP() << "ImageMagick's convert is not installed";
  ScratchDir dir("images_png");
  Grey eight = ramp(0);
  eight.v = {0, 13, 32, 128, 255, 1};
  Grey sixteen = ramp(0);
  sixteen.v = {0, 1, 513, 1000, 1022, 1023};
  Grey bilevel = ramp(0);
  bilevel.v = {0, 255, 255, 0, 0, 255};
  write_pgm(dir / "eight.pgm", eight, 255);
  write_pgm(dir / "sixteen.pgm", sixteen, 65535);
  write_pgm(dir / "bilevel.pgm", bilevel, 255);
  write_pgm(dir / "second.pgm", ramp(40), 255);
  // Red 10, 20, ..., 60 with other green and blue values.
  std::string ppm = "P6\n3 2\n255\n";
  for (int k = 1; k <= 6; ++k) ppm += bytes({10 * k, 200 - k, 100 + k});
  write_text(dir / "colour.ppm", ppm);
  Grey red = ramp(0);
  red.v = {10, 20, 30, 40, 50, 60};
  struct Case {
    const char* what;
    std::vector<std::string> make;  // arguments of convert that make the file
    std::string file;
    Grey expected;
  };
  const Case cases[] = {
      {"8-bit grey PNG", {dir / "eight.pgm", dir / "eight.png"}, "eight.png", eight},
      {"16-bit grey PNG", {dir / "sixteen.pgm", dir / "sixteen.png"}, "sixteen.png", sixteen},
      {"colour PNG: the red channel", {dir / "colour.ppm", dir / "colour.png"}, "colour.png", red},
      {"two-level PNG", {dir / "bilevel.pgm", dir / "bilevel.png"}, "bilevel.png", bilevel},
      {"TIFF of two frames: the first",
       {dir / "eight.pgm", dir / "second.pgm", dir / "two.tif"},
       "two.tif",
       eight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(imagemagick(c.make));
    const CImg<double> img = load_grey_image((dir / c.file).c_str());
    ASSERT_EQ(img.width(), c.expected.width);
    ASSERT_EQ(img.height(), c.expected.height);
    EXPECT_EQ(img.spectrum(), 1);
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        EXPECT_EQ(img(x, y), c.expected.at(x, y)) << x << "," << y;
  }
  // The 16-bit PNG and its PGM load alike.
  const CImg<double> png = load_grey_image((dir / "sixteen.png").c_str());
  const CImg<double> pgm = load_grey_image((dir / "sixteen.pgm").c_str());
  EXPECT_TRUE(png == pgm);

  Grey deep = eight;
  for (double& v : deep.v) v *= 200.0;  // up to 51000
  write_pgm(dir / "deep.pgm", deep, 65535);
  ASSERT_TRUE(imagemagick({dir / "deep.pgm", dir / "deep.png"}));
  const std::string deep_png = dir / "deep.png";
  EXPECT_EXIT(load_grey_image(deep_png.c_str()), ::testing::ExitedWithCode(1),
              "deep.png has samples up to 51000; samples must lie from 0 to 1023");
}

// Converters are looked up in the absolute folders of PATH only, and run
// without a shell: convert, magick and which scripts in the working folder
// (each would leave a marker file and give a 1 x 1 image) are never run,
// neither through an empty or relative PATH entry nor by a shell looking
// for the converter. A folder name with a blank is taken as it is. Without
// a convert on PATH the message says the file is not PNM and names the
// converter.
TEST(InputImagesDeathTest, ConverterFromPathOnly) {
  GTEST_FLAG_SET(death_test_style, "fast");  // the child runs in these folders
  ScratchDir dir("images_converter_path");
  for (const char* sub : {"work", "bin", "empty", "two words"})
    fs::create_directories(dir.path() / sub);
  const std::string marker = dir / "marker";
  for (const char* trap : {"work/convert", "work/magick", "work/which"})
    write_converter(dir / trap, 99, ": > '" + marker + "'");
  write_converter(dir / "bin/convert", 7);
  write_converter(dir / "two words/convert", 8);
  const bool real_convert = !find_converter("convert").empty() && have_imagemagick();
  Grey g = ramp(0);
  g.v = {13, 200, 0, 1, 2, 3};
  if (real_convert)
    write_png(dir / "eight.png", g);
  else
    write_text(dir / "eight.png", "\x89PNG\r\n\x1a\n not a real one");
  const char* const user_path = std::getenv("PATH");
  const std::string users = user_path ? user_path : "";
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
      {"the user's PATH, with convert", users, 0, loaded(g), true},
      {"the working folder and an empty entry before the user's PATH", ".::" + users, 0,
       loaded(g), true},
      {"a folder of PATH with its own convert", dir / "bin", 0, "loaded 1 x 1: 7", false},
      {"no convert on PATH", dir / "empty", 1, not_found, false},
      {"relative and empty entries naming the working folder", ".:" + dir / "empty" + "::work",
       1, not_found, false},
      {"a folder name with a blank", dir / "two words", 0, "loaded 1 x 1: 8", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needs_real_convert && !real_convert) continue;
    EXPECT_EXIT(load_from(dir / "work", c.path, dir / "eight.png"),
                ::testing::ExitedWithCode(c.status), c.message);
    EXPECT_FALSE(fs::exists(marker)) << "a program of the working folder was run";
    fs::remove(marker);
  }
  if (real_convert) {
    EXPECT_EQ(find_converter("convert")[0], '/');
  }
}

// Any file name reaches the converter as that file: blanks, quotes and
// shell syntax are not interpreted (no shell runs), a leading '-' is no
// option, and ImageMagick's own syntax (a format prefix, a frame or crop
// suffix, wildcards, '@' list files, '|' commands) does not apply. Each
// file holds its own samples, and a decoy.png those the name would mean in
// ImageMagick's syntax; the load is tried with the name relative to the
// working folder and as an absolute path. No other file appears.
TEST(InputImagesDeathTest, FileNamesReadAsTheyAre) {
  if (!have_imagemagick() || find_converter("convert").empty())
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  GTEST_FLAG_SET(death_test_style, "fast");  // the child runs in the folder
  ScratchDir dir("images_names");
  write_png(dir / "decoy.png", ramp(200));
  const std::vector<std::string> names = {
      "with blank.png",     "it's.png",      "say \"hi\".png",      "$(touch pwned).png",
      "`touch pwned`.png",  "-x.png",        "-density",           "|touch pwned",
      "@decoy.png",         "png:decoy.png", "decoy.png[0]",       "decoy.png[1x1+1+0]",
      "deco?.png",          "~decoy.png",    "a;touch pwned;.png",
  };
  for (std::size_t k = 0; k < names.size(); ++k) write_png(dir / names[k], ramp(10 * int(k)));
  const std::set<std::string> before = files_in(dir.path());
  const char* const user_path = std::getenv("PATH");
  for (std::size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE(names[k]);
    for (const std::string& name : {names[k], dir / names[k]})
      EXPECT_EXIT(load_from(dir.path(), user_path, name), ::testing::ExitedWithCode(0),
                  loaded(ramp(10 * int(k))));
  }
  EXPECT_EQ(files_in(dir.path()), before);
}

// Each failure of the converter, and a file that cannot be opened, ends
// the program with status 1 and one message naming the file. The fake
// converters stand in a folder of their own on PATH.
TEST(InputImagesDeathTest, ConverterFailures) {
  GTEST_FLAG_SET(death_test_style, "fast");
  ScratchDir dir("images_converter_failures");
  write_text(dir / "image.png", "\x89PNG\r\n\x1a\nnot a real one");
  fs::create_directories(dir.path() / "folder.png");
  const char* const user_path = std::getenv("PATH");
  struct Case {
    const char* what;
    std::string script;  // "" for the converter on the user's PATH
    std::string image;
    std::string message;
  };
  const std::string converted = "image.png could not be converted: .*/convert ";
  const std::string as_pnm = "image.png \\(converted to PNM by .*/convert\\) ";
  const Case cases[] = {
      {"a status other than 0", "exit 3", "image.png", converted + "exited with status 3\\."},
      {"a valid image, then a status other than 0", "printf 'P5 1 1 255 A'; exit 2", "image.png",
       converted + "exited with status 2\\."},
      {"ended by a signal", "kill -KILL $$", "image.png",
       converted + "was ended by signal 9 \\(Killed\\)\\."},
      {"an interpreter that does not exist", "", "image.png",
       converted + "could not be started \\(No such file or directory\\)\\."},
      {"output that is no PNM", "echo hello", "image.png", as_pnm + "is not a PNM file\\."},
      {"a raster cut short", "printf 'P5\\n2 2\\n255\\nab'", "image.png",
       as_pnm + "holds less data than its header announces \\(2 of 4 bytes\\)\\."},
      {"ImageMagick on a corrupt PNG", "", "image.png", converted + "exited with status 1\\."},
      {"a missing file", "", "missing.png",
       "The image missing.png could not be opened \\(No such file or directory\\)\\."},
      {"a folder", "", "folder.png",
       "The image folder.png could not be opened \\(Is a directory\\)\\."},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = user_path ? user_path : "";
    const bool imagemagick_case = std::string(c.what).find("ImageMagick") == 0;
    if (imagemagick_case && (!have_imagemagick() || find_converter("convert").empty())) continue;
    if (!c.script.empty() || std::string(c.what).find("interpreter") != std::string::npos) {
      const std::string bin = dir / ("bin" + std::to_string(n++));
      fs::create_directories(bin);
      write_text(bin + "/convert", c.script.empty() ? "#!/nonexistent/sh\n"
                                                     : "#!/bin/sh\n" + c.script + "\n");
      ::chmod((bin + "/convert").c_str(), 0755);
      path = bin;
    }
    EXPECT_EXIT(load_from(dir.path(), path, c.image), ::testing::ExitedWithCode(1), c.message);
  }
}

// A load through the converter leaves no descriptor open and no child
// behind, and the converter inherits no descriptor of ours but 0 to 2 (a
// fake converter fails when the pipe end we hold without close-on-exec is
// open in it).
TEST(InputImagesDeathTest, NoDescriptorOrChildLeft) {
  GTEST_FLAG_SET(death_test_style, "fast");
  ScratchDir dir("images_resources");
  Grey g = ramp(5);
  if (have_imagemagick() && !find_converter("convert").empty()) {
    write_png(dir / "image.png", g);
    const int before = open_descriptors();
    const CImg<double> img = load_grey_image((dir / "image.png").c_str());
    EXPECT_EQ(img(2, 1), 10.0);
    EXPECT_EQ(open_descriptors(), before);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  int ours[2];
  ASSERT_EQ(::pipe(ours), 0);
  fs::create_directories(dir.path() / "bin");
  write_converter(dir / "bin/convert", 7,
                  "for fd in " + std::to_string(ours[0]) + " " + std::to_string(ours[1]) +
                      "; do [ -e /proc/$$/fd/$fd ] && exit 4; done");
  write_text(dir / "other.png", "not PNM");
  EXPECT_EXIT(load_from(dir.path(), dir / "bin", "other.png"), ::testing::ExitedWithCode(0),
              "loaded 1 x 1: 7");
  ::close(ours[0]);
  ::close(ours[1]);
}

// The whole program on a PNG pair, from a working folder holding convert,
// magick and which scripts, with PATH starting with the working folder and
// an empty entry: none of them runs, and the motion file is that of the
// same pair as PGM files, to the bit, also when the caller ignores
// SIGCHLD. A corrupt PNG ends the run with status 1 and the refusal
// printed once, without the image library's exception.
TEST(InputImages, ProgramReadsPngWithoutRunningTheWorkingFolder) {
  if (!have_imagemagick() || find_converter("convert").empty())
    GTEST_SKIP() << "ImageMagick's convert is not installed";
  ScratchDir dir("images_program_png");
  fs::create_directories(dir.path() / "pgm");
  fs::create_directories(dir.path() / "png");
  const std::string marker = dir / "marker";
  for (const char* trap : {"png/convert", "png/magick", "png/which"})
    write_converter(dir / trap, 99, ": > '" + marker + "'");
  const Grey a = smooth_texture(16, 16, 0.0, 0.0, 5, 120.0, 80.0);
  const Grey b = smooth_texture(16, 16, 0.5, 0.0, 5, 120.0, 80.0);
  write_pgm(dir / "pgm/a.pgm", a, 255);
  write_pgm(dir / "pgm/b.pgm", b, 255);
  write_png(dir / "png/a.png", a);
  write_png(dir / "png/b.png", b);
  write_list(dir / "pgm/list", "a.pgm", "b.pgm", "");
  write_list(dir / "png/list", "a.png", "b.png", "");
  const std::vector<std::string> options = {"-inPath", "list", "-dx", "16", "-dy", "16",
                                            "-Dx",     "16",   "-Dy", "16"};
  const RunResult pgm = run_program(dir / "pgm", options);
  ASSERT_EQ(pgm.status, 0) << pgm.err;
  std::vector<std::string> png_run = {"env", "PATH=.::" + std::string(std::getenv("PATH")),
                                      VELMORA_PROGRAM};
  png_run.insert(png_run.end(), options.begin(), options.end());
  const RunResult png = run_command(dir / "png", png_run, "velmora");
  ASSERT_EQ(png.status, 0) << png.err;
  EXPECT_FALSE(fs::exists(marker)) << "a program of the working folder was run";
  EXPECT_EQ(png.out, pgm.out);
  EXPECT_EQ(read_text(dir / "png/UV_HS.motion"), read_text(dir / "pgm/UV_HS.motion"));

  // A caller that ignores SIGCHLD (a disposition kept through exec): the
  // converter is still waited for, and the run is the same.
  std::vector<std::string> ignoring = {"env", "--ignore-signal=CHLD", VELMORA_PROGRAM};
  ignoring.insert(ignoring.end(), options.begin(), options.end());
  fs::remove(dir.path() / "png/UV_HS.motion");
  const RunResult quiet = run_command(dir / "png", ignoring, "ignoring");
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, pgm.out);
  EXPECT_EQ(read_text(dir / "png/UV_HS.motion"), read_text(dir / "pgm/UV_HS.motion"));

  write_text(dir / "png/b.png", "\x89PNG\r\n\x1a\nnot a real one");
  const RunResult bad = run_command(dir / "png", png_run, "velmora");
  EXPECT_EQ(bad.status, 1);
  EXPECT_FALSE(fs::exists(marker)) << "a program of the working folder was run";
  const std::string refusal = "The image b.png could not be converted: ";
  const std::size_t at = bad.err.find(refusal);
  ASSERT_NE(at, std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find(refusal, at + 1), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("CImg"), std::string::npos) << bad.err;
  EXPECT_EQ(bad.err.find("image library error"), std::string::npos) << bad.err;
}
