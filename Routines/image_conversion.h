// Conversions between images and single-precision image buffers: a float
// array of width x height (x depth) values, x fastest, then y, then z
// (element (x, y, z) at x + y*width + z*width*height), without header.
#ifndef VELMORA_IMAGE_CONVERSION_H
#define VELMORA_IMAGE_CONVERSION_H

namespace cimg_library {
template <typename T> struct CImg;
}

// New float array (array form of new, freed by the caller with delete[]) of
// width*height*depth elements: in(x, y, z, channel 0) narrowed to float.
float* CImg2float(const cimg_library::CImg<double>& in);

// New dx x dy image whose value (x, y) is in[x + y*dx] widened to double.
// Reads dx*dy floats; the array stays the caller's.
cimg_library::CImg<double> float2CImg(int dx, int dy, const float* in);

// New dx x dy x dz image whose value (x, y, z) is in[x + y*dx + z*dx*dy].
cimg_library::CImg<double> float2CImg(int dx, int dy, int dz, const float* in);

// Copies nb_col*nb_line floats from im2 into im1 (destination first);
// nothing when the product is 0 or negative.
void Copy_f(float* im1, const float* im2, int nb_col, int nb_line);

#endif
