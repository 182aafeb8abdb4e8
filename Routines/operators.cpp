// Discrete operators (weighted Laplacians, robust gradients) and the 2-D
// correlation filters, with clamped or wrapped borders.
#include "operators.h"

#include <cassert>
#include <cmath>
#include <vector>

#include "CImg.h"
#include "cimg_sum.h"
#include "fast_square.h"
#include "invalid_marker.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Previous and next index along one axis of length n, clamped or wrapped.
struct AxisNeighbours {
  std::vector<int> prev, next;
  AxisNeighbours(int n, bool periodic) : prev(n), next(n) {
    for (int i = 0; i < n; ++i) {
      prev[i] = i > 0 ? i - 1 : (periodic ? n - 1 : 0);
      next[i] = i < n - 1 ? i + 1 : (periodic ? 0 : n - 1);
    }
  }
};

bool covers(const CImg<double>& img, int nc, int nl) {
  return img.width() >= nc && img.height() >= nl;
}

bool isWeightSet(const CImgList<double>& z, int nc, int nl) {
  return z.size() >= 2 && covers(z[0], nc, nl) && covers(z[1], nc, nl);
}

// Sum of the four link terms t(neighbour, weight, link difference of U),
// in the order down, up, right, left. U may be the image itself when the
// term does not use it.
template <typename Term>
CImg<double> linkSum(const CImg<double>& im, const CImgList<double>& z, const CImg<double>& U,
                     bool periodic, Term term) {
  const int nc = im.width(), nl = im.height();
  CImg<double> a(nc, nl, 1, 1, 0.0);
  if (nc == 0 || nl == 0) return a;
  assert(isWeightSet(z, nc, nl) && covers(U, nc, nl));
  const AxisNeighbours xs(nc, periodic), ys(nl, periodic);
  const CImg<double>& z0 = z[0];
  const CImg<double>& z1 = z[1];
  for (int y = 0; y < nl; ++y) {
    const int yu = ys.prev[y], yd = ys.next[y];
    for (int x = 0; x < nc; ++x) {
      const int xl = xs.prev[x], xr = xs.next[x];
      const double c = im(x, y);
      double s = 0.0;
      s += term(im(x, yd) - c, z1(x, y), U(x, yd) - U(x, y));
      s += term(im(x, yu) - c, z1(x, yu), U(x, y) - U(x, yu));
      s += term(im(xr, y) - c, z0(x, y), U(xr, y) - U(x, y));
      s += term(im(xl, y) - c, z0(xl, y), U(x, y) - U(xl, y));
      a(x, y) = s;
    }
  }
  return a;
}

// Half the sum of the weighted powers pw(d) of the forward and backward
// differences along x (alongX) or y.
template <typename Power>
CImg<double> robustGradient(const CImg<double>& im, const CImg<double>& z, bool periodic,
                            bool alongX, Power pw) {
  const int nc = im.width(), nl = im.height();
  CImg<double> a(nc, nl, 1, 1, 0.0);
  if (nc == 0 || nl == 0) return a;
  assert(covers(z, nc, nl));
  const AxisNeighbours xs(nc, periodic), ys(nl, periodic);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int xp = alongX ? xs.prev[x] : x, yp = alongX ? y : ys.prev[y];
      const int xn = alongX ? xs.next[x] : x, yn = alongX ? y : ys.next[y];
      const double c = im(x, y);
      a(x, y) = 0.5 * (pw(im(xn, yn) - c) * z(x, y) + pw(c - im(xp, yp)) * z(xp, yp));
    }
  return a;
}

// The power 2 through squareAsPow (the same bits as std::pow, faster), any
// other power through std::pow.
CImg<double> robustGradient(const CImg<double>& im, const CImg<double>& z, double power,
                            bool periodic, bool alongX) {
  if (power == 2.0)
    return robustGradient(im, z, periodic, alongX, [](double d) { return squareAsPow(d); });
  return robustGradient(im, z, periodic, alongX,
                        [power](double d) { return std::pow(d, power); });
}

// Index of c along an axis of length n: clamped, or wrapped by one step.
inline int mapIndex(int c, int n, bool periodic) {
  if (c < 0) return periodic ? n - 1 : 0;
  if (c >= n) return periodic ? 0 : n - 1;
  return c;
}

void checkFilter(const CImg<double>& filtre, const char* caller) {
  if (filtre.is_empty())
    throw cimg_library::CImgInstanceException("%s: the filter is empty.", caller);
  if (filtre.width() % 2 == 0 || filtre.height() % 2 == 0)
    throw cimg_library::CImgArgumentException("%s: the filter is %d x %d, sizes must be odd.",
                                              caller, filtre.width(), filtre.height());
}

