// Velocity-field files: text motion files and the compact two-byte format.
#include "io_field.h"

#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

}  // namespace

TEST(MotionText, WriteChampLines) {
  ScratchDir dir;
  const float U[] = {0.5f, -1.25f}, V[] = {0.0f, 3.0f};
  write_champ(U, V, 2, 1, dir.file("a.motion").c_str());
  EXPECT_EQ(ScratchDir::read(dir.file("a.motion")),
            "2 1\n#i\tj\tU\tV\n0\t0\t0.500000\t0.000000\n0\t1\t-1.250000\t3.000000\n");

  // Rows outer, columns inner, for a 1 x 2 field.
  write_champ(U, V, 1, 2, dir.file("b.motion").c_str());
  EXPECT_EQ(ScratchDir::read(dir.file("b.motion")),
            "1 2\n#i\tj\tU\tV\n0\t0\t0.500000\t0.000000\n1\t0\t-1.250000\t3.000000\n");

  write_champ(U, V, 3, 0, dir.file("c.motion").c_str());
  EXPECT_EQ(ScratchDir::read(dir.file("c.motion")), "3 0\n#i\tj\tU\tV\n");
}

// The lines of a motion file are those printf writes with
// "%hd\t%hd\t%f\t%f\n", on values chosen to round at the last decimal
// (ties to even included), signed zeros, large and tiny values, values that
// are not finite, and many random bit patterns; also in another rounding
// mode. 40 000 lines: several output blocks.
TEST(MotionText, NumbersAsPrintfWritesThem) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = {
      0.0f, -0.0f, 0.5f, -1.25f, 1e-7f, -1e-7f, 4.9999999e-7f, 5.0000005e-7f, -5.0000005e-7f,
      0.0078125f, 0.0234375f, -0.0234375f, 2.5e-6f, 0.9999995f, 0.99999952f, 9.9999995f,
      99.9999995f, 999999.94f, -999999.94f, 1048575.9999f, 123456.789f, 16777216.0f,
      9.2233715e12f, 9.223372e12f, 9.2233725e12f, -9.2233725e12f, 1e15f, 3.4e38f, -3.4e38f,
      std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
      std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(), inf,
      -inf, std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN()};
  // Every multiple of 1/128 in [-4, 4] (a tie at the seventh decimal for odd
  // multiples), and every float next to a value with six decimals.
  for (int k = -512; k <= 512; ++k) values.push_back(k / 128.0f);
  for (int k = -2000; k <= 2000; k += 7) {
    const float v = static_cast<float>(k * 1e-6 + 5e-7);
    values.push_back(v);
    values.push_back(std::nextafter(v, 1.0f));
    values.push_back(std::nextafter(v, -1.0f));
  }
  std::mt19937 rng(2024);
  while (values.size() < 40000) {
    const std::uint32_t word = rng();
    float v;
    std::memcpy(&v, &word, sizeof v);
    values.push_back(values.size() % 2 ? v : std::ldexp(static_cast<float>(word % 2000001) - 1e6f, -static_cast<int>(word % 24)));
  }
  const short cols = 250, rows = static_cast<short>(values.size() / cols);
  const std::size_t n = static_cast<std::size_t>(cols) * rows;
  std::vector<float> U(values.begin(), values.begin() + n), V(n);
  for (std::size_t k = 0; k < n; ++k) V[k] = U[n - 1 - k];

  ScratchDir dir;
  for (int mode : {FE_TONEAREST, FE_UPWARD}) {
    SCOPED_TRACE(mode == FE_TONEAREST ? "to nearest" : "upward");
    std::string want = std::to_string(cols) + " " + std::to_string(rows) + "\n#i\tj\tU\tV\n";
    ASSERT_EQ(std::fesetround(mode), 0);
    char line[256];
    for (short i = 0; i < rows; ++i)
      for (short j = 0; j < cols; ++j) {
        const std::size_t k = static_cast<std::size_t>(i) * cols + j;
        std::snprintf(line, sizeof line, "%hd\t%hd\t%f\t%f\n", i, j, static_cast<double>(U[k]),
                      static_cast<double>(V[k]));
        want += line;
      }
    write_champ(U.data(), V.data(), cols, rows, dir.file("n.motion").c_str());
    std::fesetround(FE_TONEAREST);
    const std::string got = ScratchDir::read(dir.file("n.motion"));
    ASSERT_EQ(got.size(), want.size());
    std::size_t wrong = 0;
    while (wrong < got.size() && got[wrong] == want[wrong]) ++wrong;
    EXPECT_EQ(wrong, got.size()) << "first difference in: "
                                 << got.substr(got.rfind('\n', wrong) + 1, 60);
  }
}

