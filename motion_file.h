// Motion files of the program: a Flow field to and from the text format
// "W H" / "#i\tj\tU\tV" / one "i\tj\tU\tV" line per pixel (row i outer,
// column j inner), written by write_champ.
#ifndef VELMORA_MOTION_FILE_H
#define VELMORA_MOTION_FILE_H

namespace cimg_library {
template <typename T> struct CImg;
}

// Writes fileMotionOut from the Flow field im (width x height x 2: slice 0
// U, slice 1 V): prints the path and a line end on standard output, then
// writes every pixel with write_champ. Sizes must fit 16 bits (else a
// message on standard error and exit status 1); a file that cannot be
// created ends the program as write_champ does.
void write_aMotionFile(const char* fileMotionOut, const cimg_library::CImg<double>& im);

// Reads the dx x dy window at column ofx, row ofy of the motion file
// filename, whose rows hold Dx pixels; returns it as dx x dy x 2 (slice 0 U,
// slice 1 V). Prints the path and a line end on standard output. A file
// that cannot be opened, a line that does not parse (message with its line
// number) or a window outside the stored field (negative offsets or sizes,
// ofx + dx > Dx, more rows than the size line announces) ends the program
// with a message on standard error and exit status 1.
cimg_library::CImg<float> read_aMotionFile(const char* filename, int dx, int dy, int Dx,
                                           int ofx, int ofy);

#endif
