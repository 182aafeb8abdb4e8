#include "outputs.h"

#include <cstdio>
#include <iostream>

#include "image_utils.h"
#include "motion_file.h"
#include "output_file.h"

using cimg_library::CImg;

namespace {

CImg<double> tile_of(const CImg<double>& img, const RunParameters& p) {
  return img.get_crop(0, 0, p.dxOrig - 1, p.dyOrig - 1);
}

void write_weights(const CImg<double>& weights, const RunParameters& p, const char* prefix,
                   const char* suffix) {
  std::string name = output_file_name(prefix, suffix);
  write_pgm255(tile_of(weights, p), name.data(), 0.0f, 1.0f);
}

}  // namespace

std::string output_file_name(const char* prefix, const char* suffix) {
  return std::string(prefix) + suffix;
}

void write_outputs(const RunParameters& p, RunSetup& s,
                   const cimg_library::CImgList<double>& reg_out, const RunDisplay& display) {
  s.X = s.pyrXtil[0] + s.pyrXinc[0];
  const CImg<double> flow = tile_of(s.X, p);
  write_aMotionFile(output_file_name(s.prefix(), kMotionSuffix).c_str(), flow);
  write_weights(s.pyrOut[0], p, s.prefix(), kDataOutSuffix);
  write_weights(reg_out[0], p, s.prefix(), kRegOutXSuffix);
  write_weights(reg_out[1], p, s.prefix(), kRegOutYSuffix);
  display.show(flow, "UV");
}

void print_closing_line() { std::cout << "\n ** End algorithm **" << std::endl; }

void print_no_convergence_line() {
  std::cout.flush();
  std::fprintf(stderr,
               "Velmora: the level solve did not converge in the last iteration of the finest "
               "level; the outputs hold the increment of the solve before it (exit status %d)\n",
               kExitNoConvergence);
}

std::string check_output_folder(const char* prefix) {
  const std::string name = output_file_name(prefix, kMotionSuffix);
  const std::string reason = check_folder_writable(name);
  if (!reason.empty()) {
    const std::string folder = folder_of(name);
    return "Can't create files in the folder \"" + (folder.empty() ? std::string(".") : folder) +
           "\" of the output prefix \"" + prefix + "\": " + reason;
  }
  // Every output name, so that none fails once the flow is computed.
  for (const char* suffix : {kMotionSuffix, kDataOutSuffix, kRegOutXSuffix, kRegOutYSuffix}) {
    const std::string file = output_file_name(prefix, suffix);
    const std::string refused = check_file_name(file);
    if (!refused.empty()) return "Can't create the output file \"" + file + "\": " + refused;
  }
  return "";
}
