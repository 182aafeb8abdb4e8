#include "image_derivatives.h"

#include <CImg.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "image_conversion.h"
#include "image_utils.h"
#include "refusal.h"
#include "spline_derivatives.h"
#include "spline_mirror.h"

using cimg_library::CImg;

namespace {

void refuseLargeImage(const char* function, const CImg<double>& img) {
  if (img.width() <= kMaxImageSide && img.height() <= kMaxImageSide) return;
  refuse(std::string(function) + ": image of " + std::to_string(img.width()) + " x " +
         std::to_string(img.height()) + " pixels exceeds " + std::to_string(kMaxImageSide) +
         " pixels per side");
}

// Isotropic Deriche smoothing of order 0 with Neumann borders, along x, y
// and z where the image extends beyond 1 pixel, of width blurWidth (worked
// out here: the image library would scale a negative width by each axis's
// own size instead).
CImg<double> blurDeriche(const CImg<double>& img, float sigma) {
  CImg<double> out(img);
  if (out.is_empty()) return out;
  const float width = blurWidth(sigma, out.width(), out.height(), out.depth());
  if (out.width() > 1) out.deriche(width, 0, 'x', 1);
  if (out.height() > 1) out.deriche(width, 0, 'y', 1);
  if (out.depth() > 1) out.deriche(width, 0, 'z', 1);
  return out;
}

// Derivative (gradX or gradY) of the cubic spline through in, smoothed first
// when sigma != 0.
CImg<double> splineDerivative(const char* function, const CImg<double>& in, float sigma,
                              bool alongX) {
  refuseLargeImage(function, in);
  const short nb_col = static_cast<short>(in.width());
  const short nb_lig = static_cast<short>(in.height());
  const long count = static_cast<long>(nb_col) * nb_lig;
  if (count == 0) return CImg<double>(nb_col, nb_lig);
  CImg<double> blurred;
  if (sigma != 0) blurred = blurDeriche(in, sigma);
  const CImg<double>& source = (sigma == 0) ? in : blurred;

  float* coefficients = static_cast<float*>(std::calloc(static_cast<size_t>(count), sizeof(float)));
  if (!coefficients) {
    refuse(std::string(function) + ": not enough memory for " + std::to_string(nb_col) + " x " +
           std::to_string(nb_lig) + " coefficients");
  }
  float* values = CImg2float(source);
  // The spline library has printed what failed.
  if (directBsplineMirror(values, coefficients, nb_col, nb_lig, 1, 3) != 0)
    refuse(std::string(function) + ": the spline coefficients of a " + std::to_string(nb_col) +
           " x " + std::to_string(nb_lig) + " image could not be computed");
  if (alongX)
    gradX(coefficients, values, nb_col, nb_lig, 3, 0.0f);
  else
    gradY(coefficients, values, nb_col, nb_lig, 3, 0.0f);
  CImg<double> result = float2CImg(source.width(), source.height(), values);
  std::free(coefficients);
  delete[] values;
  return result;
}

}  // namespace

float blurWidth(float sigma, int width, int height, int depth) {
  if (sigma >= 0) return sigma;
  const int largest = std::max(std::max(width, height), depth);
  return -sigma * static_cast<float>(largest) / 100.0f;
}

CImg<double> gradSpline_X(const CImg<double>& in, float sigma) {
  return splineDerivative("gradSpline_X", in, sigma, true);
}

CImg<double> gradSpline_Y(const CImg<double>& in, float sigma) {
  return splineDerivative("gradSpline_Y", in, sigma, false);
}

CImg<double> grad_t(const CImg<double>& in, const CImg<double>& indt, float sigma) {
  refuseLargeImage("grad_t", in);
  refuseLargeImage("grad_t", indt);
  CImg<double> difference(indt);
  difference -= in;
  return sigma == 0 ? difference : blurDeriche(difference, sigma);
}
