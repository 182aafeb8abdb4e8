// Sum of all values of an image that refuses an empty image.
//
// The installed image library returns 0 for the sum of an empty image; the
// routines rely on the older behaviour, which raised the library's
// empty-instance error. cimgSum restores it: CImgInstanceException for an
// empty image, otherwise the sum of every value, accumulated in double from
// the last element to the first (the older library's order).
#pragma once

#include "CImg.h"

template <typename T>
double cimgSum(const cimg_library::CImg<T>& img) {
  if (img.is_empty())
    throw cimg_library::CImgInstanceException("cimgSum(): the image is empty.");
  double s = 0.0;
  for (const T* p = img.end(); p != img.data();) s += static_cast<double>(*--p);
  return s;
}
