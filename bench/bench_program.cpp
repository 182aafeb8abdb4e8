// The whole program on large synthetic pairs: a smooth random texture of
// 10-bit samples moving by a known sub-pixel shift, made here, solved as
// one tile with default options or with alpha and beta estimated. Each
// run is a child process; the counters are its wall, user and system
// time, its peak resident memory and the mean endpoint error of the flow
// against the shift, away from the border.
//
// The program run is the one built beside this benchmark, or the one named
// by VELMORA_BENCH_PROGRAM.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr double kShiftU = 0.35, kShiftV = -0.6;

// Texture of 10 plane waves of wavelengths 12 to 32 pixels sampled at
// (x - u, y - v), written as a 16-bit PGM of maxval 1023.
void write_texture(const std::string& path, int side, double u, double v) {
  std::mt19937 gen(20261210);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double pi = std::acos(-1.0);
  constexpr int kWaves = 10;
  double kx[kWaves], ky[kWaves], phase[kWaves];
  for (int k = 0; k < kWaves; ++k) {
    const double lambda = 12.0 + 20.0 * unit(gen), theta = 2.0 * pi * unit(gen);
    kx[k] = 2.0 * pi / lambda * std::cos(theta);
    ky[k] = 2.0 * pi / lambda * std::sin(theta);
    phase[k] = 2.0 * pi * unit(gen);
  }
  std::vector<unsigned char> row(2 * static_cast<std::size_t>(side));
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << side << " " << side << "\n1023\n";
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      double s = 0.0;
      for (int k = 0; k < kWaves; ++k) s += std::cos(kx[k] * (x - u) + ky[k] * (y - v) + phase[k]);
      long q = std::lround(500.0 + 350.0 * 1.2 * s / std::sqrt(2.0 * kWaves));
      q = q < 0 ? 0 : (q > 1021 ? 1021 : q);
      row[2 * x] = static_cast<unsigned char>(q >> 8);
      row[2 * x + 1] = static_cast<unsigned char>(q & 0xff);
    }
    out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
}

// The pair of one side, made once per process in a scratch folder.
struct Pair {
  fs::path dir;
  std::string list;
};

const Pair& pair_of(int side) {
  static std::vector<std::pair<int, Pair>> made;
  for (const auto& p : made)
    if (p.first == side) return p.second;
  Pair p;
  p.dir = fs::temp_directory_path() / ("velmora_bench_" + std::to_string(::getpid()) + "_" +
                                       std::to_string(side));
  fs::create_directories(p.dir / "out");
  write_texture((p.dir / "im1.pgm").string(), side, 0.0, 0.0);
  write_texture((p.dir / "im2.pgm").string(), side, kShiftU, kShiftV);
  p.list = (p.dir / "pair.list").string();
  std::ofstream(p.list) << (p.dir / "im1.pgm").string() << "\n"
                        << (p.dir / "im2.pgm").string() << "\n"
                        << (p.dir / "out").string() << "/\nunused\n";
  made.emplace_back(side, p);
  return made.back().second;
}

struct Removal {
  ~Removal() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path(), ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("velmora_bench_" + std::to_string(::getpid()) + "_", 0) == 0)
        fs::remove_all(e.path(), ec);
    }
  }
} removal;

std::string program() {
  const char* env = std::getenv("VELMORA_BENCH_PROGRAM");
  return env && *env ? env : VELMORA_PROGRAM;
}

struct Usage {
  int status = -1;
  double wall = 0, user = 0, sys = 0, peak_mb = 0;
};

// Runs the program with standard output and error sent to /dev/null.
Usage run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  Usage u;
  int status = 0;
  struct rusage ru {};
  if (pid > 0 && ::wait4(pid, &status, 0, &ru) == pid) {
    u.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    u.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    u.user = ru.ru_utime.tv_sec + 1e-6 * ru.ru_utime.tv_usec;
    u.sys = ru.ru_stime.tv_sec + 1e-6 * ru.ru_stime.tv_usec;
    u.peak_mb = ru.ru_maxrss / 1024.0;
  }
  return u;
}

// Mean endpoint error of the written motion file ("w h", a title line,
// then "i j U V" per pixel) against the shift, over the pixels at least 16
// from the border; -1 when the file does not hold a side x side field.
double endpoint_error(const std::string& motion, int side) {
  std::FILE* f = std::fopen(motion.c_str(), "r");
  if (!f) return -1.0;
  int w = 0, h = 0;
  char title[64];
  double sum = 0.0;
  long n = 0, read = 0;
  if (std::fscanf(f, "%d %d %63s %*s %*s %*s", &w, &h, title) == 3 && w == side && h == side) {
    int i = 0, j = 0;
    double u = 0, v = 0;
    while (std::fscanf(f, "%d %d %lf %lf", &i, &j, &u, &v) == 4) {
      ++read;
      if (i < 16 || j < 16 || i >= side - 16 || j >= side - 16) continue;
      sum += std::hypot(u - kShiftU, v - kShiftV);
      ++n;
    }
  }
  std::fclose(f);
  return read == static_cast<long>(side) * side && n ? sum / n : -1.0;
}

void BM_Program(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const bool estimated = state.range(1) != 0;
  const Pair& p = pair_of(side);
  std::vector<std::string> args = {program(), "-inPath", p.list, "-dx", std::to_string(side),
                                   "-dy", std::to_string(side), "-Dx", std::to_string(side),
                                   "-Dy", std::to_string(side)};
  if (estimated)
    args.insert(args.end(), {"-sigmaAlphaEstim", "true", "-sigmaBetaEstim", "true"});
  Usage last;
  for (auto _ : state) {
    last = run(args);
    if (last.status != 0) {
      state.SkipWithError(("the program exited with status " + std::to_string(last.status)).c_str());
      return;
    }
    state.SetIterationTime(last.wall);
  }
  state.counters["wall_s"] = last.wall;
  state.counters["user_s"] = last.user;
  state.counters["sys_s"] = last.sys;
  state.counters["sys_share"] = last.wall > 0 ? last.sys / last.wall : 0.0;
  state.counters["peak_MB"] = last.peak_mb;
  state.counters["bytes_per_px"] = last.peak_mb * 1048576.0 / (static_cast<double>(side) * side);
  state.counters["aee_px"] = endpoint_error((p.dir / "out" / "UV_HS.motion").string(), side);
}

// Default runs at 1024 and 2048 (and 4096 by filter); estimated at 1024.
BENCHMARK(BM_Program)
    ->ArgNames({"side", "estimated"})
    ->Args({1024, 0})
    ->Args({2048, 0})
    ->Args({4096, 0})
    ->Args({1024, 1})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
