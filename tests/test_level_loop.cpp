// Whole runs of the coarse-to-fine loop inside the test process, with the
// probe seeds drawn from a fixed clock, so that estimated runs repeat to the
// bit: a tile that needs no padding and sends no warp target outside
// image 2 keeps the motion file it had before the padding and such targets
// became invalid samples.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "denormals.h"
#include "display_hooks.h"
#include "level_loop.h"
#include "probe_clock.h"
#include "program_run.h"
#include "run_parameters.h"
#include "run_setup.h"
#include "texture_pair.h"

using namespace velmora_test;

namespace {

// A smooth texture seen through a zoom about the image centre: image 2 at p
// shows image 1 at c + (p - c) / (1 - shrink), so the flow of image 1 is
// -shrink (x - c), pointing inwards everywhere (0.95 px at the sides of a
// 64-pixel image for shrink 0.03): no warp target leaves image 2.
Grey zoomed_texture(int w, int h, double shrink, unsigned seed) {
  const int waves = 8;
  const PlaneWaves texture(seed, waves, 14.0, 18.0);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  Grey g;
  g.width = w;
  g.height = h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double X = cx + (x - cx) / (1.0 - shrink), Y = cy + (y - cy) / (1.0 - shrink);
      g.v.push_back(480.0 + 160.0 * texture.at(X, Y) / std::sqrt(2.0 * waves));
    }
  return g;
}

// Runs the program's set-up and levels on args in a child process (fresh
// generator state, denormals flushed as at the program's start, probe seeds
// from the clock fixed at t) and returns the md5 of the motion file it
// writes, or "" when the child failed.
std::string md5_of_run(const ScratchDir& dir, const std::vector<std::string>& args, std::time_t t) {
  const pid_t child = ::fork();
  if (child == 0) {
    flush_denormals_to_zero();
    const probe_test::FixedClock clock(t);
    std::vector<const char*> argv = {"Velmora"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    if (!std::freopen("/dev/null", "w", stdout)) ::_exit(3);
    RunParameters p = read_run_parameters(static_cast<int>(argv.size()), argv.data());
    const RunDisplay display;
    RunSetup s = run_setup(p, display);
    run_levels(p, s, display);
    std::fflush(stdout);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "";
  const RunResult md5 = run_command(dir.path(), {"md5sum", dir / "UV_HS.motion"}, "md5");
  return md5.status == 0 ? md5.out.substr(0, 32) : "";
}

// A run of the 64 x 64 zoom pair and the md5 of the motion file it must
// write, probe seeds from the clock fixed at 1700000000.
struct BitsCase {
  const char* name;
  std::vector<std::string> options;  // after -inPath and the tile's options
  const char* md5;
};

void expect_bits(const char* scratch, const std::vector<std::string>& tile,
                 const std::vector<BitsCase>& cases) {
  ScratchDir dir(scratch);
  write_pgm(dir / "a.pgm", zoomed_texture(64, 64, 0.0, 5), 1023);
  write_pgm(dir / "b.pgm", zoomed_texture(64, 64, 0.03, 5), 1023);
  write_list(dir / "list", dir / "a.pgm", dir / "b.pgm", dir / "");
  for (const BitsCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-inPath", dir / "list"};
    args.insert(args.end(), tile.begin(), tile.end());
    args.insert(args.end(), c.options.begin(), c.options.end());
    EXPECT_EQ(md5_of_run(dir, args, 1700000000), c.md5);
  }
}

}  // namespace

// A 64 x 64 zoom pair, three levels (no padding, every flow pointing
// inwards), with the default options and with alpha and beta estimated:
// the motion files are those of the program before the padding and the
// targets outside image 2 were made invalid samples, to the bit.
TEST(LevelLoop, UnpaddedRunsWithoutOutsideTargetsKeepTheirBits) {
  expect_bits("level_loop_bits", {"-dx", "64", "-dy", "64", "-Dx", "64", "-Dy", "64"},
              {{"default", {}, "e2cb1216b32523177c6c05157fd40727"},
               {"estimated",
                {"-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true", "-nbItTrace", "8"},
                "6140cedfbba9955d91f41c5c5ad17e4d"}});
}

// A 60 x 60 tile of the zoom pair, padded to 64 x 64 for three and for four
// levels, quadratic and Leclerc terms, default and estimated with fixed
// probe seeds: the padding is kept out of the data term by its invalid
// samples alone, and the motion files are those of the program that also
// zeroed its data weights at the finest level, to the bit.
TEST(LevelLoop, PaddedRunsKeepTheirBits) {
  expect_bits(
      "level_loop_padded_bits",
      {"-dx", "60", "-dy", "60", "-ofx", "2", "-ofy", "1", "-Dx", "64", "-Dy", "64"},
      {{"default", {}, "8312fc9b0232dfffc3b24122d818e15d"},
       {"Leclerc, 4 levels, frame 0",
        {"-norm", "0", "-normRegRob", "0", "-multiresol", "4", "-offEdeges", "0"},
        "362b5d8dd1bb5d1f9e3d7618f29452ab"},
       {"estimated",
        {"-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true", "-nbItTrace", "8"},
        "cd27798621916aa7a103085b355a4264"},
       {"Leclerc data, estimated with its factor",
        {"-norm", "0", "-sigmaRobEstim", "true", "-sigmaAlphaEstim", "true", "-sigmaBetaEstim",
         "true", "-nbItTrace", "8"},
        "f401d402fb7d3563468ae82e10fb6a5a"}});
}
