// Square of a double that returns exactly what std::pow(x, 2.0) returns,
// without the library call for most inputs.
//
// x * x is correctly rounded, glibc's pow is not (its stated error bound is
// 0.54 ulp), so the two differ by one ulp on a small fraction of inputs. The
// product is taken only where pow's result is provably the same double;
// everywhere else pow itself is called.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

static_assert(std::numeric_limits<double>::is_iec559, "IEEE-754 binary64 doubles are assumed");
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0
#error "the exact product below needs double arithmetic without extra precision"
#endif

// std::pow(x, 2.0) itself. The exponent is read through a volatile: with a
// constant 2 the compiler replaces the call by x * x, which is not what the
// library returns.
inline double libraryPowTwo(double x) {
  volatile double two = 2.0;
  return std::pow(x, two);
}

// Let q = x * x (rounded to nearest) and e = x^2 - q, computed exactly with
// Veltkamp's split and Dekker's product in plain double arithmetic (the
// build does not contract into FMA). Let g be the gap from q to the next
// double below it (the smaller of the two gaps around q, 2^-53 q when q is a
// power of two).
//
// pow rounds to nearest an internal value y of x^2. By glibc's bound of
// 0.54 ulp, y is within 0.04 ulp of x^2 (a relative 0.08 * 2^-53), so
// |y - x^2| < 0.1 * 2^-53 * |x^2|, which is at most 0.11 g. If
// |e| <= 0.375 g then |y - q| < 0.485 g, less than half of either gap
// around q, so y rounds to q: pow returns q. The margin kept, 0.125 g, is
// larger than pow's error beyond the rounding (0.04 ulp, at most 0.08 g).
//
// Inputs whose square is outside [2^-900, 2^900] (zero, NaN, infinities,
// overflow, underflow and anything near the subnormal range, where the
// split or the exact error could overflow or lose bits) go to pow, except
// +-0, whose power 2 is +0 by definition of pow.
inline double squareAsPow(double x) {
  const double q = x * x;
  if (q >= 0x1p-900 && q <= 0x1p900) {
    const double c = 134217729.0 * x;  // 2^27 + 1
    const double hi = c - (c - x);     // upper 26 bits of x
    const double lo = x - hi;          // the rest, at most 26 bits
    const double e = ((hi * hi - q) + 2.0 * (hi * lo)) + lo * lo;
    std::uint64_t bits;
    std::memcpy(&bits, &q, sizeof bits);
    --bits;  // q > 0: the next double below q
    double below;
    std::memcpy(&below, &bits, sizeof below);
    const double gap = q - below;  // exact
    if (std::fabs(e) <= 0.375 * gap) return q;
  } else if (x == 0.0) {
    return 0.0;
  }
  return libraryPowTwo(x);
}
