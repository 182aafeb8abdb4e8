// Arithmetic on dense double vectors. A size mismatch writes a message to
// standard output and ends the process with exit status 1. The two-operand
// operators return new owning vectors.
#pragma once

#include "mvvd.h"

// x(i) = x(i) * a for every i; returns x.
MV_Vector_double& operator*=(MV_Vector_double& x, const double& a);
// New vector a * x.
MV_Vector_double operator*(const double& a, const MV_Vector_double& x);
MV_Vector_double operator*(const MV_Vector_double& x, const double& a);
// New vector x + y (equal sizes).
MV_Vector_double operator+(const MV_Vector_double& x, const MV_Vector_double& y);
// New vector x - y (equal sizes).
MV_Vector_double operator-(const MV_Vector_double& x, const MV_Vector_double& y);
// x = x + y (equal sizes); returns x.
MV_Vector_double& operator+=(MV_Vector_double& x, const MV_Vector_double& y);
// x = x - y (equal sizes); returns x.
MV_Vector_double& operator-=(MV_Vector_double& x, const MV_Vector_double& y);
// Sum of x(i) * y(i), accumulated from 0.0 with i ascending (equal sizes).
double dot(const MV_Vector_double& x, const MV_Vector_double& y);
// Euclidean norm sqrt(dot(x, x)); 0.0 for an empty vector.
double norm(const MV_Vector_double& x);
