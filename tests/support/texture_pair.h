// A smooth synthetic texture for the end-to-end tests, sampled so that it
// moves by a known sub-pixel displacement between two frames.
#ifndef VELMORA_TESTS_TEXTURE_PAIR_H
#define VELMORA_TESTS_TEXTURE_PAIR_H

#include <cmath>
#include <random>
#include <vector>

#include "program_run.h"

namespace velmora_test {

// A smooth random texture: a sum of plane waves of wavelengths lambda0 to
// lambda0 + span (12 to 32 pixels by default) with random directions and
// phases, around mean with amplitude amp; sampled at (x - u, y - v), so
// that the texture moves by (u, v).
inline Grey smooth_texture(int w, int h, double u, double v, unsigned seed, double mean = 500.0,
                           double amp = 350.0, double lambda0 = 12.0, double span = 20.0) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double pi = std::acos(-1.0);
  const int waves = 10;
  std::vector<double> kx(waves), ky(waves), phase(waves);
  for (int k = 0; k < waves; ++k) {
    const double lambda = lambda0 + span * unit(gen), theta = 2.0 * pi * unit(gen);
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

}  // namespace velmora_test

#endif
