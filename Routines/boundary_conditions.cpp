// Stencil boundary conditions: periodic, Neumann and Dirichlet rewrites of
// the coefficient images, and the removal of zero diagonal couplings.
#include "boundary_conditions.h"

#include <cassert>

#include "CImg.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

bool covers(const CImg<double>& img, int nc, int nl) {
  return img.width() >= nc && img.height() >= nl;
}

bool holdsDistances(const CImgList<double>& list, int nc, int nl, int neta, int lo) {
  if (static_cast<long long>(list.size()) < static_cast<long long>(lo) - neta + 1) return false;
  for (int e = 0; e <= lo - neta; ++e)
    if (!covers(list[e], nc, nl)) return false;
  return true;
}

// Dirichlet zeroing rule: cut a coupling to 0.0 unless it is absent.
inline void cut(CImg<double>& img, int x, int y) {
  assert(x >= 0 && x < img.width() && y >= 0 && y < img.height());
  double& c = img(x, y);
  if (c != kAbsentEntry) c = 0.0;
}

// Checks shared by the Dirichlet list functions, once lo >= neta and the
// frame is not empty.
bool distancesFitFrame(int nc, int nl, int neta, int lo) {
  return neta >= 0 && lo <= nc - 1 && lo <= nl - 1;
}

}  // namespace

void fixPeriodConditions(int nc, int nl, CImg<double>& A1_i_1j, CImg<double>& A1_i1j,
                         CImg<double>& A1_ij_1, CImg<double>& A1_ij1, CImg<double>& A1_ijnc,
                         CImg<double>& A1_ij0, CImg<double>& A1_inlj, CImg<double>& A1_i0j) {
  if (nc <= 0 || nl <= 0) return;
  assert(covers(A1_i_1j, nc, nl) && covers(A1_i1j, nc, nl) && covers(A1_ij_1, nc, nl) &&
         covers(A1_ij1, nc, nl) && covers(A1_ijnc, nc, nl) && covers(A1_ij0, nc, nl) &&
         covers(A1_inlj, nc, nl) && covers(A1_i0j, nc, nl));
  // Pixel by pixel in the order of the tests, as a corner meets two of them.
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      if (x == 0) {
        A1_ijnc(x, y) = A1_ij_1(x, y);
        A1_ij_1(x, y) = kAbsentEntry;
      }
      if (x == nc - 1) {
        A1_ij0(x, y) = A1_ij1(x, y);
        A1_ij1(x, y) = kAbsentEntry;
      }
      if (y == 0) {
        A1_inlj(x, y) = A1_i_1j(x, y);
        A1_i_1j(x, y) = kAbsentEntry;
      }
      if (y == nl - 1) {
        A1_i0j(x, y) = A1_i1j(x, y);
        A1_i1j(x, y) = kAbsentEntry;
      }
    }
}

void fixNeumannConditions(int nc, int nl, CImg<double>& A1_i_1j, CImg<double>& A1_ij,
                          CImg<double>& A1_i1j, CImg<double>& A1_ij_1, CImg<double>& A1_ij1) {
  if (nc <= 0 || nl <= 0) return;
  assert(covers(A1_i_1j, nc, nl) && covers(A1_ij, nc, nl) && covers(A1_i1j, nc, nl) &&
         covers(A1_ij_1, nc, nl) && covers(A1_ij1, nc, nl));
  // Pixel by pixel, so that a corner's diagonal receives its two additions
  // in the order left, right, top, bottom.
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      if (x == 0) {
        A1_ij(x, y) += A1_ij_1(x, y);
        A1_ij_1(x, y) = kAbsentEntry;
      }
      if (x == nc - 1) {
        A1_ij(x, y) += A1_ij1(x, y);
        A1_ij1(x, y) = kAbsentEntry;
      }
      if (y == 0) {
        A1_ij(x, y) += A1_i_1j(x, y);
        A1_i_1j(x, y) = kAbsentEntry;
      }
      if (y == nl - 1) {
        A1_ij(x, y) += A1_i1j(x, y);
        A1_i1j(x, y) = kAbsentEntry;
      }
    }
}

