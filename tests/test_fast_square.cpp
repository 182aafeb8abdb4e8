// squareAsPow against std::pow(x, 2.0) bit for bit, and the operators that
// use it for the power 2 against references written with std::pow.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "CImg.h"
#include "denormals.h"
#include "fast_square.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

std::uint64_t bitsOf(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

double fromBits(std::uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// The library's pow: the exponent is read through a volatile, else the
// compiler turns pow(x, 2.0) into x * x.
double libraryPow(double x, double p) {
  volatile double pv = p;
  return std::pow(x, pv);
}

// Number of inputs whose squareAsPow differs in any bit from std::pow(x, 2);
// the first few are reported.
int countMismatches(const std::vector<double>& xs, const char* what) {
  int bad = 0;
  for (double x : xs) {
    const double want = libraryPow(x, 2.0), got = squareAsPow(x);
    if (bitsOf(want) != bitsOf(got) && ++bad <= 5)
      ADD_FAILURE() << what << ": x = " << std::hexfloat << x << " pow gives " << want
                    << ", squareAsPow " << got;
  }
  return bad;
}

// A double of random sign and 52 random fraction bits with its unbiased
// exponent drawn from [elo, ehi] (-1023 gives subnormals and zero).
double randomDouble(std::mt19937_64& rng, int elo, int ehi) {
  std::uniform_int_distribution<int> e(elo, ehi);
  const std::uint64_t frac = rng() & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t sign = rng() & (std::uint64_t{1} << 63);
  return fromBits(sign | (static_cast<std::uint64_t>(e(rng) + 1023) << 52) | frac);
}

// Magnitude log-uniform in [1e-6, 10], random sign.
double flowValue(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> l(std::log(1e-6), std::log(10.0));
  return (rng() & 1 ? -1.0 : 1.0) * std::exp(l(rng));
}

}  // namespace

TEST(SquareAsPow, RandomDoublesOverTheWholeExponentRange) {
  std::mt19937_64 rng(20240611);
  std::vector<double> xs;
  // Mostly where the product is taken, some over every exponent (huge,
  // tiny, subnormal) where pow is called.
  for (int i = 0; i < 2000000; ++i) xs.push_back(randomDouble(rng, -440, 440));
  for (int i = 0; i < 300000; ++i) xs.push_back(randomDouble(rng, -1023, 1023));
  EXPECT_EQ(countMismatches(xs, "random"), 0);
}

TEST(SquareAsPow, ProductsNearAHalfwayPoint) {
  // x = m 2^k with a 53-bit m; m^2 has 105 or 106 bits, of which the low
  // 52 or 53 are dropped by rounding. Keep the m whose dropped part is
  // within 0.15 ulp of a half ulp (worked out exactly in 128-bit integers):
  // the inputs where pow and the rounded product may disagree, and those
  // just on either side of where squareAsPow stops trusting the product.
  std::mt19937_64 rng(99);
  std::vector<double> xs;
  const std::uint64_t top = std::uint64_t{1} << 52;
  while (xs.size() < 200000) {
    const std::uint64_t m = top | (rng() & (top - 1));
    const unsigned __int128 sq = static_cast<unsigned __int128>(m) * m;
    const int dropped = (sq >> 105) ? 53 : 52;
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (dropped - 1);
    const unsigned __int128 rest = sq & ((static_cast<unsigned __int128>(1) << dropped) - 1);
    const unsigned __int128 dist = rest > half ? rest - half : half - rest;
    if (dist * 10 > half * 3) continue;
    const int k = static_cast<int>(rng() % 200) - 100;
    xs.push_back((rng() & 1 ? -1.0 : 1.0) * std::ldexp(static_cast<double>(m), k - 52));
  }
  EXPECT_EQ(countMismatches(xs, "near halfway"), 0);
  // The set is one where the rounded product alone would be wrong: if no
  // x * x differs from the reference, the reference is not the library's
  // pow (the compiler folded it into x * x) and the checks above show nothing.
  int productDiffers = 0;
  for (double x : xs) productDiffers += x * x != libraryPow(x, 2.0);
  EXPECT_GT(productDiffers, 0);
}

TEST(SquareAsPow, NearPowersOfTwoAndTheirSquareRoots) {
  std::vector<double> xs;
  for (int k = -1074; k <= 1023; ++k) {
    const double p = std::ldexp(1.0, k);
    const double r = std::sqrt(2.0) * std::ldexp(1.0, k / 2);  // square near 2^(2(k/2)+1)
    for (double c : {p, r}) {
      double lo = c, hi = c;
      for (int s = 0; s < 4; ++s) {
        xs.push_back(lo);
        xs.push_back(-hi);
        lo = std::nextafter(lo, 0.0);
        hi = std::nextafter(hi, std::numeric_limits<double>::infinity());
      }
    }
  }
  EXPECT_EQ(countMismatches(xs, "near a power of two"), 0);
}

TEST(SquareAsPow, DifferencesAsInAFlowField) {
  std::mt19937_64 rng(5);
  std::vector<double> xs;
  std::uniform_real_distribution<double> rel(-1e-3, 1e-3);
  for (int i = 0; i < 500000; ++i) {
    const double a = flowValue(rng), b = flowValue(rng);
    xs.push_back(a - b);
    xs.push_back(b - a);
    xs.push_back(a - a * (1.0 + rel(rng)));  // neighbouring, nearly equal values
  }
  EXPECT_EQ(countMismatches(xs, "flow difference"), 0);
}

// Zero, infinities, NaN, the ends of the double range, and the values
// around the ends of the range where the product is taken, where the
// square overflows, and where it becomes subnormal or zero; both signs.
static std::vector<double> specialValues() {
  using L = std::numeric_limits<double>;
  std::vector<double> xs = {0.0, 1.0, 2.0, 3.0, 0.1, 0.5, 1e-300, 1e300,
                            L::infinity(), L::quiet_NaN(), L::denorm_min(), L::min(),
                            L::max(), L::epsilon(), std::sqrt(L::max()), std::sqrt(L::min()),
                            std::sqrt(L::denorm_min())};
  for (double edge : {0x1p-450, 0x1p450, std::sqrt(2.0) * 0x1p-450, std::sqrt(2.0) * 0x1p450,
                      0x1p-511, 0x1p-537, 0x1p-538, 0x1p512, std::sqrt(2.0) * 0x1p511}) {
    double lo = edge, hi = edge;
    for (int s = 0; s < 3; ++s) {
      xs.push_back(lo);
      xs.push_back(hi);
      lo = std::nextafter(lo, 0.0);
      hi = std::nextafter(hi, L::infinity());
    }
  }
  const size_t n = xs.size();
  for (size_t i = 0; i < n; ++i) xs.push_back(-xs[i]);
  return xs;
}

TEST(SquareAsPow, SpecialValues) {
  using L = std::numeric_limits<double>;
  const std::vector<double> xs = specialValues();
  EXPECT_EQ(countMismatches(xs, "special"), 0);
  EXPECT_EQ(bitsOf(squareAsPow(-0.0)), bitsOf(0.0));
  EXPECT_TRUE(std::isnan(squareAsPow(-L::quiet_NaN())));
  EXPECT_EQ(squareAsPow(-L::infinity()), L::infinity());
  EXPECT_EQ(squareAsPow(1e200), L::infinity());
  EXPECT_EQ(squareAsPow(L::denorm_min()), 0.0);
}

TEST(SquareAsPow, SameUnderTheDenormalFlushingOfTheProgram) {
  // The program runs with FTZ and DAZ set (denormal operands read as zero,
  // denormal results become zero); pow and squareAsPow must agree there too.
  std::mt19937_64 rng(77);
  std::vector<double> xs = specialValues();
  for (int i = 0; i < 300000; ++i) xs.push_back(randomDouble(rng, -1023, 1023));
  for (int i = 0; i < 100000; ++i) xs.push_back(randomDouble(rng, -560, -440));
  const unsigned saved = _mm_getcsr();
  flush_denormals_to_zero();
  const int bad = countMismatches(xs, "flushing denormals");
  _mm_setcsr(saved);
  EXPECT_EQ(bad, 0);
}

namespace {

CImg<double> randomImage(int nc, int nl, std::mt19937_64& rng, double lo, double hi) {
  std::uniform_real_distribution<double> d(lo, hi);
  CImg<double> img(nc, nl);
  cimg_forXY(img, x, y) img(x, y) = d(rng);
  return img;
}

int prevIndex(int i, int n, bool periodic) { return i > 0 ? i - 1 : (periodic ? n - 1 : 0); }
int nextIndex(int i, int n, bool periodic) { return i < n - 1 ? i + 1 : (periodic ? 0 : n - 1); }

// 0.5 * (pow(forward difference) * z(x, y) + pow(backward difference) * z(previous)).
CImg<double> gradientReference(const CImg<double>& im, const CImg<double>& z, double p,
                               bool periodic, bool alongX) {
  const int nc = im.width(), nl = im.height();
  CImg<double> a(nc, nl);
  cimg_forXY(a, x, y) {
    const int xp = alongX ? prevIndex(x, nc, periodic) : x;
    const int xn = alongX ? nextIndex(x, nc, periodic) : x;
    const int yp = alongX ? y : prevIndex(y, nl, periodic);
    const int yn = alongX ? y : nextIndex(y, nl, periodic);
    const double c = im(x, y);
    a(x, y) = 0.5 * (libraryPow(im(xn, yn) - c, p) * z(x, y) +
                     libraryPow(c - im(xp, yp), p) * z(xp, yp));
  }
  return a;
}

// Sum over the links down, up, right, left of
// pow(forward difference of U, p) * (im(neighbour) - im(x, y)) * weight.
CImg<double> piemeReference(const CImg<double>& im, const CImgList<double>& z,
                            const CImg<double>& U, double p, bool periodic) {
  const int nc = im.width(), nl = im.height();
  CImg<double> a(nc, nl);
  cimg_forXY(a, x, y) {
    const int xl = prevIndex(x, nc, periodic), xr = nextIndex(x, nc, periodic);
    const int yu = prevIndex(y, nl, periodic), yd = nextIndex(y, nl, periodic);
    const double c = im(x, y);
    double s = 0.0;
    s += libraryPow(U(x, yd) - U(x, y), p) * (im(x, yd) - c) * z[1](x, y);
    s += libraryPow(U(x, y) - U(x, yu), p) * (im(x, yu) - c) * z[1](x, yu);
    s += libraryPow(U(xr, y) - U(x, y), p) * (im(xr, y) - c) * z[0](x, y);
    s += libraryPow(U(x, y) - U(xl, y), p) * (im(xl, y) - c) * z[0](xl, y);
    a(x, y) = s;
  }
  return a;
}

bool sameBits(const CImg<double>& a, const CImg<double>& b) {
  return a.width() == b.width() && a.height() == b.height() &&
         std::memcmp(a.data(), b.data(), sizeof(double) * a.size()) == 0;
}

}  // namespace

TEST(PowerTwoOperators, BitIdenticalToStdPowReferences) {
  std::mt19937_64 rng(31);
  const int nc = 97, nl = 61;
  // A flow-like field with a flat patch (zero differences) and a few large
  // jumps, weights in (0, 1].
  CImg<double> U = randomImage(nc, nl, rng, -3.0, 3.0);
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 30; ++x) U(x, y) = 0.25;
  U(50, 30) = 1e4;
  U(51, 30) = -7e-7;
  const CImg<double> im = randomImage(nc, nl, rng, -1.0, 1.0);
  CImgList<double> z(2);
  z[0] = randomImage(nc, nl, rng, 1e-3, 1.0);
  z[1] = randomImage(nc, nl, rng, 1e-3, 1.0);
  for (double p : {2.0, 4.0, 6.0})
    for (bool periodic : {false, true}) {
      SCOPED_TRACE(testing::Message() << "power " << p << (periodic ? " periodic" : " clamped"));
      EXPECT_TRUE(sameBits(GradRobX_powK(U, z[0], p, periodic),
                           gradientReference(U, z[0], p, periodic, true)));
      EXPECT_TRUE(sameBits(GradRobY_powK(U, z[1], p, periodic),
                           gradientReference(U, z[1], p, periodic, false)));
      EXPECT_TRUE(sameBits(laplacianPiemeDerivRobustWeight(im, z, U, p, periodic),
                           piemeReference(im, z, U, p, periodic)));
    }
}
