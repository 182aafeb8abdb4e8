// Text output of image rows.
#ifndef VELMORA_TEXT_IO_H
#define VELMORA_TEXT_IO_H

namespace cimg_library {
template <typename T> struct CImg;
}

// Appends row 0 of save (its first width values) to the text file filename:
// the values in the stream's default format (6 significant digits) separated
// by tabs, then a line end. A file that cannot be opened is not reported and
// nothing is written; an empty image appends nothing.
void writeLine(const cimg_library::CImg<double>& save, const char* filename);

#endif
