// B-spline library: weight functions against the truncated-power closed form,
// prefilter and interpolation identities, the mirror transform, the
// derivative filters, and the release of work lines on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "spline_alloc.h"
#include "spline_derivatives.h"
#include "spline_interpolation.h"
#include "spline_mirror.h"
#include "spline_prefilter.h"
#include "spline_weights.h"

namespace {

// d-th derivative of the centred B-spline of degree n by the truncated-power
// formula: (1/(n-d)!) sum_k (-1)^k C(n+1, k) (x + (n+1)/2 - k)_+^(n-d).
double truncatedPower(int n, double x, int d = 0) {
  long double sum = 0.0L, binom = 1.0L, fact = 1.0L;
  for (int k = 2; k <= n - d; ++k) fact *= k;
  for (int k = 0; k <= n + 1; ++k) {
    const long double t = static_cast<long double>(x) + 0.5L * (n + 1) - k;
    if (t > 0) sum += ((k % 2) ? -1.0L : 1.0L) * binom * std::pow(t, static_cast<long double>(n - d));
    binom = binom * (n + 1 - k) / (k + 1);
  }
  return static_cast<double>(sum / fact);
}

// Offsets covering every piece, the knots and the support ends.
std::vector<double> sampleOffsets(int n) {
  std::vector<double> xs;
  for (double x = -0.5 * (n + 1) - 0.25; x <= 0.5 * (n + 1) + 0.25; x += 0.03125) xs.push_back(x);
  for (int k = -(n + 1); k <= n + 1; ++k) xs.push_back(0.5 * k);
  return xs;
}

using Weight = double (*)(long, double);

std::vector<float> randomImage(long w, long h, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-100.0f, 100.0f);
  std::vector<float> img(static_cast<size_t>(w * h));
  for (float& v : img) v = dist(gen);
  return img;
}

}  // namespace

TEST(SplineWeights, MatchTruncatedPowerFormula) {
  const Weight value[8] = {BsplnWght0, BsplnWght1, BsplnWght2, BsplnWght3,
                           BsplnWght4, BsplnWght5, BsplnWght6, BsplnWght7};
  for (int n = 2; n <= 7; ++n)
    for (double x : sampleOffsets(n))
      EXPECT_NEAR(value[n](3, x + 3.0), truncatedPower(n, x), 1e-14) << "degree " << n << " at " << x;
  const Weight first[7] = {nullptr, nullptr, BsplnWght2Deriv, BsplnWght3Deriv,
                           BsplnWght4Deriv, BsplnWght5Deriv, BsplnWght6Deriv};
  for (int n = 3; n <= 6; ++n)  // degree 2's derivative jumps at its knots
    for (double x : sampleOffsets(n))
      EXPECT_NEAR(first[n](-2, x - 2.0), truncatedPower(n, x, 1), 1e-14) << "degree " << n;
  const Weight second[7] = {nullptr, nullptr, nullptr, BsplnWght3DerivSecond,
                            BsplnWght4DerivSecond, nullptr, BsplnWght6DerivSecond};
  for (int n : {4, 6})
    for (double x : sampleOffsets(n))
      EXPECT_NEAR(second[n](0, x), truncatedPower(n, x, 2), 1e-13) << "degree " << n;
  // Off the knots of the piecewise-linear second derivative of the cubic.
  for (double x : {-1.75, -1.25, -0.6, -0.2, 0.3, 0.9, 1.4, 1.9})
    EXPECT_NEAR(BsplnWght3DerivSecond(0, x), truncatedPower(3, x, 2), 1e-14);
}

