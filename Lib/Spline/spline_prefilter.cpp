#include "spline_prefilter.h"

#include <cmath>
#include <cstdio>

#include "spline_alloc.h"

namespace {

// Double machine epsilon: the truncation tolerance of the causal start.
const double kTolerance = 2.220446049250313e-16;

// Poles of the interpolating B-spline of degree 2..9 (all in (-1, 0)).
// Returns the number of poles, 0 for an unsupported degree.
long splinePoles(long degree, double z[4]) {
  switch (degree) {
    case 2:
      z[0] = -0.1715728752538097;  // sqrt(8) - 3
      return 1;
    case 3:
      z[0] = -0.2679491924311228;  // sqrt(3) - 2
      return 1;
    case 4:
      z[0] = -0.3613412259002118;
      z[1] = -0.013725429297341663;
      return 2;
    case 5:
      z[0] = -0.43057534709997825;
      z[1] = -0.04309628820326328;
      return 2;
    case 6:
      z[0] = -0.48829458930304476;
      z[1] = -0.08167927107623751;
      z[2] = -0.0014141518083258177;
      return 3;
    case 7:
      z[0] = -0.5352804307964382;
      z[1] = -0.12255461519232669;
      z[2] = -0.009148694809608277;
      return 3;
    case 8:
      z[0] = -0.5746869092487654;
      z[1] = -0.16303526929728093;
      z[2] = -0.02363229469484485;
      z[3] = -0.00015382131064169092;
      return 4;
    case 9:
      z[0] = -0.6079973891686258;
      z[1] = -0.20175052019315323;
      z[2] = -0.04322260854048175;
      z[3] = -0.002121306903180818;
      return 4;
    default:
      return 0;
  }
}

}  // namespace

int SamplesToCoefficients(float* Image, long Width, long Height, long SplineDegree) {
  double z[4];
  const long NbPoles = splinePoles(SplineDegree, z);
  if (NbPoles == 0) {
    std::printf("Invalid spline degree\n");
    return 1;
  }
  if (Width < 1 || Height < 1) return 0;

  // Rows.
  double* Line = allocLinD(Width);
  if (!Line) {
    std::printf("Row allocation failed\n");
    return 1;
  }
  for (long y = 0; y < Height; ++y) {
    GetRow(Image, y, Line, Width);
    ConvertToInterpolationCoefficients(Line, Width, z, NbPoles, kTolerance);
    PutRow(Image, y, Line, Width);
  }
  freeLinD(Line);

  // Columns.
  Line = allocLinD(Height);
  if (!Line) {
    std::printf("Column allocation failed\n");
    return 1;
  }
  for (long x = 0; x < Width; ++x) {
    GetColumn(Image, Width, x, Line, Height);
    ConvertToInterpolationCoefficients(Line, Height, z, NbPoles, kTolerance);
    PutColumn(Image, Width, x, Line, Height);
  }
  freeLinD(Line);
  return 0;
}

void ConvertToInterpolationCoefficients(double c[], long DataLength, const double z[],
                                        long NbPoles, double Tolerance) {
  if (DataLength < 2) return;

  // Overall gain, so that the filter's DC gain is 1.
  double Lambda = 1.0;
  for (long k = 0; k < NbPoles; ++k) Lambda = Lambda * (1.0 - z[k]) * (1.0 - 1.0 / z[k]);
  for (long n = 0; n < DataLength; ++n) c[n] *= Lambda;

  for (long k = 0; k < NbPoles; ++k) {
    c[0] = InitialCausalCoefficient(c, DataLength, z[k], Tolerance);
    for (long n = 1; n < DataLength; ++n) c[n] += z[k] * c[n - 1];
    c[DataLength - 1] = InitialAntiCausalCoefficient(c, DataLength, z[k]);
    for (long n = DataLength - 2; n >= 0; --n) c[n] = z[k] * (c[n + 1] - c[n]);
  }
}

double InitialCausalCoefficient(const double c[], long DataLength, double z, double Tolerance) {
  long Horizon = DataLength;
  if (Tolerance > 0.0) Horizon = static_cast<long>(std::ceil(std::log(Tolerance) / std::log(std::fabs(z))));

  if (Horizon < DataLength) {
    // Truncated sum: the terms beyond the horizon are below the tolerance.
    double zn = z;
    double Sum = c[0];
    for (long n = 1; n < Horizon; ++n) {
      Sum += zn * c[n];
      zn *= z;
    }
    return Sum;
  }

  // Exact sum over the mirrored signal of period 2N - 2.
  double zn = z;
  const double iz = 1.0 / z;
  double z2n = std::pow(z, static_cast<double>(DataLength - 1));
  double Sum = c[0] + z2n * c[DataLength - 1];
  z2n = z2n * z2n * iz;
  for (long n = 1; n <= DataLength - 2; ++n) {
    Sum += (zn + z2n) * c[n];
    zn *= z;
    z2n *= iz;
  }
  return Sum / (1.0 - zn * zn);
}

double InitialAntiCausalCoefficient(const double c[], long DataLength, double z) {
  return (z / (z * z - 1.0)) * (z * c[DataLength - 2] + c[DataLength - 1]);
}

void GetRow(const float* Image, long y, double Line[], long Width) {
  const float* p = Image + y * Width;
  for (long x = 0; x < Width; ++x) Line[x] = static_cast<double>(p[x]);
}

void PutRow(float* Image, long y, const double Line[], long Width) {
  float* p = Image + y * Width;
  for (long x = 0; x < Width; ++x) p[x] = static_cast<float>(Line[x]);
}

void GetColumn(const float* Image, long Width, long x, double Line[], long Height) {
  for (long y = 0; y < Height; ++y) Line[y] = static_cast<double>(Image[y * Width + x]);
}

void PutColumn(float* Image, long Width, long x, const double Line[], long Height) {
  for (long y = 0; y < Height; ++y) Image[y * Width + x] = static_cast<float>(Line[y]);
}
