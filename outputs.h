// Outputs of the run at the finest level: the motion file of the total flow
// and the three 8-bit weight images, all over the tile, and the closing line.
#ifndef VELMORA_OUTPUTS_H
#define VELMORA_OUTPUTS_H

#include <string>

#include "CImg.h"
#include "display_hooks.h"
#include "run_parameters.h"
#include "run_setup.h"

// Suffixes of the output files, appended to the list file's prefix.
constexpr const char* kMotionSuffix = "UV_HS.motion";
constexpr const char* kDataOutSuffix = "UV_HSDataOut.pgm";
constexpr const char* kRegOutXSuffix = "UV_HSRegOutX.pgm";
constexpr const char* kRegOutYSuffix = "UV_HSRegOutY.pgm";

// prefix followed by suffix, for any length of either.
std::string output_file_name(const char* prefix, const char* suffix);

// At level 0, after its iteration: X = UVtil + UVinc; writes, cut to the
// dxOrig x dyOrig tile, the motion file of X, the data weights of level 0
// and both elements of reg_out as PGM images over the range 0 to 1; in
// display mode then shows X over the tile in a window titled "UV".
void write_outputs(const RunParameters& p, RunSetup& s,
                   const cimg_library::CImgList<double>& reg_out, const RunDisplay& display);

// The closing line of a run: an empty line, then " ** End algorithm **".
void print_closing_line();

// Exit status of a run whose last level solve at the finest level failed:
// its outputs hold the increment kept from the solve before.
constexpr int kExitNoConvergence = 2;

// The line on standard error that goes with kExitNoConvergence.
void print_no_convergence_line();

// "" when the output files named from prefix can be created: a file can be
// created in their folder (tried by creating and removing a temporary file
// there) and each of the four names fits the system's limits and is not a
// folder (check_file_name). Else a one-line message naming the folder and
// the prefix, or the output file, and the reason (no line end). Existing
// outputs are left untouched.
std::string check_output_folder(const char* prefix);

#endif
