// Input images of a run: grey images loaded from PNM files by a reader of
// our own (exact 8- and 16-bit samples, every header the format allows) or
// from any other format through ImageMagick's convert, run by the program
// itself (no shell) to turn the file into PNM on a pipe, and the checks
// that make them fit the program: at most kMaxImageSide pixels per side and
// samples from 0 to kMaxSample.
#ifndef VELMORA_INPUT_IMAGES_H
#define VELMORA_INPUT_IMAGES_H

#include <string>

#include "CImg.h"
#include "image_utils.h"  // kMaxImageSide

// Largest sample of an input image: 1022 and 1023 mark invalid samples, so
// the program takes 8-bit and 10-bit images.
constexpr double kMaxSample = 1023.0;

// Loads a grey image: channel 0 of the file. Files that start with a PNM
// magic number (P1 to P6) are read by read_pnm_grey. Any other format goes
// through the convert that find_converter finds, run with an argument
// vector ("convert <file> pnm:-", a relative file name given as "./<file>")
// and its output read by the same PNM reader: the samples are those the
// converter writes (8 or 16 bits), of the first frame of a file of several.
// A file that cannot be opened, a file refused by the reader, a file of
// another format when no convert is found or when the converter fails (it
// exits with a status other than 0, is ended by a signal, or writes no
// valid PNM), or a sample that is not a number from 0 to kMaxSample ends
// the program with a one-line message naming the file on standard error and
// exit status 1; the converter's own messages go to standard error before.
cimg_library::CImg<double> load_grey_image(const char* path);

// Absolute path of the first executable regular file called name in the
// absolute folders of PATH; "" when there is none. Empty and relative
// entries, which name the working folder or folders below it, are skipped,
// so that files of the folder a run starts in are never executed.
std::string find_converter(const char* name);

// Reads a PNM file (P1 to P6) into image: width x height, one channel (the
// first, red, of a colour file), raw sample values; bitmaps (P1, P4) read
// 1 (black) as 0 and 0 (white) as 255. Header fields are separated by white
// space and comments ('#' to the line end) in any layout; one white-space
// byte ends the header of a binary file, whose samples take one byte for a
// maximum value below 256 and two (most significant first) otherwise.
// Returns "" on success, else a one-line message naming the file (no line
// end) for: no PNM magic number, a malformed header, a side above
// kMaxImageSide, a maximum value outside 1 to 65535, fewer samples than the
// header announces (refused before the raster is allocated when the file is
// too short to hold them), a text sample that is not a decimal integer, or a
// sample above the maximum value.
std::string read_pnm_grey(const char* path, cimg_library::CImg<double>& image);

// "" when every sample of image is a number from 0 to kMaxSample, else a
// message naming path and the largest offending sample (no line end).
std::string check_samples(const char* path, const cimg_library::CImg<double>& image);

#endif