TEST(MotionText, WriteChampImHasAFifthColumn) {
  ScratchDir dir;
  const float U[] = {0.5f, -1.25f}, V[] = {0.0f, 3.0f}, Im[] = {7.0f, -0.125f};
  write_champ_im(U, V, Im, 2, 1, dir.file("a.motion").c_str());
  EXPECT_EQ(ScratchDir::read(dir.file("a.motion")),
            "2 1\n#i\tj\tU\tV\tf\n0\t0\t0.500000\t0.000000\t7.000000\n"
            "0\t1\t-1.250000\t3.000000\t-0.125000\n");
}

TEST(MotionTextDeathTest, FileThatCannotBeCreated) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The death statement runs in a fresh process with a scratch folder of its own.
  ScratchDir dir;
  const std::string bad = dir.file("missing/a.motion");
  const float U[] = {0.0f}, V[] = {0.0f};
  // The message goes to standard output: send it to the error stream.
  EXPECT_EXIT((dir.remove_at_exit(), dup2(2, 1), write_champ(U, V, 1, 1, bad.c_str())),
              ::testing::ExitedWithCode(1), "Can't create /.*/missing/a.motion !");
  EXPECT_EXIT((dir.remove_at_exit(), dup2(2, 1), write_champ_im(U, V, U, 1, 1, bad.c_str())),
              ::testing::ExitedWithCode(1), "Can't create /.*/missing/a.motion !");
}

TEST(MotionTextDeathTest, WriteThatFailsIsNotReportedAsSuccess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const float U[] = {0.0f}, V[] = {0.0f};
  EXPECT_EXIT((dup2(2, 1), write_champ(U, V, 1, 1, "/dev/full")), ::testing::ExitedWithCode(1),
              "Can't write /dev/full !");
}

TEST(CompactField, BytePairsAndValuesReadBack) {
  // value, byte 0, byte 1, value read back
  const struct {
    float v;
    int b0, b1;
    float back;
  } cases[] = {
      {0.0f, 1, 0, 0.0f},        {0.5f, 1, 100, 0.5f},      {-0.25f, 255, 50, -0.25f},
      {2.0037f, 3, 0, 2.0f},     {-3.5f, 252, 100, -3.5f},  {126.5f, 127, 100, 126.5f},
      {-127.5f, 128, 100, -127.5f},
      // 0.13f is 2181038 / 2^24 = 0.12999999523..., 200 times that 25.99999905: byte 1 is 25,
      // not the 26 a single-precision product rounds to; likewise 0.38f (75.999999).
      {0.13f, 1, 25, 0.125f},    {0.38f, 1, 75, 0.375f},    {-0.13f, 255, 25, -0.125f},
      // Outside (-128, 127) the integer byte wraps: 200 -> f = 201 -> -55.
      {200.0f, 201, 0, -54.0f},  {200.5f, 201, 100, -54.5f}, {-300.25f, 211, 50, -44.25f},
  };
  ScratchDir dir;
  const std::string path = dir.file("f.vec");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v);
    const float u[] = {c.v}, v[] = {-c.v};
    short error = -1;
    write_field(path.c_str(), u, v, 1, 1, &error);
    ASSERT_EQ(error, 0);
    const std::string content = ScratchDir::read(path);
    ASSERT_EQ(content.size(), 8u);
    EXPECT_EQ(content.substr(0, 4), bytes({0, 1, 0, 1}));
    EXPECT_EQ(static_cast<unsigned char>(content[4]), c.b0);
    EXPECT_EQ(static_cast<unsigned char>(content[5]), c.b1);
    float ru = 99.0f, rv = 99.0f;
    read_field(path.c_str(), &ru, &rv, 1, 1, &error);
    ASSERT_EQ(error, 0);
    EXPECT_NEAR(ru, c.back, 1e-6);
    if (std::fabs(c.v) < 127.0f) {
      EXPECT_NEAR(rv, -c.back, 1e-6);
    }
  }
}