TEST(SplineWeights, LowDegreesAndHalfOpenBox) {
  EXPECT_EQ(BsplnWght0(0, -0.5), 1.0);
  EXPECT_EQ(BsplnWght0(0, 0.5), 0.0);
  EXPECT_EQ(BsplnWght0(2, 2.2), 1.0);
  EXPECT_EQ(BsplnWght1(0, 0.25), 0.75);
  EXPECT_EQ(BsplnWght1(0, 1.0), 0.0);
  EXPECT_EQ(BsplnWght3(0, 2.0), 0.0);
  EXPECT_DOUBLE_EQ(BsplnWght3(0, 0.0), 2.0 / 3.0);
}

// Partition of unity and the moments of the derivative: sum beta' = 0 and
// sum i beta'(x - i) = 1; sum i^2 beta''(x - i) = 2.
TEST(SplineWeights, PartitionOfUnityAndDerivativeMoments) {
  const Weight value[8] = {BsplnWght0, BsplnWght1, BsplnWght2, BsplnWght3,
                           BsplnWght4, BsplnWght5, BsplnWght6, BsplnWght7};
  const Weight first[7] = {nullptr, nullptr, BsplnWght2Deriv, BsplnWght3Deriv,
                           BsplnWght4Deriv, BsplnWght5Deriv, BsplnWght6Deriv};
  const Weight second[7] = {nullptr, nullptr, nullptr, BsplnWght3DerivSecond,
                            BsplnWght4DerivSecond, nullptr, BsplnWght6DerivSecond};
  for (double x : {10.0, 10.1, 10.37, 10.5, 10.73, 10.999}) {
    for (int n = 0; n <= 7; ++n) {
      double s = 0;
      for (long i = 0; i <= 20; ++i) s += value[n](i, x);
      EXPECT_NEAR(s, 1.0, 1e-14) << "degree " << n;
    }
    for (int n = 2; n <= 6; ++n) {
      double s0 = 0, s1 = 0;
      for (long i = 0; i <= 20; ++i) {
        s0 += first[n](i, x);
        s1 += i * first[n](i, x);
      }
      EXPECT_NEAR(s0, 0.0, 1e-13) << "degree " << n;
      EXPECT_NEAR(s1, 1.0, 1e-12) << "degree " << n;
    }
    for (int n : {3, 4, 6}) {
      double s0 = 0, s2 = 0;
      for (long i = 0; i <= 20; ++i) {
        s0 += second[n](i, x);
        s2 += static_cast<double>(i * i) * second[n](i, x);
      }
      EXPECT_NEAR(s0, 0.0, 1e-12) << "degree " << n;
      EXPECT_NEAR(s2, 2.0, 1e-10) << "degree " << n;
    }
  }
}

// A unit coefficient at (k0, l0) makes the interpolated value the product of
// the weights beta^n(x - k0) beta^n(y - l0), for every degree 2..9.
TEST(SplineInterpolation, ImpulseGivesTensorWeights) {
  const long W = 30, H = 24, k0 = 15, l0 = 11;
  std::vector<float> c(W * H, 0.0f);
  c[l0 * W + k0] = 1.0f;
  for (long n = 2; n <= 9; ++n)
    for (double dx : {-4.75, -2.5, -1.0, -0.3, 0.0, 0.5, 0.999, 2.25, 4.5})
      for (double dy : {-3.5, 0.0, 0.4, 1.5}) {
        const double expected = truncatedPower(n, dx) * truncatedPower(n, dy);
        EXPECT_NEAR(InterpolatedValue(c.data(), W, H, k0 + dx, l0 + dy, n), expected, 1e-14)
            << "degree " << n << " at " << dx << ", " << dy;
      }
}

TEST(SplineInterpolation, CubicWeightsAtZeroAndHalf) {
  const long W = 8;
  std::vector<float> c(W, 0.0f);
  const double atZero[4] = {1.0 / 6, 2.0 / 3, 1.0 / 6, 0.0};
  const double atHalf[4] = {1.0 / 48, 23.0 / 48, 23.0 / 48, 1.0 / 48};
  for (int k = 0; k < 4; ++k) {
    std::fill(c.begin(), c.end(), 0.0f);
    c[2 + k] = 1.0f;  // window of x = 3 + w starts at index 2
    EXPECT_NEAR(InterpolatedValue(c.data(), W, 1, 3.0, 0.0, 3), atZero[k], 1e-15);
    EXPECT_NEAR(InterpolatedValue(c.data(), W, 1, 3.5, 0.0, 3), atHalf[k], 1e-15);
  }
}

