// Small sparse fixtures shared by the sparse-library tests: compressed-row
// arrays (base 0) of test matrices and their dense copies.
#pragma once

#include <vector>

#include "dense_reference.h"

namespace sparsefix {

// Base-0 compressed-row arrays of an n x n matrix.
struct Csr {
  int n = 0;
  std::vector<double> val;
  std::vector<int> row_ptr;
  std::vector<int> col_ind;
  int nz() const { return static_cast<int>(val.size()); }
  dense::Matrix toDense() const {
    return dense::fromCompressedRows(n, val.data(), row_ptr.data(), col_ind.data());
  }
};

// Dense row-major matrix (rows ascending, columns ascending) to compressed
// rows, keeping every entry whose value is not 0.
inline Csr fromDense(const dense::Matrix& m) {
  Csr a;
  a.n = m.n;
  a.row_ptr.push_back(0);
  for (int i = 0; i < m.n; ++i) {
    for (int j = 0; j < m.n; ++j)
      if (m(i, j) != 0.0) {
        a.val.push_back(m(i, j));
        a.col_ind.push_back(j);
      }
    a.row_ptr.push_back(static_cast<int>(a.val.size()));
  }
  return a;
}

// Non-symmetric 5-point operator on an nx x ny grid (diffusion plus a
// convection term), diagonally dominant: 4 + 0.5 on the diagonal, -1 -/+ c
// to the left/right neighbours, -1 -/+ c/2 up/down.
inline dense::Matrix gridMatrix(int nx, int ny, double c = 0.3) {
  dense::Matrix m(nx * ny);
  for (int y = 0; y < ny; ++y)
    for (int x = 0; x < nx; ++x) {
      const int r = y * nx + x;
      m(r, r) = 4.5;
      if (x > 0) m(r, r - 1) = -1.0 - c;
      if (x + 1 < nx) m(r, r + 1) = -1.0 + c;
      if (y > 0) m(r, r - nx) = -1.0 - c / 2;
      if (y + 1 < ny) m(r, r + nx) = -1.0 + c / 2;
    }
  return m;
}

// Non-symmetric tridiagonal matrix: diagonal d_i = 3 + i/4, sub-diagonal
// -1 - i/8, super-diagonal 0.5 + i/16 (i = row).
inline dense::Matrix tridiagonal(int n) {
  dense::Matrix m(n);
  for (int i = 0; i < n; ++i) {
    m(i, i) = 3.0 + i / 4.0;
    if (i > 0) m(i, i - 1) = -1.0 - i / 8.0;
    if (i + 1 < n) m(i, i + 1) = 0.5 + i / 16.0;
  }
  return m;
}

}  // namespace sparsefix
