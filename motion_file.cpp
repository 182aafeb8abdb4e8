// Motion files of the program: writing a Flow field and reading a window of
// a stored one back.
#include "motion_file.h"

#include "image_utils.h"
#include "io_field.h"
#include "refusal.h"

#include <CImg.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using cimg_library::CImg;

void write_aMotionFile(const char* fileMotionOut, const CImg<double>& im) {
  assert(im.is_empty() || im.depth() >= 2);
  const int width = im.width(), height = im.height();
  if (width > kMaxImageSide || height > kMaxImageSide)
    refuse(std::string("Can't write ") + fileMotionOut + ": a motion file holds at most " +
           std::to_string(kMaxImageSide) + " x " + std::to_string(kMaxImageSide) +
           " pixels, not " + std::to_string(width) + " x " + std::to_string(height));
  const std::size_t n = static_cast<std::size_t>(width) * height;
  std::vector<float> U(n), V(n);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::size_t k = static_cast<std::size_t>(y) * width + x;
      U[k] = static_cast<float>(im(x, y, 0));
      V[k] = static_cast<float>(im(x, y, 1));
    }
  std::cout << fileMotionOut << std::endl;
  write_champ(U.data(), V.data(), static_cast<short>(width), static_cast<short>(height),
              fileMotionOut);
}

CImg<float> read_aMotionFile(const char* filename, int dx, int dy, int Dx, int ofx, int ofy) {
  std::ifstream in(filename);
  if (!in) refuse(std::string("Can't open ") + filename + " for reading");
  std::cout << filename << std::endl;
  const std::string where = std::string(filename) + ", line ";

  // Line 1: the stored width and height; line 2: the column titles.
  std::string line;
  int width = 0, height = 0;
  if (!std::getline(in, line) || std::sscanf(line.c_str(), "%d %d", &width, &height) != 2 ||
      width < 0 || height < 0)
    refuse(where + "1: expected the sizes \"width height\"");
  const long long stored = static_cast<long long>(width) * height;
  const long long rows = static_cast<long long>(dy) + ofy;
  if (dx < 0 || dy < 0 || ofx < 0 || ofy < 0 || static_cast<long long>(ofx) + dx > Dx ||
      rows * Dx > stored)
    refuse(std::string(filename) + ": the window of " + std::to_string(dx) + " x " +
           std::to_string(dy) + " pixels at column " + std::to_string(ofx) + ", row " +
           std::to_string(ofy) + " reaches past the stored field of " + std::to_string(stored) +
           " pixels in rows of " + std::to_string(Dx));
  std::getline(in, line);

  CImg<float> result(dx, dy, 2, 1, 0.0f);
  long long number = 2;
  for (long long r = 0; r < rows; ++r)
    for (int c = 0; c < Dx; ++c) {
      ++number;
      int i = 0, j = 0;
      float u = 0.0f, v = 0.0f;
      if (!std::getline(in, line) || std::sscanf(line.c_str(), "%d %d %f %f", &i, &j, &u, &v) != 4)
        refuse(where + std::to_string(number) + ": expected \"i j U V\"");
      if (r >= ofy && c >= ofx && c < ofx + dx) {
        const int x = c - ofx, y = static_cast<int>(r - ofy);
        result(x, y, 0) = u;
        result(x, y, 1) = v;
      }
    }
  return result;
}