float maxAbs(const std::vector<float>& v) {
  float m = 0.0f;
  for (float x : v) m = std::max(m, std::fabs(x));
  return m;
}

// In double precision, one line: the converted coefficients reproduce the
// samples through the truncated-power weights over the mirrored line, for
// every degree, lines shorter than the horizon (exact mirror start) and
// longer ones (truncated start).
TEST(SplinePrefilter, LineCoefficientsInterpolateInDouble) {
  double poles[10][4] = {};
  long count[10] = {};
  // The poles are checked here only through the identity they must satisfy.
  const double table[10][4] = {{}, {}, {-0.1715728752538097}, {-0.2679491924311228},
      {-0.3613412259002118, -0.013725429297341663},
      {-0.43057534709997825, -0.04309628820326328},
      {-0.48829458930304476, -0.08167927107623751, -0.0014141518083258177},
      {-0.5352804307964382, -0.12255461519232669, -0.009148694809608277},
      {-0.5746869092487654, -0.16303526929728093, -0.02363229469484485, -0.00015382131064169092},
      {-0.6079973891686258, -0.20175052019315323, -0.04322260854048175, -0.002121306903180818}};
  const long nbPoles[10] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
  for (int n = 2; n <= 9; ++n) {
    count[n] = nbPoles[n];
    for (int k = 0; k < 4; ++k) poles[n][k] = table[n][k];
  }
  for (int n = 2; n <= 9; ++n)
    for (long N : {2L, 3L, 7L, 60L}) {
      std::mt19937 gen(static_cast<unsigned>(n * 1000 + N));
      std::uniform_real_distribution<double> dist(-1.0, 1.0);
      std::vector<double> samples(N), c(N);
      for (double& v : samples) v = dist(gen);
      c = samples;
      ConvertToInterpolationCoefficients(c.data(), N, poles[n], count[n], 2.220446049250313e-16);
      for (long x = 0; x < N; ++x) {
        double value = 0.0;
        for (long k = x - 5; k <= x + 5; ++k) {
          long m = k < 0 ? -k : k;  // whole-sample mirror, period 2N - 2
          if (N > 1) m %= 2 * N - 2;
          if (m >= N) m = 2 * N - 2 - m;
          value += c[m] * truncatedPower(n, static_cast<double>(x - k));
        }
        EXPECT_NEAR(value, samples[x], 1e-13) << "degree " << n << ", length " << N << " at " << x;
      }
    }
}

// The same on single-precision images: the buffer holds coefficients in
// float, whose rounding (relative to the largest coefficient) bounds the
// error; images one sample wide or high are filtered along one direction.
TEST(SplinePrefilter, InterpolatesSamplesAtIntegerPositions) {
  const long sizes[][2] = {{13, 7}, {40, 3}, {2, 2}, {1, 9}, {9, 1}, {64, 5}};
  for (long n = 2; n <= 9; ++n)
    for (const auto& s : sizes) {
      const long W = s[0], H = s[1];
      const std::vector<float> samples = randomImage(W, H, static_cast<unsigned>(n * 100 + W));
      std::vector<float> c = samples;
      ASSERT_EQ(SamplesToCoefficients(c.data(), W, H, n), 0);
      const double tol = 1e-6 * maxAbs(c);
      for (long y = 0; y < H; ++y)
        for (long x = 0; x < W; ++x)
          EXPECT_NEAR(InterpolatedValue(c.data(), W, H, x, y, n), samples[y * W + x], tol)
              << "degree " << n << ", " << W << " x " << H << " at " << x << ", " << y;
    }
}

