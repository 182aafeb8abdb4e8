// Park-Miller minimal standard generator with a Bays-Durham shuffle, polar
// Box-Muller normal deviates, and the clock-based seeding of their callers.
#include "random_deviates.h"

#include <cmath>
#include <cstdlib>

namespace {

constexpr long kMultiplier = 16807;
constexpr long kModulus = 2147483647;  // 2^31 - 1
constexpr long kSchrageQ = 127773;     // kModulus / kMultiplier
constexpr long kSchrageR = 2836;       // kModulus % kMultiplier
constexpr int kTableSize = 32;
constexpr long kSlotDivisor = 1 + (kModulus - 1) / kTableSize;  // 2^26
constexpr double kScale = 1.0 / kModulus;
constexpr double kLargest = 1.0 - 1.2e-7;

std::time_t (*probeClock)() = nullptr;

}  // namespace

long minimal_standard_step(long s) {
  const long k = s / kSchrageQ;
  s = kMultiplier * (s - k * kSchrageQ) - kSchrageR * k;
  if (s < 0) s += kModulus;
  return s;
}

float ran1(long* idum) {
  static long iy = 0;
  static long iv[kTableSize];

  if (*idum <= 0 || iy == 0) {
    // Seed magnitude in 1 ... kModulus - 1; seeds beyond the generator's
    // range are reduced modulo kModulus so that the table index stays valid.
    long s = *idum <= -kModulus ? -(*idum % kModulus) : -*idum;
    if (s < 1) s = 1;
    *idum = s;
    // Discard 8 values, then fill the table from slot 31 down to slot 0.
    for (int j = kTableSize + 7; j >= 0; --j) {
      *idum = minimal_standard_step(*idum);
      if (j < kTableSize) iv[j] = *idum;
    }
    iy = iv[0];
  } else if (*idum >= kModulus) {
    *idum %= kModulus;
    if (*idum == 0) *idum = 1;
  }
  *idum = minimal_standard_step(*idum);
  const long j = iy / kSlotDivisor;
  iy = iv[j];
  iv[j] = *idum;
  const float temp = static_cast<float>(kScale * iy);
  if (temp > kLargest) return static_cast<float>(kLargest);
  return temp;
}

float gasdev(long* idum) {
  static int iset = 0;
  static float gset = 0.0f;

  if (iset != 0) {
    iset = 0;
    return gset;
  }
  float a, b, rsq;
  do {
    a = static_cast<float>(2.0 * ran1(idum) - 1.0);
    b = static_cast<float>(2.0 * ran1(idum) - 1.0);
    rsq = a * a + b * b;
  } while (rsq >= 1.0f || rsq == 0.0f);
  const double r = rsq;
  const float fac = static_cast<float>(std::sqrt(-2.0 * std::log(r) / r));
  gset = a * fac;
  iset = 1;
  return b * fac;
}

long seed_from_rand(int r) {
  const float scaled = static_cast<float>(r) * 4.656613e-6f;
  return static_cast<long>(-static_cast<int>(scaled));
}

long probe_seed() {
  const std::time_t t = probeClock ? probeClock() : std::time(nullptr);
  std::srand(static_cast<unsigned int>(t));
  return seed_from_rand(std::rand());
}

void set_probe_seed_clock(std::time_t (*clock)()) { probeClock = clock; }
