#include "spline_mirror.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "spline_alloc.h"

namespace {

// log10 of the single-precision machine epsilon: the start-up tolerance.
const double kLog10Tolerance = -6.923689900271567;

// A work line of the library's heap, released when it goes out of scope, so
// that every return path frees it.
template <typename T>
struct WorkLine {
  T* data = nullptr;
  WorkLine() = default;
  WorkLine(const WorkLine&) = delete;
  WorkLine& operator=(const WorkLine&) = delete;
  ~WorkLine() { release(); }
  void release() {
    if (data) setFree(data);
    data = nullptr;
  }
  static void setFree(double* p) { freeLinD(p); }
  static void setFree(float* p) { freeLinF(p); }
};

// Poles and gain of the B-spline transform of degree 2..7; false otherwise.
bool mirrorPoles(int degree, double poles[3], long& np, double& gain) {
  switch (degree) {
    case 2:
      np = 1;
      poles[0] = -0.1715728752538097;
      gain = 1.3725830020304777;
      return true;
    case 3:
      np = 1;
      poles[0] = -0.2679491924311228;
      gain = 1.607695154586736;
      return true;
    case 4:
      np = 2;
      poles[0] = -0.3613412259002118;
      poles[1] = -0.013725429297341663;
      gain = (1.0 - poles[1]) * (1.0 - poles[0]);
      gain *= gain;
      return true;
    case 5:
      np = 2;
      poles[0] = -0.43057534709997825;
      poles[1] = -0.04309628820326328;
      gain = (1.0 - poles[1]) * (1.0 - poles[0]);
      gain *= gain;
      return true;
    case 6:
      np = 3;
      poles[0] = -0.48829458930304476;
      poles[1] = -0.08167927107623751;
      poles[2] = -0.0014141518083258177;
      gain = 2.598975999348578;
      return true;
    case 7:
      np = 3;
      poles[0] = -0.5352804307964382;
      poles[1] = -0.12255461519232669;
      poles[2] = -0.009148694809608277;
      gain = 3.0248282036441845;
      return true;
    default:
      return false;
  }
}

}  // namespace

int directBsplineMirror(const float* inPtr, float* outPtr, long nx, long ny, long nz, int degree) {
  const bool empty = nx < 1 || ny < 1 || nz < 1;

  // Copy of the input, row by row.
  if (!empty) {
    WorkLine<float> row;
    row.data = allocLinF(nx);
    if (!row.data) {
      errorReport("ERROR - Not enough memory in directBsplineMirror");
      return 1;
    }
    for (long z = 0; z < nz; ++z)
      for (long y = 0; y < ny; ++y) {
        getxF2F(inPtr, 0, y, z, nx, ny, row.data, nx);
        putxF2F(outPtr, 0, y, z, nx, ny, row.data, nx);
      }
  }

  if (degree == 0 || degree == 1) return 0;
  double poles[3];
  long np = 0;
  double gain = 1.0;
  if (!mirrorPoles(degree, poles, np, gain)) {
    errorReport("ERROR - Unknown degree");
    return 1;
  }
  if (empty) return 0;

  if (nx > 1) {
    WorkLine<double> line;
    line.data = allocLinD(nx);
    if (!line.data) {
      errorReport("ERROR - Unable to allocate x data");
      return 1;
    }
    for (long z = 0; z < nz; ++z)
      for (long y = 0; y < ny; ++y) {
        getxF2D(outPtr, 0, y, z, nx, ny, line.data, nx);
        iirConvolveMirror(line.data, line.data, nx, gain, poles, np);
        putxD2F(outPtr, 0, y, z, nx, ny, line.data, nx);
      }
  }
  if (ny > 1) {
    WorkLine<double> line;
    line.data = allocLinD(ny);
    if (!line.data) {
      errorReport("ERROR - Unable to allocate y data");
      return 1;
    }
    for (long z = 0; z < nz; ++z)
      for (long x = 0; x < nx; ++x) {
        getyF2D(outPtr, x, 0, z, nx, ny, line.data, ny);
        iirConvolveMirror(line.data, line.data, ny, gain, poles, np);
        putyD2F(outPtr, x, 0, z, nx, ny, line.data, ny);
      }
  }
  if (nz < 2) return 0;
  WorkLine<double> line;
  line.data = allocLinD(nz);
  if (!line.data) {
    errorReport("ERROR - Unable to allocate z data");
    return 1;
  }
  for (long y = 0; y < ny; ++y)
    for (long x = 0; x < nx; ++x) {
      getzF2D(outPtr, x, y, 0, nx, ny, line.data, nz);
      iirConvolveMirror(line.data, line.data, nz, gain, poles, np);
      putzD2F(outPtr, x, y, 0, nx, ny, line.data, nz);
    }
  return 0;
}