TEST(SplinePrefilter, ConstantStaysConstantAndMirrorSymmetry) {
  const long W = 11, H = 6;
  std::vector<float> c(W * H, 7.25f);
  ASSERT_EQ(SamplesToCoefficients(c.data(), W, H, 3), 0);
  for (float v : c) EXPECT_NEAR(v, 7.25f, 1e-5);

  std::vector<float> d = randomImage(W, H, 5);
  ASSERT_EQ(SamplesToCoefficients(d.data(), W, H, 3), 0);
  for (double t : {0.25, 0.5, 1.75}) {
    EXPECT_NEAR(InterpolatedValue(d.data(), W, H, -t, 2.0, 3),
                InterpolatedValue(d.data(), W, H, t, 2.0, 3), 1e-12);
    EXPECT_NEAR(InterpolatedValue(d.data(), W, H, W - 1 + t, 2.3, 3),
                InterpolatedValue(d.data(), W, H, W - 1 - t, 2.3, 3), 1e-12);
  }
  // Width 1: every column index reads column 0.
  std::vector<float> col = {1.0f, 2.0f, 4.0f};
  EXPECT_EQ(InterpolatedValue(col.data(), 1, 3, 0.0, 1.0, 3),
            InterpolatedValue(col.data(), 1, 3, 5.7, 1.0, 3));
}

// Two samples [1, 4] of a cubic spline with mirror boundaries: s0 = 2/3 c0 +
// 1/3 c1 and s1 = 1/3 c0 + 2/3 c1, so c = [-2, 7]; both transforms agree.
TEST(SplinePrefilter, TwoSampleLineByHand) {
  std::vector<float> c = {1.0f, 4.0f};
  ASSERT_EQ(SamplesToCoefficients(c.data(), 2, 1, 3), 0);
  EXPECT_NEAR(c[0], -2.0f, 1e-6);
  EXPECT_NEAR(c[1], 7.0f, 1e-6);
  const std::vector<float> in = {1.0f, 4.0f};
  std::vector<float> out(2);
  ASSERT_EQ(directBsplineMirror(in.data(), out.data(), 2, 1, 1, 3), 0);
  EXPECT_NEAR(out[0], -2.0f, 1e-6);
  EXPECT_NEAR(out[1], 7.0f, 1e-6);
}

