// Image utilities of the routines module: the largest image side, padding
// to a pyramid-friendly size, border masks, stacking planes into a flow
// field, pyramid allocation, binarisation and thresholding, and 8-bit PGM
// output.
//
// Images are CImg<double>, element (x, y, z) at x + y*width + z*width*height;
// a flow field has depth 2 (slice 0 = U, slice 1 = V). A pyramid is a list
// of 8 slots, slot l holding level l (0 the finest); slots beyond the
// coarsest level stay empty. Sizes above kMaxImageSide pixels per side are
// outside the range of the padding and thresholding code and are refused
// there (message on standard error, exit status 1).
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Largest image, tile or motion-field side, in pixels, the program takes:
// the spline, warping, padding and motion-file code hold sizes as signed
// 16-bit values.
constexpr int kMaxImageSide = 32767;

// Side n >= 0 padded for resol pyramid levels, in 64 bits: the smallest
// multiple of p = 2^resol that is at least n, (n/p + 1)*p for an n not
// divisible by p; n itself when resol < 1. Needs resol <= 30.
long long padded_side(long long n, int resol);

// New sizes divisible by p = 2^resol, each side padded by padded_side;
// resol < 1 keeps both. Needs resol <= 30 and sizes in 0 ... kMaxImageSide
// (refused otherwise: a message on standard error, exit status 1).
void expand_dim(int nb_col, int nb_lig, int resol, int* nouv_nb_col, int* nouv_nb_lig);

// imOrig's first channel copied into the top-left corner of a zero image of
// the expand_dim size (same depth).
cimg_library::CImg<double> expand(const cimg_library::CImg<double>& imOrig, int nbResol);

// out(x, y, band) = im(x, y) for every pixel of im (which must fit in out;
// 0 <= band < depth of out).
void FillChannel(cimg_library::CImg<double>& out, const cimg_library::CImg<double>& im, int band);

// Flow field of a's width and height: slice 0 = a, slice 1 = b (b at least
// as large as a, read with its own width).
cimg_library::CImg<double> fill(const cimg_library::CImg<double>& a,
                                const cimg_library::CImg<double>& b);

// Zeroes the elements of the first plane with x < ofx, x >= width - ofx,
// y < ofy or y >= height - ofy.
void setZeroBorder(cimg_library::CImg<double>& a, int ofx, int ofy);

// Zeroes the elements of the first plane with x >= dxOrig or y >= dyOrig
// (the padding that expand added to a dxOrig x dyOrig image).
void setZeroBorderOnExpandedRegion(cimg_library::CImg<double>& a, int dxOrig, int dyOrig);

// Pyramid of 8 slots: slot l = coarse ... 0 holds a zero image of
// ((nc >> coarse) << (coarse - l)) x ((nl >> coarse) << (coarse - l)) x nslice;
// a negative coarse leaves all slots empty. Needs coarse <= 7.
cimg_library::CImgList<double> alloc_pyramid(int nc, int nl, int nslice, int coarse);

// 8 slots: slot l = coarse ... 0 holds a zero image of
// max((nc >> l) + 1, 2) x 1. Needs coarse <= 7.
cimg_library::CImgList<double> alloc_pyramid(int nc, int coarse);

// Writes the first plane of `in` as a binary 8-bit PGM file ("P5"): values
// clamped to [min, max] and mapped linearly to 0 ... 255 (rounded half up),
// rows top to bottom, under a temporary name in filename's folder renamed to
// filename once complete. A file that cannot be created or written ends the
// program with a message naming it on standard error and exit status 1,
// leaving filename as it was.
// Needs max > min.
void write_pgm255(const cimg_library::CImg<double>& in, char* filename, float min, float max);

// Copy of `in` whose first plane is 0.0 where the value is <= tresh, 1.0
// elsewhere.
cimg_library::CImg<double> binarize(const cimg_library::CImg<double>& in, double tresh);

// Copy of `in` whose first-plane values v <= treshmin or v >= treshmax are
// replaced by flag.
cimg_library::CImg<double> treshold_minmax(const cimg_library::CImg<double>& in, double treshmin,
                                           double treshmax, double flag);
