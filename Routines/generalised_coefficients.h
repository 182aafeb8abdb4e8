// Coefficient images of the generalised local-global model, and the blocks
// that fill them for the two passes of its Hessian.
//
// The model couples every unknown with its partners at the distances
// l = neta ... lo along four directions: right (x + l, y), down (x, y + l),
// right-down (x + l, y + l) and right-up (x + l, y - l). An nc x nl image has
// U(x, y) as unknown y*nc + x and V(x, y) as unknown nc*nl + y*nc + x; pass 1
// builds the coefficients of the U rows, pass 2 those of the V rows.
//
// In both passes a CouplingSet holds the coefficients of one unknown's
// columns (A1: U columns, A2: V columns): `ij` the coupling to the row's own
// pixel, and per distance (element k for l = neta + k) one image per partner,
// named by its offset (i the row y, j the column x; "l" plus, "_l" minus l):
// ijl (x + l, y), ij_l (x - l, y), ilj (x, y + l), i_lj (x, y - l),
// iljl (x + l, y + l), i_lj_l (x - l, y - l), ilj_l (x - l, y + l),
// i_ljl (x + l, y - l). A coefficient equal to kAbsentEntry is no entry.
//
// A distance l has axis couplings normalised by
//   gamma_HV = 2*((nc - 2l)*nl + (nl - 2l)*nc)
// and, inside the diagonal window, diagonal couplings normalised by
//   gamma_Cross = 4*(nc - 2l)*(nl - 2l),
// both doubled in transverse mode; a distance whose normaliser is not
// positive adds nothing to the couplings it normalises.
#pragma once

#include "CImg.h"

// Coefficients of one unknown's columns in the rows of one pass.
struct CouplingSet {
  cimg_library::CImg<double> ij;
  cimg_library::CImgList<double> ijl, ij_l, ilj, i_lj;
  cimg_library::CImgList<double> iljl, i_lj_l, ilj_l, i_ljl;
};

// 0/1 indicators by distance, element l for l = 0 ... lo (all zero below
// neta): IndLine1[l](x) = [l <= x < nc - l], IndLine2[l](x) = [x >= 2l],
// IndLine3[l](x) = [x < nc - 2l] (images nc x 1); IndCol1..3 the same along
// y (images 1 x nl). colOfOne (1 x nl) and lineOfOne (nc x 1) hold ones.
struct DistanceMasks {
  cimg_library::CImgList<double> IndLine1, IndLine2, IndLine3;
  cimg_library::CImgList<double> IndCol1, IndCol2, IndCol3;
  cimg_library::CImg<double> colOfOne, lineOfOne;
};

// The eight weight lists of the caller, element k for distance neta + k:
// normal weights of the four directions, then the transverse ones.
struct DirectionWeights {
  const cimg_library::CImgList<double>& z_right;
  const cimg_library::CImgList<double>& z_down;
  const cimg_library::CImgList<double>& z_rightDown;
  const cimg_library::CImgList<double>& z_rightUp;
  const cimg_library::CImgList<double>& z_t_right;
  const cimg_library::CImgList<double>& z_t_down;
  const cimg_library::CImgList<double>& z_t_rightDown;
  const cimg_library::CImgList<double>& z_t_rightUp;
};

// Everything one worker call builds from its arguments.
struct GeneralisedModel {
  GeneralisedModel(int nc_, int nl_, int neta_, int lo_,
                   const cimg_library::CImg<double>& data_out_,
                   const cimg_library::CImg<double>& lambda_S2_,
                   const cimg_library::CImg<double>& lambda_S2_cross_, const DirectionWeights& z_)
      : nc(nc_),
        nl(nl_),
        neta(neta_),
        lo(lo_),
        data_out(data_out_),
        lambda_S2(lambda_S2_),
        lambda_S2_cross(lambda_S2_cross_),
        z(z_) {}

  int nc, nl, neta, lo;
  bool transverse = false;  // transverse weights take part: the normalisers double
  cimg_library::CImg<double> IxIx, IyIy, IxIy;        // data products, blurred
  const cimg_library::CImg<double>& data_out;         // data weights
  const cimg_library::CImg<double>& lambda_S2;        // axis weight of l at flat index l
  const cimg_library::CImg<double>& lambda_S2_cross;  // diagonal weight of l at index l
  DirectionWeights z;
  DistanceMasks masks;
  CouplingSet A1, A2;
  // Five-point images the Dirichlet step of the centre writes; never read.
  cimg_library::CImg<double> i_1j, i1j, ij_1, ij1;
};

// True when distance l takes diagonal couplings:
// max(1, trunc(neta/sqrt 2)) <= l <= trunc(lo/sqrt 2) + 1.
bool diagonalDistance(int neta, int lo, int l);

// The indicator lists of an nc x nl image for the distances up to lo.
DistanceMasks buildDistanceMasks(int nc, int nl, int neta, int lo);

// Allocates the coefficient images and lists of `m` (max(0, lo - neta + 1)
// images per list, nc x nl, zero); with `dirichlet` also the five-point
// images of the Dirichlet step.
void allocateCoefficients(GeneralisedModel& m, bool dirichlet);

// Pass 1 (U rows): A1 = data term IxIx*rho, axis couplings (z_right along
// x, z_t_down along y) and diagonal couplings to U; A2 = IxIy*rho and the
// diagonal couplings to V. Zero couplings become kAbsentEntry.
void buildPass1(GeneralisedModel& m);

// Pass 2 (V rows): A1 = IxIy*rho and the diagonal couplings to U; A2 = data
// term IyIy*rho, axis couplings (z_down along y, z_t_right along x) and
// diagonal couplings to V. Zero couplings become kAbsentEntry.
void buildPass2(GeneralisedModel& m);

// Dirichlet borders after pass `pass` (1 or 2): the frame rows become
// identity rows (own centre 1.0, the other unknown's centre 0.0) and every
// coupling that starts or ends on the one-pixel frame is cleared to 0.0.
void applyDirichletBorders(GeneralisedModel& m, int pass);
