// Data and regularisation energies of a flow field, without hyper-parameters.
//
// All images are nc x nl, one slice and one channel; the flow components U
// and V are passed as separate images. Robust weight set reg_out: reg_out[0]
// weights the link (x, y)-(x+1, y), reg_out[1] the link (x, y)-(x, y+1).
// `periodic` selects wrapped neighbours, otherwise clamped ones (a neighbour
// outside the image is the pixel itself). Every energy is a fixed sequence
// of whole-image operations ending in one sum over all pixels; an empty
// image that reaches that sum raises CImgInstanceException. Nothing is
// modified and no state is kept.
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// E_d = 1/2 sum rho (Ix u + Iy v + It)^2, from the pointwise products of the
// derivative images (IxIx = Ix*Ix, ..., ItIt = It*It) and the increment
// (U, V): 1/2 sum rho (IxIx u^2 + 2 IxIy u v + IyIy v^2)
// + sum rho (ItIx u + ItIy v + 1/2 ItIt). data_out = rho, taken by value.
double DataEnergy(const cimg_library::CImg<double>& U, const cimg_library::CImg<double>& V,
                  const cimg_library::CImg<double>& IxIx, const cimg_library::CImg<double>& IyIy,
                  const cimg_library::CImg<double>& IxIy, const cimg_library::CImg<double>& ItIx,
                  const cimg_library::CImg<double>& ItIy, const cimg_library::CImg<double>& ItIt,
                  cimg_library::CImg<double> data_out);

// First order: 1/2 sum over the links of z d^power for U and for V, d the
// forward difference along the link (sign kept), z its weight in reg_out;
// with periodic borders the wrap-around links count too.
double PriorEnergyHS_powK_1st(const cimg_library::CImg<double>& U,
                              const cimg_library::CImg<double>& V,
                              const cimg_library::CImgList<double>& reg_out, double power,
                              bool periodic);

// The same with every link weight 1.
double PriorEnergyHS_powK_1st(const cimg_library::CImg<double>& U,
                              const cimg_library::CImg<double>& V, double power, bool periodic);

// Second order: 1/2 sum over pixels of reg_out[0] ((dy U)^p + (dy V)^p)
// + reg_out[1] ((dx U)^p + (dx V)^p), dy f = (f(x, y+1) - f(x, y-1)) / 2 and
// dx f = (f(x+1, y) - f(x-1, y)) / 2 the centred differences. Note that the
// vertical difference takes the weight of the horizontal link. No absolute
// value is taken: an odd power keeps the sign, a non-integer power of a
// negative difference is NaN; power 0 gives 1 for every difference.
double PriorEnergyHS_powK_2nd(const cimg_library::CImg<double>& U,
                              const cimg_library::CImg<double>& V,
                              const cimg_library::CImgList<double>& reg_out, double power,
                              bool periodic);

// Second order with power 2.
double PriorEnergyHS_2nd(const cimg_library::CImg<double>& U, const cimg_library::CImg<double>& V,
                         const cimg_library::CImgList<double>& reg_out, bool periodic);

// Second order with power 2 and no weights:
// 1/2 sum ((dy U)^2 + (dx U)^2 + (dy V)^2 + (dx V)^2).
double PriorEnergyHS_2nd(const cimg_library::CImg<double>& U, const cimg_library::CImg<double>& V,
                         bool periodic);
