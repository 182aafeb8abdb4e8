// Working memory of the spline library: uninitialised lines and volumes from
// the C heap, released with free. Every buffer the library obtains for itself
// goes through these wrappers and is released inside the library.
#ifndef VELMORA_SPLINE_ALLOC_H
#define VELMORA_SPLINE_ALLOC_H

#include <cstddef>

// n doubles (allocLinD) or n floats (allocLinF), uninitialised; null when
// memory is short or n < 1.
double* allocLinD(long n);
float* allocLinF(long n);
// nx * ny * nz floats, uninitialised; null when memory is short or a size < 1.
float* allocVolF(long nx, long ny, long nz);
// Release what the allocators above returned (null is accepted).
void freeLinD(double* line);
void freeLinF(float* line);
void freeVolF(float* volume);

// The heap functions behind the wrappers (malloc and free by default).
// Only tests replace them, to make an allocation fail and to check that every
// buffer is released on every path. Passing null restores the default.
using SplineMallocFn = void* (*)(std::size_t);
using SplineFreeFn = void (*)(void*);
void setSplineAllocator(SplineMallocFn allocate, SplineFreeFn release);

#endif
