// Centred B-spline weight functions beta^n and their derivatives. Each
// weight function of degree n taken at (i, x) is the value at x - i.
#ifndef VELMORA_SPLINE_WEIGHTS_H
#define VELMORA_SPLINE_WEIGHTS_H

// beta^n(x - i): degree 0 is 1 on -0.5 <= x - i < 0.5; the others are the
// polynomial pieces of beta^n on |x - i| < (n + 1)/2 and 0 beyond.
double BsplnWght0(long i, double x);
double BsplnWght1(long i, double x);
double BsplnWght2(long i, double x);
double BsplnWght3(long i, double x);
double BsplnWght4(long i, double x);
double BsplnWght5(long i, double x);
double BsplnWght6(long i, double x);
double BsplnWght7(long i, double x);

// First derivative of beta^n at x - i:
// beta^(n-1)(x - i + 1/2) - beta^(n-1)(x - i - 1/2).
double BsplnWght2Deriv(long i, double x);
double BsplnWght3Deriv(long i, double x);
double BsplnWght4Deriv(long i, double x);
double BsplnWght5Deriv(long i, double x);
double BsplnWght6Deriv(long i, double x);

// Second derivative of beta^n at x - i: the first derivative of degree n - 1
// at x - i + 1/2 minus that at x - i - 1/2.
double BsplnWght3DerivSecond(long i, double x);
double BsplnWght4DerivSecond(long i, double x);
double BsplnWght6DerivSecond(long i, double x);

// The n + 1 non-zero values of the uniform B-spline of degree n (0..9) at
// fractional offset t in [0, 1): weight[k] = beta^n(t + (n - 1)/2 - k) for
// k = 0..n, i.e. the weights of the samples floor(.) - (n-1)/2 + k around a
// position whose offset past the first knot is t. Computed by the
// positive-term Cox-de Boor recursion (accurate to double rounding).
void uniformBsplineWeights(int n, double t, double weight[]);

#endif
