// Random deviates: the minimal standard generator against modular arithmetic
// done directly, the shuffle table's first draws in closed form, the output
// cap, seed-state rules, the spare normal deviate, sample moments, and the
// seeding convention.
//
// The generators' state is process-wide and cannot be reset. Tests that need
// the state of a fresh program run in a re-executed child (death tests in
// the threadsafe style that exit with status 0 on success); every other test
// starts by reseeding, which rebuilds the uniform generator's table, and
// by draining gasdev's spare where it matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "random_deviates.h"

namespace {

constexpr long long kM = 2147483647;  // 2^31 - 1
constexpr float kTop = 0.9999998807907104f;

long long mulmod(long long a, long long b) { return a * b % kM; }  // a, b < 2^31

long long powmod(long long b, long long e) {
  long long r = 1;
  for (b %= kM; e > 0; e >>= 1, b = mulmod(b, b))
    if (e & 1) r = mulmod(r, b);
  return r;
}

// n-th value of the generator started from s: s * 16807^n mod (2^31 - 1).
long long nth(long long s, long long n) { return mulmod(s, powmod(16807, n)); }

// The uniform deviate of output index t: t / (2^31 - 1) in single precision.
float scaled(long long t) {
  return static_cast<float>(static_cast<double>(t) * (1.0 / 2147483647.0));
}

// Leaves gasdev with no spare deviate pending: a call that does not move the
// seed cell returned a spare; a call that does left one, taken by a second call.
void drainSpare() {
  long cell = -1;
  gasdev(&cell);
  const long after = cell;
  if (after != -1) gasdev(&cell);
}

std::vector<float> uniforms(long seed, int n) {
  std::vector<float> out;
  for (int i = 0; i < n; ++i) out.push_back(ran1(&seed));
  return out;
}

}  // namespace

TEST(MinimalStandardStep, EqualsTheProductModuloTheMersennePrime) {
  std::vector<long long> seeds = {1,      2,      2836,        16807,      127772,
                                  127773, 127774, 1LL << 30,   kM - 2836,  kM - 2,
                                  kM - 1, 44488,  1043618065,  2147483646 / 2};
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<long long> d(1, kM - 1);
  for (int i = 0; i < 100000; ++i) seeds.push_back(d(rng));
  for (long long s : seeds) ASSERT_EQ(minimal_standard_step(s), 16807 * s % kM) << "s = " << s;
}

TEST(MinimalStandardStep, TenThousandthValueFromOne) {
  long s = 1;
  for (int i = 0; i < 10000; ++i) s = minimal_standard_step(s);
  EXPECT_EQ(s, 1043618065);
}

// After a rebuild from seed -s, slot j of the table holds x(40 - j), x(n)
// the n-th generator value from s, and the selector is x(40). The first draw
// steps to x(41), outputs slot x(40) / 2^26 and puts x(41) there; the second
// steps to x(42) and outputs the slot its selector (the first output) names.
TEST(Ran1, FirstDrawsAfterARebuildFollowTheShuffleTable) {
  for (long s : {1L, 2L, 7L, 10000L, 123456789L, 2147483646L}) {
    SCOPED_TRACE(s);
    long cell = -s;
    const float first = ran1(&cell);
    EXPECT_EQ(cell, nth(s, 41));
    const long long j1 = nth(s, 40) >> 26;
    const long long out1 = nth(s, 40 - j1);
    EXPECT_EQ(first, scaled(out1));

    const float second = ran1(&cell);
    EXPECT_EQ(cell, nth(s, 42));
    const long long j2 = out1 >> 26;
    const long long out2 = j2 == j1 ? nth(s, 41) : nth(s, 40 - j2);
    EXPECT_EQ(second, scaled(out2));
  }
}

// Seeds whose first draw outputs the generator value t: for each slot j,
// the seed whose (40 - j)-th value is t, kept when its 40th value selects j.
std::vector<long> seedsWithFirstOutput(long long t) {
  const long long inverse = powmod(16807, kM - 2);
  std::vector<long> seeds;
  for (int j = 0; j < 32; ++j) {
    const long long s = mulmod(t, powmod(inverse, 40 - j));
    if (nth(t, j) >> 26 == j) seeds.push_back(static_cast<long>(s));
  }
  return seeds;
}

