#include "image_conversion.h"

#include <CImg.h>

using cimg_library::CImg;

float* CImg2float(const CImg<double>& in) {
  const long count = static_cast<long>(in.width()) * in.height() * in.depth();
  float* out = new float[count];
  // Channel 0 is the first width*height*depth values of the image.
  const double* src = in.data();
  for (long k = 0; k < count; ++k) out[k] = static_cast<float>(src[k]);
  return out;
}

CImg<double> float2CImg(int dx, int dy, const float* in) { return float2CImg(dx, dy, 1, in); }

CImg<double> float2CImg(int dx, int dy, int dz, const float* in) {
  if (dx <= 0 || dy <= 0 || dz <= 0) return CImg<double>();
  CImg<double> out(dx, dy, dz, 1);
  double* dst = out.data();
  const long count = static_cast<long>(dx) * dy * dz;
  for (long k = 0; k < count; ++k) dst[k] = static_cast<double>(in[k]);
  return out;
}

void Copy_f(float* im1, const float* im2, int nb_col, int nb_line) {
  const long count = static_cast<long>(nb_col) * nb_line;
  if (count <= 0) return;
  for (long k = 0; k < count; ++k) im1[k] = im2[k];
}
