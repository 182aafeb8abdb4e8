// End-to-end runs of the program: a synthetic pair of known sub-pixel
// translation, the RubberWhale sample pair against its ground truth, the
// output files, the console outline, and the refusals of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "program_run.h"

using namespace velmora_test;

namespace {

// A smooth random texture: a sum of plane waves of wavelengths 12 to 32
// pixels with random directions and phases, around mean with amplitude
// amp; sampled at (x - u, y - v), so that the texture moves by (u, v).
Grey smooth_texture(int w, int h, double u, double v, unsigned seed, double mean = 500.0,
                    double amp = 350.0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double pi = std::acos(-1.0);
  const int waves = 10;
  std::vector<double> kx(waves), ky(waves), phase(waves);
  for (int k = 0; k < waves; ++k) {
    const double lambda = 12.0 + 20.0 * unit(gen), theta = 2.0 * pi * unit(gen);
    kx[k] = 2.0 * pi / lambda * std::cos(theta);
    ky[k] = 2.0 * pi / lambda * std::sin(theta);
    phase[k] = 2.0 * pi * unit(gen);
  }
  Grey g;
  g.width = w;
  g.height = h;
  g.v.resize(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double s = 0.0;
      for (int k = 0; k < waves; ++k) s += std::cos(kx[k] * (x - u) + ky[k] * (y - v) + phase[k]);
      g.v[static_cast<std::size_t>(y) * w + x] = mean + amp * s / std::sqrt(2.0 * waves) * 1.2;
    }
  return g;
}

std::vector<std::string> tile_options(int w, int h) {
  return {"-dx", std::to_string(w), "-dy", std::to_string(h), "-Dx", std::to_string(w),
          "-Dy", std::to_string(h)};
}

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Mean of U and V over the motion file, away from the border.
void mean_flow(const std::string& motion, int border, double& mu, double& mv) {
  std::istringstream in(read_text(motion));
  int w = 0, h = 0;
  in >> w >> h;
  std::string comment;
  std::getline(in, comment);
  std::getline(in, comment);
  double su = 0.0, sv = 0.0;
  long n = 0;
  int i, j;
  double u, v;
  while (in >> i >> j >> u >> v)
    if (i >= border && i < h - border && j >= border && j < w - border) {
      su += u;
      sv += v;
      ++n;
    }
  mu = n ? su / n : NAN;
  mv = n ? sv / n : NAN;
}

// True when every piece occurs in text, each after the previous one.
bool contains_in_order(const std::string& text, const std::vector<std::string>& pieces) {
  std::size_t at = 0;
  for (const auto& piece : pieces) {
    at = text.find(piece, at);
    if (at == std::string::npos) return false;
    at += piece.size();
  }
  return true;
}

}  // namespace

// A texture moved by (1.25, -0.5): the flow is found to well under a
// twentieth of a pixel, with U along the columns and V along the rows.
TEST(EndToEnd, SyntheticSubPixelTranslation) {
  ScratchDir dir("e2e_synthetic");
  const int W = 64, H = 64;
  const double u = 1.25, v = -0.5;
  // 10-bit samples: the native PNM reader keeps them exact.
  write_pgm(dir / "frame1.pgm", smooth_texture(W, H, 0.0, 0.0, 7), 1023);
  write_pgm(dir / "frame2.pgm", smooth_texture(W, H, u, v, 7), 1023);
  write_list(dir / "list", dir / "frame1.pgm", dir / "frame2.pgm", dir / "");
  write_constant_flo(dir / "truth.flo", W, H, static_cast<float>(u), static_cast<float>(v));

  const RunResult r = run_program(dir.path(), with({"-inPath", dir / "list"}, tile_options(W, H)));
  ASSERT_EQ(r.status, 0) << r.err;
  const int border = 8;
  const FlowErrors e = evaluate_flow(dir.path(), dir / "UV_HS.motion", dir / "truth.flo", border);
  ASSERT_EQ(e.status, 0);
  EXPECT_EQ(e.n, static_cast<long>(W - 2 * border) * (H - 2 * border));
  std::cout << "synthetic (1.25, -0.5): AEE " << e.aee << " px away from an " << border
            << "-pixel border" << std::endl;
  EXPECT_LT(e.aee, 0.05);
  double mu = 0.0, mv = 0.0;
  mean_flow(dir / "UV_HS.motion", border, mu, mv);
  EXPECT_NEAR(mu, u, 0.05);
  EXPECT_NEAR(mv, v, 0.05);
}

