#include "invalid_samples.h"

#include "image_derivatives.h"

#include <algorithm>
#include <cstddef>
#include <vector>

using cimg_library::CImg;

namespace {

template <typename T>
bool fill_plane(T* data, int w, int h) {
  if (w <= 0 || h <= 0) return false;
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (std::none_of(data, data + n, [](T v) { return is_invalid_sample(v); })) return false;
  // Layer of every sample: 0 valid, k the k-th ring of filling, -1 not reached yet.
  std::vector<int> layer(n, 0);
  std::vector<std::size_t> frontier;
  for (std::size_t k = 0; k < n; ++k)
    if (is_invalid_sample(data[k])) layer[k] = -1;

  const auto neighbours = [w, h](std::size_t k, std::size_t* out) {
    const int x = static_cast<int>(k % static_cast<std::size_t>(w));
    const int y = static_cast<int>(k / static_cast<std::size_t>(w));
    int count = 0;
    if (x > 0) out[count++] = k - 1;
    if (x + 1 < w) out[count++] = k + 1;
    if (y > 0) out[count++] = k - static_cast<std::size_t>(w);
    if (y + 1 < h) out[count++] = k + static_cast<std::size_t>(w);
    return count;
  };

  // First ring: the invalid samples next to a valid one.
  std::size_t nb[4];
  for (std::size_t k = 0; k < n; ++k) {
    if (layer[k] != -1) continue;
    const int c = neighbours(k, nb);
    for (int q = 0; q < c; ++q)
      if (layer[nb[q]] == 0) {
        frontier.push_back(k);
        break;
      }
  }
  if (frontier.empty()) {  // no valid sample at all
    std::fill(data, data + n, T(0));
    return true;
  }

  // Ring by ring: the values of a ring depend only on earlier rings, so the
  // result does not depend on the order within a ring.
  std::vector<std::size_t> next;
  for (int ring = 1; !frontier.empty(); ++ring) {
    for (std::size_t k : frontier) layer[k] = ring;
    for (std::size_t k : frontier) {
      const int c = neighbours(k, nb);
      double sum = 0.0;
      int used = 0;
      for (int q = 0; q < c; ++q) {
        const int lq = layer[nb[q]];
        if (lq >= 0 && lq < ring) {
          sum += static_cast<double>(data[nb[q]]);
          ++used;
        }
      }
      data[k] = static_cast<T>(sum / used);
    }
    next.clear();
    for (std::size_t k : frontier) {
      const int c = neighbours(k, nb);
      for (int q = 0; q < c; ++q)
        if (layer[nb[q]] == -1) {
          layer[nb[q]] = -2;  // queued for the next ring
          next.push_back(nb[q]);
        }
    }
    frontier.swap(next);
  }
  return true;
}

}  // namespace

bool has_invalid_samples(const CImg<double>& img) {
  const std::size_t n = static_cast<std::size_t>(img.width()) * img.height();
  const double* d = img.data();
  for (std::size_t k = 0; k < n; ++k)
    if (is_invalid_sample(d[k])) return true;
  return false;
}

bool has_valid_samples(const CImg<double>& img) {
  const std::size_t n = static_cast<std::size_t>(img.width()) * img.height();
  const double* d = img.data();
  for (std::size_t k = 0; k < n; ++k)
    if (!is_invalid_sample(d[k])) return true;
  return false;
}

bool fill_invalid_samples(float* data, int w, int h) { return fill_plane(data, w, h); }
bool fill_invalid_samples(double* data, int w, int h) { return fill_plane(data, w, h); }

CImg<double> get_filled(const CImg<double>& img) {
  CImg<double> out(img.data(), img.width(), img.height(), 1, 1);
  fill_invalid_samples(out.data(), out.width(), out.height());
  return out;
}

