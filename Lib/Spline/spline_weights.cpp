#include "spline_weights.h"

#include <cmath>

namespace {

// beta^n at offset d = x - i for n = 4..7, 0 for |d| >= (n + 1)/2: with
// u = (n + 1)/2 - |d| in (0, (n + 1)/2], beta^n(d) = M_n(u), taken from the
// window of the uniform B-spline at the fraction of u past its knot.
double pieceweight(int n, double d) {
  const double a = std::fabs(d);
  const double half = 0.5 * (n + 1);
  if (a >= half) return 0.0;
  const double u = half - a;
  const double knot = std::floor(u);
  double w[10];
  uniformBsplineWeights(n, u - knot, w);  // w[k] = M_n(t + n - k)
  return w[n - static_cast<int>(knot)];
}

}  // namespace

void uniformBsplineWeights(int n, double t, double weight[]) {
  // v[m] = M_d(t + m), m = 0..d, M_d the cardinal B-spline of degree d on
  // [0, d + 1]: M_d(u) = (u M_{d-1}(u) + (d + 1 - u) M_{d-1}(u - 1)) / d.
  double v[10];
  v[0] = 1.0;
  for (int d = 1; d <= n; ++d) {
    const double inv = 1.0 / d;
    v[d] = 0.0;
    for (int m = d; m >= 0; --m) {
      const double left = (t + m) * (m < d ? v[m] : 0.0);
      const double right = (m > 0) ? (d + 1 - t - m) * v[m - 1] : 0.0;
      v[m] = (left + right) * inv;
    }
  }
  // beta^n(t + (n - 1)/2 - k) = M_n(t + n - k).
  for (int k = 0; k <= n; ++k) weight[k] = v[n - k];
}

double BsplnWght0(long i, double x) {
  const double d = x - static_cast<double>(i);
  return (d >= -0.5 && d < 0.5) ? 1.0 : 0.0;
}

double BsplnWght1(long i, double x) {
  const double a = std::fabs(x - static_cast<double>(i));
  return a <= 1.0 ? 1.0 - a : 0.0;
}

double BsplnWght2(long i, double x) {
  const double a = std::fabs(x - static_cast<double>(i));
  if (a < 0.5) return 0.75 - a * a;
  if (a < 1.5) return 0.5 * (1.5 - a) * (1.5 - a);
  return 0.0;
}

double BsplnWght3(long i, double x) {
  const double a = std::fabs(x - static_cast<double>(i));
  if (a < 1.0) return (3.0 * a * a * (a - 2.0) + 4.0) / 6.0;
  if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
  return 0.0;
}

double BsplnWght4(long i, double x) { return pieceweight(4, x - static_cast<double>(i)); }
double BsplnWght5(long i, double x) { return pieceweight(5, x - static_cast<double>(i)); }
double BsplnWght6(long i, double x) { return pieceweight(6, x - static_cast<double>(i)); }
double BsplnWght7(long i, double x) { return pieceweight(7, x - static_cast<double>(i)); }

double BsplnWght2Deriv(long i, double x) { return BsplnWght1(i, x + 0.5) - BsplnWght1(i, x - 0.5); }
double BsplnWght3Deriv(long i, double x) { return BsplnWght2(i, x + 0.5) - BsplnWght2(i, x - 0.5); }
double BsplnWght4Deriv(long i, double x) { return BsplnWght3(i, x + 0.5) - BsplnWght3(i, x - 0.5); }
double BsplnWght5Deriv(long i, double x) { return BsplnWght4(i, x + 0.5) - BsplnWght4(i, x - 0.5); }
double BsplnWght6Deriv(long i, double x) { return BsplnWght5(i, x + 0.5) - BsplnWght5(i, x - 0.5); }

double BsplnWght3DerivSecond(long i, double x) {
  return BsplnWght2Deriv(i, x + 0.5) - BsplnWght2Deriv(i, x - 0.5);
}
double BsplnWght4DerivSecond(long i, double x) {
  return BsplnWght3Deriv(i, x + 0.5) - BsplnWght3Deriv(i, x - 0.5);
}
double BsplnWght6DerivSecond(long i, double x) {
  return BsplnWght5Deriv(i, x + 0.5) - BsplnWght5Deriv(i, x - 0.5);
}