TEST(Ran1, NeverReturnsOneOrZero) {
  // Output indices within 190 of the modulus scale to 0.99999994f or 1.0f in
  // single precision; both come back as the largest value below 1 allowed.
  int toOne = 0, toBelowOne = 0;
  for (long long t = kM - 1; t >= kM - 190; --t)
    for (long seed : seedsWithFirstOutput(t)) {
      long cell = -seed;
      EXPECT_EQ(ran1(&cell), kTop) << "t = " << t;
      (scaled(t) == 1.0f ? toOne : toBelowOne) += 1;
      EXPECT_TRUE(scaled(t) == 1.0f || scaled(t) == 0.99999994f);
    }
  EXPECT_GT(toOne, 0);
  EXPECT_GT(toBelowOne, 0);

  // The smallest indices give their own small, positive values.
  int small = 0;
  for (long long t = 1; t <= 40; ++t)
    for (long seed : seedsWithFirstOutput(t)) {
      long cell = -seed;
      const float v = ran1(&cell);
      EXPECT_EQ(v, scaled(t));
      EXPECT_GT(v, 0.0f);
      ++small;
    }
  EXPECT_GT(small, 0);

  // A long stream stays inside (0, 1), with the mean of a uniform deviate
  // (standard error sqrt(1/12 / n)).
  long cell = -4242;
  double sum = 0.0;
  float lo = 1.0f, hi = 0.0f;
  const int n = 1000000;
  for (int i = 0; i < n; ++i) {
    const float v = ran1(&cell);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    sum += v;
  }
  EXPECT_GE(lo, scaled(1));
  EXPECT_LE(hi, kTop);
  EXPECT_NEAR(sum / n, 0.5, 5.0 * std::sqrt(1.0 / 12.0 / n));
}

TEST(Ran1, ZeroAndMinusOneGiveTheSameStream) {
  EXPECT_EQ(uniforms(0, 1000), uniforms(-1, 1000));
  long zero = 0, minusOne = -1;
  ran1(&zero);
  ran1(&minusOne);
  EXPECT_EQ(zero, minusOne);
  EXPECT_EQ(zero, nth(1, 41));
}

TEST(Ran1, APositiveSeedCellContinuesTheStream) {
  long cell = -77;
  ran1(&cell);
  for (int i = 0; i < 100; ++i) {
    const long before = cell;
    ran1(&cell);
    // A rebuild would have stepped 41 times from the cell.
    ASSERT_EQ(cell, 16807 * before % kM);
  }
}

// The generator's range is 1 ... 2^31 - 2: a seed cell holding a magnitude
// of 2^31 - 1 or more is taken modulo 2^31 - 1 (2^31 = 1 modulo it, so
// 2^63 = 2), with 0 running as 1, instead of driving the table index out of
// range.
TEST(Ran1, SeedsBeyondTheGeneratorRangeAreReduced) {
  const struct {
    long seed, equivalent;
  } rebuilds[] = {
      {LONG_MIN, -2}, {LONG_MIN + 1, -1}, {-kM, -1}, {-(kM + 5), -5}, {-(2 * kM + 3), -3},
  };
  for (const auto& c : rebuilds) {
    SCOPED_TRACE(c.seed);
    EXPECT_EQ(uniforms(c.seed, 200), uniforms(c.equivalent, 200));
  }

  const struct {
    long cell, next;
  } continuations[] = {
      {kM, 16807}, {kM + 5, 16807 * 5}, {LONG_MAX, 16807}, {3 * kM + 2, 2 * 16807},
  };
  for (const auto& c : continuations) {
    SCOPED_TRACE(c.cell);
    long cell = -9;
    ran1(&cell);
    cell = c.cell;
    const float v = ran1(&cell);
    EXPECT_EQ(cell, c.next);
    EXPECT_GT(v, 0.0f);
    EXPECT_LT(v, 1.0f);
  }
}

namespace {

// Fresh program state: a positive seed cell runs as 1, like -1, and leaves
// the cell positive. Exits 0 when every check holds.
void freshStateChild() {
  bool ok = true;
  long five = 5;
  std::vector<float> fromFive;
  fromFive.push_back(ran1(&five));
  ok = ok && five == nth(1, 41);
  for (int i = 1; i < 1000; ++i) fromFive.push_back(ran1(&five));
  ok = ok && fromFive == uniforms(-1, 1000);
  if (!ok) std::fprintf(stderr, "seed 5 on a fresh state differs from -1\n");
  std::exit(ok ? 0 : 1);
}

}  // namespace

TEST(Ran1DeathTest, FiveOnAFreshStateRunsAsMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(freshStateChild(), ::testing::ExitedWithCode(0), "");
}

// The accepted pair of a gasdev call is the last two uniform draws; earlier
// pairs were rejected. The first call returns b * fac, the second a * fac.
TEST(Gasdev, TheSecondCallReturnsTheSpareWithoutDrawing) {
  for (long seed : {-3L, -1L, -9876L}) {
    SCOPED_TRACE(seed);
    drainSpare();
    long cell = seed;
    const float first = gasdev(&cell);
    const long afterFirst = cell;
    const float second = gasdev(&cell);
    EXPECT_EQ(cell, afterFirst);

    // Number of uniform draws of the first call: the rebuild leaves the cell
    // at x(40), and each draw steps it once.
    long long draws = -1;
    for (long long n = 1; n <= 400 && draws < 0; ++n)
      if (nth(-seed, 40 + n) == afterFirst) draws = n;
    ASSERT_GT(draws, 0);
    EXPECT_EQ(draws % 2, 0);

    const std::vector<float> u = uniforms(seed, static_cast<int>(draws));
    for (long long i = 0; i + 2 < draws; i += 2) {
      const float a = static_cast<float>(2.0 * u[i] - 1.0);
      const float b = static_cast<float>(2.0 * u[i + 1] - 1.0);
      const float rsq = a * a + b * b;
      EXPECT_TRUE(rsq >= 1.0f || rsq == 0.0f);
    }
    const float a = static_cast<float>(2.0 * u[draws - 2] - 1.0);
    const float b = static_cast<float>(2.0 * u[draws - 1] - 1.0);
    const float rsq = a * a + b * b;
    ASSERT_LT(rsq, 1.0f);
    const float fac = static_cast<float>(std::sqrt(-2.0 * std::log(double(rsq)) / double(rsq)));
    EXPECT_EQ(first, b * fac);
    EXPECT_EQ(second, a * fac);
  }
}

