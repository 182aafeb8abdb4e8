// Divergence of a flow field, and its rebuilding from divergence and curl
// in the Fourier domain.
//
// Flow field: a CImg<double> of nbc x nbl x 2, slice 0 the horizontal
// component U (along x, the columns), slice 1 the vertical component V.
#pragma once

namespace cimg_library {
template <typename T>
struct CImg;
}  // namespace cimg_library

// div(x, y) = (U(x+1, y) - U(x-1, y)) / 2 + (V(x, y+1) - V(x, y-1)) / 2,
// neighbours outside the image clamped to the edge; computed in single
// precision, returned as an nbc x nbl x 1 image (a missing V slice counts
// as zero; an empty field raises the image library's exception).
cimg_library::CImg<double> divImOrder2(const cimg_library::CImg<double>& im);

// Rebuilds the field from the spectra of its curl and (unless divNul) its
// divergence, with a zero mean: writes slices 0 and 1 of X over
// nbc x nbl. For a square field the result is Xin minus the mean of each
// component, or with divNul its divergence-free part. Xin needs two
// slices and X at least nbc x nbl x 2; the image library's built-in FFT
// needs power-of-two sides (it throws otherwise, and on an empty field).
void maj_vecteurs(cimg_library::CImg<double>& X, const cimg_library::CImg<double>& Xin,
                  bool divNul);
