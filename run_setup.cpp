#include "run_setup.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <utility>

#include "image_utils.h"
#include "operators.h"
#include "readers.h"
#include "sequence_paths.h"
#include "warping.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

[[noreturn]] void refuse(const std::string& message) {
  std::cout.flush();
  std::fprintf(stderr, "%s\n", message.c_str());
  std::exit(1);
}

// Slice 0, channel 0 of img cut to the rectangle (x0, y0)-(x0+w-1, y0+h-1);
// pixels outside the image are 0.
CImg<double> cut(const CImg<double>& img, int x0, int y0, int w, int h) {
  return img.get_crop(x0, y0, x0 + w - 1, y0 + h - 1);
}

// The list file. Four lines, five with -UVinit.
char** read_list_file(const RunParameters& p) {
  char** fileIm = alloc_seqPath(kPathSlots);
  read_path(p.ifn, p.UVinit ? 5 : 4, fileIm);
  return fileIm;
}

// The tile of image 1, and image 2 over Dx x Dy, pre-warped by
// the constant velocity or the initial field, then cut at the same tile.
void load_tiles(const RunParameters& p, char** fileIm, CImg<double>& imOrig,
                CImg<double>& imdtOrig) {
  const CImg<double> Umean(p.Dx, p.Dy, 1, 1, p.Umoy);
  if (p.UVinit) std::cout << fileIm[kSlotField] << std::endl;

  imOrig = cut(load_grey_image(fileIm[kSlotImage1]), p.ofx, p.ofy, p.dxOrig, p.dyOrig);

  // Image 2 over Dx x Dy; in each branch it is loaded after the pre-warp
  // flow is made (after the field is read, with -UVinit).
  const auto image2 = [&]() {
    return cut(load_grey_image(fileIm[kSlotImage2]), 0, 0, p.Dx, p.Dy);
  };
  CImg<double> tmpLarge;
  if (p.Umoy != 0.0) {
    const CImg<double> flow = fill(Umean, CImg<double>(p.Dx, p.Dy, 1, 1, 0.0));
    const CImg<double> moving = image2();
    tmpLarge.assign(p.Dx, p.Dy, 1, 1);
    Recal_spline(tmpLarge, moving, flow, 3);
  } else if (p.UVinit) {
    const CImg<double> field(read_aUVFile(fileIm[kSlotField], p.Dx, p.Dy, p.Dx, p.Dy, 0, 0));
    const CImg<double> moving = image2();
    tmpLarge.assign(p.Dx, p.Dy, 1, 1);
    Recal_spline(tmpLarge, moving, field, 3);
  } else {
    tmpLarge = image2();
  }
  imdtOrig = cut(tmpLarge, p.ofx, p.ofy, p.dxOrig, p.dyOrig);
}

// Padding to W' x H' (stored in p.dx, p.dy), with the size line.
void pad_tiles(RunParameters& p, const CImg<double>& imOrig, const CImg<double>& imdtOrig,
               RunSetup& s, const RunDisplay& display) {
  expand_dim(imOrig.width(), imOrig.height(), p.nb_resol, &p.dx, &p.dy);
  std::cout << "image size before " << p.dxOrig << " " << p.dyOrig << ", and after expanding "
            << p.dx << " " << p.dy << std::endl;
  s.im = expand(imOrig, p.nb_resol);
  s.imdt = expand(imdtOrig, p.nb_resol);
  display.show(s.im, "image 1");
  display.show(s.imdt, "image 2");
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

// The PNM type of a file (1 to 6 for the magic numbers P1 to P6), 0 for a
// file that cannot be read or is no PNM file.
int pnm_type(const char* path) {
  std::ifstream in(path, std::ios::binary);
  char magic[2] = {0, 0};
  if (!in.read(magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6') return 0;
  return magic[1] - '0';
}

// Reads one whitespace-separated header token of a PNM file, skipping
// comments (from '#' to the line end). Returns false at the end of the file.
bool pnm_token(std::istream& in, std::string& token) {
  token.clear();
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
      continue;
    }
    if (std::isspace(c)) {
      if (!token.empty()) return true;
      continue;
    }
    token.push_back(static_cast<char>(c));
  }
  return !token.empty();
}

bool parse_count(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.size() > 12) return false;
  value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    value = value * 10 + static_cast<unsigned long long>(ch - '0');
  }
  return true;
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
  int W = 0, H = 0;
  expand_dim(p.dxOrig, p.dyOrig, p.nb_resol, &W, &H);
  if (W > kMaxImageSide || H > kMaxImageSide)
    return "Refused: the tile " + std::to_string(p.dxOrig) + " x " + std::to_string(p.dyOrig) +
           " padded for " + std::to_string(p.nb_resol) + " levels (" + std::to_string(W) +
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

