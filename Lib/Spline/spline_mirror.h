// Mirror-boundary B-spline transform of single-precision volumes (degrees 0
// to 7), with its one-line recursive filter, the mirror index fold, the line
// access routines between float volumes and double lines, and the library's
// error report. Volume element (x, y, z) lies at (z*ny + y)*nx + x.
#ifndef VELMORA_SPLINE_MIRROR_H
#define VELMORA_SPLINE_MIRROR_H

// Copies inPtr (nx*ny*nz floats, only read) into outPtr (nx*ny*nz floats,
// supplied by the caller) and turns the copy into B-spline coefficients of
// the given degree, filtering along x, y and z (only along dimensions above
// 1). Degrees 0 and 1 leave the copy. Returns 0 on success, 1 on failure
// after a message through errorReport: "ERROR - Not enough memory in
// directBsplineMirror", "ERROR - Unknown degree" (output holds the copy),
// "ERROR - Unable to allocate x data" (and y, z). Every work line is released
// before the return, on every path.
int directBsplineMirror(const float* inPtr, float* outPtr, long nx, long ny, long nz, int degree);

// Filters one line of n values: out = gain * in, then for each of the np
// poles a causal and an anti-causal first-order recursion with mirror start
// values. inPtr may equal outPtr.
void iirConvolveMirror(const double* inPtr, double* outPtr, long n, double gain,
                       const double* realPoles, long np);

// Whole-sample mirror of index i into 0..n-1 (period 2n - 2; n = 1 gives 0).
// n must be at least 1.
long fold(long i, long n);

// Writes errorMessage to standard output, without a line end.
void errorReport(const char* errorMessage);

// Line access between a volume (nx x ny x nz) and a line of n values starting
// at voxel (x, y, z): get* read the volume into the line, put* write the line
// into the volume; x, y or z is the direction, F2D/D2F convert float to
// double and back, F2F copies floats.
void getxF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n);
void getxF2F(const float* volume, long x, long y, long z, long nx, long ny, float* line, long n);
void getyF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n);
void getzF2D(const float* volume, long x, long y, long z, long nx, long ny, double* line, long n);
void putxD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n);
void putxF2F(float* volume, long x, long y, long z, long nx, long ny, const float* line, long n);
void putyD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n);
void putzD2F(float* volume, long x, long y, long z, long nx, long ny, const double* line, long n);

#endif
