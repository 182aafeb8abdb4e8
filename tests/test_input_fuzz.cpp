// A mutation loop over the program's inputs: a valid 16 x 16 image pair, an
// initial field, a list file and a command line, each case changing a few
// bytes, lines or option values with a fixed seed. A share of the cases
// runs a 10-bit pair with invalid-sample markers (1022, 1023): single
// samples, blocks, or a whole image of markers. Every run must end
// cleanly: a refusal with exit status 1 and a message, a run whose finest
// solve failed with status 2 and its line, or a successful run with
// complete outputs free of values that are not numbers. No crash, no
// sanitizer report, no hang.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "program_run.h"

using namespace velmora_test;

namespace {

constexpr int kSide = 16;
constexpr int kCases = 1000;

std::string pgm_bytes(double shift) {
  std::string s = "P5\n16 16\n255\n";
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const double X = x - shift;
      const double v = 120.0 + 60.0 * std::sin(0.7 * X) + 50.0 * std::cos(0.5 * y + 0.2 * X);
      s.push_back(static_cast<char>(static_cast<unsigned char>(std::lround(v))));
    }
  return s;
}

// The same pair as a 10-bit image: samples times 4 (at most 1020, so that
// no sample is a marker), two bytes each, most significant first.
std::string pgm10_bytes(double shift) {
  const std::string eight = pgm_bytes(shift);
  const std::size_t header = eight.size() - kSide * kSide;
  std::string s = "P5\n16 16\n1023\n";
  for (std::size_t k = header; k < eight.size(); ++k) {
    const int v = 4 * static_cast<unsigned char>(eight[k]);
    s.push_back(static_cast<char>(v >> 8));
    s.push_back(static_cast<char>(v & 0xff));
  }
  return s;
}

// Length of the header of an image as the mutations see it: up to the end
// of its third line (the maxval line of the base images), at most the
// whole file.
int header_length(const std::string& s) {
  std::size_t at = 0;
  for (int line = 0; line < 3 && at < s.size(); ++line) {
    const std::size_t end = s.find('\n', at);
    at = end == std::string::npos ? s.size() : end + 1;
  }
  return static_cast<int>(at);
}

std::vector<std::string> field_lines() {
  std::vector<std::string> lines;
  for (int x = 0; x < kSide; ++x)
    for (int y = 0; y < kSide; ++y)
      lines.push_back(std::to_string(x) + " " + std::to_string(y) + " 0.5 0");
  return lines;
}

// Values that sit on or past the bounds of the options and formats.
const std::vector<std::string> kTokens = {"0",          "1",
                                          "2",          "-1",
                                          "-0",         "+7",
                                          "3.5",        "1/2",
                                          "1/0",        "0/0",
                                          "1e308",      "1e-320",
                                          "nan",        "inf",
                                          "-inf",       "2147483647",
                                          "2147483648", "-2147483648",
                                          "32767",      "32768",
                                          "65535",      "1023",
                                          "1024",       "abc",
                                          "",           " ",
                                          "12abc",      "0x10",
                                          "1e",         ".",
                                          "--help",     "-dx",
                                          "\t",         "99999999999999999999"};

// The options a case may change. Those that only lengthen a valid run
// (iteration caps, probe counts, windows) stay at their base values.
const std::vector<std::string> kMutable = {"-dy",
                                           "-dx",
                                           "-ofy",
                                           "-ofx",
                                           "-Dx",
                                           "-Dy",
                                           "-norm",
                                           "-normRegRob",
                                           "-sigma_obs",
                                           "-sigma_reg",
                                           "-sigmaRobEstim",
                                           "-sigmaRegRobEstim",
                                           "-sigmaAlphaEstim",
                                           "-sigmaBetaEstim",
                                           "-sigBlur",
                                           "-multiresol",
                                           "-offEdeges",
                                           "-periodic",
                                           "-tol",
                                           "-Umean",
                                           "-UVinit",
                                           "-alphaInit",
                                           "-betaInit"};