TEST(CompactField, NonFiniteAndHugeValuesAreWellDefined) {
  ScratchDir dir;
  const std::string path = dir.file("f.vec");
  const float inf = std::numeric_limits<float>::infinity();
  const float u[] = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f};
  const float v[] = {0.0f, 0.0f, 0.0f, -1e30f};
  short error = -1;
  write_field(path.c_str(), u, v, 4, 1, &error);
  ASSERT_EQ(error, 0);
  float ru[4], rv[4];
  read_field(path.c_str(), ru, rv, 4, 1, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(ru[0], 0.0f);
  EXPECT_EQ(ru[1], 0.0f);
  EXPECT_EQ(ru[2], 0.0f);
  EXPECT_TRUE(std::isfinite(ru[3]));
  EXPECT_TRUE(std::isfinite(rv[3]));
}

TEST(CompactField, RoundTripWithinTheStep) {
  // Every value of (-127, 127) in steps of 0.013, plus a few near the ends.
  std::vector<float> u, v;
  for (int k = -9768; k <= 9768; ++k) u.push_back(0.013f * k);
  for (float e : {-126.999f, -126.0001f, -0.0049f, 0.0049f, 0.9999f, -0.9999f, 126.999f})
    u.push_back(e);
  for (float x : u) v.push_back(-0.5f * x);
  const short nbcol = static_cast<short>(u.size() / 7), nblig = 7;
  ASSERT_EQ(static_cast<std::size_t>(nbcol) * nblig, u.size());

  ScratchDir dir;
  const std::string path = dir.file("f.vec");
  short error = -1;
  write_field(path.c_str(), u.data(), v.data(), nbcol, nblig, &error);
  ASSERT_EQ(error, 0);
  std::vector<float> ru(u.size()), rv(u.size());
  read_field(path.c_str(), ru.data(), rv.data(), nbcol, nblig, &error);
  ASSERT_EQ(error, 0);
  // The fraction is truncated toward zero: |read| <= |written| < |read| + 0.005.
  // The allowance covers the rounding of v + 1 to single precision.
  const double slack = 2e-5;
  for (std::size_t k = 0; k < u.size(); ++k) {
    for (const auto& [w, r] : {std::pair<float, float>{u[k], ru[k]}, {v[k], rv[k]}}) {
      ASSERT_LE(std::fabs(r), std::fabs(w) + slack) << w;
      ASSERT_LT(std::fabs(w) - std::fabs(r), 0.005 + slack) << w;
      if (std::fabs(w) > 0.005) {
        ASSERT_EQ(std::signbit(r), std::signbit(w)) << w;
      }
    }
  }
}

