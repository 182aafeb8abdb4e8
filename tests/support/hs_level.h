// Random Horn-Schunck levels and their assembled Hessian, for the assembly
// and level-solve tests.
#pragma once

#include <random>
#include <vector>

#include "CImg.h"
#include "dense_reference.h"
#include "hessian_assembly.h"

namespace hs_test {

using cimg_library::CImg;
using cimg_library::CImgList;

// A random level: derivatives, data weights (a few zero) and link weights.
struct Level {
  int nc, nl;
  CImg<double> ix, iy, rho;
  CImgList<double> z;
  Level(int nc_, int nl_, unsigned seed) : nc(nc_), nl(nl_), ix(nc_, nl_), iy(nc_, nl_), rho(nc_, nl_), z(2, nc_, nl_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-2.0, 2.0), w(0.1, 1.5), r(0.0, 1.0);
    cimg_forXY(ix, x, y) {
      ix(x, y) = d(rng);
      iy(x, y) = d(rng);
      rho(x, y) = r(rng) < 0.2 ? 0.0 : r(rng);
      z[0](x, y) = w(rng);
      z[1](x, y) = w(rng);
    }
  }
  int taille() const { return 2 * nc * nl; }
};

// Compressed-row arrays of one assembly.
struct Assembled {
  std::vector<double> val;
  std::vector<int> col, ptr;
  int n() const { return ptr.back(); }
};

inline Assembled assemble(const Level& lv, float alpha, bool periodic, bool weighted = true) {
  const int nombre = hessianNombre(lv.nc, lv.nl, periodic);
  Assembled a{std::vector<double>(nombre), std::vector<int>(nombre), std::vector<int>(lv.taille() + 1, -1)};
  if (weighted)
    fillingSparseHessian_A_HS(a.val.data(), a.col.data(), a.ptr.data(), lv.ix, lv.iy, lv.rho, lv.z, alpha, nombre, periodic);
  else
    fillingSparseHessian_A_HS(a.val.data(), a.col.data(), a.ptr.data(), lv.ix, lv.iy, lv.rho, alpha, nombre, periodic);
  return a;
}

inline dense::Matrix toDense(const Assembled& a, int taille) {
  return dense::fromCompressedRows(taille, a.val.data(), a.ptr.data(), a.col.data());
}

}  // namespace hs_test