struct Inputs {
  std::string image1, image2;
  std::vector<std::string> field, list;
  std::vector<std::string> options;
};

class Mutator {
 public:
  explicit Mutator(unsigned seed) : gen_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(gen_); }
  const std::string& token() { return kTokens[below(static_cast<int>(kTokens.size()))]; }

  // Overwrites, inserts or removes bytes, mostly in the header, or cuts the
  // file (an earlier mutation may have left it short or empty).
  std::string image(std::string s, std::string& what) {
    const int header = header_length(s);
    switch (s.empty() ? 3 : below(5)) {
      case 0: {
        const int n = 1 + below(4);
        for (int k = 0; k < n; ++k) {
          const int at = below(2) ? below(header) : below(static_cast<int>(s.size()));
          s[at] = static_cast<char>(below(256));
        }
        what += " image bytes overwritten;";
        break;
      }
      case 1: {
        const int at = below(header);
        static const std::vector<std::string> pieces = {" ",     "#c\n", "0",  "9",
                                                        "99999", "-",    "\n", "\r"};
        s.insert(at, pieces[below(static_cast<int>(pieces.size()))]);
        what += " header bytes inserted at " + std::to_string(at) + ";";
        break;
      }
      case 2:
        s.erase(below(header), 1 + below(3));
        what += " header bytes removed;";
        break;
      case 3:
        s.resize(s.empty() ? 0 : below(static_cast<int>(s.size())));
        what += " file cut at " + std::to_string(s.size()) + ";";
        break;
      default: {
        static const std::vector<std::string> headers = {
            "P5\n16 16\n1023\n",      "P5\n16 16\n65535\n",
            "P5\n16 16\n0\n",         "P5\n16 16\n100\n",
            "P5 16 16 255\n",         "P5\n16 # c\n16\n255\n",
            "P2\n16 16\n255\n",       "P4\n16 16\n",
            "P6\n16 16\n255\n",       "P5\n8 8\n255\n",
            "P5\n32767 32767\n255\n", "P7\n16 16\n255\n"};
        s = headers[below(static_cast<int>(headers.size()))] + s.substr(header);
        what += " header replaced by \"" + s.substr(0, s.find('\n', 3)) + "\";";
      }
    }
    return s;
  }

  // Invalid-sample markers (1023 or 1022) in a 10-bit image of the base
  // size: one to four samples, a block, or every sample.
  std::string markers(std::string s, const char* name, std::string& what) {
    const int header = header_length(s);
    const int marker = below(2) ? 1023 : 1022;
    auto mark = [&](int x, int y) {
      const std::size_t at = static_cast<std::size_t>(header) + 2 * (y * kSide + x);
      if (at + 1 >= s.size()) return;
      s[at] = static_cast<char>(marker >> 8);
      s[at + 1] = static_cast<char>(marker & 0xff);
    };
    const std::string m = " " + std::string(name) + " " + std::to_string(marker);
    switch (below(3)) {
      case 0: {
        const int n = 1 + below(4);
        for (int k = 0; k < n; ++k) mark(below(kSide), below(kSide));
        what += m + " at " + std::to_string(n) + " samples;";
        break;
      }
      case 1: {
        const int w = 1 + below(kSide), h = 1 + below(kSide);
        const int x0 = below(kSide - w + 1), y0 = below(kSide - h + 1);
        for (int y = y0; y < y0 + h; ++y)
          for (int x = x0; x < x0 + w; ++x) mark(x, y);
        what += m + " in a " + std::to_string(w) + " x " + std::to_string(h) + " block at (" +
                std::to_string(x0) + ", " + std::to_string(y0) + ");";
        break;
      }
      default:
        for (int y = 0; y < kSide; ++y)
          for (int x = 0; x < kSide; ++x) mark(x, y);
        what += m + " everywhere;";
    }
    return s;
  }

  void field(std::vector<std::string>& lines, std::string& what) {
    const int at = below(static_cast<int>(lines.size()));
    switch (below(4)) {
      case 0: {
        std::vector<std::string> parts = {"0", "0", "0.5", "0"};
        parts[below(4)] = token();
        lines[at] = parts[0] + " " + parts[1] + " " + parts[2] + " " + parts[3];
        what += " field line " + std::to_string(at + 1) + " = \"" + lines[at] + "\";";
        break;
      }
      case 1:
        lines.erase(lines.begin() + at);
        what += " field line removed;";
        break;
      case 2:
        lines.insert(lines.begin() + at, lines[at]);
        what += " field line doubled;";
        break;
      default:
        lines.push_back(token());
        what += " field line appended;";
    }
  }

  void list(std::vector<std::string>& lines, std::string& what) {
    switch (below(5)) {
      case 0:
        lines.resize(below(static_cast<int>(lines.size())));
        what += " list cut to " + std::to_string(lines.size()) + " lines;";
        break;
      case 1:
        for (std::string& l : lines) l += "\r";
        what += " list lines end in CR;";
        break;
      case 2:
        lines[below(static_cast<int>(lines.size()))] = std::string(400 + below(200), 'x');
        what += " list line long;";
        break;
      case 3:
        lines[below(static_cast<int>(lines.size()))].push_back('\0');
        what += " list line with NUL;";
        break;
      default:
        std::swap(lines[0], lines[1 + below(static_cast<int>(lines.size()) - 1)]);
        what += " list lines swapped;";
    }
  }

  void options(std::vector<std::string>& o, std::string& what) {
    switch (below(4)) {
      case 0:
      case 1: {
        const std::string& name = kMutable[below(static_cast<int>(kMutable.size()))];
        const std::string& value = token();
        o.insert(o.begin(), {name, value});  // the first occurrence wins
        what += " " + name + " \"" + value + "\";";
        break;
      }
      case 2: {
        const std::string& name = kMutable[below(static_cast<int>(kMutable.size()))];
        o.push_back(name);
        what += " " + name + " last;";
        break;
      }
      default: {
        static const std::vector<std::string> stray = {"-alpha", "-DX", "16", "-", "--dx", "-h"};
        const std::string& s = stray[below(static_cast<int>(stray.size()))];
        o.insert(o.begin() + 2 * below(static_cast<int>(o.size()) / 2), s);
        what += " stray \"" + s + "\";";
      }
    }
  }

 private:
  std::mt19937 gen_;
};

