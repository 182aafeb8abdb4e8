// Run set-up: from the parsed options to the pyramids the level loop works
// on. Reads the list file, loads both images and cuts the tile, pre-warps
// image 2 (constant -Umean velocity or -UVinit field), pads the tiles to a
// multiple of 2^L, builds the image pyramids and sets the linearisation
// point of the coarsest level.
#ifndef VELMORA_RUN_SETUP_H
#define VELMORA_RUN_SETUP_H

#include <string>

#include "CImg.h"
#include "display_hooks.h"
#include "run_parameters.h"

// Largest image or tile side the spline, warping and padding code can take
// (their sizes are signed 16-bit values).
constexpr int kMaxImageSide = 32767;

// Number of path slots allocated for the list file, and slot indices.
constexpr int kPathSlots = 7;
constexpr int kSlotImage1 = 0;
constexpr int kSlotImage2 = 1;
constexpr int kSlotPrefix = 2;
constexpr int kSlotField = 4;

// Everything prepared once per run. Pyramids have 8 slots, slot l holding
// level l (0 the finest, W' x H'); slots above the coarsest level are empty.
struct RunSetup {
  char** fileIm = nullptr;  // kPathSlots path slots of the list file (owned)
  cimg_library::CImg<double> im, imdt;  // image 1 and pre-warped image 2, padded to W' x H'
  cimg_library::CImgList<double> pyrIm, pyrImdt;  // image 1 and image 2 per level
  cimg_library::CImgList<double> pyrOut;          // data weights per level
  cimg_library::CImgList<double> pyrf_x, pyrf_y, pyrf_t;  // derivative images per level
  cimg_library::CImgList<double> pyrXtil, pyrXinc;  // linearisation point, increment (2 slices)
  cimg_library::CImgList<double> pyrTmp;            // scratch plane for the projection
  cimg_library::CImg<double> X;                     // total flow at the finest level, W' x H' x 2

  RunSetup() = default;
  RunSetup(const RunSetup&) = delete;
  RunSetup& operator=(const RunSetup&) = delete;
  RunSetup(RunSetup&& other) noexcept;
  RunSetup& operator=(RunSetup&& other) = delete;
  ~RunSetup();

  const char* prefix() const { return fileIm[kSlotPrefix]; }
};

// The whole set-up, in order: list file, images and tiles, pre-warp,
// padding (p.dx, p.dy receive the padded size W' x H' and the size line is
// printed), pyramids, first linearisation point. With display on, shows the
// padded images and every pyramid level. Refusals (sizes, -UVinit window,
// list file, truncated images) end the program with a message on standard
// error and exit status 1; the image library's exceptions propagate.
RunSetup run_setup(RunParameters& p, const RunDisplay& display);

// Refusals that need no input file: a tile, whole-image extent or padded
// size above kMaxImageSide, and with -UVinit a W' x H' window at (ofx, ofy)
// that does not lie inside the Dx x Dy field. Returns "" when the run can
// go on, else a one-line message (no line end).
std::string check_run_sizes(const RunParameters& p);

// Loads a grey image: slice 0 and channel 0 of the file. PNM files (P1 to
// P6) are read by the image library's own PNM reader, so that 10-bit
// samples keep their exact values; any other format goes through the
// library's external converter. A PNM file holding fewer samples than its
// header announces, or an image with a side above kMaxImageSide, ends the
// program with a message on standard error and exit status 1.
cimg_library::CImg<double> load_grey_image(const char* path);

// For a file that starts with a PNM magic number (P1 to P6): "" when it
// holds at least the samples its header announces, else a message naming
// the file. Returns "" for any other file (not judged here).
std::string check_pnm_complete(const char* path);

// The smoothing kernel of the pyramids: 5 x 1, (0.05, 0.25, 0.4, 0.25, 0.05).
cimg_library::CImg<double> burt_kernel();

#endif