std::string check_pnm_complete(const char* path) {
  const int type = pnm_type(path);
  if (type == 0) return "";
  std::ifstream in(path, std::ios::binary);
  in.seekg(2);
  const bool hasMax = type != 1 && type != 4;
  std::string token;
  unsigned long long W = 0, H = 0, maxval = 1;
  const std::string bad = std::string("The image ") + path + " has an unreadable PNM header.";
  if (!pnm_token(in, token) || !parse_count(token, W)) return bad;
  if (!pnm_token(in, token) || !parse_count(token, H)) return bad;
  if (hasMax && (!pnm_token(in, token) || !parse_count(token, maxval))) return bad;
  // pnm_token consumed the one whitespace byte that ends the header.
  const unsigned long long channels = (type == 3 || type == 6) ? 3 : 1;
  const unsigned long long samples = W * H * channels;
  unsigned long long present = 0, needed = samples;
  if (!in) {
    present = 0;  // the header ends with the file
  } else if (type >= 4) {
    const std::streampos start = in.tellg();
    in.seekg(0, std::ios::end);
    present = static_cast<unsigned long long>(in.tellg() - start);
    needed = type == 4 ? (W + 7) / 8 * H : samples * (maxval < 256 ? 1 : 2);
  } else {
    // Text rasters: one whitespace-separated number per sample.
    std::string value;
    while (present < needed && in >> value) ++present;
  }
  if (present < needed)
    return std::string("The image ") + path + " holds less data than its header announces (" +
           std::to_string(present) + " of " + std::to_string(needed) +
           (type >= 4 ? " bytes)." : " samples).");
  return "";
}

CImg<double> load_grey_image(const char* path) {
  const std::string incomplete = check_pnm_complete(path);
  if (!incomplete.empty()) refuse(incomplete);
  // The converter would lower about half of all 10-bit values by one: PNM
  // files are read by the library's own reader.
  CImg<double> img = pnm_type(path) != 0 ? CImg<double>::get_load_pnm(path)
                                         : CImg<double>::get_load_tiff(path, 0, ~0U, 1);
  img = img.get_slice(0).get_channels(0, 0);
  if (img.width() > kMaxImageSide || img.height() > kMaxImageSide)
    refuse(std::string("Refused: the image ") + path + " is " + std::to_string(img.width()) +
           " x " + std::to_string(img.height()) + "; images are limited to " +
           std::to_string(kMaxImageSide) + " pixels per side.");
  return img;
}

RunSetup run_setup(RunParameters& p, const RunDisplay& display) {
  const std::string sizes = check_run_sizes(p);
  if (!sizes.empty()) refuse(sizes);
  RunSetup s;
  s.fileIm = read_list_file(p);
  CImg<double> imOrig, imdtOrig;
  load_tiles(p, s.fileIm, imOrig, imdtOrig);
  pad_tiles(p, imOrig, imdtOrig, s, display);
  build_pyramids(p, s, display);
  set_first_linearisation_point(p, s);
  return s;
}