// The two pre-warps of image 2 on the same translated pair. An initial
// field equal to the true motion (-UVinit, one level) is part of the
// written flow; a constant -Umean only pre-warps image 2 and is not.
TEST(EndToEnd, PreWarpByInitialFieldOrConstantVelocity) {
  ScratchDir dir("e2e_prewarp");
  const int W = 64, H = 64;
  const double u = 1.25, v = -0.5;
  write_pgm(dir / "frame1.pgm", smooth_texture(W, H, 0.0, 0.0, 7), 1023);
  write_pgm(dir / "frame2.pgm", smooth_texture(W, H, u, v, 7), 1023);
  // Initial-field file: one line per pixel, columns outer, the file's rows
  // running upwards and its second component pointing up (-V).
  std::string field;
  for (int x = 0; x < W; ++x)
    for (int y = 0; y < H; ++y)
      field += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(u) + " " +
               std::to_string(-v) + "\n";
  write_text(dir / "field.txt", field);
  write_list(dir / "list", dir / "frame1.pgm", dir / "frame2.pgm", dir / "", dir / "field.txt");

  struct Case {
    const char* what;
    std::vector<std::string> options;
    double u, v;  // expected written flow
  };
  const Case cases[] = {
      {"-UVinit", {"-UVinit", "true"}, u, v},
      {"-Umean", {"-Umean", "1.25"}, 0.0, v},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r =
        run_program(dir.path(), with(with({"-inPath", dir / "list"}, c.options), tile_options(W, H)));
    ASSERT_EQ(r.status, 0) << r.err;
    double mu = 0.0, mv = 0.0;
    mean_flow(dir / "UV_HS.motion", 8, mu, mv);
    std::cout << c.what << ": mean flow (" << mu << ", " << mv << ")" << std::endl;
    EXPECT_NEAR(mu, c.u, 0.05);
    EXPECT_NEAR(mv, c.v, 0.05);
  }
}

