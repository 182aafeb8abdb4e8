// Read-only view of the raw arrays of a compressed-row matrix, for the
// kernels that work on raw arrays (sparse_sweeps.h). The view owns nothing:
// the matrix or preconditioner it comes from must outlive it.
#pragma once

struct CsrArrays {
  int n = 0;                     // number of rows
  const double* val = nullptr;   // stored values, row after row
  const int* col = nullptr;      // 0-based column index of each value
  const int* ptr = nullptr;      // n + 1 row starts: row k holds entries
                                 // ptr[k] - ptr[0] .. ptr[k + 1] - ptr[0] - 1
};
