// A smooth synthetic texture for the end-to-end tests, sampled so that it
// moves by a known sub-pixel displacement between two frames.
#ifndef VELMORA_TESTS_TEXTURE_PAIR_H
#define VELMORA_TESTS_TEXTURE_PAIR_H

#include <cmath>
#include <random>
#include <vector>

#include "program_run.h"

namespace velmora_test {

// A sum of `count` plane waves of wavelengths lambda0 to lambda0 + span
// with random directions and phases (drawn per wave: wavelength,
// direction, phase); at(x, y) is the sum of their cosines.
struct PlaneWaves {
  std::vector<double> kx, ky, phase;
  PlaneWaves(unsigned seed, int count, double lambda0, double span) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double pi = std::acos(-1.0);
    for (int k = 0; k < count; ++k) {
      const double lambda = lambda0 + span * unit(gen), theta = 2.0 * pi * unit(gen);
      kx.push_back(2.0 * pi / lambda * std::cos(theta));
      ky.push_back(2.0 * pi / lambda * std::sin(theta));
      phase.push_back(2.0 * pi * unit(gen));
    }
  }
  double at(double x, double y) const {
    double s = 0.0;
    for (std::size_t k = 0; k < kx.size(); ++k) s += std::cos(kx[k] * x + ky[k] * y + phase[k]);
    return s;
  }
};

// A smooth random texture: a sum of ten plane waves of wavelengths lambda0
// to lambda0 + span (12 to 32 pixels by default), around mean with
// amplitude amp; sampled at (x - u, y - v), so that the texture moves by
// (u, v).
inline Grey smooth_texture(int w, int h, double u, double v, unsigned seed, double mean = 500.0,
                           double amp = 350.0, double lambda0 = 12.0, double span = 20.0) {
  const int waves = 10;
  const PlaneWaves texture(seed, waves, lambda0, span);
  Grey g;
  g.width = w;
  g.height = h;
  g.v.resize(static_cast<std::size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      g.v[static_cast<std::size_t>(y) * w + x] =
          mean + amp * texture.at(x - u, y - v) / std::sqrt(2.0 * waves) * 1.2;
  return g;
}

}  // namespace velmora_test

#endif
