// Assembly of the Horn-Schunck Hessian in compressed rows, one linear pass
// per block (U rows, then V rows) with the border coefficients of the
// periodic or Neumann stencil decided per pixel.
#include "hessian_assembly.h"

#include <cassert>
#include <climits>
#include <string>

#include "CImg.h"
#include "boundary_conditions.h"
#include "refusal.h"

using cimg_library::CImg;
using cimg_library::CImgList;

long long hessianStoredCount(int nc, int nl, bool periodic) {
  if (nc <= 0 || nl <= 0) return 0;
  const long long c = nc, l = nl;
  const long long ncnl = c * l;
  const long long nombreLap = periodic ? 5 * l * c : (5 * l - 2) * (c - 2) + 8 * l - 4;
  return 2 * (nombreLap + ncnl);
}

int hessianNombre(int nc, int nl, bool periodic) {
  const long long count = hessianStoredCount(nc, nl, periodic);
  const long long taille = nc > 0 && nl > 0 ? 2LL * nc * nl : 0;
  if (count > INT_MAX || taille > INT_MAX) {
    refuse("Error: a level of " + std::to_string(nc) + " x " + std::to_string(nl) +
           " pixels is too large for the sparse Hessian (" + std::to_string(taille) +
           " unknowns, " + std::to_string(count) + " stored entries; at most " +
           std::to_string(INT_MAX) + " each)");
  }
  return static_cast<int>(count);
}

