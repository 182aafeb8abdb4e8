// Evaluation of a two-dimensional B-spline of degree 2 to 9 at real positions,
// from the coefficients computed by SamplesToCoefficients.
#ifndef VELMORA_SPLINE_INTERPOLATION_H
#define VELMORA_SPLINE_INTERPOLATION_H

// Value at column position x, row position y (in samples; (j, i) falls on
// sample (j, i)) of sum_{k,l} Bcoeff[l*Width + k] beta^n(x - k) beta^n(y - l),
// n = SplineDegree, with whole-sample mirror boundaries (period 2*Width - 2;
// a dimension of 1 reads index 0). Bcoeff holds Width x Height floats and is
// only read. A degree outside 2..9 prints "Invalid spline degree" on standard
// output and returns 0.0; a position that is not finite returns NaN without
// reading the buffer.
double InterpolatedValue(const float* Bcoeff, long Width, long Height, double x, double y,
                         long SplineDegree);

#endif