TEST(SplinePrefilter, InvalidDegreeLeavesImage) {
  for (long n : {0L, 1L, 10L, -3L}) {
    std::vector<float> c = {1.0f, 2.0f, 3.0f};
    testing::internal::CaptureStdout();
    EXPECT_EQ(SamplesToCoefficients(c.data(), 3, 1, n), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid spline degree\n");
    EXPECT_EQ(c, (std::vector<float>{1.0f, 2.0f, 3.0f}));
  }
  std::vector<float> c = {1.0f, 2.0f};
  for (long n : {0L, 1L, 10L}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(InterpolatedValue(c.data(), 2, 1, 0.5, 0.0, n), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid spline degree\n");
  }
}

// A non-finite position never becomes an index; a far finite one is answered
// by the mirrored spline like its reduced position.
TEST(SplineInterpolation, NonFiniteAndFarPositions) {
  const long W = 10, H = 4;
  std::vector<float> c = randomImage(W, H, 9);
  EXPECT_TRUE(std::isnan(InterpolatedValue(c.data(), W, H, NAN, 1.0, 3)));
  EXPECT_TRUE(std::isnan(InterpolatedValue(c.data(), W, H, 1.0, INFINITY, 3)));
  EXPECT_TRUE(std::isnan(InterpolatedValue(c.data(), W, H, -INFINITY, 0.0, 5)));
  const double far = 4.25 + 18.0 * 1099511627776.0;  // + 2^40 periods of 18
  EXPECT_EQ(InterpolatedValue(c.data(), W, H, far, 1.5, 3),
            InterpolatedValue(c.data(), W, H, 4.25, 1.5, 3));
  EXPECT_EQ(InterpolatedValue(c.data(), W, H, 2.0, -1e300, 3),
            InterpolatedValue(c.data(), W, H, 2.0, std::fmod(-1e300, 6.0), 3));
}

TEST(MirrorTransform, AgreesWithPrefilterForDegrees2To7) {
  const long W = 37, H = 9;
  for (int n = 2; n <= 7; ++n) {
    const std::vector<float> in = randomImage(W, H, static_cast<unsigned>(n));
    std::vector<float> expected = in, out(W * H, 0.0f);
    ASSERT_EQ(SamplesToCoefficients(expected.data(), W, H, n), 0);
    ASSERT_EQ(directBsplineMirror(in.data(), out.data(), W, H, 1, n), 0);
    // The single-precision start-up tolerance of the mirror transform.
    const double tol = 1e-6 * maxAbs(expected);
    for (long k = 0; k < W * H; ++k) EXPECT_NEAR(out[k], expected[k], tol) << "degree " << n;
  }
}

TEST(MirrorTransform, CopyDegreesSmallImagesAndUnknownDegree) {
  const std::vector<float> in = randomImage(5, 4, 3);
  for (int n : {0, 1}) {
    std::vector<float> out(20, -1.0f);
    EXPECT_EQ(directBsplineMirror(in.data(), out.data(), 5, 4, 1, n), 0);
    EXPECT_EQ(out, in);
  }
  {
    std::vector<float> out(20, -1.0f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(directBsplineMirror(in.data(), out.data(), 5, 4, 1, 8), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR - Unknown degree");
    EXPECT_EQ(out, in);
  }
  const float one = 3.5f;
  float out1 = 0.0f;
  EXPECT_EQ(directBsplineMirror(&one, &out1, 1, 1, 1, 3), 0);
  EXPECT_EQ(out1, 3.5f);
  std::vector<float> flat(30, 2.0f), flatOut(30);
  EXPECT_EQ(directBsplineMirror(flat.data(), flatOut.data(), 6, 5, 1, 3), 0);
  for (float v : flatOut) EXPECT_NEAR(v, 2.0f, 1e-6);
}

// Along z the transform is the same one-dimensional filter.
TEST(MirrorTransform, FiltersAlongZ) {
  const long nx = 2, ny = 3, nz = 6;
  const std::vector<float> line = {1, 5, -2, 3, 8, 0};
  std::vector<float> in(nx * ny * nz), out(nx * ny * nz);
  for (long z = 0; z < nz; ++z)
    for (long k = 0; k < nx * ny; ++k) in[z * nx * ny + k] = line[z];
  ASSERT_EQ(directBsplineMirror(in.data(), out.data(), nx, ny, nz, 3), 0);
  std::vector<float> expected = line;
  ASSERT_EQ(SamplesToCoefficients(expected.data(), nz, 1, 3), 0);
  for (long z = 0; z < nz; ++z)
    for (long k = 0; k < nx * ny; ++k) EXPECT_NEAR(out[z * nx * ny + k], expected[z], 1e-5);
}

TEST(MirrorTransform, Fold) {
  const long cases[][3] = {{-1, 5, 1}, {5, 5, 3}, {8, 5, 0}, {9, 5, 1}, {7, 1, 0},
                           {0, 5, 0}, {4, 5, 4}, {-9, 5, 1}, {13, 4, 1}};
  for (const auto& c : cases) EXPECT_EQ(fold(c[0], c[1]), c[2]) << c[0] << ", " << c[1];
}

namespace {

// Test allocator: the request numbered failAt (from 1) fails; counts what is
// still held.
int g_requests = 0, g_failAt = 0, g_held = 0;
void* countingMalloc(std::size_t size) {
  if (++g_requests == g_failAt) return nullptr;
  ++g_held;
  return std::malloc(size);
}
void countingFree(void* p) {
  --g_held;
  std::free(p);
}

struct FailingAllocator {
  explicit FailingAllocator(int failAt) {
    g_requests = 0;
    g_failAt = failAt;
    g_held = 0;
    setSplineAllocator(countingMalloc, countingFree);
  }
  ~FailingAllocator() { setSplineAllocator(nullptr, nullptr); }
};

}  // namespace

// Every failed work line is reported and no line is left held.
TEST(MirrorTransform, ReleasesWorkLinesOnEveryFailure) {
  const long nx = 4, ny = 3, nz = 2;
  const std::vector<float> in = randomImage(nx, ny * nz, 1);
  const char* messages[] = {"ERROR - Not enough memory in directBsplineMirror",
                            "ERROR - Unable to allocate x data",
                            "ERROR - Unable to allocate y data",
                            "ERROR - Unable to allocate z data"};
  for (int k = 0; k < 4; ++k) {
    std::vector<float> out(nx * ny * nz);
    FailingAllocator fail(k + 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(directBsplineMirror(in.data(), out.data(), nx, ny, nz, 3), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), messages[k]);
    EXPECT_EQ(g_held, 0) << messages[k];
  }
  std::vector<float> out(nx * ny * nz);
  FailingAllocator none(0);
  EXPECT_EQ(directBsplineMirror(in.data(), out.data(), nx, ny, nz, 3), 0);
  EXPECT_EQ(g_requests, 4);
  EXPECT_EQ(g_held, 0);
}

TEST(SplinePrefilter, AllocationFailures) {
  const std::vector<float> samples = randomImage(5, 4, 2);
  {
    std::vector<float> c = samples;
    FailingAllocator fail(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(SamplesToCoefficients(c.data(), 5, 4, 3), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Row allocation failed\n");
    EXPECT_EQ(c, samples);
    EXPECT_EQ(g_held, 0);
  }
  {
    std::vector<float> c = samples;
    FailingAllocator fail(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(SamplesToCoefficients(c.data(), 5, 4, 3), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Column allocation failed\n");
    EXPECT_NE(c, samples);  // the rows are converted
    EXPECT_EQ(g_held, 0);
  }
}

TEST(SplineDerivatives, ConstantCoefficientsGiveZero) {
  using Filter = int (*)(const float*, float*, long, long, int, float);
  const Filter filters[] = {gradX, gradY, derivXX, derivYY, derivXY};
  const std::vector<float> c(9 * 7, 4.5f);
  for (Filter f : filters)
    for (int n : {3, 4, 6}) {
      std::vector<float> out(9 * 7, -1.0f);
      ASSERT_EQ(f(c.data(), out.data(), 9, 7, n, 0.0f), 0);
      for (float v : out) EXPECT_NEAR(v, 0.0f, 1e-5);
    }
}

// Coefficients c = x give gradX = 1 where the window lies inside the image,
// and 0 on the first and last column for the cubic; c = x^2 gives derivXX =
// 2 and c = x y gives derivXY = 1 inside.
TEST(SplineDerivatives, PolynomialCoefficients) {
  {
    const long nx = 5, ny = 3;
    std::vector<float> c(nx * ny), gx(nx * ny), gy(nx * ny);
    for (long y = 0; y < ny; ++y)
      for (long x = 0; x < nx; ++x) c[y * nx + x] = static_cast<float>(x);
    ASSERT_EQ(gradX(c.data(), gx.data(), nx, ny, 3, 0.0f), 0);
    ASSERT_EQ(gradY(c.data(), gy.data(), nx, ny, 3, 0.0f), 0);
    for (long y = 0; y < ny; ++y)
      for (long x = 0; x < nx; ++x) {
        EXPECT_NEAR(gx[y * nx + x], (x == 0 || x == nx - 1) ? 0.0f : 1.0f, 1e-6);
        EXPECT_NEAR(gy[y * nx + x], 0.0f, 1e-6);
      }
  }
  const long nx = 11, ny = 9;
  std::vector<float> lin(nx * ny), sq(nx * ny), xy(nx * ny);
  for (long y = 0; y < ny; ++y)
    for (long x = 0; x < nx; ++x) {
      lin[y * nx + x] = static_cast<float>(x);
      sq[y * nx + x] = static_cast<float>(x * x);
      xy[y * nx + x] = static_cast<float>(x * y);
    }
  for (int n : {3, 4, 6}) {
    const long half = n / 2;
    std::vector<float> gx(nx * ny), dxx(nx * ny), dxy(nx * ny);
    ASSERT_EQ(gradX(lin.data(), gx.data(), nx, ny, n, 0.0f), 0);
    ASSERT_EQ(derivXX(sq.data(), dxx.data(), nx, ny, n, 0.0f), 0);
    ASSERT_EQ(derivXY(xy.data(), dxy.data(), nx, ny, n, 0.0f), 0);
    for (long y = half; y < ny - half; ++y)
      for (long x = half; x < nx - half; ++x) {
        EXPECT_NEAR(gx[y * nx + x], 1.0f, 1e-5) << "degree " << n;
        EXPECT_NEAR(dxx[y * nx + x], 2.0f, 1e-4) << "degree " << n;
        EXPECT_NEAR(dxy[y * nx + x], 1.0f, 1e-5) << "degree " << n;
      }
  }
  // The same along y: c = y gives gradY = 1 and c = y^2 gives derivYY = 2,
  // while gradX and derivXX vanish.
  std::vector<float> linY(nx * ny), sqY(nx * ny);
  for (long y = 0; y < ny; ++y)
    for (long x = 0; x < nx; ++x) {
      linY[y * nx + x] = static_cast<float>(y);
      sqY[y * nx + x] = static_cast<float>(y * y);
    }
  for (int n : {3, 4, 6}) {
    const long half = n / 2;
    std::vector<float> gy(nx * ny), dyy(nx * ny), gx(nx * ny), dxx(nx * ny);
    ASSERT_EQ(gradY(linY.data(), gy.data(), nx, ny, n, 0.0f), 0);
    ASSERT_EQ(derivYY(sqY.data(), dyy.data(), nx, ny, n, 0.0f), 0);
    ASSERT_EQ(gradX(linY.data(), gx.data(), nx, ny, n, 0.0f), 0);
    ASSERT_EQ(derivXX(sqY.data(), dxx.data(), nx, ny, n, 0.0f), 0);
    for (long y = half; y < ny - half; ++y)
      for (long x = 0; x < nx; ++x) {
        EXPECT_NEAR(gy[y * nx + x], 1.0f, 1e-5) << "degree " << n;
        EXPECT_NEAR(dyy[y * nx + x], 2.0f, 1e-4) << "degree " << n;
        EXPECT_NEAR(gx[y * nx + x], 0.0f, 1e-5) << "degree " << n;
        EXPECT_NEAR(dxx[y * nx + x], 0.0f, 1e-4) << "degree " << n;
      }
  }
}

TEST(SplineDerivatives, UnknownDegreeAndSinglePixel) {
  const std::vector<float> c(6, 1.0f);
  for (int n : {2, 5, 7}) {
    std::vector<float> out(6, -1.0f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(gradX(c.data(), out.data(), 3, 2, n, 0.0f), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR - Unknown interpolation specification");
    EXPECT_EQ(out, std::vector<float>(6, -1.0f));
  }
  const float one = 8.0f;
  float gx = -1.0f, gy = -1.0f;
  EXPECT_EQ(gradX(&one, &gx, 1, 1, 3, 0.0f), 0);
  EXPECT_EQ(gradY(&one, &gy, 1, 1, 3, 0.0f), 0);
  EXPECT_EQ(gx, 0.0f);
  EXPECT_EQ(gy, 0.0f);
}
