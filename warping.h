// Flow upsampling and image warping by B-spline interpolation (degree
// SplineDegree, the program uses 3), between pyramid levels and images.
//
// Inputs wider or taller than 32767 pixels (16383 for the upsampling), an
// output image of the wrong size, a flow field that does not match the image,
// and a failed memory request end the program with a message on standard
// error and exit status 1. A failed prefilter prints "probleme" and the
// computation goes on.
#ifndef VELMORA_WARPING_H
#define VELMORA_WARPING_H

namespace cimg_library {
template <typename T> struct CImg;
}

// x2 upsampling of in's first channel (w x h) into out, which must already be
// 2w x 2h: out(2j + a, 2i + b) is the spline at (j + a/2, i + b/2); the last
// output column and row repeat the ones before them, so no position beyond
// the last sample (w - 1, h - 1) is interpolated.
void Proj_Dup_Spline(cimg_library::CImg<double>& out, const cimg_library::CImg<double>& in,
                     int SplineDegree);

// What the warp gives a pixel whose target lies outside the image: the
// nearest stored sample (the four-argument Recal_spline), or an invalid
// sample (+1023). The program's warps all take the second, the pre-warp of
// image 2 and the warps between levels alike: a target outside image 2
// holds no measurement, so the pixel leaves the data term.
enum class OutsideTarget { NearestSample, Invalid };

// Warps in by the flow UV (in's width and height, slice 0 U along the
// columns, slice 1 V along the rows) into out, which must already have in's
// width and height: out(j, i) is the spline of in at (j + U, i + V) when the
// 2 x 2 block of samples towards the displacement lies inside the image and
// holds no invalid sample (|value| >= 1022); otherwise, when that block lies
// inside the image, the pixel is invalid (it carries the block's first
// invalid sample), and when it does not, it takes the stored sample at the
// target clamped to the image (or, with OutsideTarget::Invalid, +1023 where
// the target itself lies outside). Inside the image, validity thus follows
// the markers only: a spline value of valid samples that overshoots to 1022
// or more is held just below 1022. Degree 2 or less interpolates bilinearly.
// The spline goes through in with its invalid samples filled from valid
// neighbours, so that no invalid value leaks into the pixels around it.
// A pixel whose displacement is not finite keeps its own value. Prints
// "\n Recalage" and a line end first. The four-argument form takes the
// nearest stored sample outside the image.
void Recal_spline(cimg_library::CImg<double>& out, const cimg_library::CImg<double>& in,
                  const cimg_library::CImg<double>& UV, int SplineDegree);
void Recal_spline(cimg_library::CImg<double>& out, const cimg_library::CImg<double>& in,
                  const cimg_library::CImg<double>& UV, int SplineDegree,
                  OutsideTarget outside);

#endif