void fixDirichletConditions(int nc, int nl, CImgList<double>& A_i_lj, CImgList<double>& A_ij_l,
                            CImgList<double>& A_ijl, CImgList<double>& A_ilj, int neta, int lo) {
  if (lo < neta || nc <= 0 || nl <= 0) return;
  assert(distancesFitFrame(nc, nl, neta, lo));
  assert(holdsDistances(A_i_lj, nc, nl, neta, lo) && holdsDistances(A_ij_l, nc, nl, neta, lo) &&
         holdsDistances(A_ijl, nc, nl, neta, lo) && holdsDistances(A_ilj, nc, nl, neta, lo));
  // Columns 0, l, nc-1-l and nc-1, every row.
  for (int y = 0; y < nl; ++y)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_ijl[e], 0, y);
      cut(A_ij_l[e], l, y);
      cut(A_ij_l[e], nc - 1, y);
      cut(A_ijl[e], nc - 1 - l, y);
      cut(A_ilj[e], 0, y);
      if (y + l < nl) cut(A_i_lj[e], 0, y + l);
      cut(A_i_lj[e], nc - 1, y);
      if (y - l >= 0) cut(A_ilj[e], nc - 1, y - l);
    }
  // Rows 0, l, nl-1-l and nl-1, every column.
  for (int x = 0; x < nc; ++x)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_ijl[e], x, 0);
      if (x + l < nc) cut(A_ij_l[e], x + l, 0);
      cut(A_ij_l[e], x, nl - 1);
      if (x - l >= 0) cut(A_ijl[e], x - l, nl - 1);
      cut(A_ilj[e], x, 0);
      cut(A_i_lj[e], x, l);
      cut(A_i_lj[e], x, nl - 1);
      cut(A_ilj[e], x, nl - 1 - l);
    }
}

void fixDirichletConditions(int nc, int nl, CImg<double>& A_i_1j, CImg<double>& A_ij,
                            CImg<double>& A_i1j, CImg<double>& A_ij_1, CImg<double>& A_ij1) {
  if (nc <= 0 || nl <= 0) return;
  assert(nc >= 2 && nl >= 2);
  assert(covers(A_i_1j, nc, nl) && covers(A_ij, nc, nl) && covers(A_i1j, nc, nl) &&
         covers(A_ij_1, nc, nl) && covers(A_ij1, nc, nl));
  const auto identityRow = [&](int x, int y) {
    A_ij(x, y) = 1.0;
    A_ij1(x, y) = 0.0;
    A_ij_1(x, y) = 0.0;
    A_i_1j(x, y) = 0.0;
    A_i1j(x, y) = 0.0;
  };
  for (int x = 0; x < nc; ++x) {
    identityRow(x, 0);
    A_i_1j(x, 1) = 0.0;
    identityRow(x, nl - 1);
    A_i1j(x, nl - 2) = 0.0;
  }
  for (int y = 0; y < nl; ++y) {
    identityRow(0, y);
    A_ij_1(1, y) = 0.0;
    identityRow(nc - 1, y);
    A_ij1(nc - 2, y) = 0.0;
  }
  for (int x = 0; x < nc; ++x) {
    A_i_1j(x, 0) = kAbsentEntry;
    A_i1j(x, nl - 1) = kAbsentEntry;
  }
  for (int y = 0; y < nl; ++y) {
    A_ij_1(0, y) = kAbsentEntry;
    A_ij1(nc - 1, y) = kAbsentEntry;
  }
}