// The sample pair, run as scripts/run-example.sh runs it (the whole
// 584 x 388 image as one tile, every other option at its default): the
// average endpoint error against the ground truth is well below the zero
// flow's 1.256 px.
TEST(EndToEnd, RubberWhaleAgainstGroundTruth) {
  ScratchDir dir("e2e_rubberwhale");
  const std::string data = std::string(VELMORA_SOURCE_DIR) + "/examples/RubberWhale/";
  write_list(dir / "list", data + "frame10.pgm", data + "frame11.pgm", dir / "");
  const auto start = std::chrono::steady_clock::now();
  const RunResult r =
      run_program(dir.path(), with({"-inPath", dir / "list"}, tile_options(584, 388)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(r.status, 0) << r.err;
  const FlowErrors e = evaluate_flow(dir.path(), dir / "UV_HS.motion", data + "flow10.flo");
  ASSERT_EQ(e.status, 0);
  std::cout << "RubberWhale: AEE " << e.aee << " px, AAE " << e.aae << " deg over " << e.n
            << " pixels, run " << seconds << " s" << std::endl;
  RecordProperty("aee", std::to_string(e.aee));
  EXPECT_EQ(e.n, 584L * 388 - 3622);
  EXPECT_LT(e.aee, 0.40);
}

// The four output files have the tile's size (not the padded size); with
// quadratic norms the data weights are 0 on the -offEdeges frame that lies
// inside the tile and 255 elsewhere, the smoothness weights 255 everywhere.
TEST(EndToEnd, OutputFilesOverTheTile) {
  struct Case {
    int w, h, offEdge;
  };
  // 32 x 32 needs no padding for 2 levels; 30 x 26 pads to 32 x 28, so the
  // far margins lie in the padding and only the first column and row of the
  // tile are 0.
  const Case cases[] = {{32, 32, 1}, {30, 26, 1}, {32, 32, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " offEdge " +
                 std::to_string(c.offEdge));
    ScratchDir dir("e2e_outputs");
    const Grey g = smooth_texture(c.w, c.h, 0.0, 0.0, 3, 120.0, 80.0);
    write_pgm(dir / "a.pgm", g, 255);
    write_pgm(dir / "b.pgm", smooth_texture(c.w, c.h, 0.5, 0.25, 3, 120.0, 80.0), 255);
    fs::create_directories(dir.path() / "out");
    write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", "out/");
    const RunResult r = run_program(
        dir.path(), with({"-inPath", dir / "list", "-multiresol", "2", "-offEdeges",
                          std::to_string(c.offEdge)},
                         tile_options(c.w, c.h)));
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string motion = read_text(dir / "out/UV_HS.motion");
    EXPECT_EQ(motion.rfind(std::to_string(c.w) + " " + std::to_string(c.h) + "\n#i\tj\tU\tV\n", 0),
              0u);
    EXPECT_EQ(std::count(motion.begin(), motion.end(), '\n'), 2L + c.w * c.h);

    const bool padX = c.w % 4 != 0, padY = c.h % 4 != 0;
    const Grey data = read_pgm8(dir / "out/UV_HSDataOut.pgm");
    ASSERT_EQ(data.width, c.w);
    ASSERT_EQ(data.height, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const bool frame = x < c.offEdge || y < c.offEdge ||
                           (!padX && x >= c.w - c.offEdge) || (!padY && y >= c.h - c.offEdge);
        ASSERT_EQ(data.at(x, y), frame ? 0.0 : 255.0) << "at (" << x << ", " << y << ")";
      }
    for (const char* name : {"out/UV_HSRegOutX.pgm", "out/UV_HSRegOutY.pgm"}) {
      const Grey reg = read_pgm8(dir / name);
      ASSERT_EQ(reg.width, c.w);
      ASSERT_EQ(reg.height, c.h);
      for (double value : reg.v) ASSERT_EQ(value, 255.0) << name;
    }
  }
}

// Standard output with each evidence line (whose figures depend on the
// images) replaced by "<evidence>".
static std::string with_evidence_masked(const std::string& out) {
  const std::string prefix = "-log evidence = data energy + -log occam = ";
  std::istringstream in(out);
  std::string masked;
  for (std::string line; std::getline(in, line);)
    masked += (line.rfind(prefix, 0) == 0 ? std::string("<evidence>") : line) + "\n";
  return masked;
}

// Standard output of a small two-level run with the defaults, line for line:
// one iteration per level, each with its two evidence lines.
TEST(EndToEnd, ConsoleOutline) {
  ScratchDir dir("e2e_console");
  write_pgm(dir / "a.pgm", smooth_texture(30, 26, 0.0, 0.0, 5, 120.0, 80.0), 255);
  write_pgm(dir / "b.pgm", smooth_texture(30, 26, 0.5, 0.0, 5, 120.0, 80.0), 255);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", "run_");
  const RunResult r = run_program(
      dir.path(), with({"-inPath", dir / "list", "-multiresol", "2"}, tile_options(30, 26)));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string stars(64, '*');
  const std::string progress =
      "alpha=10  (alpha',beta)=(10,1); sigma_d= 50 (factorRobParam_d= 1); "
      "sigma_r= 50 (factorRobParam_r= 1)\n<evidence>\n<evidence>\n";
  const std::string expected = "image size before 30 26, and after expanding 32 28\n" + stars +
                               "\nResolution: 1\n" + stars + "\n" + progress +
                               "\n Recalage\n" + stars + "\nResolution: 0\n" + stars + "\n" +
                               progress + "run_UV_HS.motion\n\n ** End algorithm **\n";
  EXPECT_EQ(with_evidence_masked(r.out), expected);
  EXPECT_TRUE(fs::exists(dir.path() / "run_UV_HS.motion"));
}

// Standard output of a -UVinit run, line for line: the field's path once
// from the set-up and once from each read of the field (the pre-warp,
// which comes before image 2 is loaded, and the linearisation point), the
// warp's own line, one level. With image 2 missing, the field has already
// been read when the run stops.
TEST(EndToEnd, ConsoleOutlineWithInitialField) {
  ScratchDir dir("e2e_console_field");
  write_pgm(dir / "a.pgm", smooth_texture(16, 16, 0.0, 0.0, 5, 120.0, 80.0), 255);
  write_pgm(dir / "b.pgm", smooth_texture(16, 16, 0.5, 0.0, 5, 120.0, 80.0), 255);
  std::string field;
  for (int k = 0; k < 16 * 16; ++k) field += "0 0 0.5 0\n";
  const std::string fieldPath = dir / "field.txt";
  write_text(fieldPath, field);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", "run_", fieldPath);
  write_list(dir / "missing.list", dir / "a.pgm", dir / "nowhere.pgm", "run_", fieldPath);
  const std::vector<std::string> options = with({"-UVinit", "true"}, tile_options(16, 16));

  const RunResult r = run_program(dir.path(), with({"-inPath", dir / "list"}, options));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string stars(64, '*');
  const std::string expected =
      "setting a single resolution level!\n" + fieldPath + "\n" + fieldPath + "\n" +
      "\n Recalage\n" + "image size before 16 16, and after expanding 16 16\n" + fieldPath +
      "\n" + stars + "\nResolution: 0\n" + stars + "\n" +
      "alpha=10  (alpha',beta)=(10,1); sigma_d= 50 (factorRobParam_d= 1); "
      "sigma_r= 50 (factorRobParam_r= 1)\n<evidence>\n<evidence>\n" +
      "run_UV_HS.motion\n\n ** End algorithm **\n";
  EXPECT_EQ(with_evidence_masked(r.out), expected);

  const RunResult m = run_program(dir.path(), with({"-inPath", dir / "missing.list"}, options));
  EXPECT_EQ(m.status, 1);
  EXPECT_EQ(m.out, "setting a single resolution level!\n" + fieldPath + "\n" + fieldPath + "\n");
  EXPECT_TRUE(contains_in_order(m.err, {"image library error"})) << m.err;
}

// Output names are built for any prefix length (no fixed name buffer).
TEST(EndToEnd, LongOutputPrefix) {
  ScratchDir dir("e2e_prefix");
  write_pgm(dir / "a.pgm", smooth_texture(16, 16, 0.0, 0.0, 5, 120.0, 80.0), 255);
  write_pgm(dir / "b.pgm", smooth_texture(16, 16, 0.5, 0.0, 5, 120.0, 80.0), 255);
  const std::string prefix(180, 'p');
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", prefix);
  const RunResult r = run_program(
      dir.path(), with({"-inPath", dir / "list", "-multiresol", "1"}, tile_options(16, 16)));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* suffix :
       {"UV_HS.motion", "UV_HSDataOut.pgm", "UV_HSRegOutX.pgm", "UV_HSRegOutY.pgm"})
    EXPECT_TRUE(fs::exists(dir.path() / (prefix + suffix))) << suffix;
}

// Every refusal ends the run with exit status 1 and a message on standard
// error, before any output file is written.
TEST(EndToEnd, RefusalsExitWithStatusOne) {
  ScratchDir dir("e2e_refusals");
  write_pgm(dir / "a.pgm", smooth_texture(16, 16, 0.0, 0.0, 5, 120.0, 80.0), 255);
  write_pgm(dir / "b.pgm", smooth_texture(16, 16, 0.5, 0.0, 5, 120.0, 80.0), 255);
  // A PGM whose raster stops short of its header's 16 x 16 samples.
  {
    const std::string full = read_text(dir / "b.pgm");
    write_text(dir / "short.pgm", full.substr(0, full.size() - 10));
  }
  // A 10-bit PGM whose two-byte samples are one byte short.
  write_text(dir / "short16.pgm", "P5\n2 2\n1023\n" + std::string(7, '\1'));
  // A PGM of 40000 x 1 pixels: wider than the 16-bit sizes allow.
  write_text(dir / "wide.pgm", "P5\n40000 1\n255\n" + std::string(40000, '\x40'));
  write_text(dir / "garbage.png", "this is no image at all\n");
  write_list(dir / "ok.list", dir / "a.pgm", dir / "b.pgm", dir / "out_", dir / "field.txt");
  write_text(dir / "three.list", dir / "a.pgm\n" + dir / "b.pgm\n" + dir / "out_\n");
  write_text(dir / "long.list", dir / "a.pgm\n" + std::string(500, 'x') + "\n" + dir / "out_\nu\n");
  write_list(dir / "short.list", dir / "a.pgm", dir / "short.pgm", dir / "out_");
  write_list(dir / "short16.list", dir / "short16.pgm", dir / "b.pgm", dir / "out_");
  write_list(dir / "wide.list", dir / "wide.pgm", dir / "b.pgm", dir / "out_");
  write_list(dir / "missing.list", dir / "a.pgm", dir / "nowhere.pgm", dir / "out_");
  write_list(dir / "garbage.list", dir / "garbage.png", dir / "b.pgm", dir / "out_");

  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::vector<std::string> message;  // pieces expected in standard error, in order
  };
  const std::vector<std::string> tile = tile_options(16, 16);
  const std::vector<Case> cases = {
      {"list file missing", with({"-inPath", dir / "none.list"}, tile), {"none.list"}},
      {"list file too short", with({"-inPath", dir / "three.list"}, tile), {"three.list"}},
      {"list line too long", with({"-inPath", dir / "long.list"}, tile), {"long.list"}},
      {"five lines needed with -UVinit",
       with({"-inPath", dir / "three.list", "-UVinit", "true"}, tile), {"three.list"}},
      {"truncated 8-bit image", with({"-inPath", dir / "short.list"}, tile),
       {"short.pgm", "less data"}},
      {"truncated 16-bit image", with({"-inPath", dir / "short16.list"}, tile),
       {"short16.pgm", "less data"}},
      {"image wider than 32767", with({"-inPath", dir / "wide.list"}, tile), {"wide.pgm", "32767"}},
      {"missing image", with({"-inPath", dir / "missing.list"}, tile), {"image library error"}},
      {"unreadable image", with({"-inPath", dir / "garbage.list"}, tile), {"image library error"}},
      {"tile wider than 32767",
       {"-inPath", dir / "ok.list", "-dx", "40000", "-dy", "16", "-Dx", "16", "-Dy", "16"},
       {"-dx 40000", "32767"}},
      {"padded tile taller than 32767",
       {"-inPath", dir / "ok.list", "-dx", "16", "-dy", "32765", "-Dx", "16", "-Dy", "16"},
       {"32768", "exceeds 32767"}},
      {"-UVinit window past the field",
       {"-inPath", dir / "ok.list", "-UVinit", "true", "-dx", "16", "-dy", "16", "-Dx", "16",
        "-Dy", "16", "-ofx", "1"},
       {"-UVinit", "inside the 16 x 16 field"}},
      {"-UVinit window with padding past the field",
       {"-inPath", dir / "ok.list", "-UVinit", "true", "-dx", "15", "-dy", "16", "-Dx", "15",
        "-Dy", "16", "-multiresol", "1"},
       {"-UVinit", "16 x 16 at (0, 0)", "15 x 16 field"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = run_program(dir.path(), c.options);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(contains_in_order(r.err, c.message)) << r.err;
    EXPECT_FALSE(fs::exists(dir.path() / "out_UV_HS.motion"));
  }
}

namespace {

// One level of an estimated run as its console shows it.
struct LevelTrace {
  int resol = -1;
  std::vector<double> alphas;  // alpha of each progress line
  int evidenceLines = 0;
  bool thirdStrike = false;
};

std::vector<LevelTrace> level_traces(const std::string& out) {
  std::vector<LevelTrace> levels;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Resolution: ", 0) == 0) {
      levels.emplace_back();
      levels.back().resol = std::stoi(line.substr(12));
    } else if (levels.empty()) {
      continue;
    } else if (line.rfind("alpha=", 0) == 0) {
      levels.back().alphas.push_back(std::stod(line.substr(6)));
    } else if (line.rfind("-log evidence = ", 0) == 0) {
      ++levels.back().evidenceLines;
    } else if (line == "CONVERGENCE 3 ... ") {
      levels.back().thirdStrike = true;
    }
  }
  return levels;
}

}  // namespace