TEST(CompactField, HeaderAndPlaneLayout) {
  ScratchDir dir;
  const std::string path = dir.file("f.vec");
  // 300 rows of 2 columns: header 1, 44, 0, 2.
  std::vector<float> u(600, 0.0f), v(600, 0.0f);
  u[1] = 0.5f;    // row 0, column 1: bytes 6, 7 of the U plane
  u[2] = -0.25f;  // row 1, column 0: bytes 8, 9
  v[0] = 2.5f;    // first value of the V plane, at 4 + 1200
  short error = -1;
  write_field(path.c_str(), u.data(), v.data(), 2, 300, &error);
  ASSERT_EQ(error, 0);
  const std::string content = ScratchDir::read(path);
  ASSERT_EQ(content.size(), 4u + 2 * 1200u);
  EXPECT_EQ(content.substr(0, 4), bytes({1, 44, 0, 2}));
  EXPECT_EQ(content.substr(4, 6), bytes({1, 0, 1, 100, 255, 50}));
  EXPECT_EQ(content.substr(4 + 1200, 2), bytes({3, 100}));

  short nbcol = 0, nblig = 0;
  read_entete_field(path.c_str(), &nbcol, &nblig, &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(nbcol, 2);
  EXPECT_EQ(nblig, 300);

  // Header bytes are unsigned: 200 columns read back as 200.
  std::vector<float> w(200, 1.0f);
  write_field(path.c_str(), w.data(), w.data(), 200, 1, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(ScratchDir::read(path).substr(0, 4), bytes({0, 1, 0, 200}));
  read_entete_field(path.c_str(), &nbcol, &nblig, &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(nbcol, 200);
  EXPECT_EQ(nblig, 1);
}

TEST(CompactField, ShortFileGivesZeroForMissingValues) {
  ScratchDir dir;
  // Header for 2 x 2, then 5 bytes: U(0) = 0.5, U(1) = -0.25, and one lone byte.
  const std::string path = dir.write("short.vec", bytes({0, 2, 0, 2, 1, 100, 255, 50, 7}));
  float u[4] = {9, 9, 9, 9}, v[4] = {9, 9, 9, 9};
  short error = -1;
  read_field(path.c_str(), u, v, 2, 2, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(u[0], 0.5f);
  EXPECT_EQ(u[1], -0.25f);
  EXPECT_EQ(u[2], 0.0f);
  EXPECT_EQ(u[3], 0.0f);
  for (float x : v) EXPECT_EQ(x, 0.0f);
}

TEST(CompactField, ErrorCodes) {
  ScratchDir dir;
  const std::string missing = dir.file("none/f.vec");
  const float u[1] = {1.0f};
  float ru[1] = {42.0f}, rv[1] = {43.0f};
  short error = 0, nbcol = 5, nblig = 6;

  ::testing::internal::CaptureStderr();
  write_field(missing.c_str(), u, u, 1, 1, &error);
  EXPECT_EQ(error, 1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("fichier vecteurs"), std::string::npos);

  ::testing::internal::CaptureStderr();
  read_entete_field(missing.c_str(), &nbcol, &nblig, &error);
  EXPECT_EQ(error, 1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("fichier vect."), std::string::npos);
  EXPECT_EQ(nbcol, 5);
  EXPECT_EQ(nblig, 6);

  ::testing::internal::CaptureStderr();
  error = 0;
  read_field(missing.c_str(), ru, rv, 1, 1, &error);
  EXPECT_EQ(error, 1);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("fichier"), std::string::npos);
  EXPECT_EQ(ru[0], 42.0f);
  EXPECT_EQ(rv[0], 43.0f);

  // A device that refuses the bytes.
  if (access("/dev/full", W_OK) == 0) {
    ::testing::internal::CaptureStderr();
    error = 0;
    write_field("/dev/full", u, u, 1, 1, &error);
    EXPECT_EQ(error, 1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("fichier vecteurs"),
              std::string::npos);
  }

  // A header cut short is refused, sizes untouched.
  const std::string cut = dir.write("cut.vec", bytes({0, 1}));
  ::testing::internal::CaptureStderr();
  error = 0;
  read_entete_field(cut.c_str(), &nbcol, &nblig, &error);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(error, 1);
  EXPECT_EQ(nbcol, 5);

  // Negative sizes cannot be allocated.
  const std::string path = dir.write("ok.vec", bytes({0, 1, 0, 1, 1, 0, 1, 0}));
  ::testing::internal::CaptureStderr();
  read_field(path.c_str(), ru, rv, -1, 1, &error);
  EXPECT_EQ(error, 2);
  write_field(dir.file("neg.vec").c_str(), u, u, 1, -2, &error);
  EXPECT_EQ(error, 2);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("allocation"), std::string::npos);
  EXPECT_EQ(ru[0], 42.0f);
}
