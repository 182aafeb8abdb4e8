// Cost of the per-level image work: spline gradients, x2 upsampling of a
// flow plane and warping, on square images of the given side.
#include <benchmark/benchmark.h>

#include <CImg.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "image_derivatives.h"
#include "warping.h"

using cimg_library::CImg;

namespace {

CImg<double> testImage(int n) {
  CImg<double> img(n, n, 1, 1);
  cimg_forXY(img, x, y) img(x, y) = 128.0 + 60.0 * std::sin(0.05 * x) * std::cos(0.07 * y);
  return img;
}

void BM_gradSpline_X(benchmark::State& state) {
  const CImg<double> img = testImage(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(gradSpline_X(img, 0).data());
}

void BM_gradSpline_X_blurred(benchmark::State& state) {
  const CImg<double> img = testImage(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(gradSpline_X(img, 1.0f).data());
}

void BM_Proj_Dup_Spline(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const CImg<double> plane = testImage(n / 2);
  CImg<double> out(n, n, 1, 1, 0.0);
  for (auto _ : state) {
    Proj_Dup_Spline(out, plane, 3);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Recal_spline(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const CImg<double> img = testImage(n);
  CImg<double> uv(n, n, 2, 1);
  cimg_forXY(uv, x, y) {
    uv(x, y, 0) = 1.3 * std::sin(0.02 * y);
    uv(x, y, 1) = -0.7 * std::cos(0.03 * x);
  }
  CImg<double> out(n, n, 1, 1, 0.0);
  // The warp prints a progress line at every call: send it to /dev/null
  // while timing, then restore standard output for the report.
  std::fflush(stdout);
  const int saved = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  for (auto _ : state) {
    Recal_spline(out, img, uv, 3, OutsideTarget::Invalid);  // as the program warps
    benchmark::DoNotOptimize(out.data());
  }
  std::fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
}

}  // namespace

BENCHMARK(BM_gradSpline_X)->Arg(128)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gradSpline_X_blurred)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Proj_Dup_Spline)->Arg(512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Recal_spline)->Arg(128)->Arg(512)->Unit(benchmark::kMillisecond);