// An estimated run on a small synthetic pair: every level ends by the
// relative-change test on alpha, by the third strike or by its cap (1 at
// level 2, 10 at level 1), each iteration prints its two evidence lines,
// every level starts again from -alphaInit, and the finest alpha is an
// estimate, not the initial value. The flow stays accurate.
TEST(EndToEnd, EstimatedRunEndsEachLevelByARule) {
  ScratchDir dir("e2e_estimated");
  const int W = 64, H = 64;
  write_pgm(dir / "frame1.pgm", smooth_texture(W, H, 0.0, 0.0, 7), 1023);
  write_pgm(dir / "frame2.pgm", smooth_texture(W, H, 1.25, -0.5, 7), 1023);
  write_list(dir / "list", dir / "frame1.pgm", dir / "frame2.pgm", dir / "");
  write_constant_flo(dir / "truth.flo", W, H, 1.25f, -0.5f);
  const double alphaInit = 10.0, precision = 1e-3;
  const RunResult r = run_program(
      dir.path(), with({"-inPath", dir / "list", "-sigmaAlphaEstim", "true", "-sigmaBetaEstim",
                        "true", "-nbItTrace", "8", "-multiresol", "3"},
                       tile_options(W, H)));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<LevelTrace> levels = level_traces(r.out);
  ASSERT_EQ(levels.size(), 3u) << r.out;
  const int caps[] = {1000, 10, 1};
  for (const LevelTrace& lv : levels) {
    SCOPED_TRACE("level " + std::to_string(lv.resol));
    const int n = static_cast<int>(lv.alphas.size());
    const int cap = caps[lv.resol];
    ASSERT_GE(n, 1);
    EXPECT_LE(n, cap);
    EXPECT_EQ(lv.evidenceLines, 2 * n);
    // The convergence test compares the last change with precision * alpha
    // (the printed alphas carry six digits: allow for their rounding).
    const double last = lv.alphas[n - 1], before = n > 1 ? lv.alphas[n - 2] : alphaInit;
    const bool changeTest = std::fabs(last - before) < (precision + 1e-5) * last;
    EXPECT_TRUE(lv.thirdStrike || n == cap || changeTest) << r.out;
    if (lv.thirdStrike) {
      EXPECT_GE(n, 3);
    }
  }
  EXPECT_NE(levels.back().alphas.back(), alphaInit);
  const int border = 8;
  const FlowErrors e = evaluate_flow(dir.path(), dir / "UV_HS.motion", dir / "truth.flo", border);
  ASSERT_EQ(e.status, 0);
  std::cout << "synthetic, estimated alpha " << levels.back().alphas.back() << ": AEE " << e.aee
            << " px" << std::endl;
  EXPECT_LT(e.aee, 0.1);
}

