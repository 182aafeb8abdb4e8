// Fixed seeds for the estimator tests: replaces the clock that the trace
// estimators seed their probes from, and draws the first probe of a seed
// as the estimators do (pixels row by row, U entry first).
#pragma once

#include <ctime>
#include <vector>

#include "random_deviates.h"

namespace probe_test {

inline std::time_t& clock_value() {
  static std::time_t t = 0;
  return t;
}
inline std::time_t fixed_clock() { return clock_value(); }

// While it lives, every probe seed is drawn as at calendar time t.
struct FixedClock {
  explicit FixedClock(std::time_t t) { set(t); }
  ~FixedClock() { set_probe_seed_clock(nullptr); }
  void set(std::time_t t) {
    clock_value() = t;
    set_probe_seed_clock(&fixed_clock);
  }
};

// The first probe an estimator call draws for an nc x nl level.
inline std::vector<double> first_probe(int nc, int nl) {
  long idum = probe_seed();
  const int ncnl = nc * nl;
  std::vector<double> z(2 * ncnl);
  for (int p = 0; p < ncnl; ++p) {
    z[p] = gasdev(&idum);
    z[ncnl + p] = gasdev(&idum);
  }
  return z;
}

}  // namespace probe_test
