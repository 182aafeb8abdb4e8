#include "run_setup.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <utility>

#include "image_utils.h"
#include "invalid_samples.h"
#include "operators.h"
#include "outputs.h"
#include "readers.h"
#include "refusal.h"
#include "run_memory.h"
#include "sequence_paths.h"
#include "warping.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Slice 0, channel 0 of img cut to the rectangle (x0, y0)-(x0+w-1, y0+h-1);
// pixels outside the image are 0.
CImg<double> cut(const CImg<double>& img, int x0, int y0, int w, int h) {
  return img.get_crop(x0, y0, x0 + w - 1, y0 + h - 1);
}

// The list file: image 1, image 2, the output prefix, an unused fourth
// line (empty when missing) and, with -UVinit, the initial field.
char** read_list_file(const RunParameters& p) {
  char** fileIm = alloc_seqPath(kPathSlots);
  if (p.UVinit)
    read_path(p.ifn, 5, fileIm, 5);
  else
    read_path(p.ifn, 4, fileIm, 3);
  return fileIm;
}

// A tile without a single valid sample gives no data term anywhere.
void refuse_all_invalid(const RunParameters& p, const char* which, const char* path,
                        const CImg<double>& tile, bool preWarped = false) {
  if (has_valid_samples(tile)) return;
  const std::string how = preWarped ? std::string(" pre-warped by ") +
                                          (p.UVinit ? "-UVinit" : "-Umean")
                                    : std::string();
  const std::string mark = grey_text(kInvalidMagnitude) + " or more, the mark of an invalid sample";
  const std::string why = preWarped
                              ? "every pixel there reads a sample of " + mark +
                                    ", or a position outside image 2"
                              : "every sample there is " + mark;
  refuse(std::string("Refused: ") + which + " " + path + how +
         " has no valid sample in the tile of " + std::to_string(p.dxOrig) + " x " +
         std::to_string(p.dyOrig) + " pixels at column " + std::to_string(p.ofx) + ", row " +
         std::to_string(p.ofy) + " (" + why + ").");
}

// The tile of image 1, and image 2 over Dx x Dy, pre-warped by
// the constant velocity or the initial field, then cut at the same tile.
// Pixels whose pre-warp target lies outside image 2 become invalid samples.
void load_tiles(const RunParameters& p, char** fileIm, CImg<double>& imOrig,
                CImg<double>& imdtOrig) {
  const CImg<double> Umean(p.Dx, p.Dy, 1, 1, p.Umoy);
  if (p.UVinit) std::cout << fileIm[kSlotField] << std::endl;

  {
    const CImg<double> image1 = load_grey_image(fileIm[kSlotImage1]);
    const std::string outside =
        check_tile_in_image1(p, fileIm[kSlotImage1], image1.width(), image1.height());
    if (!outside.empty()) refuse(outside);
    imOrig = cut(image1, p.ofx, p.ofy, p.dxOrig, p.dyOrig);
    refuse_all_invalid(p, "image 1", fileIm[kSlotImage1], imOrig);
  }

  // Image 2 over Dx x Dy; in each branch it is loaded after the pre-warp
  // flow is made (after the field is read, with -UVinit).
  const auto image2 = [&]() {
    const CImg<double> image = load_grey_image(fileIm[kSlotImage2]);
    const std::string larger =
        check_extent_in_image2(p, fileIm[kSlotImage2], image.width(), image.height());
    if (!larger.empty()) refuse(larger);
    return cut(image, 0, 0, p.Dx, p.Dy);
  };
  CImg<double> tmpLarge;
  if (p.Umoy != 0.0) {
    const CImg<double> flow = fill(Umean, CImg<double>(p.Dx, p.Dy, 1, 1, 0.0));
    const CImg<double> moving = image2();
    tmpLarge.assign(p.Dx, p.Dy, 1, 1);
    Recal_spline(tmpLarge, moving, flow, 3, OutsideTarget::Invalid);
  } else if (p.UVinit) {
    const CImg<double> field(read_aUVFile(fileIm[kSlotField], p.Dx, p.Dy, p.Dx, p.Dy, 0, 0));
    const CImg<double> moving = image2();
    tmpLarge.assign(p.Dx, p.Dy, 1, 1);
    Recal_spline(tmpLarge, moving, field, 3, OutsideTarget::Invalid);
  } else {
    tmpLarge = image2();
  }
  imdtOrig = cut(tmpLarge, p.ofx, p.ofy, p.dxOrig, p.dyOrig);
  refuse_all_invalid(p, "image 2", fileIm[kSlotImage2], imdtOrig, p.Umoy != 0.0 || p.UVinit);
}