void iirConvolveMirror(const double* inPtr, double* outPtr, long n, double gain,
                       const double* realPoles, long np) {
  for (long k = 0; k < n; ++k) outPtr[k] = inPtr[k] * gain;
  if (n <= 1) return;

  for (long p = 0; p < np; ++p) {
    const double z = realPoles[p];
    const long k0 = static_cast<long>(std::ceil(kLog10Tolerance / std::log10(std::fabs(z))));

    // Causal start: sum_{m=0..k0} z^m out[fold(m)] by Horner's rule over the
    // mirror-extended line, from the farthest sample inwards.
    double x0 = outPtr[fold(k0, n)];
    for (long m = k0 - 1; m >= 0; --m) x0 = z * x0 + outPtr[fold(m, n)];

    const double last = outPtr[n - 1];
    outPtr[0] = x0;
    for (long k = 1; k < n; ++k) outPtr[k] += z * outPtr[k - 1];

    // Anti-causal start for the whole-sample mirror.
    outPtr[n - 1] = (2.0 * outPtr[n - 1] - last) / (1.0 - z * z);
    for (long k = n - 2; k >= 0; --k) outPtr[k] = z * outPtr[k + 1] + outPtr[k];
  }
}

long fold(long i, long n) {
  assert(n >= 1);
  i = i < 0 ? -i : i;
  if (i < n) return i;
  if (n == 1) return 0;
  const long period = 2 * n - 2;
  const long r = i % period;
  return r < n ? r : period - r;
}

void errorReport(const char* errorMessage) {
  std::fputs(errorMessage, stdout);
}

void getxF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n) {
  const float* p = volume + (z * ny + y) * nx + x;
  for (long k = 0; k < n; ++k) line[k] = static_cast<double>(p[k]);
}

void getxF2F(const float* volume, long x, long y, long z, long nx, long ny, float* line, long n) {
  std::memcpy(line, volume + (z * ny + y) * nx + x, static_cast<size_t>(n) * sizeof(float));
}

void getyF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n) {
  const float* p = volume + (z * ny + y) * nx + x;
  for (long k = 0; k < n; ++k) line[k] = static_cast<double>(p[k * nx]);
}

void getzF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n) {
  const float* p = volume + (z * ny + y) * nx + x;
  const long stride = nx * ny;
  for (long k = 0; k < n; ++k) line[k] = static_cast<double>(p[k * stride]);
}

void putxD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n) {
  float* p = volume + (z * ny + y) * nx + x;
  for (long k = 0; k < n; ++k) p[k] = static_cast<float>(line[k]);
}

void putxF2F(float* volume, long x, long y, long z, long nx, long ny, const float* line, long n) {
  std::memcpy(volume + (z * ny + y) * nx + x, line, static_cast<size_t>(n) * sizeof(float));
}

void putyD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n) {
  float* p = volume + (z * ny + y) * nx + x;
  for (long k = 0; k < n; ++k) p[k * nx] = static_cast<float>(line[k]);
}

void putzD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n) {
  float* p = volume + (z * ny + y) * nx + x;
  const long stride = nx * ny;
  for (long k = 0; k < n; ++k) p[k * stride] = static_cast<float>(line[k]);
}
