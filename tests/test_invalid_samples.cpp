// Invalid samples (grey values of magnitude 1022 or more): the filling
// from valid neighbours, the pixels whose data term is excluded, the level
// start and the warp that must not let a marker's value leak into valid
// pixels, and whole runs with markers against the same runs without.
#include <gtest/gtest.h>

#include <CImg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "image_derivatives.h"
#include "image_utils.h"
#include "invalid_samples.h"
#include "level_loop.h"
#include "level_trace.h"
#include "program_run.h"
#include "run_parameters.h"
#include "run_setup.h"
#include "texture_pair.h"
#include "warping.h"

using cimg_library::CImg;
using namespace velmora_test;

namespace {

constexpr double kMarker = 1023.0;

CImg<double> ramp(int w, int h, double a, double b, double c) {
  CImg<double> img(w, h, 1, 1);
  cimg_forXY(img, x, y) img(x, y) = a * x + b * y + c;
  return img;
}

// ---------------------------------------------------------------------------
// Filling.

struct FillCase {
  const char* name;
  int w, h;
  std::vector<double> in, expected;  // kMarker / NAN mark invalid samples
};

TEST(FillInvalidSamples, RingsTakeTheMeanOfEarlierRings) {
  const double M = kMarker;
  const std::vector<FillCase> cases = {
      // The centre takes the mean of its four valid neighbours.
      {"centre", 3, 3, {1, 2, 3, 4, M, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      // Both holes are in the first ring: each sees only its valid end,
      // whatever the order they are visited in.
      {"two in one ring", 4, 1, {10, M, M, 40}, {10, 10, 40, 40}},
      // The middle hole is in the second ring: the mean of the first ring.
      {"second ring", 5, 1, {10, M, M, M, 50}, {10, 10, 30, 50, 50}},
      // 1022 is already invalid, 1021 is not; negative markers too.
      {"thresholds", 4, 1, {1021, 1022, -1023, 3}, {1021, 1021, 3, 3}},
      {"NaN", 3, 1, {4, NAN, 8}, {4, 6, 8}},
      {"corner", 2, 2, {M, 2, 4, 6}, {3, 2, 4, 6}},
      {"no valid sample", 2, 2, {M, M, -M, M}, {0, 0, 0, 0}},
      {"no invalid sample", 3, 1, {1, 1021.5, -1021.5}, {1, 1021.5, -1021.5}},
  };
  for (const FillCase& c : cases) {
    std::vector<double> d = c.in;
    std::vector<float> f(c.in.begin(), c.in.end());
    const bool any = std::any_of(c.in.begin(), c.in.end(),
                                 [](double v) { return !(std::fabs(v) < 1022.0); });
    EXPECT_EQ(fill_invalid_samples(d.data(), c.w, c.h), any) << c.name;
    EXPECT_EQ(fill_invalid_samples(f.data(), c.w, c.h), any) << c.name;
    for (std::size_t k = 0; k < d.size(); ++k) {
      EXPECT_EQ(d[k], c.expected[k]) << c.name << " sample " << k;
      EXPECT_EQ(f[k], static_cast<float>(c.expected[k])) << c.name << " sample " << k;
    }
  }
}

// A linear ramp is rebuilt exactly at isolated inner holes (the mean of
// the four neighbours of a plane is its value), and a block is filled with
// values inside the range of the samples around it.
TEST(FillInvalidSamples, RampsAndBlocks) {
  const CImg<double> truth = ramp(12, 10, 3.0, 5.0, 7.0);
  CImg<double> holes(truth);
  holes(3, 4) = kMarker;
  holes(8, 2) = -kMarker;
  holes(6, 7) = 1022.0;
  const CImg<double> filled = get_filled(holes);
  cimg_forXY(truth, x, y) EXPECT_EQ(filled(x, y), truth(x, y)) << x << "," << y;
  EXPECT_TRUE(has_invalid_samples(holes));
  EXPECT_FALSE(has_invalid_samples(filled));

  CImg<double> block(truth);
  for (int y = 3; y <= 6; ++y)
    for (int x = 4; x <= 8; ++x) block(x, y) = kMarker;
  const CImg<double> b = get_filled(block);
  cimg_forXY(b, x, y) {
    if (x >= 4 && x <= 8 && y >= 3 && y <= 6) {
      // Inside the frame of valid samples around the block.
      EXPECT_GE(b(x, y), truth(3, 2));
      EXPECT_LE(b(x, y), truth(9, 7));
    } else {
      EXPECT_EQ(b(x, y), truth(x, y));
    }
  }
}

// ---------------------------------------------------------------------------
// Excluded pixels.

TEST(DataExclusionMask, MarkersOfEitherImageWithinTheReach) {
  const CImg<double> clean(9, 7, 1, 1, 100.0);
  EXPECT_TRUE(data_exclusion_mask(clean, clean, 1).is_empty());

  struct Case {
    const char* name;
    std::vector<std::pair<int, int>> in1, in2;
    int radius;
  };
  const std::vector<Case> cases = {
      {"inner marker of image 1", {{4, 3}}, {}, 1},
      {"marker of image 2 only", {}, {{4, 3}}, 1},
      {"corner", {{0, 0}}, {}, 1},
      {"border and both images", {{8, 3}}, {{2, 6}}, 1},
      {"wider reach", {{4, 3}}, {}, 2},
  };
  for (const Case& c : cases) {
    CImg<double> im1(clean), im2(clean);
    for (auto [x, y] : c.in1) im1(x, y) = kMarker;
    for (auto [x, y] : c.in2) im2(x, y) = -kMarker;
    const CImg<unsigned char> mask = data_exclusion_mask(im1, im2, c.radius);
    ASSERT_EQ(mask.width(), 9) << c.name;
    ASSERT_EQ(mask.height(), 7) << c.name;
    std::vector<std::pair<int, int>> all = c.in1;
    all.insert(all.end(), c.in2.begin(), c.in2.end());
    cimg_forXY(mask, x, y) {
      bool near = false;
      for (auto [mx, my] : all)
        near = near || (std::abs(x - mx) <= c.radius && std::abs(y - my) <= c.radius);
      EXPECT_EQ(mask(x, y), near ? 1 : 0) << c.name << " at " << x << "," << y;
    }
  }
  EXPECT_EQ(derivative_reach(0.0f), 1);
  EXPECT_EQ(derivative_reach(1.0f), 3);
  EXPECT_EQ(derivative_reach(0.3f), 2);
}

// ---------------------------------------------------------------------------
// Level start: derivatives and data weights.

struct OneLevel {
  RunParameters p;
  RunSetup s;
  HyperParameters h;
};

// A one-level run set-up of im1 and im2 (W x H, no padding needed).
void one_level(OneLevel& o, const CImg<double>& im1, const CImg<double>& im2) {
  o.p.dx = o.p.dxOrig = im1.width();
  o.p.dy = o.p.dyOrig = im1.height();
  o.p.nb_resol = 1;
  o.p.offEdge = 1;
  const int W = im1.width(), H = im1.height();
  o.s.pyrIm = alloc_pyramid(W, H, 1, 1);
  o.s.pyrImdt = alloc_pyramid(W, H, 1, 1);
  o.s.pyrOut = alloc_pyramid(W, H, 1, 1);
  o.s.pyrf_x = alloc_pyramid(W, H, 1, 1);
  o.s.pyrf_y = alloc_pyramid(W, H, 1, 1);
  o.s.pyrf_t = alloc_pyramid(W, H, 1, 1);
  o.s.pyrXtil = alloc_pyramid(W, H, 2, 1);
  o.s.pyrXinc = alloc_pyramid(W, H, 2, 1);
  o.s.pyrIm[0] = im1;
  o.s.pyrImdt[0] = im2;
  o.h = initial_hyperparameters(o.p);
}

// Isolated markers in a ramp pair are filled with the ramp's own values,
// so the derivatives equal those of the pair without markers, bit for
// bit; the data weight is 0 exactly within one pixel of each marker.
TEST(LevelStart, IsolatedMarkersLeaveTheDerivativesOfTheRamp) {
  const int W = 16, H = 12;
  const CImg<double> a = ramp(W, H, 3.0, 2.0, 100.0), b = ramp(W, H, 3.0, 2.0, 104.5);
  OneLevel clean, marked;
  one_level(clean, a, b);
  CImg<double> am(a), bm(b);
  am(4, 5) = kMarker;
  bm(11, 3) = 1022.0;
  one_level(marked, am, bm);
  testing::internal::CaptureStdout();
  const LevelState lc = start_level(clean.p, clean.s, clean.h, 0);
  const LevelState lm = start_level(marked.p, marked.s, marked.h, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(lc.dataExcluded.is_empty());

  cimg_forXY(a, x, y) {
    EXPECT_EQ(marked.s.pyrf_x[0](x, y), clean.s.pyrf_x[0](x, y)) << x << "," << y;
    EXPECT_EQ(marked.s.pyrf_y[0](x, y), clean.s.pyrf_y[0](x, y)) << x << "," << y;
    EXPECT_EQ(marked.s.pyrf_t[0](x, y), clean.s.pyrf_t[0](x, y)) << x << "," << y;
    const bool excluded = (std::abs(x - 4) <= 1 && std::abs(y - 5) <= 1) ||
                          (std::abs(x - 11) <= 1 && std::abs(y - 3) <= 1);
    const bool frame = x == 0 || y == 0 || x == W - 1 || y == H - 1;
    EXPECT_EQ(marked.s.pyrOut[0](x, y), (excluded || frame) ? 0.0 : 1.0) << x << "," << y;
    EXPECT_EQ(lm.dataExcluded(x, y), excluded ? 1 : 0) << x << "," << y;
  }
}

// A block of markers in image 2 and a NaN in image 1: no derivative image
// receives a value that only an invalid sample could give (the ramps'
// derivatives are 3, 2 and 4.5, the filled block's stay within the range
// of the samples around it; a marker would bring hundreds).
TEST(LevelStart, NoInvalidValueReachesTheDerivatives) {
  const int W = 20, H = 18;
  CImg<double> a = ramp(W, H, 3.0, 2.0, 100.0), b = ramp(W, H, 3.0, 2.0, 104.5);
  for (int y = 6; y <= 10; ++y)
    for (int x = 7; x <= 12; ++x) b(x, y) = kMarker;
  a(2, 15) = NAN;
  for (const float sigma : {0.0f, 1.5f}) {
    OneLevel o;
    o.p.sigBlur = sigma;
    one_level(o, a, b);
    testing::internal::CaptureStdout();
    const LevelState level = start_level(o.p, o.s, o.h, 0);
    testing::internal::GetCapturedStdout();
    const int reach = derivative_reach(sigma);
    for (const CImg<double>* d : {&o.s.pyrf_x[0], &o.s.pyrf_y[0], &o.s.pyrf_t[0]})
      cimg_forXY(*d, x, y) {
        ASSERT_TRUE(std::isfinite((*d)(x, y))) << sigma << " at " << x << "," << y;
        EXPECT_LT(std::fabs((*d)(x, y)), 100.0) << sigma << " at " << x << "," << y;
      }
    cimg_forXY(a, x, y) {
      const bool inBlock = x >= 7 - reach && x <= 12 + reach && y >= 6 - reach && y <= 10 + reach;
      const bool nearNaN = std::abs(x - 2) <= reach && std::abs(y - 15) <= reach;
      EXPECT_EQ(level.dataExcluded(x, y), (inBlock || nearNaN) ? 1 : 0) << x << "," << y;
      if (inBlock || nearNaN) {
        EXPECT_EQ(o.s.pyrOut[0](x, y), 0.0) << x << "," << y;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Warping.

// A marker in a ramp warped by a sub-pixel flow: every pixel whose 2 x 2
// block holds no marker takes exactly the value of the warp without the
// marker (the spline goes through the filled ramp, which is the ramp);
// a pixel whose block holds the marker is invalid and carries it.
TEST(WarpWithMarkers, MarkersDoNotLeakIntoTheirNeighbours) {
  const int W = 14, H = 12;
  const CImg<double> clean = ramp(W, H, 4.0, -3.0, 200.0);
  CImg<double> marked(clean);
  marked(6, 5) = kMarker;
  CImg<double> uv(W, H, 2, 1);
  cimg_forXY(uv, x, y) {
    uv(x, y, 0) = 0.5;
    uv(x, y, 1) = 0.25;
  }
  CImg<double> outClean(W, H), outMarked(W, H);
  testing::internal::CaptureStdout();
  Recal_spline(outClean, clean, uv, 3);
  Recal_spline(outMarked, marked, uv, 3);
  testing::internal::GetCapturedStdout();
  // Base sample (j, i), block columns j, j+1 and rows i, i+1.
  cimg_forXY(outMarked, j, i) {
    const bool blockHasMarker = (j == 6 || j + 1 == 6) && (i == 5 || i + 1 == 5);
    const bool inside = j + 1 < W && i + 1 < H;
    if (j == 6 && i == 5) {
      EXPECT_EQ(outMarked(j, i), kMarker);
    } else if (blockHasMarker) {
      EXPECT_EQ(outMarked(j, i), kMarker);  // its value would read the marker
    } else if (inside) {
      EXPECT_EQ(outMarked(j, i), outClean(j, i)) << j << "," << i;
    }
  }
}

// ---------------------------------------------------------------------------
// Whole runs.

Grey load_grey(const std::string& path) {
  const CImg<double> img(path.c_str());
  Grey g;
  g.width = img.width();
  g.height = img.height();
  g.v.assign(img.data(), img.data() + static_cast<std::size_t>(img.width()) * img.height());
  return g;
}

// U and V of a motion file, indexed (row, column).
struct Field {
  int w = 0, h = 0;
  std::vector<double> u, v;
};

Field read_field(const std::string& path) {
  std::istringstream in(read_text(path));
  Field f;
  in >> f.w >> f.h;
  std::string line;
  std::getline(in, line);
  std::getline(in, line);
  f.u.assign(static_cast<std::size_t>(f.w) * f.h, NAN);
  f.v = f.u;
  int i, j;
  double u, v;
  while (in >> i >> j >> u >> v) {
    f.u[static_cast<std::size_t>(i) * f.w + j] = u;
    f.v[static_cast<std::size_t>(i) * f.w + j] = v;
  }
  return f;
}

struct Rect {
  int x0, y0, x1, y1;  // inclusive
};

struct MarkerCase {
  const char* name;
  int maxval;  // 1023: a 10-bit texture; 255: an 8-bit texture in a 10-bit file
  std::vector<Rect> in1, in2;
};

// One-level runs of a texture pair moving by (0.4, -0.3), with and without
// markers. The markers remove the data term within one pixel of them; the
// change of the flow they cause decays away from that set with the length
// sqrt(alpha) / |grad I| of the smoothness against the data term, about
// 0.05 px for the 10-bit texture (|grad I| near 60 grey levels per pixel)
// and 0.2 px for the 8-bit one (near 15). Four pixels away from the
// excluded set even a change as large as the motion (0.5 px) is damped to
// 0.5 e^-4 < 0.01 px by a decay length of 1 px, five to twenty times the
// texture's: 0.02 px bounds the change there with room to spare (today a
// single marker moves the flow of the whole tile by tens of pixels).
TEST(RunsWithMarkers, FlowAwayFromTheMarkersIsKept) {
  const int W = 48, H = 40;
  const std::vector<MarkerCase> cases = {
      {"one marker", 1023, {{20, 17, 20, 17}}, {}},
      {"a block", 1023, {{24, 14, 28, 18}}, {}},
      {"image 2 only", 1023, {}, {{30, 22, 30, 22}, {10, 8, 12, 9}}},
      {"tile border", 1023, {{0, 20, 0, 20}, {47, 39, 47, 39}}, {{20, 0, 21, 0}}},
      {"8-bit texture", 255, {{15, 15, 15, 15}, {30, 25, 33, 27}}, {{8, 30, 8, 30}}},
  };
  for (const MarkerCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir("invalid_runs");
    const double mean = c.maxval == 255 ? 120.0 : 500.0, amp = c.maxval == 255 ? 80.0 : 300.0;
    Grey a = smooth_texture(W, H, 0.0, 0.0, 11, mean, amp);
    Grey b = smooth_texture(W, H, 0.4, -0.3, 11, mean, amp);
    for (Grey* g : {&a, &b})
      for (double& s : g->v) {
        s = std::round(s);
        ASSERT_TRUE(s >= 0.0 && s <= c.maxval) << "the texture must hold no marker of its own";
      }
    write_pgm(dir / "a.pgm", a, 1023);
    write_pgm(dir / "b.pgm", b, 1023);
    std::vector<std::vector<bool>> marker(H, std::vector<bool>(W, false));
    for (const auto& [rects, g] : {std::make_pair(&c.in1, &a), std::make_pair(&c.in2, &b)})
      for (const Rect& r : *rects)
        for (int y = r.y0; y <= r.y1; ++y)
          for (int x = r.x0; x <= r.x1; ++x) {
            g->v[static_cast<std::size_t>(y) * W + x] = kMarker;
            marker[y][x] = true;
          }
    write_pgm(dir / "am.pgm", a, 1023);
    write_pgm(dir / "bm.pgm", b, 1023);
    std::filesystem::create_directories(dir / "clean");
    std::filesystem::create_directories(dir / "marked");
    write_list(dir / "clean.list", dir / "a.pgm", dir / "b.pgm", dir / "clean/");
    write_list(dir / "marked.list", dir / "am.pgm", dir / "bm.pgm", dir / "marked/");
    const std::vector<std::string> tile = {"-dx", std::to_string(W), "-dy", std::to_string(H),
                                           "-Dx", std::to_string(W), "-Dy", std::to_string(H),
                                           "-multiresol", "1"};
    std::vector<std::string> opts = {"-inPath", dir / "clean.list"};
    opts.insert(opts.end(), tile.begin(), tile.end());
    ASSERT_EQ(run_program(dir.path(), opts).status, 0);
    opts[1] = dir / "marked.list";
    const RunResult r = run_program(dir.path(), opts);
    ASSERT_EQ(r.status, 0) << r.err;

    const Field fc = read_field(dir / "clean/UV_HS.motion");
    const Field fm = read_field(dir / "marked/UV_HS.motion");
    const Grey dc = read_pgm8(dir / "clean/UV_HSDataOut.pgm");
    const Grey dm = read_pgm8(dir / "marked/UV_HSDataOut.pgm");
    ASSERT_EQ(fm.w, W);
    ASSERT_EQ(fm.h, H);
    // Chessboard distance to the nearest marker.
    const auto distance = [&](int x, int y) {
      int best = 1 << 20;
      for (int my = 0; my < H; ++my)
        for (int mx = 0; mx < W; ++mx)
          if (marker[my][mx]) best = std::min(best, std::max(std::abs(x - mx), std::abs(y - my)));
      return best;
    };
    double worst = 0.0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const std::size_t k = static_cast<std::size_t>(y) * W + x;
        ASSERT_TRUE(std::isfinite(fm.u[k]) && std::isfinite(fm.v[k]));
        const int d = distance(x, y);
        if (d <= 1) {
          EXPECT_EQ(dm.at(x, y), 0.0) << "data weight at " << x << "," << y;
        } else {
          EXPECT_EQ(dm.at(x, y), dc.at(x, y)) << "data weight at " << x << "," << y;
        }
        if (d >= 1 + 4)
          worst = std::max(worst, std::hypot(fm.u[k] - fc.u[k], fm.v[k] - fc.v[k]));
        // Everywhere, the flow stays of the size of the motion.
        EXPECT_LT(std::hypot(fm.u[k], fm.v[k]), 1.5) << x << "," << y;
      }
    EXPECT_LT(worst, 0.02);
  }
}

// A tile without a single valid sample in image 1 or in image 2 is refused
// at load, naming the image.
TEST(RunsWithMarkers, AllInvalidTileIsRefused) {
  ScratchDir dir("invalid_all");
  Grey valid = smooth_texture(16, 16, 0.0, 0.0, 2, 120.0, 80.0);
  Grey markers = valid;
  for (double& s : markers.v) s = kMarker;
  write_pgm(dir / "valid.pgm", valid, 1023);
  write_pgm(dir / "markers.pgm", markers, 1023);
  const std::vector<std::string> tile = {"-dx", "16", "-dy", "16", "-Dx", "16", "-Dy", "16"};
  for (const auto& [im1, im2, named] :
       {std::make_tuple("markers.pgm", "valid.pgm", "image 1"),
        std::make_tuple("valid.pgm", "markers.pgm", "image 2")}) {
    write_list(dir / "list", dir / im1, dir / im2, dir / "");
    std::vector<std::string> opts = {"-inPath", dir / "list"};
    opts.insert(opts.end(), tile.begin(), tile.end());
    const RunResult r = run_program(dir.path(), opts);
    EXPECT_EQ(r.status, 1) << named;
    EXPECT_NE(r.err.find(std::string(named) + " " + (dir / "markers.pgm") + " has no valid sample"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "UV_HS.motion"));
  }
}

// RubberWhale with 1 % of image 1's samples and 0.5 % of image 2's set to
// 1023 at fixed pseudo-random positions, and a 20 x 20 block of markers in
// image 1: the average endpoint error stays near the unmarked run's 0.25 px
// (today's program: 30 px). 0.35 px leaves room for the 15 % of pixels
// whose data term the markers remove.
TEST(RunsWithMarkers, RubberWhaleWithScatteredMarkersAndABlock) {
  ScratchDir dir("invalid_rubberwhale");
  const std::string data = std::string(VELMORA_SOURCE_DIR) + "/examples/RubberWhale/";
  Grey a = load_grey(data + "frame10.pgm"), b = load_grey(data + "frame11.pgm");
  const std::size_t n = a.v.size();
  std::mt19937 gen(2024);
  std::vector<std::size_t> order(n);
  for (std::size_t k = 0; k < n; ++k) order[k] = k;
  std::shuffle(order.begin(), order.end(), gen);
  for (std::size_t k = 0; k < n / 100; ++k) a.v[order[k]] = kMarker;
  std::shuffle(order.begin(), order.end(), gen);
  for (std::size_t k = 0; k < n / 200; ++k) b.v[order[k]] = kMarker;
  for (int y = 150; y < 170; ++y)
    for (int x = 300; x < 320; ++x) a.v[static_cast<std::size_t>(y) * a.width + x] = kMarker;
  write_pgm(dir / "a.pgm", a, 1023);
  write_pgm(dir / "b.pgm", b, 1023);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
  const RunResult r = run_program(dir.path(), {"-inPath", dir / "list", "-dx", "584", "-dy",
                                               "388", "-Dx", "584", "-Dy", "388"});
  ASSERT_EQ(r.status, 0) << r.err;
  const FlowErrors e = evaluate_flow(dir.path(), dir / "UV_HS.motion", data + "flow10.flo");
  ASSERT_EQ(e.status, 0);
  std::cout << "RubberWhale with markers: AEE " << e.aee << " px" << std::endl;
  EXPECT_LT(e.aee, 0.35);
}


// ---------------------------------------------------------------------------
// Marked runs against unmarked runs: scattered markers leave the coarse
// levels their data, so large motion is still found.

[[maybe_unused]] Grey crop(const Grey& g, int x0, int y0, int w, int h) {
  Grey c;
  c.width = w;
  c.height = h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) c.v.push_back(g.at(x0 + x, y0 + y));
  return c;
}

// A copy of g with a fraction of its samples, drawn without repetition, set
// to the marker.
Grey with_markers(Grey g, double fraction, unsigned seed) {
  std::vector<std::size_t> order(g.v.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::mt19937 gen(seed);
  std::shuffle(order.begin(), order.end(), gen);
  const auto n = static_cast<std::size_t>(std::lround(fraction * static_cast<double>(g.v.size())));
  for (std::size_t k = 0; k < n; ++k) g.v[order[k]] = kMarker;
  return g;
}

// The rectangle (x0, y0, w, h) of a Middlebury .flo file, as a new file.
[[maybe_unused]] void crop_flo(const std::string& in, const std::string& out, int x0, int y0, int w, int h) {
  const std::string all = read_text(in);
  std::int32_t W = 0, H = 0;
  std::memcpy(&W, all.data() + 4, 4);
  std::memcpy(&H, all.data() + 8, 4);
  ASSERT_GE(W, x0 + w);
  ASSERT_GE(H, y0 + h);
  std::string part = all.substr(0, 12);
  const std::int32_t cw = w, ch = h;
  std::memcpy(&part[4], &cw, 4);
  std::memcpy(&part[8], &ch, 4);
  for (int y = y0; y < y0 + h; ++y)
    part += all.substr(12 + (static_cast<std::size_t>(y) * W + x0) * 8, static_cast<std::size_t>(w) * 8);
  write_text(out, part);
}

// Average endpoint error of one run of the pair (a, b) against truth.
double run_aee(const ScratchDir& dir, const std::string& tag, const Grey& a, const Grey& b,
               const std::string& truth, std::vector<std::string> options, int border = 0) {
  write_pgm(dir / (tag + "_1.pgm"), a, 1023);
  write_pgm(dir / (tag + "_2.pgm"), b, 1023);
  write_list(dir / (tag + ".list"), dir / (tag + "_1.pgm"), dir / (tag + "_2.pgm"),
             dir / (tag + "_"));
  const std::string w = std::to_string(a.width), h = std::to_string(a.height);
  std::vector<std::string> args = {"-inPath", dir / (tag + ".list"), "-dx", w, "-dy", h,
                                   "-Dx", w, "-Dy", h};
  args.insert(args.end(), options.begin(), options.end());
  const RunResult r = run_program(dir.path(), args);
  EXPECT_EQ(r.status, 0) << tag << ": " << r.err;
  const FlowErrors e = evaluate_flow(dir.path(), dir / (tag + "_UV_HS.motion"), truth, border);
  EXPECT_EQ(e.status, 0) << tag;
  return e.aee;
}

// RubberWhale (a crop of it in the sanitizer build) with scattered markers
// in both images, default and estimated: each marked run stays within
// 0.15 px (0.20 px at 5 %) of the same run without markers. With the
// coarse levels blanked by the markers the marked runs scored 0.69 px
// against 0.25 px.
TEST(RunsWithMarkers, ScatteredMarkersKeepTheUnmarkedFlow) {
  ScratchDir dir("invalid_scattered");
  const std::string data = std::string(VELMORA_SOURCE_DIR) + "/examples/RubberWhale/";
  Grey a = load_grey(data + "frame10.pgm"), b = load_grey(data + "frame11.pgm");
  std::string truth = data + "flow10.flo";
#if defined(__SANITIZE_ADDRESS__)
  const int x0 = 180, y0 = 100, w = 224, h = 192;
  a = crop(a, x0, y0, w, h);
  b = crop(b, x0, y0, w, h);
  crop_flo(truth, dir / "truth.flo", x0, y0, w, h);
  truth = dir / "truth.flo";
#endif
  const struct {
    double fraction1, fraction2;
    int levels;
    bool estimated;
    double bound;
  } cases[] = {
      {0.01, 0.005, 3, false, 0.15},
      {0.05, 0.05, 3, false, 0.20},
      {0.01, 0.005, 5, false, 0.15},
      {0.01, 0.005, 3, true, 0.15},
  };
  for (const auto& c : cases) {
    std::vector<std::string> options = {"-multiresol", std::to_string(c.levels)};
    if (c.estimated)
      options.insert(options.end(), {"-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true"});
    const std::string tag = std::to_string(c.levels) + (c.estimated ? "e" : "d");
    const double unmarked = run_aee(dir, "clean" + tag, a, b, truth, options);
    const double marked =
        run_aee(dir, "marked" + tag, with_markers(a, c.fraction1, 11),
                with_markers(b, c.fraction2, 12), truth, options);
    std::cout << c.fraction1 * 100 << " % / " << c.fraction2 * 100 << " % markers, "
              << c.levels << " levels" << (c.estimated ? ", estimated" : "") << ": AEE "
              << marked << " px against " << unmarked << " px unmarked" << std::endl;
    EXPECT_LT(std::fabs(marked - unmarked), c.bound) << tag;
  }
}

// A texture moving by (6, -4) px needs the coarse levels: with 1 % markers
// in each image a 4-level run still finds the motion.
TEST(RunsWithMarkers, LargeMotionThroughScatteredMarkers) {
  ScratchDir dir("invalid_large_motion");
  const int W = 160, H = 160;
  const double u = 6.0, v = -4.0;
  // Wavelengths of 20 to 40 px, still a texture at the coarsest level; an
  // alpha that suits the 10-bit gradients (about 100 grey levels per px).
  const Grey a = smooth_texture(W, H, 0.0, 0.0, 31, 500.0, 350.0, 20.0, 20.0),
             b = smooth_texture(W, H, u, v, 31, 500.0, 350.0, 20.0, 20.0);
  write_constant_flo(dir / "truth.flo", W, H, static_cast<float>(u), static_cast<float>(v));
  const std::vector<std::string> options = {"-multiresol", "4", "-alphaInit", "10000"};
  const int border = 16;  // the strip that moves in from outside has no match
  const double unmarked = run_aee(dir, "clean", a, b, dir / "truth.flo", options, border);
  const double marked = run_aee(dir, "marked", with_markers(a, 0.01, 21),
                                with_markers(b, 0.01, 22), dir / "truth.flo", options, border);
  std::cout << "(6, -4) px with 1 % markers: AEE " << marked << " px against " << unmarked
            << " px unmarked" << std::endl;
  EXPECT_LT(unmarked, 0.1);
  EXPECT_LT(marked, 0.1);
}


// A bright 10-bit texture clipped at 1021, the brightest valid sample,
// without markers: the warp's overshoot near the clipped crests is no
// marker, so no pixel inside the one-pixel frame loses its data term, but
// for those that read a target outside image 2 (the motion (1.3, -0.7)
// takes the last two columns and the first row out of it). A
// marker placed next to the brightest samples still excludes its
// neighbourhood.
TEST(RunsWithMarkers, BrightSamplesStayValid) {
  ScratchDir dir("invalid_bright");
  const int W = 96, H = 80;
  const double u = 1.3, v = -0.7;
  Grey a = smooth_texture(W, H, 0.0, 0.0, 41, 800.0, 400.0),
       b = smooth_texture(W, H, u, v, 41, 800.0, 400.0);
  long clipped = 0;
  for (Grey* g : {&a, &b})
    for (double& value : g->v)
      if (value > 1021.0) {
        value = 1021.0;
        ++clipped;
      }
  ASSERT_GT(clipped, W * H / 10);  // wide clipped crests
  write_constant_flo(dir / "truth.flo", W, H, static_cast<float>(u), static_cast<float>(v));
  const double aee = run_aee(dir, "bright", a, b, dir / "truth.flo", {}, 8);
  EXPECT_LT(aee, 0.3);
  const Grey data = read_pgm8(dir / "bright_UV_HSDataOut.pgm");
  long excluded = 0;
  for (int y = 2; y < H - 1; ++y)
    for (int x = 1; x < W - 3; ++x) excluded += data.at(x, y) == 0.0;
  EXPECT_EQ(excluded, 0);

  // A marker at the brightest sample of image 1 in the interior.
  int bx = 10, by = 10;
  for (int y = 10; y < H - 10; ++y)
    for (int x = 10; x < W - 10; ++x)
      if (a.at(x, y) > a.at(bx, by)) bx = x, by = y;
  ASSERT_EQ(a.at(bx, by), 1021.0);
  a.v[static_cast<std::size_t>(by) * W + bx] = kMarker;
  run_aee(dir, "marked", a, b, dir / "truth.flo", {}, 8);
  const Grey markedData = read_pgm8(dir / "marked_UV_HSDataOut.pgm");
  for (int y = by - 1; y <= by + 1; ++y)
    for (int x = bx - 1; x <= bx + 1; ++x) EXPECT_EQ(markedData.at(x, y), 0.0) << x << "," << y;
  EXPECT_GT(markedData.at(bx + 3, by), 0.0);
}


// ---------------------------------------------------------------------------
// The padding beyond the tile, targets outside image 2, runs without data.

// A smooth 10-bit texture moving by (u, v) whose samples stay below the
// markers' 1022.
Grey texture_without_markers(int w, int h, double u, double v, unsigned seed,
                             double lambda0 = 12.0) {
  Grey g = smooth_texture(w, h, u, v, seed, 480.0, 180.0, lambda0, 20.0);
  for (double s : g.v) EXPECT_TRUE(s >= 0.0 && s < 1021.5) << s;
  return g;
}

// Endpoint error of a motion file against the constant motion (u, v) over
// the pixels where in(x, y) holds.
template <typename Region>
double region_error(const Field& f, double u, double v, Region in) {
  double sum = 0.0;
  long n = 0;
  for (int y = 0; y < f.h; ++y)
    for (int x = 0; x < f.w; ++x)
      if (in(x, y)) {
        const std::size_t k = static_cast<std::size_t>(y) * f.w + x;
        sum += std::hypot(f.u[k] - u, f.v[k] - v);
        ++n;
      }
  return n ? sum / n : NAN;
}

// Tiles whose width, height or both need padding for 3 and 5 levels, cut
// from a texture moving by (0.6, -0.3). The padding holds no measurement:
// the strip of 8 pixels along a padded side (the last columns or rows) is
// found as well as the strip along the opposite side, which has no padding
// and meets the same lack of data at its one-pixel frame: its error exceeds
// that strip's by less than the interior's error. When the padding entered
// the data term as zeros, the padded strips were off by 0.1 to 0.4 px
// against 0.04 to 0.08 px at the opposite side.
TEST(Padding, StripsAlongThePaddingAsGoodAsTheOppositeOnes) {
  ScratchDir dir("padding_strips");
  const int W = 104, H = 104;
  const double u = 0.6, v = -0.3;
  write_pgm(dir / "a.pgm", texture_without_markers(W, H, 0.0, 0.0, 11), 1023);
  write_pgm(dir / "b.pgm", texture_without_markers(W, H, u, v, 11), 1023);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
  const struct {
    int w, h, levels;
  } tiles[] = {{90, 64, 3}, {64, 90, 3}, {90, 74, 3}, {90, 64, 5}, {64, 90, 5}, {90, 74, 5}};
  const int strip = 8;
  for (const auto& t : tiles) {
    const std::string name = std::to_string(t.w) + " x " + std::to_string(t.h) + ", " +
                             std::to_string(t.levels) + " levels";
    SCOPED_TRACE(name);
    const int step = 1 << t.levels;
    const bool padX = t.w % step != 0, padY = t.h % step != 0;
    ASSERT_TRUE(padX || padY);
    const RunResult r = run_program(
        dir.path(), {"-inPath", dir / "list", "-dx", std::to_string(t.w), "-dy",
                     std::to_string(t.h), "-Dx", std::to_string(W), "-Dy", std::to_string(H),
                     "-multiresol", std::to_string(t.levels)});
    ASSERT_EQ(r.status, 0) << r.err;
    const Field f = read_field(dir / "UV_HS.motion");
    ASSERT_EQ(f.w, t.w);
    ASSERT_EQ(f.h, t.h);
    const double far = region_error(f, u, v, [&](int x, int y) {
      return (padX && x >= t.w - strip) || (padY && y >= t.h - strip);
    });
    const double near = region_error(f, u, v, [&](int x, int y) {
      return (padX && x < strip) || (padY && y < strip);
    });
    const double interior = region_error(f, u, v, [&](int x, int y) {
      return x >= strip && x < t.w - strip && y >= strip && y < t.h - strip;
    });
    std::cout << name << ": AEE " << far << " px along the padding, " << near
              << " px opposite, " << interior << " px inside" << std::endl;
    EXPECT_LT(interior, 0.05);
    EXPECT_LT(far, near + interior);
  }
}

// A texture moving by (2.6, -1.7) px, three levels: the targets of the last
// three columns (x + 2.6 > 63) and of the first two rows (y - 1.7 < 0) lie
// outside image 2, so the warp to the finest level makes them invalid
// samples, and those pixels and their neighbours get data weight 0 there;
// the rest keeps its data term and the flow stays accurate (the strips get
// theirs from the smoothness term). When such targets took the border
// sample, the last columns matched samples of other content.
TEST(OutsideTargets, PixelsWhoseTargetLeavesImage2HaveNoDataTerm) {
  ScratchDir dir("outside_targets");
  const int W = 64, H = 64;
  const double u = 2.6, v = -1.7;
  // Wavelengths of 20 to 40 px and an alpha that suits the 10-bit
  // gradients, as for the large motion above.
  write_pgm(dir / "a.pgm", texture_without_markers(W, H, 0.0, 0.0, 31, 20.0), 1023);
  write_pgm(dir / "b.pgm", texture_without_markers(W, H, u, v, 31, 20.0), 1023);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
  const RunResult r = run_program(dir.path(), {"-inPath", dir / "list", "-dx", "64", "-dy", "64",
                                               "-Dx", "64", "-Dy", "64", "-alphaInit", "10000"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Grey data = read_pgm8(dir / "UV_HSDataOut.pgm");
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      // Outside (x >= 61 or y <= 1) or next to such a pixel.
      if (x >= 60 || y <= 2) {
        EXPECT_EQ(data.at(x, y), 0.0) << x << "," << y;
      } else if (x >= 1 && y < H - 1 && x < 58 && y > 4) {
        EXPECT_EQ(data.at(x, y), 255.0) << x << "," << y;
      }
    }
  const Field f = read_field(dir / "UV_HS.motion");
  const double strips = region_error(f, u, v, [](int x, int y) { return x >= 60 || y <= 2; });
  const double rest = region_error(f, u, v, [](int x, int y) {
    return x >= 8 && x < 56 && y >= 8 && y < 56;
  });
  std::cout << "(2.6, -1.7): AEE " << strips << " px where the target leaves image 2, " << rest
            << " px inside" << std::endl;
  EXPECT_LT(rest, 0.1);
  EXPECT_LT(strips, 0.5);
}

// A lattice of markers three pixels apart (at 1, 4, 7, ...) leaves every
// pixel within one of a marker, but for the last row of a 40-row tile
// (two rows from the marker in row 37), which lies in the frame: no pixel
// has a data term at the finest level. In image 1 that is known before the
// first level; in image 2 only after the warp to the finest level. Either
// way the run ends with status 1, the counts of what excluded the tile's
// pixels, and no motion file. A tile that needs padding (46 x 40, padded
// to 48 x 40) counts its last column, which reads the padding, under
// image 1.
TEST(NoData, EveryPixelExcludedEndsTheRunWithTheCounts) {
  ScratchDir dir("no_data");
  const struct {
    int w, h;
    bool inImage1;
    const char* counts;
  } cases[] = {
      {48, 48, true, "of its 2304 pixels, 2304 read an invalid sample (1022 or more) of image 1 or "
                     "the padding beyond the tile, 0 more lie in the -offEdeges frame."},
      // 46 x 39 by the lattice and the padding, (45, 39) by the padding; the
      // rest of row 39 in the frame.
      {46, 40, true, "of its 1840 pixels, 1795 read an invalid sample (1022 or more) of image 1 or "
                     "the padding beyond the tile, 45 more lie in the -offEdeges frame."},
      {48, 48, false, "of its 2304 pixels, 0 read an invalid sample (1022 or more) of image 1 or "
                      "the padding beyond the tile, 2304 more one of the warped image 2 or a "
                      "position outside it, 0 more lie in the -offEdeges frame."},
      {46, 40, false, "of its 1840 pixels, 40 read an invalid sample (1022 or more) of image 1 or "
                      "the padding beyond the tile, 1800 more one of the warped image 2 or a "
                      "position outside it, 0 more lie in the -offEdeges frame."},
  };
  for (const auto& c : cases) {
    const std::string name = std::to_string(c.w) + " x " + std::to_string(c.h) +
                             (c.inImage1 ? ", image 1" : ", image 2");
    SCOPED_TRACE(name);
    Grey a = texture_without_markers(c.w, c.h, 0.0, 0.0, 3),
         b = texture_without_markers(c.w, c.h, 0.3, 0.2, 3);
    Grey& marked = c.inImage1 ? a : b;
    for (int y = 1; y < c.h; y += 3)
      for (int x = 1; x < c.w; x += 3) marked.v[static_cast<std::size_t>(y) * c.w + x] = kMarker;
    write_pgm(dir / "a.pgm", a, 1023);
    write_pgm(dir / "b.pgm", b, 1023);
    write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
    const std::string w = std::to_string(c.w), h = std::to_string(c.h);
    const RunResult r = run_program(
        dir.path(), {"-inPath", dir / "list", "-dx", w, "-dy", h, "-Dx", w, "-Dy", h});
    EXPECT_EQ(r.status, 1);
    const std::string head = "Refused: no pixel of the " + w + " x " + h +
                             " tile has a data term at the finest level" +
                             (c.inImage1 ? ", whatever the flow" : "") +
                             ", so the images give no flow: ";
    EXPECT_EQ(r.err, head + c.counts + " No motion file is written.\n");
    // Refused before the first level, or after the coarser levels ran.
    EXPECT_EQ(r.out.find("Resolution: 2") != std::string::npos, !c.inImage1) << r.out;
    EXPECT_EQ(r.out.find("Resolution: 0") != std::string::npos, !c.inImage1) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "UV_HS.motion"));
  }
}

// The pyramid of image 1 over a block of markers. Each smoothing pass keeps
// a sample invalid where invalid samples carry more than half the kernel
// (0.05, 0.25, 0.4, 0.25, 0.05): inside a run of two or more (0.65 at
// least), not beside it (0.3) nor on a lone marker (0.4); the halving then
// keeps the even rows and columns, so a run of 2n becomes a run of n. A
// block of 2^(L-1) samples a side thus stays invalid at every one of L
// levels, and a smaller one does not.
TEST(Pyramid, BlockOfMarkersAcrossTheLevels) {
  ScratchDir dir("pyramid_block");
  const struct {
    int side, x0, levels;
    std::vector<int> counts;  // invalid samples of image 1, level 0 first
  } cases[] = {
      {2, 31, 3, {4, 1, 0}},
      {4, 29, 3, {16, 4, 1}},
      {3, 29, 3, {9, 1, 0}},  // rows and columns 29 to 31: one even each
      {3, 28, 3, {9, 4, 1}},  // 28 to 30: two even ones
      {8, 27, 4, {64, 16, 4, 1}},
  };
  write_pgm(dir / "b.pgm", texture_without_markers(64, 64, 0.0, 0.0, 3), 1023);
  for (const auto& c : cases) {
    SCOPED_TRACE("block " + std::to_string(c.side) + " at " + std::to_string(c.x0) + ", " +
                 std::to_string(c.levels) + " levels");
    Grey a = texture_without_markers(64, 64, 0.0, 0.0, 3);
    for (int y = c.x0; y < c.x0 + c.side; ++y)
      for (int x = c.x0; x < c.x0 + c.side; ++x) a.v[static_cast<std::size_t>(y) * 64 + x] = kMarker;
    write_pgm(dir / "a.pgm", a, 1023);
    write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
    const std::string list = dir / "list", levels = std::to_string(c.levels);
    const std::vector<const char*> argv = {"Velmora", "-inPath", list.c_str(),
                                           "-dx", "64", "-dy", "64", "-Dx", "64", "-Dy", "64",
                                           "-multiresol", levels.c_str()};
    ::testing::internal::CaptureStdout();
    RunParameters p = read_run_parameters(static_cast<int>(argv.size()), argv.data());
    const RunSetup s = run_setup(p, RunDisplay());
    ::testing::internal::GetCapturedStdout();
    std::vector<int> counts;
    for (int l = 0; l < c.levels; ++l)
      counts.push_back(static_cast<int>(std::count_if(
          s.pyrIm[l].begin(), s.pyrIm[l].end(), [](double v) { return std::fabs(v) >= 1022.0; })));
    EXPECT_EQ(counts, c.counts);
  }
}

// Seven levels of a 64 x 64 tile (padded to 128 x 128): at level 6 (2 x 2)
// and level 5 (4 x 4) the one-pixel frame and the padding leave no pixel a
// data term. Those levels are skipped, one line each, with no solve and no
// estimate (nothing else is printed between their header and the warp to
// the next level); every finer level estimates within its iteration cap
// (1 at levels 2 to 4, 10 at level 1, 1000 at level 0), two evidence
// lines an iteration, and the flow is found by the finer levels.
TEST(NoData, CoarseLevelsWithoutDataAreSkipped) {
  ScratchDir dir("no_data_coarse");
  const int W = 64, H = 64;
  const double u = 0.6, v = -0.3;
  write_pgm(dir / "a.pgm", texture_without_markers(W, H, 0.0, 0.0, 7), 1023);
  write_pgm(dir / "b.pgm", texture_without_markers(W, H, u, v, 7), 1023);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
  const RunResult r = run_program(
      dir.path(), {"-inPath", dir / "list", "-dx", "64", "-dy", "64", "-Dx", "64", "-Dy", "64",
                   "-multiresol", "7", "-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true",
                   "-nbItTrace", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string stars(64, '*');
  for (const auto& [level, size] : {std::make_pair(6, "2 x 2"), std::make_pair(5, "4 x 4")}) {
    const std::string skipped =
        "Resolution: " + std::to_string(level) + "\n" + stars + "\nNo pixel of level " +
        std::to_string(level) + " (" + size +
        ") has a data term (invalid samples, targets outside image 2 and the frame exclude "
        "them all): the level is skipped, its increment 0\n\n Recalage\n" + stars +
        "\nResolution: " +
        std::to_string(level - 1) + "\n";
    EXPECT_NE(r.out.find(skipped), std::string::npos) << r.out;
  }
  EXPECT_EQ(r.out.find("No pixel of level 4"), std::string::npos);
  const std::vector<LevelTrace> levels = level_traces(r.out);
  ASSERT_EQ(levels.size(), 7u) << r.out;
  const int caps[] = {1000, 10, 1, 1, 1};
  for (std::size_t k = 0; k < levels.size(); ++k) {
    const LevelTrace& level = levels[k];
    SCOPED_TRACE("level " + std::to_string(level.resol));
    EXPECT_EQ(level.resol, 6 - static_cast<int>(k));
    const std::size_t n = level.alphas.size();
    EXPECT_EQ(level.evidenceLines, static_cast<int>(2 * n));
    if (level.resol >= 5) {
      EXPECT_EQ(n, 0u);
    } else {
      EXPECT_GE(n, 1u);
      EXPECT_LE(n, static_cast<std::size_t>(caps[level.resol])) << r.out;
    }
  }
  const Field f = read_field(dir / "UV_HS.motion");
  const auto inside = [](int x, int y) { return x >= 8 && x < 56 && y >= 8 && y < 56; };
  EXPECT_LT(region_error(f, u, v, inside), 0.05);
}

}  // namespace
