// flow_eval: compares a motion file with a Middlebury ground-truth flow.
//
//   flow_eval MOTION_FILE FLO_FILE [BORDER]
//
// MOTION_FILE is a text motion file ("W H", a comment line "#i\tj\tU\tV",
// then one line "i j U V" per pixel, rows outer); FLO_FILE a .flo file of the
// same size. Pixels whose ground truth is unknown (a component above 1e9 in
// magnitude) and, when BORDER is given, pixels closer than BORDER to the
// image edge are left out. Prints, one per line:
//   AEE <mean endpoint error, px>
//   AAE <mean angular error, degrees>
//   N <number of pixels compared>
// Exit status 0 on success, 1 on a read or size error.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Flow {
  int width = 0, height = 0;
  std::vector<double> u, v;  // row-major, width * height each
};

[[noreturn]] void fail(const std::string& msg) {
  std::fprintf(stderr, "flow_eval: %s\n", msg.c_str());
  std::exit(1);
}

Flow read_motion(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (!f) fail(std::string("cannot open ") + path);
  Flow fl;
  if (std::fscanf(f, "%d %d", &fl.width, &fl.height) != 2 || fl.width < 0 || fl.height < 0)
    fail(std::string("bad size line in ") + path);
  char line[256];
  if (!std::fgets(line, sizeof line, f) || !std::fgets(line, sizeof line, f) ||
      std::strncmp(line, "#i\tj\tU\tV", 8) != 0)
    fail(std::string("bad comment line in ") + path);
  const std::size_t n = static_cast<std::size_t>(fl.width) * fl.height;
  fl.u.resize(n);
  fl.v.resize(n);
  for (int i = 0; i < fl.height; ++i)
    for (int j = 0; j < fl.width; ++j) {
      int ri, rj;
      double u, v;
      if (std::fscanf(f, "%d %d %lf %lf", &ri, &rj, &u, &v) != 4 || ri != i || rj != j)
        fail(std::string("bad pixel line in ") + path + " at row " + std::to_string(i) +
             ", column " + std::to_string(j));
      fl.u[static_cast<std::size_t>(i) * fl.width + j] = u;
      fl.v[static_cast<std::size_t>(i) * fl.width + j] = v;
    }
  std::fclose(f);
  return fl;
}

Flow read_flo(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) fail(std::string("cannot open ") + path);
  float tag;
  std::int32_t w, h;
  if (std::fread(&tag, 4, 1, f) != 1 || tag != 202021.25f || std::fread(&w, 4, 1, f) != 1 ||
      std::fread(&h, 4, 1, f) != 1 || w < 0 || h < 0)
    fail(std::string("bad .flo header in ") + path);
  Flow fl;
  fl.width = w;
  fl.height = h;
  const std::size_t n = static_cast<std::size_t>(w) * h;
  std::vector<float> uv(2 * n);
  if (std::fread(uv.data(), sizeof(float), uv.size(), f) != uv.size())
    fail(std::string("truncated .flo data in ") + path);
  std::fclose(f);
  fl.u.resize(n);
  fl.v.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    fl.u[k] = uv[2 * k];
    fl.v[k] = uv[2 * k + 1];
  }
  return fl;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: flow_eval MOTION_FILE FLO_FILE [BORDER]\n");
    return 1;
  }
  const Flow est = read_motion(argv[1]);
  const Flow gt = read_flo(argv[2]);
  const int border = argc == 4 ? std::atoi(argv[3]) : 0;
  if (est.width != gt.width || est.height != gt.height)
    fail("sizes differ: motion file " + std::to_string(est.width) + "x" +
         std::to_string(est.height) + ", ground truth " + std::to_string(gt.width) + "x" +
         std::to_string(gt.height));
  const double pi = std::acos(-1.0);
  double sumEpe = 0.0, sumAe = 0.0;
  long count = 0;
  for (int y = border; y < gt.height - border; ++y)
    for (int x = border; x < gt.width - border; ++x) {
      const std::size_t k = static_cast<std::size_t>(y) * gt.width + x;
      const double ug = gt.u[k], vg = gt.v[k];
      if (!(std::fabs(ug) <= 1e9 && std::fabs(vg) <= 1e9)) continue;
      const double du = est.u[k] - ug, dv = est.v[k] - vg;
      sumEpe += std::sqrt(du * du + dv * dv);
      // Angle between the space-time vectors (u, v, 1) and (ug, vg, 1).
      const double c = (est.u[k] * ug + est.v[k] * vg + 1.0) /
                       std::sqrt((est.u[k] * est.u[k] + est.v[k] * est.v[k] + 1.0) *
                                 (ug * ug + vg * vg + 1.0));
      sumAe += std::acos(std::fmax(-1.0, std::fmin(1.0, c))) * 180.0 / pi;
      ++count;
    }
  if (count == 0) fail("no pixel with known flow to compare");
  std::printf("AEE %.6f\nAAE %.6f\nN %ld\n", sumEpe / count, sumAe / count, count);
  return 0;
}
