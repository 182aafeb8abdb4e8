// Spline derivative images: from B-spline coefficients (directBsplineMirror),
// a derivative of the spline at every pixel centre, written as a new
// single-precision image.
//
// Shared arguments: splinePtr, the nx x ny coefficients (row y at y*nx, only
// read); outPtr, nx x ny floats supplied by the caller, written in raster
// order; interpolationDegree, 3, 4 or 6; background, unused. Samples outside
// the image are the mirrored coefficients (fold). Each returns 0, or 1 for an
// unsupported degree after printing the unknown-degree error message on
// standard output (no line end), leaving outPtr untouched.
#ifndef VELMORA_SPLINE_DERIVATIVES_H
#define VELMORA_SPLINE_DERIVATIVES_H

// d/dx (along the columns) of the spline.
int gradX(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
          float background);
// d/dy (along the rows) of the spline.
int gradY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
          float background);
// d2/dx2 of the spline.
int derivXX(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float background);
// d2/dy2 of the spline.
int derivYY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float background);
// d2/dxdy of the spline.
int derivXY(const float* splinePtr, float* outPtr, long nx, long ny, int interpolationDegree,
            float background);

#endif
