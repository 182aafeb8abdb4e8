// Writing the motion file of a 584 x 388 field (the default run's tile):
// write_champ on smooth velocities of a few pixels, into a scratch file in
// the system's temporary folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "io_field.h"

namespace {

void BM_WriteMotionFile(benchmark::State& state) {
  const short cols = 584, rows = 388;
  const std::size_t n = static_cast<std::size_t>(cols) * rows;
  std::vector<float> U(n), V(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double x = static_cast<double>(k % cols), y = static_cast<double>(k / cols);
    U[k] = static_cast<float>(2.5 * std::sin(0.013 * x + 0.021 * y) - 0.4);
    V[k] = static_cast<float>(1.7 * std::cos(0.017 * x - 0.011 * y) + 0.1);
  }
  const std::string path =
      (std::filesystem::temp_directory_path() / "velmora_bench_motion_file.motion").string();
  for (auto _ : state) write_champ(U.data(), V.data(), cols, rows, path.c_str());
  std::remove(path.c_str());
  state.counters["lines"] = static_cast<double>(n);
}

}  // namespace

BENCHMARK(BM_WriteMotionFile)->Unit(benchmark::kMillisecond);
