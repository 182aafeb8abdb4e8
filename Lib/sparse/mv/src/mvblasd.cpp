// Arithmetic on dense double vectors; size mismatches are reported on
// standard output and end the process with exit status 1.
#include "mvblasd.h"

#include <cmath>
#include <cstdlib>
#include <iostream>

namespace {

void checkSum(const MV_Vector_double& x, const MV_Vector_double& y) {
  if (x.size() != y.size()) {
    std::cout << "Incompatible vector lengths in +." << "\n";
    std::exit(1);
  }
}

void checkDifference(const MV_Vector_double& x, const MV_Vector_double& y) {
  if (x.size() != y.size()) {
    std::cout << "Incompatible vector lengths in -." << "\n";
    std::exit(1);
  }
}

}  // namespace

MV_Vector_double& operator*=(MV_Vector_double& x, const double& a) {
  const int N = x.size();
  for (int i = 0; i < N; i++) x(i) *= a;
  return x;
}

MV_Vector_double operator*(const double& a, const MV_Vector_double& x) {
  const int N = x.size();
  MV_Vector_double result(N);
  for (int i = 0; i < N; i++) result(i) = x(i) * a;
  return result;
}

MV_Vector_double operator*(const MV_Vector_double& x, const double& a) { return a * x; }

MV_Vector_double operator+(const MV_Vector_double& x, const MV_Vector_double& y) {
  checkSum(x, y);
  const int N = x.size();
  MV_Vector_double result(N);
  for (int i = 0; i < N; i++) result(i) = x(i) + y(i);
  return result;
}

MV_Vector_double operator-(const MV_Vector_double& x, const MV_Vector_double& y) {
  checkDifference(x, y);
  const int N = x.size();
  MV_Vector_double result(N);
  for (int i = 0; i < N; i++) result(i) = x(i) - y(i);
  return result;
}

MV_Vector_double& operator+=(MV_Vector_double& x, const MV_Vector_double& y) {
  checkSum(x, y);
  const int N = x.size();
  for (int i = 0; i < N; i++) x(i) += y(i);
  return x;
}

MV_Vector_double& operator-=(MV_Vector_double& x, const MV_Vector_double& y) {
  checkDifference(x, y);
  const int N = x.size();
  for (int i = 0; i < N; i++) x(i) -= y(i);
  return x;
}

double dot(const MV_Vector_double& x, const MV_Vector_double& y) {
  if (x.size() != y.size()) {
    std::cout << "Incompatible dimensions in dot(). " << "\n";
    std::exit(1);
  }
  double temp = 0.0;
  for (int i = 0; i < x.size(); i++) temp += x(i) * y(i);
  return temp;
}

double norm(const MV_Vector_double& x) { return std::sqrt(dot(x, x)); }
