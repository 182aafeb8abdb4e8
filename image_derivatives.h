// Image derivatives for the flow: spatial derivatives of the cubic B-spline
// through an image and the temporal difference of two images, each optionally
// after an isotropic Deriche smoothing of order 0 (Neumann borders) of width
// sigma (sigma > 0), -sigma percent of the largest of width, height and depth
// (sigma < 0), or none (sigma = 0).
//
// Images are of one slice and one channel; each result has the width and
// height of its first argument. Images wider or taller than kMaxImageSide
// (image_utils.h) pixels, and a failed memory request or spline transform,
// end the program with a message and exit status 1.
#ifndef VELMORA_IMAGE_DERIVATIVES_H
#define VELMORA_IMAGE_DERIVATIVES_H

namespace cimg_library {
template <typename T> struct CImg;
}

// Smoothing width in pixels for the amplitude sigma on an image of
// width x height x depth: sigma when sigma >= 0, else -sigma percent of the
// largest side, in single precision.
float blurWidth(float sigma, int width, int height, int depth);

// d/dx (along the columns) of the cubic spline through in.
cimg_library::CImg<double> gradSpline_X(const cimg_library::CImg<double>& in, float sigma);

// d/dy (along the rows) of the cubic spline through in.
cimg_library::CImg<double> gradSpline_Y(const cimg_library::CImg<double>& in, float sigma);

// indt - in (second argument minus the first), smoothed when sigma != 0.
cimg_library::CImg<double> grad_t(const cimg_library::CImg<double>& in,
                                  const cimg_library::CImg<double>& indt, float sigma);

#endif
