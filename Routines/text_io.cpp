// Text output of image rows.
#include "text_io.h"

#include <CImg.h>

#include <fstream>

void writeLine(const cimg_library::CImg<double>& save, const char* filename) {
  const int width = save.width();
  if (save.is_empty()) return;
  std::ofstream out(filename, std::ios::app);
  if (!out) return;
  for (int x = 0; x < width; ++x) out << save(x) << (x + 1 < width ? '\t' : '\n');
}