namespace {

// marked grown to every pixel within chessboard distance radius of a
// marked one: a separable max over the (2 radius + 1)^2 square.
CImg<unsigned char> dilated(const CImg<unsigned char>& marked, int radius) {
  const int w = marked.width(), h = marked.height();
  CImg<unsigned char> rows(w, h, 1, 1, 0), mask(w, h, 1, 1, 0);
  cimg_forXY(marked, x, y) {
    if (!marked(x, y)) continue;
    for (int q = std::max(0, x - radius); q <= std::min(w - 1, x + radius); ++q) rows(q, y) = 1;
  }
  cimg_forXY(rows, x, y) {
    if (!rows(x, y)) continue;
    for (int q = std::max(0, y - radius); q <= std::min(h - 1, y + radius); ++q) mask(x, q) = 1;
  }
  return mask;
}

}  // namespace

void mark_padding_invalid(CImg<double>& img, int dxOrig, int dyOrig) {
  cimg_forXY(img, x, y) if (x >= dxOrig || y >= dyOrig) img(x, y) = kInvalidMarker;
}

CImg<unsigned char> data_exclusion_mask(const CImg<double>& im1, const CImg<double>& im2,
                                        int radius) {
  if (!has_invalid_samples(im1) && !has_invalid_samples(im2)) return CImg<unsigned char>();
  CImg<unsigned char> marked(im1.width(), im1.height(), 1, 1, 0);
  cimg_forXY(marked, x, y) marked(x, y) = is_invalid_sample(im1(x, y)) ||
                                          is_invalid_sample(im2(x, y));
  return dilated(marked, radius);
}

CImg<unsigned char> data_exclusion_mask(const CImg<double>& img, int radius) {
  if (!has_invalid_samples(img)) return CImg<unsigned char>();
  CImg<unsigned char> marked(img.width(), img.height(), 1, 1, 0);
  cimg_forXY(marked, x, y) marked(x, y) = is_invalid_sample(img(x, y));
  return dilated(marked, radius);
}

int derivative_reach(float sigma) {
  if (!(sigma > 0)) return 1;
  return 1 + static_cast<int>(std::ceil(2.0 * static_cast<double>(sigma)));
}

int level_reach(float sigBlur, const CImg<double>& img) {
  return derivative_reach(blurWidth(sigBlur, img.width(), img.height(), img.depth()));
}

void exclude_from_data(CImg<double>& data_out, const CImg<unsigned char>& mask) {
  if (mask.is_empty()) return;
  cimg_forXY(mask, x, y) if (mask(x, y)) data_out(x, y) = 0.0;
}

DataExclusionCounts count_data_exclusions(const CImg<double>& im1, const CImg<double>& im2,
                                          int radius, int offEdge, int dxOrig, int dyOrig) {
  const CImg<unsigned char> by1 = data_exclusion_mask(im1, radius);
  const CImg<unsigned char> by2 = data_exclusion_mask(im2, radius);
  const int W = im1.width(), H = im1.height();
  DataExclusionCounts counts;
  for (int y = 0; y < std::min(dyOrig, H); ++y)
    for (int x = 0; x < std::min(dxOrig, W); ++x) {
      ++counts.tile;
      if (!by1.is_empty() && by1(x, y))
        ++counts.image1;
      else if (!by2.is_empty() && by2(x, y))
        ++counts.image2;
      else if (x < offEdge || y < offEdge || x >= W - offEdge || y >= H - offEdge)
        ++counts.frame;
    }
  return counts;
}

std::string no_data_message(const DataExclusionCounts& c, int dxOrig, int dyOrig,
                            bool beforeFirstLevel) {
  const std::string tile = std::to_string(dxOrig) + " x " + std::to_string(dyOrig);
  std::string m = "Refused: no pixel of the " + tile + " tile has a data term at the finest level" +
                  (beforeFirstLevel ? ", whatever the flow" : "") +
                  ", so the images give no flow: of its " + std::to_string(c.tile) + " pixels, " +
                  std::to_string(c.image1) +
                  " read an invalid sample (" + grey_text(kInvalidMagnitude) +
                  " or more) of image 1 or the padding beyond the tile, ";
  m += beforeFirstLevel ? std::to_string(c.frame) + " more lie in the -offEdeges frame"
                        : std::to_string(c.image2) +
                              " more one of the warped image 2 or a position outside it, " +
                              std::to_string(c.frame) + " more lie in the -offEdeges frame";
  return m + ". No motion file is written.";
}