// Correlation of b with filtre; `visit` accumulates one tap (value, weight)
// into a per-pixel state and `finish` turns the state into the output value.
template <typename State, typename Visit, typename Finish>
CImg<double> correlate(const CImg<double>& b, const CImg<double>& filtre, bool periodic,
                       Visit visit, Finish finish) {
  const int nc = b.width(), nl = b.height();
  const int n = filtre.width() / 2, m = filtre.height() / 2;
  CImg<double> a(nc, nl, 1, 1, 0.0);
  if (nc == 0 || nl == 0) return a;
  std::vector<int> xmap(static_cast<size_t>(nc) + 2 * n);
  for (int c = -n; c < nc + n; ++c) xmap[c + n] = mapIndex(c, nc, periodic);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      State s{};
      for (int k = -m; k <= m; ++k) {
        const int yy = mapIndex(y + k, nl, periodic);
        for (int l = -n; l <= n; ++l) visit(s, b(xmap[x + l + n], yy), filtre(l + n, k + m));
      }
      a(x, y) = finish(s);
    }
  return a;
}

struct SparseState {
  double a = 0.0, skipped = 0.0, valid = 0.0;
  bool negative = false;
};

// Output of the marker-skipping correlation: the plain sum where no
// positive tap saw a marker; where some did, the mean over the valid taps
// (their sum divided by their weight, scaled by the kernel's sum
// kernelSum so that it matches the unmarked sum) when those taps carry at
// least half of the kernel's weight, else a marker (negative when a negative
// marker was seen, unless only positive ones count). Scattered markers are
// thus bridged, and only pixels that see mostly markers stay invalid.
double sparseOutput(const SparseState& s, double kernelSum) {
  if (!(s.skipped > 0.0)) return s.a;
  if (s.valid > 0.0 && s.valid >= 0.5 * kernelSum) return s.a / s.valid * kernelSum;
  return s.negative ? -kInvalidMarker : kInvalidMarker;
}

}  // namespace

CImg<double> laplacian(const CImg<double>& im, const CImgList<double>& z, bool periodic) {
  return linkSum(im, z, im, periodic,
                 [](double diff, double w, double /*dU*/) { return w * diff; });
}

CImg<double> laplacian(const CImg<double>& im, bool periodic) {
  const CImg<double> mask(3, 3, 1, 1, 0.0, 1.0, 0.0, 1.0, -4.0, 1.0, 0.0, 1.0, 0.0);
  return Filtre_2D(im, mask, periodic);
}

CImg<double> laplacianPiemeDerivRobustWeight(const CImg<double>& im, const CImgList<double>& z,
                                             const CImg<double>& U, double power, bool periodic) {
  if (power == 2.0)
    return linkSum(im, z, U, periodic, [](double diff, double w, double dU) {
      return squareAsPow(dU) * diff * w;
    });
  return linkSum(im, z, U, periodic, [power](double diff, double w, double dU) {
    return std::pow(dU, power) * diff * w;
  });
}

CImg<double> GradRobX_powK(const CImg<double>& im, const CImg<double>& z, double power,
                           bool periodic) {
  return robustGradient(im, z, power, periodic, true);
}

CImg<double> GradRobY_powK(const CImg<double>& im, const CImg<double>& z, double power,
                           bool periodic) {
  return robustGradient(im, z, power, periodic, false);
}

CImg<double> Filtre_2D(const CImg<double>& b, const CImg<double>& filtre) {
  return Filtre_2D(b, filtre, false);
}

CImg<double> Filtre_2D(const CImg<double>& b, const CImg<double>& filtre, bool periodic) {
  checkFilter(filtre, "Filtre_2D()");
  return correlate<double>(
      b, filtre, periodic, [](double& s, double v, double f) { s += v * f; },
      [](double s) { return s; });
}

CImg<double> Filtre_2D_sparse(const CImg<double>& b, const CImg<double>& filtre) {
  const double kernelSum = cimgSum(filtre);  // an empty filter raises the empty-instance error
  checkFilter(filtre, "Filtre_2D_sparse()");
  return correlate<SparseState>(
      b, filtre, false,
      [](SparseState& s, double v, double f) {
        if (v <= -kInvalidMagnitude) s.negative = true;
        if (std::fabs(v) >= kInvalidMagnitude) {
          s.skipped += f;
        } else {
          s.a += v * f;
          s.valid += f;
        }
      },
      [kernelSum](const SparseState& s) { return sparseOutput(s, kernelSum); });
}

CImg<double> Filtre_2D_sparse(const CImg<double>& b, const CImg<double>& filtre, bool periodic) {
  if (!periodic) return Filtre_2D_sparse(b, filtre);
  const double kernelSum = cimgSum(filtre);
  checkFilter(filtre, "Filtre_2D_sparse()");
  // Wrapped borders count only positive markers; negative values are used.
  return correlate<SparseState>(
      b, filtre, true,
      [](SparseState& s, double v, double f) {
        if (v >= kInvalidMagnitude) {
          s.skipped += f;
        } else {
          s.a += v * f;
          s.valid += f;
        }
      },
      [kernelSum](const SparseState& s) { return sparseOutput(s, kernelSum); });
}
