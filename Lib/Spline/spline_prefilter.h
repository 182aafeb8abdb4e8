// B-spline prefilter: turns the samples of a single-precision image into the
// coefficients c of the interpolating B-spline of degree 2 to 9, so that
// sum_k c[k] beta^n(x - k) passes through every sample. Separable recursive
// filtering (rows, then columns) with whole-sample mirror boundaries
// (c[-k] = c[k], c[N-1+k] = c[N-1-k]).
#ifndef VELMORA_SPLINE_PREFILTER_H
#define VELMORA_SPLINE_PREFILTER_H

// Converts Image (Width x Height floats, row y at y*Width) in place into
// B-spline coefficients of degree SplineDegree (2..9). Returns 0 on success,
// 1 on failure after a message on standard output: "Invalid spline degree"
// (image untouched), "Row allocation failed" (image untouched) or
// "Column allocation failed" (rows converted). An empty image returns 0.
int SamplesToCoefficients(float* Image, long Width, long Height, long SplineDegree);

// Converts one line c[0..DataLength-1] in place, for the NbPoles poles z
// (each in (-1, 0)); Tolerance bounds the truncated causal start sum.
// Lines shorter than 2 samples are left unchanged.
void ConvertToInterpolationCoefficients(double c[], long DataLength, const double z[],
                                        long NbPoles, double Tolerance);

// First value of the causal recursion of pole z over the mirrored line c of
// DataLength >= 2 samples; exact when the horizon ceil(ln Tolerance / ln|z|)
// is not below DataLength, otherwise truncated to that many terms.
double InitialCausalCoefficient(const double c[], long DataLength, double z, double Tolerance);

// Last value of the anti-causal recursion of pole z over the line c of
// DataLength >= 2 samples: (z / (z^2 - 1)) (z c[N-2] + c[N-1]).
double InitialAntiCausalCoefficient(const double c[], long DataLength, double z);

// Line access: Line[x] = Image[y*Width + x] widened to double (GetRow), and
// back narrowed to float (PutRow); Line holds Width values.
void GetRow(const float* Image, long y, double Line[], long Width);
void PutRow(float* Image, long y, const double Line[], long Width);
// Line[y] = Image[y*Width + x] (GetColumn) and back (PutColumn); Line holds
// Height values.
void GetColumn(const float* Image, long Width, long x, double Line[], long Height);
void PutColumn(float* Image, long Width, long x, const double Line[], long Height);

#endif