TEST(Gasdev, APendingSpareSurvivesReseeding) {
  drainSpare();
  long cell = -11;
  gasdev(&cell);
  const float spareOf11 = gasdev(&cell);

  drainSpare();
  long fresh = -23;
  const float firstOf23 = gasdev(&fresh);
  ASSERT_NE(spareOf11, firstOf23);

  drainSpare();
  cell = -11;
  gasdev(&cell);
  cell = -23;  // reseed while the spare of the stream of -11 is pending
  EXPECT_EQ(gasdev(&cell), spareOf11);
  EXPECT_EQ(cell, -23);  // no uniform draw, so no rebuild yet
  EXPECT_EQ(gasdev(&cell), firstOf23);
}

TEST(Gasdev, SampleMomentsOfAMillionDeviates) {
  drainSpare();
  long cell = -2024;
  const int n = 1000000;
  double sum = 0.0, sumSq = 0.0;
  int withinOne = 0;
  for (int i = 0; i < n; ++i) {
    const double g = gasdev(&cell);
    ASSERT_TRUE(std::isfinite(g));
    sum += g;
    sumSq += g * g;
    if (std::fabs(g) < 1.0) ++withinOne;
  }
  const double mean = sum / n;
  const double variance = sumSq / n - mean * mean;
  // Five standard errors: 1/sqrt(n) for the mean, sqrt(2/n) for the
  // variance, sqrt(p (1 - p) / n) for the fraction within one deviation.
  const double p = std::erf(1.0 / std::sqrt(2.0));  // 0.6827
  EXPECT_NEAR(mean, 0.0, 5.0 / std::sqrt(double(n)));
  EXPECT_NEAR(variance, 1.0, 5.0 * std::sqrt(2.0 / n));
  EXPECT_NEAR(double(withinOne) / n, p, 5.0 * std::sqrt(p * (1.0 - p) / n));
}

TEST(SeedFromRand, HandWorkedTable) {
  // r * 10000 / 2^31 in single precision, truncated and negated. Near 2^31 a
  // float holds multiples of 128: 2147483584 = 2^31 - 64 rounds (to even) up
  // to 2^31, 2147483583 down to 2^31 - 128, which gives 9999.99902.
  const struct {
    int r;
    long seed;
  } cases[] = {
      {0, 0},              {1, 0},
      {214748, 0},         {214749, -1},  // 0.9999983 and 1.0000030
      {429496, -1},        {429497, -2},
      {1073741760, -4999},  // 2^30 - 64: 4999.9997 rounds to 4999.99951
      {1073741823, -5000},  // rounds to 2^30
      {1073741824, -5000}, {2147483583, -9999},
      {2147483584, -10000}, {2147483647, -10000},
  };
  for (const auto& c : cases) EXPECT_EQ(seed_from_rand(c.r), c.seed) << "r = " << c.r;
}

namespace {
std::time_t fixedClock() { return 1234567890; }
std::time_t fixedClockHighBits() { return 1234567890 + (std::time_t(5) << 32); }
}  // namespace

TEST(ProbeSeed, ReadsTheReplacedClock) {
  set_probe_seed_clock(fixedClock);
  const long a = probe_seed(), b = probe_seed();
  std::srand(1234567890u);
  const long expected = seed_from_rand(std::rand());
  EXPECT_EQ(a, expected);
  EXPECT_EQ(b, expected);
  EXPECT_GE(a, -10000);
  EXPECT_LE(a, 0);

  // Only the low 32 bits of the clock reach srand.
  set_probe_seed_clock(fixedClockHighBits);
  EXPECT_EQ(probe_seed(), expected);

  // nullptr restores the calendar time (retried across a second boundary).
  set_probe_seed_clock(nullptr);
  bool compared = false;
  for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
    const std::time_t t0 = std::time(nullptr);
    const long seed = probe_seed();
    if (std::time(nullptr) != t0) continue;
    std::srand(static_cast<unsigned int>(t0));
    EXPECT_EQ(seed, seed_from_rand(std::rand()));
    compared = true;
  }
  EXPECT_TRUE(compared);
}
