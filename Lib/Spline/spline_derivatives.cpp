#include "spline_derivatives.h"

#include "spline_mirror.h"
#include "spline_weights.h"

namespace {

using WeightFn = double (*)(long, double);

// Which function of the degree weighs a direction.
enum class Order { Value, First, Second };

// The weight function of the given order for degree 3, 4 or 6; null for a
// combination the library does not have.
WeightFn weightFunction(int degree, Order order) {
  switch (degree) {
    case 3:
      return order == Order::Value ? BsplnWght3
             : order == Order::First ? BsplnWght3Deriv
                                     : BsplnWght3DerivSecond;
    case 4:
      return order == Order::Value ? BsplnWght4
             : order == Order::First ? BsplnWght4Deriv
                                     : BsplnWght4DerivSecond;
    case 6:
      return order == Order::Value ? BsplnWght6
             : order == Order::First ? BsplnWght6Deriv
                                     : BsplnWght6DerivSecond;
    default:
      return nullptr;
  }
}

// out(x, y) = sum_j wy(y - j) sum_i wx(x - i) c(fold(i), fold(j)) at every
// pixel centre, wx and wy being the weights of the requested orders.
int splineFilter(const float* splinePtr, float* outPtr, long nx, long ny, int degree,
                 Order orderX, Order orderY) {
  const WeightFn wxFn = weightFunction(degree, orderX);
  const WeightFn wyFn = weightFunction(degree, orderY);
  if (!wxFn || !wyFn) {
    errorReport("ERROR - Unknown interpolation specification");
    return 1;
  }
  const long half = degree / 2;
  const long width = degree + 1;
  // At pixel centres the weights depend only on the offset to the window
  // (x - i = half - k, exact in double), so they are the same for every
  // pixel; only the folded offsets change.
  double wx[8], wy[8];
  for (long k = 0; k < width; ++k) {
    wx[k] = wxFn(0, static_cast<double>(half - k));
    wy[k] = wyFn(0, static_cast<double>(half - k));
  }
  long offx[8], offy[8];
  float* out = outPtr;
  for (long y = 0; y < ny; ++y) {
    for (long k = 0; k < width; ++k) offy[k] = fold(y - half + k, ny) * nx;
    for (long x = 0; x < nx; ++x) {
      for (long k = 0; k < width; ++k) offx[k] = fold(x - half + k, nx);
      // The single slice of an image: weight 1 along z.
      double value = 0.0;
      for (long kj = 0; kj < width; ++kj) {
        double rowSum = 0.0;
        for (long ki = 0; ki < width; ++ki)
          rowSum += wx[ki] * static_cast<double>(splinePtr[offy[kj] + offx[ki]]);
        value += wy[kj] * rowSum;
      }
      *out++ = static_cast<float>(1.0 * value);
    }
  }
  return 0;
}

}  // namespace

int gradX(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
          float /*background*/) {
  return splineFilter(splinePtr, outPtr, nx, ny, interpolationDegree, Order::First, Order::Value);
}

int gradY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
          float /*background*/) {
  return splineFilter(splinePtr, outPtr, nx, ny, interpolationDegree, Order::Value, Order::First);
}

int derivXX(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float /*background*/) {
  return splineFilter(splinePtr, outPtr, nx, ny, interpolationDegree, Order::Second,
                      Order::Value);
}

int derivYY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float /*background*/) {
  return splineFilter(splinePtr, outPtr, nx, ny, interpolationDegree, Order::Value,
                      Order::Second);
}

int derivXY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float /*background*/) {
  return splineFilter(splinePtr, outPtr, nx, ny, interpolationDegree, Order::First,
                      Order::First);
}
