// Second-order divergence of a flow field and its Fourier-domain
// divergence/curl rebuilding.
#include "flow_divergence.h"

#include <cassert>
#include <cmath>
#include <vector>

#include "CImg.h"

using cimg_library::CImg;
using cimg_library::CImgList;

CImg<double> divImOrder2(const CImg<double>& im) {
  const CImg<float> u(im.get_slice(0)), v(im.get_slice(1));
  // Convolution mirrors the mask: Ux(x) = u(x+1) - u(x-1), Neumann borders.
  const CImg<float> filtre_GX2(3, 1, 1, 1, 1.0f, 0.0f, -1.0f);
  const CImg<float> filtre_GY2 = filtre_GX2.get_permute_axes("yxzc");
  const float normCst = 0.5f;
  CImg<float> Ux = u.get_convolve(filtre_GX2), Vy = v.get_convolve(filtre_GY2);
  Ux *= normCst;
  Vy *= normCst;
  CImg<double> divIm(im.width(), im.height(), 1, 1, 0.0);
  cimg_forXY(divIm, x, y) divIm(x, y) = static_cast<double>(Ux(x, y) + Vy(x, y));
  return divIm;
}

namespace {

// Signed integer frequencies of an n-point transform: k for k <= n/2,
// k - n above.
std::vector<double> frequencies(int n) {
  std::vector<double> f(n);
  for (int k = 0; k < n; ++k) f[k] = k <= n / 2 ? k : k - n;
  return f;
}

}  // namespace

void maj_vecteurs(CImg<double>& X, const CImg<double>& Xin, bool divNul) {
  const int nbc = Xin.width(), nbl = Xin.height();
  // An empty field has no spectrum: the library's transform raises its
  // error for an empty real part (CImgInstanceException) before any check.
  if (Xin.is_empty()) (void)Xin.get_FFT();
  assert(Xin.depth() >= 2);
  assert(X.width() >= nbc && X.height() >= nbl && X.depth() >= 2);
  const CImgList<double> Fu = Xin.get_slice(0).get_FFT(), Fv = Xin.get_slice(1).get_FFT();
  const double twoPi = 6.283185307179586;
  const std::vector<double> ak = frequencies(nbc), bk = frequencies(nbl);
  CImgList<double> Gu(2, nbc, nbl, 1, 1, 0.0), Gv(2, nbc, nbl, 1, 1, 0.0);
  // Every frequency but (0, 0), which stays zero: the result has zero mean.
  for (int j = 0; j < nbl; ++j)
    for (int k = 0; k < nbc; ++k) {
      if (j == 0 && k == 0) continue;
      const double a = ak[k], b = bk[j];
      const double wx = twoPi / nbc * a, wy = twoPi / nbl * b;
      const double reFu = Fu[0](k, j), imFu = Fu[1](k, j);
      const double reFv = Fv[0](k, j), imFv = Fv[1](k, j);
      // curl = i (wx Fv - wy Fu), div = i (wx Fu + wy Fv).
      const double reCurl = wy * imFu - wx * imFv, imCurl = wx * reFv - wy * reFu;
      const double reDiv = divNul ? 0.0 : -(wy * imFv + wx * imFu);
      const double imDiv = divNul ? 0.0 : wy * reFv + wx * reFu;
      const double d = a * a + b * b;
      Gu[0](k, j) = (a * imDiv - b * imCurl) / d;
      Gu[1](k, j) = (b * reCurl - a * reDiv) / d;
      Gv[0](k, j) = (b * imDiv + a * imCurl) / d;
      Gv[1](k, j) = -(a * reCurl + b * reDiv) / d;
    }
  Gu.FFT(true);
  Gv.FFT(true);
  const double scale = std::sqrt(static_cast<double>(nbc) * nbl);
  const double invTwoPi = 0.15915494309189535;
  for (int y = 0; y < nbl; ++y)
    for (int x = 0; x < nbc; ++x) {
      X(x, y, 0) = Gu[0](x, y) * scale * invTwoPi;
      X(x, y, 1) = Gv[0](x, y) * scale * invTwoPi;
    }
}
