#include "spline_interpolation.h"

#include <cmath>
#include <cstdio>

#include "spline_weights.h"

namespace {

// Positions farther than this from the origin are first reduced by whole
// mirror periods (an exact operation), so that their indices fit in a long.
const double kReduceBeyond = 1073741824.0;  // 2^30

// Weights of the n + 1 samples around position x, whose first index is
// returned; index k of the window is first + k.
long splineWindow(double x, long n, double weight[10]) {
  if (n == 3) {
    // Cubic: closed form from the offset to the second sample.
    const long first = static_cast<long>(std::floor(x)) - 1;
    const double w = x - static_cast<double>(first + 1);
    weight[3] = w * w * w / 6.0;
    weight[0] = 1.0 / 6.0 + w * (w - 1.0) / 2.0 - weight[3];
    weight[2] = w + weight[0] - 2.0 * weight[3];
    weight[1] = 1.0 - weight[0] - weight[2] - weight[3];
    return first;
  }
  if (n == 2) {
    const long first = static_cast<long>(std::floor(x + 0.5)) - 1;
    const double w = x - static_cast<double>(first + 1);
    weight[1] = 3.0 / 4.0 - w * w;
    weight[2] = (w - weight[1] + 1.0) / 2.0;
    weight[0] = 1.0 - weight[1] - weight[2];
    return first;
  }
  // Degrees 4..9: the uniform B-spline values at the offset past the knot
  // that precedes x (knots at integers for odd degrees, half-integers for
  // even ones).
  const double shifted = (n % 2 == 1) ? x : x + 0.5;
  const double base = std::floor(shifted);
  uniformBsplineWeights(static_cast<int>(n), shifted - base, weight);
  return static_cast<long>(base) - n / 2;
}

// Whole-sample mirror of index k for a dimension of size n (period 2n - 2).
long mirrorIndex(long k, long n, long period) {
  if (n == 1) return 0;
  k = (k < 0 ? -k : k) % period;
  return k >= n ? period - k : k;
}

// Reduces a far position by an even number of mirror periods (exact), which
// changes neither its fractional part nor its folded indices.
double reducePosition(double x, long n) {
  if (std::fabs(x) <= kReduceBeyond) return x;
  return std::fmod(x, static_cast<double>(n == 1 ? 2 : 2 * n - 2));
}

}  // namespace

double InterpolatedValue(const float* Bcoeff, long Width, long Height, double x, double y,
                         long SplineDegree) {
  if (SplineDegree < 2 || SplineDegree > 9) {
    std::printf("Invalid spline degree\n");
    return 0.0;
  }
  if (!std::isfinite(x) || !std::isfinite(y)) return std::nan("");
  x = reducePosition(x, Width);
  y = reducePosition(y, Height);

  const long n = SplineDegree;
  double xWeight[10], yWeight[10];
  long xIndex[10], yIndex[10];
  const long i0 = splineWindow(x, n, xWeight);
  const long j0 = splineWindow(y, n, yWeight);
  const long Width2 = 2 * Width - 2, Height2 = 2 * Height - 2;
  for (long k = 0; k <= n; ++k) {
    xIndex[k] = mirrorIndex(i0 + k, Width, Width2);
    yIndex[k] = mirrorIndex(j0 + k, Height, Height2);
  }

  double result = 0.0;
  for (long j = 0; j <= n; ++j) {
    const float* row = Bcoeff + yIndex[j] * Width;
    double w = 0.0;
    for (long i = 0; i <= n; ++i) w += xWeight[i] * static_cast<double>(row[xIndex[i]]);
    result += yWeight[j] * w;
  }
  return result;
}
