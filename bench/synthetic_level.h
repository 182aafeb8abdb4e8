// Synthetic level of the benchmarks, and its assembled system.
//
// The level: a smooth random texture f(x, y) = 128 + sum of 8 plane waves
// (amplitude 15, frequencies in [0.05, 0.6] rad/pixel, random directions and
// phases; std::mt19937 seeded with kSeed), the second image f moved by
// (0.6, -0.35) pixels, analytic derivatives of the second image, data
// weights 1, link weights 1, alpha 10 (the program's initial value), zero
// linearisation point: the first solve of a level.
#pragma once

#include <cmath>
#include <random>
#include <vector>

#include "CImg.h"
#include "hessian_assembly.h"
#include "mvvd.h"
#include "operators.h"

namespace bench_level {

using cimg_library::CImg;
using cimg_library::CImgList;

constexpr unsigned kSeed = 20261210;
constexpr float kAlpha = 10.0f;
constexpr double kPi = 3.14159265358979323846;

struct SyntheticLevel {
  int n;
  CImg<double> ix, iy, it, rho, uvTil;
  CImgList<double> z;
  explicit SyntheticLevel(int size)
      : n(size), ix(size, size), iy(size, size), it(size, size), rho(size, size, 1, 1, 1.0),
        uvTil(size, size, 2, 1, 0.0), z(2, size, size, 1, 1, 1.0) {
    std::mt19937 rng(kSeed);
    std::uniform_real_distribution<double> freq(0.05, 0.6), angle(0.0, 2.0 * kPi);
    struct Wave {
      double kx, ky, phase;
    };
    std::vector<Wave> waves;
    for (int i = 0; i < 8; ++i) {
      const double k = freq(rng), t = angle(rng);
      waves.push_back({k * std::cos(t), k * std::sin(t), angle(rng)});
    }
    const double u = 0.6, v = -0.35, amp = 15.0;
    cimg_forXY(ix, x, y) {
      double f1 = 128.0, f2 = 128.0, gx = 0.0, gy = 0.0;
      for (const Wave& w : waves) {
        f1 += amp * std::sin(w.kx * x + w.ky * y + w.phase);
        const double arg = w.kx * (x - u) + w.ky * (y - v) + w.phase;
        f2 += amp * std::sin(arg);
        gx += amp * w.kx * std::cos(arg);
        gy += amp * w.ky * std::cos(arg);
      }
      ix(x, y) = gx;
      iy(x, y) = gy;
      it(x, y) = f2 - f1;
    }
  }
};

// Assembled system and right-hand side of a level, as the level solve
// builds them: Hessian of the level, B = alpha * laplacian(uvTil) -
// (rho * I_{x,y}) * It.
struct System {
  int taille, nombre;
  std::vector<double> val;
  std::vector<int> col, ptr;
  MV_Vector_double b;
  System(const CImg<double>& ix, const CImg<double>& iy, const CImg<double>& it,
         const CImg<double>& rho, const CImgList<double>& z, const CImg<double>& uvTil,
         float alpha, bool periodic)
      : taille(2 * ix.width() * ix.height()), nombre(hessianNombre(ix.width(), ix.height(), periodic)),
        val(nombre), col(nombre), ptr(taille + 1), b(taille, 0.0) {
    fillingSparseHessian_A_HS(val.data(), col.data(), ptr.data(), ix, iy, rho, z, alpha, nombre, periodic);
    const CImg<double> lu = laplacian(uvTil.get_slice(0), z, periodic);
    const CImg<double> lvv = laplacian(uvTil.get_slice(1), z, periodic);
    const int nc = ix.width(), ncnl = nc * ix.height();
    const double a = alpha;
    cimg_forXY(ix, x, y) {
      const int k = y * nc + x;
      b(k) = a * lu(x, y) - rho(x, y) * ix(x, y) * it(x, y);
      b(ncnl + k) = a * lvv(x, y) - rho(x, y) * iy(x, y) * it(x, y);
    }
  }
  System(const SyntheticLevel& lv, bool periodic)
      : System(lv.ix, lv.iy, lv.it, lv.rho, lv.z, lv.uvTil, kAlpha, periodic) {}
};

}  // namespace bench_level
