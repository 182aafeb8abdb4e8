// Helpers of the end-to-end tests: scratch folders, small PGM inputs and
// list files, runs of the built program and of the test tools, and reading
// back what a run wrote.
#ifndef VELMORA_TESTS_PROGRAM_RUN_H
#define VELMORA_TESTS_PROGRAM_RUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora_test {

namespace fs = std::filesystem;

// A fresh folder under the build tree, removed when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name) {
    path_ = fs::path(VELMORA_BINARY_DIR) / "tests" / "scratch" /
            (name + "_" + std::to_string(::getpid()));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& leaf) const { return (path_ / leaf).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A grey image held as row-major values.
struct Grey {
  int width = 0, height = 0;
  std::vector<double> v;
  double at(int x, int y) const { return v[static_cast<std::size_t>(y) * width + x]; }
};

// Writes a binary PGM; maxval 255 stores one byte per sample, a larger
// maxval two bytes, most significant first. Values are rounded and clamped.
inline void write_pgm(const std::string& path, const Grey& g, int maxval) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << g.width << " " << g.height << "\n" << maxval << "\n";
  for (double value : g.v) {
    long q = std::lround(value);
    q = q < 0 ? 0 : (q > maxval ? maxval : q);
    if (maxval < 256) {
      out.put(static_cast<char>(q));
    } else {
      out.put(static_cast<char>(q >> 8));
      out.put(static_cast<char>(q & 0xff));
    }
  }
}

// Reads a binary 8-bit PGM as written by the program ("P5\nW H\n255\n").
inline Grey read_pgm8(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  Grey g;
  in >> magic >> g.width >> g.height >> maxval;
  in.get();
  if (!in || magic != "P5" || maxval != 255) throw std::runtime_error("bad PGM " + path);
  g.v.resize(static_cast<std::size_t>(g.width) * g.height);
  for (double& value : g.v) value = static_cast<unsigned char>(in.get());
  if (!in) throw std::runtime_error("short PGM " + path);
  return g;
}

inline void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The list file of a run: image 1, image 2, output prefix, an unused line
// and, when given, the initial field.
inline void write_list(const std::string& path, const std::string& im1, const std::string& im2,
                       const std::string& prefix, const std::string& field = "") {
  write_text(path, im1 + "\n" + im2 + "\n" + prefix + "\nunused\n" +
                       (field.empty() ? "" : field + "\n"));
}

struct RunResult {
  int status = -1;  // exit status, -1 when the process did not exit normally
  std::string out, err;
};

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a command line (arguments quoted here) in folder dir, capturing
// standard output and standard error into files of that folder.
inline RunResult run_command(const std::string& dir, const std::vector<std::string>& args,
                             const std::string& tag = "run") {
  std::string cmd = "cd " + quote(dir) + " &&";
  for (const auto& a : args) cmd += " " + quote(a);
  const std::string outFile = dir + "/" + tag + ".stdout", errFile = dir + "/" + tag + ".stderr";
  cmd += " > " + quote(outFile) + " 2> " + quote(errFile) + " < /dev/null";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  r.out = read_text(outFile);
  r.err = read_text(errFile);
  return r;
}

// Runs the program with the given options (the program path comes first).
inline RunResult run_program(const std::string& dir, std::vector<std::string> options) {
  options.insert(options.begin(), VELMORA_PROGRAM);
  return run_command(dir, options, "velmora");
}

// Path of a test tool built from tests/tools.
inline std::string tool_path(const std::string& name) {
  return std::string(VELMORA_BINARY_DIR) + "/tests/" + name;
}

// Writes a Middlebury .flo file holding the constant flow (u, v).
inline void write_constant_flo(const std::string& path, int width, int height, float u, float v) {
  std::ofstream out(path, std::ios::binary);
  const float tag = 202021.25f;
  const std::int32_t w = width, h = height;
  out.write(reinterpret_cast<const char*>(&tag), 4);
  out.write(reinterpret_cast<const char*>(&w), 4);
  out.write(reinterpret_cast<const char*>(&h), 4);
  for (long k = 0; k < static_cast<long>(width) * height; ++k) {
    out.write(reinterpret_cast<const char*>(&u), 4);
    out.write(reinterpret_cast<const char*>(&v), 4);
  }
}

// Average endpoint and angular errors printed by flow_eval.
struct FlowErrors {
  double aee = -1.0, aae = -1.0;
  long n = 0;
  int status = -1;
};

inline FlowErrors evaluate_flow(const std::string& dir, const std::string& motion,
                                const std::string& flo, int border = 0) {
  const RunResult r = run_command(
      dir, {tool_path("flow_eval"), motion, flo, std::to_string(border)}, "flow_eval");
  FlowErrors e;
  e.status = r.status;
  std::istringstream s(r.out);
  std::string key;
  while (s >> key) {
    if (key == "AEE") s >> e.aee;
    else if (key == "AAE") s >> e.aae;
    else if (key == "N") s >> e.n;
  }
  return e;
}

}  // namespace velmora_test

#endif
