// Readers of outside data: the initial velocity field and binary PGM images.
#ifndef VELMORA_READERS_H
#define VELMORA_READERS_H

namespace cimg_library {
template <typename T> struct CImg;
}

// Largest magnitude of a velocity, in pixels, taken as input (the values
// of an initial field, the -Umean constant).
constexpr double kMaxVelocity = 32767.0;

// Initial velocity field: the text file filename holds Dx * Dy lines
// "%d %d %f %f" (the integers unused, then u and v), column after column
// (x outer, y inner), the rows running upwards. Returns the dx x dy window
// at column ofx, row ofy of the field, as dx x dy x 2 floats: slice 0 u,
// slice 1 -v (the file's row y becomes row Dy - 1 - y). Prints the path and
// a line end on standard output. A file that cannot be opened, a line that
// does not parse (message with its line number), a u or v that is not
// finite or whose magnitude exceeds kMaxVelocity, a line after the Dx * Dy
// lines of the field that is not blank, or a window outside the Dx x Dy
// field ends the program with a message on standard error and exit status 1.
cimg_library::CImg<float> read_aUVFile(const char* filename, int dx, int dy, int Dx, int Dy,
                                       int ofx, int ofy);

// Binary PGM nom with maximum value 255 (1 byte per sample) or 1023 (2 bytes
// per sample, native byte order): the magic line, any comment lines starting
// with '#', "width height maxval", exactly one white-space byte, the raster.
// Returns the dx x dy window at column ofx, row ofy as 16-bit values;
// samples missing from a short raster read as 0. Another maximum value
// prints "Can't read images <nom> Brastemok problem def=<maxval> (255 ou
// 1023)!" on standard output and exits with status 1; a file that cannot be
// opened, a malformed header or a window outside the image ends the program
// with a message on standard error and exit status 1.
cimg_library::CImg<short> read_pgm(const char* nom, int dx, int dy, int ofx, int ofy);

#endif
