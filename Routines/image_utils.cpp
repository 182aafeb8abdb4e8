// Padding, border masks, flow stacking, pyramid allocation, thresholding
// and 8-bit PGM output.
#include "image_utils.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CImg.h"
#include "output_file.h"
#include "refusal.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

void refuseSize(const char* caller, int nc, int nl) {
  if (nc < 0 || nl < 0 || nc > kMaxImageSide || nl > kMaxImageSide) {
    refuse(std::string("Error: ") + caller + ": image of " + std::to_string(nc) + " x " +
           std::to_string(nl) + " pixels; sizes must lie in 0 ... " +
           std::to_string(kMaxImageSide));
  }
}

constexpr int kPyramidSlots = 8;

}  // namespace

long long padded_side(long long n, int resol) {
  assert(n >= 0 && resol <= 30);
  if (resol < 1) return n;
  const long long p = 1LL << resol;
  return (n + p - 1) / p * p;
}

void expand_dim(int nb_col, int nb_lig, int resol, int* nouv_nb_col, int* nouv_nb_lig) {
  if (resol < 1) {
    *nouv_nb_col = nb_col;
    *nouv_nb_lig = nb_lig;
    return;
  }
  refuseSize("expand_dim()", nb_col, nb_lig);
  if (resol > 30) {
    refuse("Error: expand_dim(): " + std::to_string(resol) + " levels; at most 30 are possible");
  }
  // Sides of at most kMaxImageSide pad to at most 2^30: they fit an int.
  *nouv_nb_col = static_cast<int>(padded_side(nb_col, resol));
  *nouv_nb_lig = static_cast<int>(padded_side(nb_lig, resol));
}

CImg<double> expand(const CImg<double>& imOrig, int nbResol) {
  int dx = 0, dy = 0;
  expand_dim(imOrig.width(), imOrig.height(), nbResol, &dx, &dy);
  CImg<double> out(dx, dy, imOrig.depth(), 1, 0.0);
  const int w = std::min(dx, imOrig.width()), h = std::min(dy, imOrig.height());
  for (int z = 0; z < imOrig.depth(); ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) out(x, y, z) = imOrig(x, y, z);
  return out;
}

void FillChannel(CImg<double>& out, const CImg<double>& im, int band) {
  assert(band >= 0 && band < out.depth());
  assert(im.width() <= out.width() && im.height() <= out.height());
  for (int y = 0; y < im.height(); ++y)
    for (int x = 0; x < im.width(); ++x) out(x, y, band) = im(x, y);
}

CImg<double> fill(const CImg<double>& a, const CImg<double>& b) {
  const int nc = a.width(), nl = a.height();
  assert(b.width() >= nc && b.height() >= nl);
  CImg<double> uv(nc, nl, 2, 1, 0.0);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      uv(x, y, 0) = a(x, y);
      uv(x, y, 1) = b(x, y);
    }
  return uv;
}

void setZeroBorder(CImg<double>& a, int ofx, int ofy) {
  const int nc = a.width(), nl = a.height();
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x)
      if (x < ofx || x >= nc - ofx || y < ofy || y >= nl - ofy) a(x, y) = 0.0;
}

void setZeroBorderOnExpandedRegion(CImg<double>& a, int dxOrig, int dyOrig) {
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (x >= dxOrig || y >= dyOrig) a(x, y) = 0.0;
}

CImgList<double> alloc_pyramid(int nc, int nl, int nslice, int coarse) {
  assert(coarse < kPyramidSlots);
  CImgList<double> pyramid(kPyramidSlots);
  for (int l = coarse; l >= 0; --l)
    pyramid[l].assign((nc >> coarse) << (coarse - l), (nl >> coarse) << (coarse - l), nslice, 1,
                      0.0);
  return pyramid;
}

CImgList<double> alloc_pyramid(int nc, int coarse) {
  assert(coarse < kPyramidSlots);
  CImgList<double> pyramid(kPyramidSlots);
  for (int l = coarse; l >= 0; --l) pyramid[l].assign(std::max((nc >> l) + 1, 2), 1, 1, 1, 0.0);
  return pyramid;
}

void write_pgm255(const CImg<double>& in, char* filename, float min, float max) {
  assert(max > min);
  OutputFile out(filename);
  if (!out.ok()) {
    refuse(std::string("Error: cannot create the PGM file \"") + filename +
           "\": " + std::strerror(errno));
  }
  std::FILE* pgmfile = out.stream();
  const int nc = in.width(), nl = in.height();
  const double lo = min, hi = max;
  const double scale = (1.0 / static_cast<double>(max - min)) * 255.0;
  std::vector<unsigned char> bytes(static_cast<size_t>(nc) * nl);
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      double v = in(x, y);
      if (v > hi) v = hi;
      if (v < lo) v = lo;
      const double t = (v - lo) * scale + 0.5;
      // A value that is not a number has no grey level: it is written as 0.
      bytes[static_cast<size_t>(y) * nc + x] =
          t >= 0.0 && t < 256.0 ? static_cast<unsigned char>(static_cast<int>(t) & 0xFF) : 0;
    }
  const bool written = std::fprintf(pgmfile, "P5\n") >= 0 &&
                       std::fprintf(pgmfile, "%d %d\n255\n", nc, nl) >= 0 &&
                       std::fwrite(bytes.data(), 1, bytes.size(), pgmfile) == bytes.size();
  if (!written || !out.commit()) {
    const int error = errno ? errno : EIO;
    out.discard();  // exit() would not run its destructor
    refuse(std::string("Error: cannot write the PGM file \"") + filename +
           "\": " + std::strerror(error));
  }
}

CImg<double> binarize(const CImg<double>& in, double tresh) {
  refuseSize("binarize()", in.width(), in.height());
  CImg<double> out(in);
  for (int y = 0; y < in.height(); ++y)
    for (int x = 0; x < in.width(); ++x) out(x, y) = out(x, y) <= tresh ? 0.0 : 1.0;
  return out;
}

CImg<double> treshold_minmax(const CImg<double>& in, double treshmin, double treshmax,
                             double flag) {
  refuseSize("treshold_minmax()", in.width(), in.height());
  CImg<double> out(in);
  for (int y = 0; y < in.height(); ++y)
    for (int x = 0; x < in.width(); ++x) {
      const double v = out(x, y);
      if (v <= treshmin || v >= treshmax) out(x, y) = flag;
    }
  return out;
}
