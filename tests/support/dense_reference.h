// Small dense references for the sparse and Hessian tests: a square
// row-major matrix, its product with a vector, a solve by Gaussian
// elimination with partial pivoting, and ln|det A|.
#pragma once

#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

namespace dense {

// Square n x n matrix, element (i, j) at a[i * n + j].
struct Matrix {
  int n = 0;
  std::vector<double> a;

  explicit Matrix(int size) : n(size), a(static_cast<std::size_t>(size) * size, 0.0) {}
  double& operator()(int i, int j) { return a[static_cast<std::size_t>(i) * n + j]; }
  double operator()(int i, int j) const { return a[static_cast<std::size_t>(i) * n + j]; }
};

// Dense copy of a base-0 compressed-row matrix (row_ptr of n + 1 entries).
// Repeated (row, column) entries are added.
inline Matrix fromCompressedRows(int n, const double* val, const int* row_ptr, const int* col_ind) {
  Matrix m(n);
  for (int i = 0; i < n; ++i)
    for (int t = row_ptr[i]; t < row_ptr[i + 1]; ++t) m(i, col_ind[t]) += val[t];
  return m;
}

// y = A x
inline std::vector<double> multiply(const Matrix& m, const std::vector<double>& x) {
  std::vector<double> y(m.n, 0.0);
  for (int i = 0; i < m.n; ++i) {
    double s = 0.0;
    for (int j = 0; j < m.n; ++j) s += m(i, j) * x[j];
    y[i] = s;
  }
  return y;
}

// LU factors with partial pivoting, in place; returns the row permutation
// sign and writes ln|det A| into logAbsDet. Throws on a singular matrix.
inline int factorize(Matrix& m, std::vector<int>& perm, double& logAbsDet) {
  const int n = m.n;
  perm.resize(n);
  for (int i = 0; i < n; ++i) perm[i] = i;
  int sign = 1;
  logAbsDet = 0.0;
  for (int k = 0; k < n; ++k) {
    int p = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(m(i, k)) > std::fabs(m(p, k))) p = i;
    if (m(p, k) == 0.0) throw std::runtime_error("dense::factorize: singular matrix");
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(m(k, j), m(p, j));
      std::swap(perm[k], perm[p]);
      sign = -sign;
    }
    logAbsDet += std::log(std::fabs(m(k, k)));
    for (int i = k + 1; i < n; ++i) {
      const double f = m(i, k) / m(k, k);
      m(i, k) = f;
      for (int j = k + 1; j < n; ++j) m(i, j) -= f * m(k, j);
    }
  }
  return sign;
}

// Solution of A x = b.
inline std::vector<double> solve(Matrix m, const std::vector<double>& b) {
  std::vector<int> perm;
  double logAbsDet = 0.0;
  factorize(m, perm, logAbsDet);
  const int n = m.n;
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) {
    double s = b[perm[i]];
    for (int j = 0; j < i; ++j) s -= m(i, j) * x[j];
    x[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = x[i];
    for (int j = i + 1; j < n; ++j) s -= m(i, j) * x[j];
    x[i] = s / m(i, i);
  }
  return x;
}

// ln|det A|.
inline double logAbsDeterminant(Matrix m) {
  std::vector<int> perm;
  double logAbsDet = 0.0;
  factorize(m, perm, logAbsDet);
  return logAbsDet;
}

// Euclidean norm of a - b.
inline double distance(const std::vector<double>& a, const std::vector<double>& b) {
  double s = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(s);
}

}  // namespace dense