// RubberWhale with alpha and beta estimated: the estimate keeps the flow
// accurate (0.50 px catches a broken estimate; the fixed alpha 10 gives
// 0.25, the zero flow 1.26). Four probes per trace instead of 30 keep the
// run affordable in every build; the estimates move by about 1e-3 px with
// the probe count.
TEST(EndToEnd, RubberWhaleWithEstimatedAlphaAndBeta) {
  ScratchDir dir("e2e_rubberwhale_estimated");
  const std::string data = std::string(VELMORA_SOURCE_DIR) + "/examples/RubberWhale/";
  write_list(dir / "list", data + "frame10.pgm", data + "frame11.pgm", dir / "");
  const RunResult r = run_program(
      dir.path(), with({"-inPath", dir / "list", "-sigmaAlphaEstim", "true", "-sigmaBetaEstim",
                        "true", "-nbItTrace", "4"},
                       tile_options(584, 388)));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<LevelTrace> levels = level_traces(r.out);
  ASSERT_EQ(levels.size(), 3u);
  const FlowErrors e = evaluate_flow(dir.path(), dir / "UV_HS.motion", data + "flow10.flo");
  ASSERT_EQ(e.status, 0);
  std::cout << "RubberWhale, estimated: AEE " << e.aee << " px, finest alpha "
            << levels.back().alphas.back() << " after " << levels.back().alphas.size()
            << " iterations" << std::endl;
  EXPECT_NE(levels.back().alphas.back(), 10.0);
  EXPECT_LT(e.aee, 0.50);
}