void fixDirichletConditions_cross(int nc, int nl, CImgList<double>& A_i_lj_l,
                                  CImgList<double>& A_i_ljl, CImgList<double>& A_ilj_l,
                                  CImgList<double>& A_iljl, int neta, int lo) {
  if (lo < neta || nc <= 0 || nl <= 0) return;
  assert(distancesFitFrame(nc, nl, neta, lo));
  assert(holdsDistances(A_i_lj_l, nc, nl, neta, lo) &&
         holdsDistances(A_i_ljl, nc, nl, neta, lo) &&
         holdsDistances(A_ilj_l, nc, nl, neta, lo) && holdsDistances(A_iljl, nc, nl, neta, lo));
  // Down-right and up-left couplings: columns, then rows.
  for (int y = 0; y < nl; ++y)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_iljl[e], 0, y);
      if (y + l < nl) cut(A_i_lj_l[e], l, y + l);
      cut(A_i_lj_l[e], nc - 1, y);
      if (y - l >= 0) cut(A_iljl[e], nc - 1 - l, y - l);
    }
  for (int x = 0; x < nc; ++x)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_iljl[e], x, 0);
      if (x + l < nc) cut(A_i_lj_l[e], x + l, l);
      cut(A_i_lj_l[e], x, nl - 1);
      if (x - l >= 0) cut(A_iljl[e], x - l, nl - 1 - l);
    }
  // Up-right and down-left couplings: columns, then rows.
  for (int y = 0; y < nl; ++y)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_i_ljl[e], 0, y);
      if (y - l >= 0) cut(A_ilj_l[e], l, y - l);
      cut(A_ilj_l[e], nc - 1, y);
      if (y + l < nl) cut(A_i_ljl[e], nc - 1 - l, y + l);
    }
  for (int x = 0; x < nc; ++x)
    for (int l = lo; l >= neta; --l) {
      const int e = l - neta;
      cut(A_ilj_l[e], x, 0);
      if (x - l >= 0) cut(A_i_ljl[e], x - l, l);
      cut(A_i_ljl[e], x, nl - 1);
      if (x + l < nc) cut(A_ilj_l[e], x + l, nl - 1 - l);
    }
}

void fixDirichletConditions_cross(int nc, int nl, CImg<double>& A_ij, CImgList<double>& A_i_lj_l,
                                  CImgList<double>& A_i_ljl, CImgList<double>& A_ilj_l,
                                  CImgList<double>& A_iljl, int neta, int lo) {
  fixDirichletConditions_cross(nc, nl, A_i_lj_l, A_i_ljl, A_ilj_l, A_iljl, neta, lo);
  if (nc <= 0 || nl <= 0) return;
  assert(covers(A_ij, nc, nl));
  for (int x = 0; x < nc; ++x) {
    A_ij(x, 0) = 0.0;
    A_ij(x, nl - 1) = 0.0;
  }
  for (int y = 0; y < nl; ++y) {
    A_ij(0, y) = 0.0;
    A_ij(nc - 1, y) = 0.0;
  }
}

void excludeWhite(int neta, int lo, CImgList<double>& A_iljl, CImgList<double>& A_i_lj_l,
                  CImgList<double>& A_i_ljl, CImgList<double>& A_ilj_l) {
  if (lo < neta || A_iljl.size() == 0) return;
  const int nc = A_iljl[0].width();
  const int nl = A_iljl[0].height();
  if (nc == 0 || nl == 0) return;
  assert(holdsDistances(A_iljl, nc, nl, neta, lo) && holdsDistances(A_i_lj_l, nc, nl, neta, lo) &&
         holdsDistances(A_i_ljl, nc, nl, neta, lo) && holdsDistances(A_ilj_l, nc, nl, neta, lo));
  CImgList<double>* const lists[4] = {&A_iljl, &A_i_lj_l, &A_i_ljl, &A_ilj_l};
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x)
      for (int e = 0; e <= lo - neta; ++e)
        for (CImgList<double>* list : lists) {
          double& c = (*list)[e](x, y);
          if (c == 0.0) c = kAbsentEntry;
        }
}
