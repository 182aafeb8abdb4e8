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
#include "input_images.h"
#include "run_parameters.h"

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

// The whole set-up, in order: list file (three lines, five with -UVinit;
// a fourth line is read when present and not used), the output folder's
// check, images and tiles, pre-warp, padding (p.dx, p.dy receive the padded
// size W' x H' and the size line is printed), pyramids, first linearisation
// point. With display on, shows the padded images and every pyramid level.
// Refusals (sizes, -UVinit window, a finest-level Hessian of more entries
// than an int counts, memory, list file, an output folder where no
// file can be created, images refused by load_grey_image, a tile outside
// image 1, a -Dx x -Dy extent larger than image 2, a tile of image 1 or of
// the pre-warped image 2 without any valid sample) end the program with a
// message on standard error and exit status 1; the image library's
// exceptions propagate.
RunSetup run_setup(RunParameters& p, const RunDisplay& display);

// Refusals that need no input file: a tile, whole-image extent or padded
// size above kMaxImageSide, a tile that does not lie inside the Dx x Dy
// extent, and with -UVinit a W' x H' window at (ofx, ofy) that does not lie
// inside the Dx x Dy field. Returns "" when the run can go on, else a
// one-line message (no line end).
std::string check_run_sizes(const RunParameters& p);

// The refusals of run_setup that come before any input is read, in its
// order: check_run_sizes, the finest-level Hessian's entry limit
// (check_hessian_entries), then the memory the run needs with its probe
// solves on one thread (memory_refusal_before_input). "" or the first
// one-line message.
std::string check_before_input(const RunParameters& p);

// Refusals once the images are loaded: the tile (ofx, ofy, dxOrig x dyOrig)
// must lie inside image 1 (width1 x height1), the Dx x Dy extent inside
// image 2. Returns "" or a one-line message with the sizes (no line end).
std::string check_tile_in_image1(const RunParameters& p, const char* path, int width1, int height1);
std::string check_extent_in_image2(const RunParameters& p, const char* path, int width2,
                                   int height2);

// The smoothing kernel of the pyramids: 5 x 1, (0.05, 0.25, 0.4, 0.25, 0.05).
cimg_library::CImg<double> burt_kernel();

#endif