std::string join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// Lines of a motion file that are not "i\tj\tU\tV" with finite values, or
// a count that differs from its size line; "" when complete.
std::string motion_problem(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  int w = -1, h = -1;
  if (!std::getline(in, line) || std::sscanf(line.c_str(), "%d %d", &w, &h) != 2)
    return "no size line";
  std::getline(in, line);
  long n = 0;
  while (std::getline(in, line)) {
    int i, j;
    double u, v;
    if (std::sscanf(line.c_str(), "%d %d %lf %lf", &i, &j, &u, &v) != 4 || !std::isfinite(u) ||
        !std::isfinite(v))
      return "line " + std::to_string(n + 3) + ": " + line;
    ++n;
  }
  return n == static_cast<long>(w) * h ? "" : "pixel lines " + std::to_string(n);
}

}  // namespace

TEST(InputFuzz, EveryRunEndsCleanly) {
  ScratchDir dir("fuzz");
  fs::create_directories(dir.path() / "out");
  const Inputs base = {pgm_bytes(0.0),
                       pgm_bytes(0.5),
                       field_lines(),
                       {dir / "a.pgm", dir / "b.pgm", dir / "out/", "unused", dir / "field.txt"},
                       {"-inPath", dir / "list", "-dx", "16", "-dy", "16", "-Dx", "16", "-Dy", "16",
                        "-multiresol", "2", "-maxItConvAlpha", "3", "-nbItTrace", "3"}};
  Mutator m(20260);
  int counts[3] = {0, 0, 0}, failures = 0, markerCases = 0;
  for (int c = 0; c < kCases && failures < 10; ++c) {
    Inputs in = base;
    std::string what;
    const bool uvinit = m.below(3) == 0;
    if (uvinit) in.options.insert(in.options.end(), {"-UVinit", "true"});
    // One case in twelve: a 10-bit pair whose first mutation puts markers in
    // image 1 or image 2; its image mutations are markers too.
    const bool tenBit = m.below(12) == 0;
    if (tenBit) {
      in.image1 = pgm10_bytes(0.0);
      in.image2 = pgm10_bytes(0.5);
      what += " 10-bit pair;";
      ++markerCases;
    }
    for (int k = 1 + m.below(2), first = 1; k > 0; --k, first = 0) {
      switch (tenBit && first ? m.below(2) : m.below(uvinit ? 5 : 4)) {
        case 0:
          in.image1 = tenBit ? m.markers(in.image1, "image 1", what) : m.image(in.image1, what);
          break;
        case 1:
          in.image2 = tenBit ? m.markers(in.image2, "image 2", what) : m.image(in.image2, what);
          break;
        case 2:
          m.list(in.list, what);
          break;
        case 3:
          m.options(in.options, what);
          break;
        default:
          m.field(in.field, what);
      }
    }
    write_text(dir / "a.pgm", in.image1);
    write_text(dir / "b.pgm", in.image2);
    write_text(dir / "field.txt", join(in.field));
    write_text(dir / "list", join(in.list));
    for (const char* name :
         {"UV_HS.motion", "UV_HSDataOut.pgm", "UV_HSRegOutX.pgm", "UV_HSRegOutY.pgm"})
      fs::remove(dir.path() / "out" / name);

    // No window may open; a sanitizer report gets a status of its own. A
    // run that loops is ended by a limit on the processor time it uses (a
    // case takes well under a second of it, however busy the machine is).
    std::vector<std::string> command = {"sh",
                                        "-c",
                                        "ulimit -t 60 && exec \"$0\" \"$@\"",
                                        "env",
                                        "-u",
                                        "DISPLAY",
                                        "ASAN_OPTIONS=exitcode=86",
                                        "UBSAN_OPTIONS=halt_on_error=1:exitcode=87",
                                        VELMORA_PROGRAM};
    command.insert(command.end(), in.options.begin(), in.options.end());
    const RunResult r = run_command(dir.path().string(), command, "fuzz");
    SCOPED_TRACE("case " + std::to_string(c) + (uvinit ? " (-UVinit)" : "") + ":" + what);
    const bool sanitizer = r.err.find("runtime error") != std::string::npos ||
                           r.err.find("Sanitizer") != std::string::npos;
    std::string problem;
    if (sanitizer || r.status < 0 || r.status > 2) {
      problem = "status " + std::to_string(r.status);
    } else if (r.status == 1) {
      if (r.err.empty() && r.out.find("Can't ") == std::string::npos) problem = "no message";
    } else {
      if (r.status == 2 && r.err.find("did not converge") == std::string::npos)
        problem = "status 2 without its line";
      const std::string motion = motion_problem(read_text(dir / "out/UV_HS.motion"));
      if (!motion.empty()) problem = "motion file: " + motion;
      if (!fs::exists(dir.path() / "out/UV_HSRegOutY.pgm")) problem = "weight images missing";
    }
    if (!problem.empty()) {
      ++failures;
      ADD_FAILURE() << problem << "\nstdout:\n"
                    << r.out.substr(0, 2000) << "\nstderr:\n"
                    << r.err.substr(0, 4000);
    } else {
      ++counts[r.status];
    }
  }
  std::cout << kCases << " cases (" << markerCases << " with markers): " << counts[0]
            << " runs, " << counts[1] << " refusals, " << counts[2]
            << " runs without convergence" << std::endl;
  // The mutations reach both the refusals and the runs.
  EXPECT_GT(counts[0], kCases / 10);
  EXPECT_GT(counts[1], kCases / 3);
}
