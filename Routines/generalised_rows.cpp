// Storing and counting the rows of the generalised model's Hessian, and its
// ILU(0) log-determinant.
#include "generalised_rows.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "boundary_conditions.h"
#include "generalised_coefficients.h"
#include "level_solve.h"
#include "refusal.h"

using cimg_library::CImgList;

namespace {

// Appends one entry (value v, column col) to the rows; an image whose
// count would pass INT_MAX is refused.
void put(HessianRows& rows, int nc, int nl, double v, long long col) {
  if (rows.count >= INT_MAX) refuseOversizedCount(nc, nl, rows.count + 1);
  if (rows.storing) {
    if (rows.count == static_cast<long long>(rows.val.size())) {
      const long long grown =
          std::min<long long>(INT_MAX, std::max<long long>(2 * rows.count, 1024));
      rows.val.resize(grown, 0.0);
      rows.col_ind.resize(grown, 0);
    }
    rows.val[rows.count] = v;
    rows.col_ind[rows.count] = static_cast<int>(col);
  }
  ++rows.count;
}

// The candidates of one row for the columns of one unknown (coefficients
// `s`, column offset `off`).
struct RowCandidates {
  const GeneralisedModel& m;
  const std::vector<char>& diagonal;  // diagonal window, element l - neta
  HessianRows& rows;

  void partner(const CImgList<double>& list, int k, int x, int y, int px, int py, long long off) {
    if (px < 0 || px >= m.nc || py < 0 || py >= m.nl) return;
    const double v = list[k](x, y);
    if (v != v || v == kAbsentEntry) return;
    put(rows, m.nc, m.nl, v, off + static_cast<long long>(py) * m.nc + px);
  }

  void above(const CouplingSet& s, int l, int x, int y, long long off) {
    const int k = l - m.neta;
    if (diagonal[k]) partner(s.i_lj_l, k, x, y, x - l, y - l, off);
    partner(s.i_lj, k, x, y, x, y - l, off);
    if (diagonal[k]) partner(s.i_ljl, k, x, y, x + l, y - l, off);
  }

  void unknown(const CouplingSet& s, bool aboveRising, int x, int y, long long off) {
    const int neta = m.neta, lo = m.lo;
    if (aboveRising)
      for (int l = neta; l <= lo; ++l) above(s, l, x, y, off);
    else
      for (int l = lo; l >= neta; --l) above(s, l, x, y, off);
    for (int l = lo; l >= neta; --l) partner(s.ij_l, l - neta, x, y, x - l, y, off);
    put(rows, m.nc, m.nl, s.ij(x, y), off + static_cast<long long>(y) * m.nc + x);
    for (int l = neta; l <= lo; ++l) partner(s.ijl, l - neta, x, y, x + l, y, off);
    for (int l = neta; l <= lo; ++l) {
      const int k = l - neta;
      if (diagonal[k]) partner(s.ilj_l, k, x, y, x - l, y + l, off);
      partner(s.ilj, k, x, y, x, y + l, off);
      if (diagonal[k]) partner(s.iljl, k, x, y, x + l, y + l, off);
    }
  }
};

}  // namespace

HessianRows rowCounter() { return HessianRows{}; }

HessianRows rowStore(int taille, int nombre) {
  HessianRows rows;
  rows.storing = true;
  rows.capacity = static_cast<long long>(static_cast<double>(nombre) * 1.2);
  const long long allocated = std::min<long long>(std::max<long long>(rows.capacity, 0), INT_MAX);
  rows.val.assign(allocated, 0.0);
  rows.col_ind.assign(allocated, 0);
  rows.row_ptr.assign(static_cast<long long>(taille) + 1, 0);
  return rows;
}

void addRows(const GeneralisedModel& m, int pass, HessianRows& rows) {
  std::vector<char> diagonal;
  for (int l = m.neta; l <= m.lo; ++l) diagonal.push_back(diagonalDistance(m.neta, m.lo, l));
  RowCandidates row{m, diagonal, rows};
  const long long ncnl = static_cast<long long>(m.nc) * m.nl;
  const long long first = pass == 1 ? 0 : ncnl;
  for (int y = 0; y < m.nl; ++y)
    for (int x = 0; x < m.nc; ++x) {
      row.unknown(m.A1, pass == 2, x, y, 0);
      row.unknown(m.A2, false, x, y, ncnl);
      if (rows.storing)
        rows.row_ptr[first + static_cast<long long>(y) * m.nc + x + 1] =
            static_cast<int>(rows.count);
    }
}

void finishStore(const HessianRows& rows) {
  if (rows.count > rows.capacity)
    std::printf(
        "ERROR : number non zero elements in Hessian matrix with Dirichlet conditions !!! %lld\n",
        rows.count);
}

double rowsLogDet(HessianRows& rows, int taille) {
  return ILU_logDetA(taille, static_cast<int>(rows.val.size()), rows.val.data(),
                     rows.row_ptr.data(), rows.col_ind.data());
}

void refuseOversizedCount(int nc, int nl, long long count) {
  const long long floor = 4LL * std::max(nc, 0) * std::max(nl, 0);
  const long long need = std::max(floor, count);
  if (need <= INT_MAX) return;
  refuse("Error: an image of " + std::to_string(nc) + " x " + std::to_string(nl) +
         " pixels is too large for the generalised Hessian (" + std::to_string(need) +
         " stored entries; at most " + std::to_string(INT_MAX) + ")");
}
