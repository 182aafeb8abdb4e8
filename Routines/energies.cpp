// Data and regularisation energies. Each is evaluated as whole-image
// pointwise operations in a fixed grouping, which fixes the rounding of the
// result, and ends in one sum over all elements.
#include "energies.h"

#include <cmath>

#include "CImg.h"
#include "cimg_sum.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Centred-difference masks of the second-order energy. maskX (1 column,
// 3 rows) gives the vertical difference dy f = (f(x, y+1) - f(x, y-1)) / 2,
// maskY (3 columns, 1 row) the horizontal one dx f = (f(x+1, y) - f(x-1, y)) / 2.
CImg<double> maskX() { return CImg<double>(1, 3, 1, 1, -0.5, 0.0, 0.5); }
CImg<double> maskY() { return CImg<double>(3, 1, 1, 1, -0.5, 0.0, 0.5); }

// Pointwise power d^p: p = 0 gives 1, 0.5 the square root, 1 the value,
// 2, 3 and 4 the repeated product, any other p std::pow. Written out here
// rather than taken from the image library, whose special cases vary
// between versions.
CImg<double> powerImage(const CImg<double>& d, double p) {
  CImg<double> r(d);
  if (p == 1) return r;
  cimg_for(r, ptr, double) {
    const double v = *ptr;
    if (p == 0)
      *ptr = 1.0;
    else if (p == 0.5)
      *ptr = std::sqrt(v);
    else if (p == 2)
      *ptr = v * v;
    else if (p == 3)
      *ptr = v * v * v;
    else if (p == 4)
      *ptr = v * v * v * v;
    else
      *ptr = std::pow(v, p);
  }
  return r;
}

// Image of 1.0 with the dimensions of `like`.
CImg<double> ones(const CImg<double>& like) {
  return CImg<double>(like.width(), like.height(), like.depth(), like.spectrum(), 1.0);
}

// 1/2 sum of ((a + b) + c) + d.
double halfSumOfFour(const CImg<double>& a, const CImg<double>& b, const CImg<double>& c,
                     const CImg<double>& d) {
  CImg<double> s = a + b;
  s += c;
  s += d;
  return cimgSum(s * 0.5);
}

}  // namespace

double DataEnergy(const CImg<double>& U, const CImg<double>& V, const CImg<double>& IxIx,
                  const CImg<double>& IyIy, const CImg<double>& IxIy, const CImg<double>& ItIx,
                  const CImg<double>& ItIy, const CImg<double>& ItIt, CImg<double> data_out) {
  // Quadratic part: 1/2 sum rho ((IxIx U) U + 2 ((IxIy U) V) + (IyIy V) V).
  CImg<double> quad = IxIx.get_mul(U).get_mul(U) + IxIy.get_mul(U).get_mul(V) * 2.0;
  quad += IyIy.get_mul(V).get_mul(V);
  const double Q = cimgSum(quad.get_mul(data_out)) * 0.5;

  // Linear part: sum rho ((ItIx U) + (ItIy V) + 0.5 ItIt).
  CImg<double> lin = ItIx.get_mul(U) + ItIy.get_mul(V);
  lin += ItIt * 0.5;
  const double L = cimgSum(lin.get_mul(data_out));

  return L + Q;
}

double PriorEnergyHS_powK_1st(const CImg<double>& U, const CImg<double>& V,
                              const CImgList<double>& reg_out, double power, bool periodic) {
  return halfSumOfFour(GradRobX_powK(U, reg_out[0], power, periodic),
                       GradRobY_powK(U, reg_out[1], power, periodic),
                       GradRobX_powK(V, reg_out[0], power, periodic),
                       GradRobY_powK(V, reg_out[1], power, periodic));
}

double PriorEnergyHS_powK_1st(const CImg<double>& U, const CImg<double>& V, double power,
                              bool periodic) {
  return halfSumOfFour(GradRobX_powK(U, ones(U), power, periodic),
                       GradRobY_powK(U, ones(U), power, periodic),
                       GradRobX_powK(V, ones(V), power, periodic),
                       GradRobY_powK(V, ones(V), power, periodic));
}

double PriorEnergyHS_powK_2nd(const CImg<double>& U, const CImg<double>& V,
                              const CImgList<double>& reg_out, double power, bool periodic) {
  const CImg<double> mx = maskX(), my = maskY();
  const CImg<double> dyU = powerImage(Filtre_2D(U, mx, periodic), power);
  const CImg<double> dxU = powerImage(Filtre_2D(U, my, periodic), power);
  const CImg<double> dyV = powerImage(Filtre_2D(V, mx, periodic), power);
  const CImg<double> dxV = powerImage(Filtre_2D(V, my, periodic), power);
  return halfSumOfFour(dyU.get_mul(reg_out[0]), dxU.get_mul(reg_out[1]),
                       dyV.get_mul(reg_out[0]), dxV.get_mul(reg_out[1]));
}

double PriorEnergyHS_2nd(const CImg<double>& U, const CImg<double>& V,
                         const CImgList<double>& reg_out, bool periodic) {
  const CImg<double> mx = maskX(), my = maskY();
  const CImg<double> dyU = Filtre_2D(U, mx, periodic), dxU = Filtre_2D(U, my, periodic);
  const CImg<double> dyV = Filtre_2D(V, mx, periodic), dxV = Filtre_2D(V, my, periodic);
  return halfSumOfFour(dyU.get_mul(dyU).get_mul(reg_out[0]), dxU.get_mul(dxU).get_mul(reg_out[1]),
                       dyV.get_mul(dyV).get_mul(reg_out[0]), dxV.get_mul(dxV).get_mul(reg_out[1]));
}

double PriorEnergyHS_2nd(const CImg<double>& U, const CImg<double>& V, bool periodic) {
  const CImg<double> mx = maskX(), my = maskY();
  const CImg<double> dyU = Filtre_2D(U, mx, periodic), dxU = Filtre_2D(U, my, periodic);
  const CImg<double> dyV = Filtre_2D(V, mx, periodic), dxV = Filtre_2D(V, my, periodic);
  return halfSumOfFour(dyU.get_mul(dyU), dxU.get_mul(dxU), dyV.get_mul(dyV), dxV.get_mul(dxV));
}