namespace {

// Appends entries to the compressed-row arrays.
struct RowWriter {
  double* val;
  int* col_ind;
  int n = 0;
  void always(double v, int c) {
    val[n] = v;
    col_ind[n] = c;
    ++n;
  }
  void unlessAbsent(double v, int c) {
    if (v != kAbsentEntry) always(v, c);
  }
};

// Link weights of pixel (x, y): right, left, lower, upper; the left and
// upper ones wrap around (their links leave the image in Neumann mode and
// are taken out of the diagonal again by the border rule).
struct RobustWeights {
  const CImg<double>& z0;
  const CImg<double>& z1;
  int nc, nl;
  void at(int x, int y, double& wE, double& wW, double& wS, double& wN) const {
    wE = z0(x, y);
    wW = z0(x > 0 ? x - 1 : nc - 1, y);
    wS = z1(x, y);
    wN = z1(x, y > 0 ? y - 1 : nl - 1);
  }
};

struct UnitWeights {
  void at(int, int, double& wE, double& wW, double& wS, double& wN) const {
    wE = wW = wS = wN = 1.0;
  }
};

// Coefficients of one row of a block: diagonal and the four neighbour
// couplings, after the border rule of the chosen mode.
struct Stencil {
  double diag, north, south, west, east;
};

// Smoothness part of a row: a * (((wS + wN) + wE) + wW) on the diagonal and
// -a*w towards each neighbour; with Neumann borders a coupling that leaves
// the image is added to the diagonal (left, right, top, bottom) and dropped.
inline Stencil stencil(double dataDiag, double a, double wE, double wW, double wS, double wN,
                       int x, int y, int nc, int nl, bool periodic) {
  Stencil s{dataDiag + a * (((wS + wN) + wE) + wW), -a * wN, -a * wS, -a * wW, -a * wE};
  if (!periodic) {
    if (x == 0) {
      s.diag += s.west;
      s.west = kAbsentEntry;
    }
    if (x == nc - 1) {
      s.diag += s.east;
      s.east = kAbsentEntry;
    }
    if (y == 0) {
      s.diag += s.north;
      s.north = kAbsentEntry;
    }
    if (y == nl - 1) {
      s.diag += s.south;
      s.south = kAbsentEntry;
    }
  }
  return s;
}

// Entries of one block row, in the order: lower wrap partner, upper
// neighbour, right wrap partner, left neighbour, diagonal, right neighbour,
// left wrap partner, lower neighbour, upper wrap partner. `off` is 0 for
// the U block and nc*nl for the V block.
inline void writeStencilRow(RowWriter& w, const Stencil& s, int x, int y, int nc, int nl,
                            int off, bool periodic) {
  const int k = y * nc + x;
  if (periodic) {
    if (y == nl - 1) w.unlessAbsent(s.south, off + x);
    if (y > 0) w.unlessAbsent(s.north, off + k - nc);
    if (x == nc - 1) w.unlessAbsent(s.east, off + y * nc);
    if (x > 0) w.unlessAbsent(s.west, off + k - 1);
    w.always(s.diag, off + k);
    if (x < nc - 1) w.unlessAbsent(s.east, off + k + 1);
    if (x == 0) w.unlessAbsent(s.west, off + y * nc + nc - 1);
    if (y < nl - 1) w.unlessAbsent(s.south, off + k + nc);
    if (y == 0) w.unlessAbsent(s.north, off + (nl - 1) * nc + x);
  } else {
    if (y > 0) w.unlessAbsent(s.north, off + k - nc);
    if (x > 0) w.unlessAbsent(s.west, off + k - 1);
    w.always(s.diag, off + k);
    if (x < nc - 1) w.unlessAbsent(s.east, off + k + 1);
    if (y < nl - 1) w.unlessAbsent(s.south, off + k + nc);
  }
}

template <typename Weights>
void assemble(double* val, int* col_ind, int* row_ptr, const CImg<double>& im_x,
              const CImg<double>& im_y, const CImg<double>& data_out, const Weights& weights,
              float alpha, int nombre, bool periodic) {
  const int nc = im_x.width(), nl = im_x.height();
  const int count = hessianNombre(nc, nl, periodic);
  assert(nombre >= count);
  (void)nombre;
  row_ptr[0] = 0;
  if (nc == 0 || nl == 0) return;
  assert(im_y.width() == nc && im_y.height() >= nl);
  assert(data_out.width() == nc && data_out.height() >= nl);
  const int ncnl = nc * nl;
  const double a = alpha;
  RowWriter w{val, col_ind};
  double wE, wW, wS, wN;
  // U rows.
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int k = y * nc + x;
      const double rho = data_out(x, y), Ix = im_x(x, y), Iy = im_y(x, y);
      weights.at(x, y, wE, wW, wS, wN);
      const Stencil s = stencil((Ix * Ix) * rho, a, wE, wW, wS, wN, x, y, nc, nl, periodic);
      writeStencilRow(w, s, x, y, nc, nl, 0, periodic);
      w.always((Ix * Iy) * rho, ncnl + k);
      row_ptr[k + 1] = w.n;
    }
  // V rows: the coupling to U(x, y) comes first.
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int k = y * nc + x;
      const double rho = data_out(x, y), Ix = im_x(x, y), Iy = im_y(x, y);
      weights.at(x, y, wE, wW, wS, wN);
      w.always((Ix * Iy) * rho, k);
      const Stencil s = stencil((Iy * Iy) * rho, a, wE, wW, wS, wN, x, y, nc, nl, periodic);
      writeStencilRow(w, s, x, y, nc, nl, ncnl, periodic);
      row_ptr[ncnl + k + 1] = w.n;
    }
  assert(w.n <= count);
}

}  // namespace

void fillingSparseHessian_A_HS(double* val, int* col_ind, int* row_ptr, const CImg<double>& im_x,
                               const CImg<double>& im_y, const CImg<double>& data_out,
                               const CImgList<double>& reg_out, float alpha, int nombre,
                               bool periodic) {
  const int nc = im_x.width(), nl = im_x.height();
  assert(nc == 0 || nl == 0 ||
         (reg_out.size() >= 2 && reg_out[0].width() == nc && reg_out[0].height() >= nl &&
          reg_out[1].width() == nc && reg_out[1].height() >= nl));
  const RobustWeights weights = nc > 0 && nl > 0 ? RobustWeights{reg_out[0], reg_out[1], nc, nl}
                                                  : RobustWeights{im_x, im_x, nc, nl};
  assemble(val, col_ind, row_ptr, im_x, im_y, data_out, weights, alpha, nombre, periodic);
}

void fillingSparseHessian_A_HS(double* val, int* col_ind, int* row_ptr, const CImg<double>& im_x,
                               const CImg<double>& im_y, const CImg<double>& data_out, float alpha,
                               int nombre, bool periodic) {
  assemble(val, col_ind, row_ptr, im_x, im_y, data_out, UnitWeights{}, alpha, nombre, periodic);
}