// Padding to W' x H' (stored in p.dx, p.dy), with the size line.
void pad_tiles(RunParameters& p, const CImg<double>& imOrig, const CImg<double>& imdtOrig,
               RunSetup& s, const RunDisplay& display) {
  expand_dim(imOrig.width(), imOrig.height(), p.nb_resol, &p.dx, &p.dy);
  std::cout << "image size before " << p.dxOrig << " " << p.dyOrig << ", and after expanding "
            << p.dx << " " << p.dy << std::endl;
  s.im = expand(imOrig, p.nb_resol);
  s.imdt = expand(imdtOrig, p.nb_resol);
  mark_padding_invalid(s.im, p.dxOrig, p.dyOrig);
  mark_padding_invalid(s.imdt, p.dxOrig, p.dyOrig);
  display.show(s.im, "image 1");
  display.show(s.imdt, "image 2");
}

// Image 1's own invalid samples (and the padding) with the frame may
// leave no pixel of the finest level a data term, whatever the flow.
void refuse_without_data(const RunParameters& p, const RunSetup& s) {
  const DataExclusionCounts counts =
      count_data_exclusions(s.im, CImg<double>(), level_reach(static_cast<float>(p.sigBlur), s.im),
                            p.offEdge, p.dxOrig, p.dyOrig);
  if (counts.kept() == 0) refuse(no_data_message(counts, p.dxOrig, p.dyOrig, true));
}

// Level l + 1 of a pyramid from level l: the 5-tap kernel along x, then
// along y (both skipping invalid samples), then nearest-neighbour halving.
void reduce_level(CImgList<double>& pyr, int l, const CImg<double>& kernel,
                  const CImg<double>& kernelT) {
  CImg<double> t = Filtre_2D_sparse(pyr[l], kernel);
  t = Filtre_2D_sparse(t, kernelT);
  pyr[l + 1] = t.get_resize(pyr[l + 1].width(), pyr[l + 1].height(), -100, -100, 1, 1);
}

// The work pyramids and the two image pyramids.
void build_pyramids(const RunParameters& p, RunSetup& s, const RunDisplay& display) {
  const int W = p.dx, H = p.dy, L = p.nb_resol;
  s.pyrIm = alloc_pyramid(W, H, 1, L);
  s.pyrImdt = alloc_pyramid(W, H, 1, L);
  s.pyrOut = alloc_pyramid(W, H, 1, L);
  s.pyrf_x = alloc_pyramid(W, H, 1, L);
  s.pyrf_y = alloc_pyramid(W, H, 1, L);
  s.pyrf_t = alloc_pyramid(W, H, 1, L);
  s.pyrTmp = alloc_pyramid(W, H, 1, L);
  s.pyrXtil = alloc_pyramid(W, H, 2, L);
  s.pyrXinc = alloc_pyramid(W, H, 2, L);
  s.X.assign(W, H, 2, 1, 0.0);
  const CImg<double> PB_burt = burt_kernel();
  const CImg<double> PB_burtT = PB_burt.get_permute_axes("yxzc");

  s.pyrIm[0] = s.im;
  s.pyrImdt[0] = s.imdt;
  display.show(s.pyrIm[0]);
  display.show(s.pyrImdt[0]);
  for (int l = 0; l <= L - 2; ++l) {
    reduce_level(s.pyrIm, l, PB_burt, PB_burtT);
    reduce_level(s.pyrImdt, l, PB_burt, PB_burtT);
    display.show(s.pyrIm[l + 1]);
    display.show(s.pyrImdt[l + 1]);
  }
}

// Zero flow at the coarsest level; with -UVinit (one level) the
// field over the padded tile's window.
void set_first_linearisation_point(const RunParameters& p, RunSetup& s) {
  s.pyrXtil[p.nb_resol - 1].fill(0.0);
  if (p.UVinit)
    s.pyrXtil[0] = CImg<double>(
        read_aUVFile(s.fileIm[kSlotField], p.dx, p.dy, p.Dx, p.Dy, p.ofx, p.ofy));
}

}  // namespace

RunSetup::RunSetup(RunSetup&& other) noexcept
    : fileIm(std::exchange(other.fileIm, nullptr)),
      im(std::move(other.im)),
      imdt(std::move(other.imdt)),
      pyrIm(std::move(other.pyrIm)),
      pyrImdt(std::move(other.pyrImdt)),
      pyrOut(std::move(other.pyrOut)),
      pyrf_x(std::move(other.pyrf_x)),
      pyrf_y(std::move(other.pyrf_y)),
      pyrf_t(std::move(other.pyrf_t)),
      pyrXtil(std::move(other.pyrXtil)),
      pyrXinc(std::move(other.pyrXinc)),
      pyrTmp(std::move(other.pyrTmp)),
      X(std::move(other.X)) {}

