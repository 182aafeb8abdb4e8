// Invalid samples: a grey value of magnitude 1022 or more marks a sample
// that holds no measurement (the input files use 1022 and 1023; the pyramid
// smoothing writes +1023 or -1023 where it saw one). No invalid sample may
// drive the flow: before any spline prefilter or derivative filter reads an
// image, its invalid samples are filled from valid neighbours, and the data
// term of every pixel that reads an invalid sample gets weight 0, so that
// the flow there comes from the smoothness term alone.
//
// Images without invalid samples pass through every function here
// unchanged, and the callers skip the filling and masking for them.
#ifndef VELMORA_INVALID_SAMPLES_H
#define VELMORA_INVALID_SAMPLES_H

#include <cmath>
#include <string>

#include "CImg.h"
#include "invalid_marker.h"


// A NaN is no measurement either.
template <typename T>
inline bool is_invalid_sample(T value) {
  return !(std::fabs(value) < static_cast<T>(kInvalidMagnitude));
}

// Whether the first plane of img holds an invalid sample.
bool has_invalid_samples(const cimg_library::CImg<double>& img);

// Whether the first plane of img holds at least one valid sample.
bool has_valid_samples(const cimg_library::CImg<double>& img);

// Nearest-valid filling of the w x h plane data (row-major, in place): the
// invalid samples are taken in layers of increasing 4-neighbour distance to
// the nearest valid sample; each takes the mean of its 4-neighbours in
// earlier layers (valid samples are layer 0). Valid samples are unchanged.
// A plane without any valid sample becomes 0. Returns whether any sample
// was filled. Linear ramps are rebuilt exactly at isolated invalid samples.
bool fill_invalid_samples(float* data, int w, int h);
bool fill_invalid_samples(double* data, int w, int h);

// Copy of the first plane of img with its invalid samples filled.
cimg_library::CImg<double> get_filled(const cimg_library::CImg<double>& img);

// The padding of an image padded beyond its dxOrig x dyOrig tile (the
// samples at x >= dxOrig or y >= dyOrig) becomes invalid samples: it holds
// no measurement, so the filling, the exclusion from the data term and the
// pyramid smoothing keep it out of the data term at every level.
void mark_padding_invalid(cimg_library::CImg<double>& img, int dxOrig, int dyOrig);

// Pixels whose data term reads an invalid sample of im1 or im2 (both
// W x H, first plane): 1 within chessboard distance radius of one, else 0.
// The spline derivatives read the samples next to a pixel, so radius is 1
// without smoothing and grows with the smoothing width (see
// derivative_reach). Empty when neither image holds an invalid sample.
cimg_library::CImg<unsigned char> data_exclusion_mask(const cimg_library::CImg<double>& im1,
                                                      const cimg_library::CImg<double>& im2,
                                                      int radius);

// The same for the invalid samples of one image.
cimg_library::CImg<unsigned char> data_exclusion_mask(const cimg_library::CImg<double>& img,
                                                      int radius);

// How far from a pixel the derivatives (with Deriche smoothing of width
// sigma >= 0, in pixels) still weigh samples noticeably: 1 + ceil(2 sigma)
// pixels, 1 without smoothing.
int derivative_reach(float sigma);

// The reach of the derivatives on a level image img with the -sigBlur
// value sigBlur (a negative one scales with the level's largest side).
int level_reach(float sigBlur, const cimg_library::CImg<double>& img);

// data_out = 0 wherever mask is 1; nothing when mask is empty.
void exclude_from_data(cimg_library::CImg<double>& data_out,
                       const cimg_library::CImg<unsigned char>& mask);

// Why the pixels of the dxOrig x dyOrig tile of a finest level lose their
// data term, each pixel counted once, by the first reason that holds:
// it reads an invalid sample of image 1 (the padding included), of the
// (warped) image 2, or it lies in the frame of width offEdge around the
// padded level.
struct DataExclusionCounts {
  long tile = 0;    // pixels of the tile
  long image1 = 0;  // excluded by invalid samples of image 1
  long image2 = 0;  // excluded by those of image 2 and not by image 1
  long frame = 0;   // in the frame and excluded by neither image
  long kept() const { return tile - image1 - image2 - frame; }
};
DataExclusionCounts count_data_exclusions(const cimg_library::CImg<double>& im1,
                                          const cimg_library::CImg<double>& im2, int radius,
                                          int offEdge, int dxOrig, int dyOrig);

// The refusal of a run in which no pixel of the finest level has a data
// term, with the counts (one line, no line end); beforeFirstLevel when
// image 1 alone excludes every pixel.
std::string no_data_message(const DataExclusionCounts& counts, int dxOrig, int dyOrig,
                            bool beforeFirstLevel);

#endif
