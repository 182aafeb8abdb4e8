#include "spline_alloc.h"

#include <cstdint>
#include <climits>
#include <cstdlib>

namespace {

SplineMallocFn g_allocate = std::malloc;
SplineFreeFn g_release = std::free;

// count elements of size bytes, or null when the request is empty or its size
// does not fit in size_t.
void* allocateElements(long count, std::size_t size) {
  if (count < 1 || static_cast<unsigned long>(count) > SIZE_MAX / size) return nullptr;
  return g_allocate(static_cast<std::size_t>(count) * size);
}

}  // namespace

void setSplineAllocator(SplineMallocFn allocate, SplineFreeFn release) {
  g_allocate = allocate ? allocate : std::malloc;
  g_release = release ? release : std::free;
}

double* allocLinD(long n) { return static_cast<double*>(allocateElements(n, sizeof(double))); }

float* allocLinF(long n) { return static_cast<float*>(allocateElements(n, sizeof(float))); }

float* allocVolF(long nx, long ny, long nz) {
  if (nx < 1 || ny < 1 || nz < 1) return nullptr;
  if (ny > LONG_MAX / nx || nz > LONG_MAX / (nx * ny)) return nullptr;
  return allocLinF(nx * ny * nz);
}

void freeLinD(double* line) {
  if (line) g_release(line);
}

void freeLinF(float* line) {
  if (line) g_release(line);
}

void freeVolF(float* volume) {
  if (volume) g_release(volume);
}