RunSetup::~RunSetup() { free_seqPath(fileIm, kPathSlots); }

CImg<double> burt_kernel() { return CImg<double>(5, 1, 1, 1, 0.05, 0.25, 0.4, 0.25, 0.05); }

std::string check_run_sizes(const RunParameters& p) {
  const struct {
    const char* option;
    int value;
  } sides[] = {{"-dx", p.dxOrig}, {"-dy", p.dyOrig}, {"-Dx", p.Dx}, {"-Dy", p.Dy}};
  for (const auto& side : sides)
    if (side.value > kMaxImageSide)
      return std::string("Refused: ") + side.option + " " + std::to_string(side.value) +
             " exceeds " + std::to_string(kMaxImageSide) + " pixels.";
  if (static_cast<long long>(p.ofx) + p.dxOrig > p.Dx ||
      static_cast<long long>(p.ofy) + p.dyOrig > p.Dy)
    return "Refused: the tile of " + std::to_string(p.dxOrig) + " x " + std::to_string(p.dyOrig) +
           " pixels at column " + std::to_string(p.ofx) + ", row " + std::to_string(p.ofy) +
           " does not lie inside the whole-image size " + std::to_string(p.Dx) + " x " +
           std::to_string(p.Dy) + " (-Dx, -Dy).";
  int W = 0, H = 0;
  expand_dim(p.dxOrig, p.dyOrig, p.nb_resol, &W, &H);
  if (W > kMaxImageSide || H > kMaxImageSide)
    return "Refused: the tile " + std::to_string(p.dxOrig) + " x " + std::to_string(p.dyOrig) +
           " padded for " + level_count(p.nb_resol) + " (" + std::to_string(W) +
           " x " + std::to_string(H) + ") exceeds " + std::to_string(kMaxImageSide) +
           " pixels.";
  if (p.UVinit && (p.ofx < 0 || p.ofy < 0 || static_cast<long>(p.ofx) + W > p.Dx ||
                   static_cast<long>(p.ofy) + H > p.Dy))
    return "Refused: with -UVinit the padded tile " + std::to_string(W) + " x " +
           std::to_string(H) + " at (" + std::to_string(p.ofx) + ", " + std::to_string(p.ofy) +
           ") does not lie inside the " + std::to_string(p.Dx) + " x " + std::to_string(p.Dy) +
           " field.";
  return "";
}

std::string check_tile_in_image1(const RunParameters& p, const char* path, int width1,
                                 int height1) {
  if (static_cast<long long>(p.ofx) + p.dxOrig <= width1 &&
      static_cast<long long>(p.ofy) + p.dyOrig <= height1)
    return "";
  return "Refused: the tile of " + std::to_string(p.dxOrig) + " x " + std::to_string(p.dyOrig) +
         " pixels at column " + std::to_string(p.ofx) + ", row " + std::to_string(p.ofy) +
         " (-dx, -dy, -ofx, -ofy) does not lie inside image 1 " + path + " of " +
         std::to_string(width1) + " x " + std::to_string(height1) + " pixels.";
}

std::string check_extent_in_image2(const RunParameters& p, const char* path, int width2,
                                   int height2) {
  if (p.Dx <= width2 && p.Dy <= height2) return "";
  return "Refused: the whole-image size " + std::to_string(p.Dx) + " x " + std::to_string(p.Dy) +
         " (-Dx, -Dy) exceeds image 2 " + path + " of " + std::to_string(width2) + " x " +
         std::to_string(height2) + " pixels.";
}

std::string check_before_input(const RunParameters& p) {
  const std::string sizes = check_run_sizes(p);
  if (!sizes.empty()) return sizes;
  // The Hessian's entry limit before the memory check: a tile beyond it
  // is refused whatever memory the machine has.
  const std::string entries = check_hessian_entries(p);
  if (!entries.empty()) return entries;
  return memory_refusal_before_input(p);
}

RunSetup run_setup(RunParameters& p, const RunDisplay& display) {
  const std::string refused = check_before_input(p);
  if (!refused.empty()) refuse(refused);
  plan_run_memory(p);
  RunSetup s;
  s.fileIm = read_list_file(p);
  const std::string folder = check_output_folder(s.prefix());
  if (!folder.empty()) refuse(folder);
  CImg<double> imOrig, imdtOrig;
  load_tiles(p, s.fileIm, imOrig, imdtOrig);
  pad_tiles(p, imOrig, imdtOrig, s, display);
  refuse_without_data(p, s);
  build_pyramids(p, s, display);
  set_first_linearisation_point(p, s);
  return s;
}
