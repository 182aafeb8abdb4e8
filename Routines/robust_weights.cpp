#include "robust_weights.h"

#include <CImg.h>

#include <cmath>
#include <string>

#include "refusal.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Ends the program when img cannot hold nc x nl values (x < nc, y < nl).
void requireSize(const char* function, const char* name, const CImg<double>& img, int nc, int nl) {
  if (img.width() >= nc && img.height() >= nl) return;
  refuse(std::string(function) + ": " + name + " is " + std::to_string(img.width()) + " x " +
         std::to_string(img.height()) + ", needs at least " + std::to_string(nc) + " x " +
         std::to_string(nl));
}

// Ends the program when the flow field has fewer than two planes.
void requireFlow(const char* function, const CImg<double>& UV) {
  if (UV.depth() >= 2 || UV.is_empty()) return;
  refuse(std::string(function) + ": flow field has " + std::to_string(UV.depth()) +
         " plane(s), needs 2");
}

// Ends the program when list has fewer than count images of at least nc x nl.
void requireList(const char* function, const char* name, const CImgList<double>& list, int count,
                 int nc, int nl) {
  if (static_cast<int>(list.size()) < count) {
    refuse(std::string(function) + ": " + name + " holds " + std::to_string(list.size()) +
           " images, needs " + std::to_string(count));
  }
  for (int k = 0; k < count; ++k) requireSize(function, name, list[k], nc, nl);
}

[[noreturn]] void refuseParameter(const char* function, const char* name) {
  refuse(std::string(function) + ": " + name + " must not be 0");
}

// r = (u fx + v fy) + ft at (x, y).
inline double residual(const CImg<double>& u, const CImg<double>& v, const CImg<double>& fx,
                       const CImg<double>& fy, const CImg<double>& ft, int x, int y) {
  return (u(x, y) * fx(x, y) + v(x, y) * fy(x, y)) + ft(x, y);
}

void checkDataInputs(const char* function, const CImg<double>& u, const CImg<double>& v,
                     const CImg<double>& fx, const CImg<double>& fy, const CImg<double>& ft,
                     int nb_col, int nb_line, const CImg<double>& Data_out) {
  if (nb_col <= 0 || nb_line <= 0) return;
  requireSize(function, "u", u, nb_col, nb_line);
  requireSize(function, "v", v, nb_col, nb_line);
  requireSize(function, "fx", fx, nb_col, nb_line);
  requireSize(function, "fy", fy, nb_col, nb_line);
  requireSize(function, "ft", ft, nb_col, nb_line);
  requireSize(function, "Data_out", Data_out, nb_col, nb_line);
}

// Right and lower neighbours of (x, y): clamped to the image, or wrapped.
inline int nextIndex(int k, int n, bool periodic) {
  if (k + 1 < n) return k + 1;
  return periodic ? 0 : k;
}

// Smoothness weights of UV into z: z[0] across (x, y)-(x1, y), z[1] across
// (x, y)-(x, y1), each the mean of weight(dU) and weight(dV).
template <typename Weight>
void smoothnessWeights(const char* function, const CImg<double>& UV, CImgList<double>& z,
                       bool periodic, Weight weight) {
  const int nc = UV.width(), nl = UV.height();
  if (nc == 0 || nl == 0) return;
  requireFlow(function, UV);
  requireList(function, "z", z, 2, nc, nl);
  for (int y = 0; y < nl; ++y) {
    const int y1 = nextIndex(y, nl, periodic);
    for (int x = 0; x < nc; ++x) {
      const int x1 = nextIndex(x, nc, periodic);
      const double U = UV(x, y, 0), V = UV(x, y, 1);
      z[0](x, y) = weight(U - UV(x1, y, 0), V - UV(x1, y, 1));
      z[1](x, y) = weight(U - UV(x, y1, 0), V - UV(x, y1, 1));
    }
  }
}

}  // namespace

void Data_Out_Gen_f(const CImg<double>& u, const CImg<double>& v, const CImg<double>& fx,
                    const CImg<double>& fy, const CImg<double>& ft, float sigma, int nb_col,
                    int nb_line, CImg<double>& Data_out) {
  checkDataInputs("Data_Out_Gen_f", u, v, fx, fy, ft, nb_col, nb_line, Data_out);
  const double var = static_cast<double>(sigma * sigma);
  for (int y = 0; y < nb_line; ++y)
    for (int x = 0; x < nb_col; ++x) {
      if (var == 0.0) {
        Data_out(x, y) = 0.0;
        continue;
      }
      const double r = residual(u, v, fx, fy, ft, x, y);
      Data_out(x, y) = std::exp(-r * r * (1.0 / var));
    }
}

void Data_Out_Gen_f_QuasiTV(const CImg<double>& u, const CImg<double>& v, const CImg<double>& fx,
                            const CImg<double>& fy, const CImg<double>& ft, float s, int nb_col,
                            int nb_line, CImg<double>& Data_out) {
  if (s == 0.0f) refuseParameter("Data_Out_Gen_f_QuasiTV", "s");
  checkDataInputs("Data_Out_Gen_f_QuasiTV", u, v, fx, fy, ft, nb_col, nb_line, Data_out);
  const double S = static_cast<double>(s);
  const double S2 = static_cast<double>(s * s);
  for (int y = 0; y < nb_line; ++y)
    for (int x = 0; x < nb_col; ++x) {
      const double r = residual(u, v, fx, fy, ft, x, y);
      Data_out(x, y) = S / std::sqrt(r * r + S2);
    }
}

CImg<double> RobustDataCoef(const CImg<double>& UV, const CImg<double>& im_x,
                            const CImg<double>& im_y, const CImg<double>& im_t, double sigma) {
  requireFlow("RobustDataCoef", UV);
  CImg<double> out(im_x.width(), im_x.height(), 1, 1, 0.0);
  Data_Out_Gen_f(UV.get_slice(0), UV.get_slice(1), im_x, im_y, im_t, static_cast<float>(sigma),
                 im_x.width(), im_x.height(), out);
  return out;
}

CImg<double> RobustDataCoef_QuasiTV(const CImg<double>& UV, const CImg<double>& im_x,
                                    const CImg<double>& im_y, const CImg<double>& im_t,
                                    double sigma) {
  requireFlow("RobustDataCoef_QuasiTV", UV);
  CImg<double> out(im_x.width(), im_x.height(), 1, 1, 0.0);
  Data_Out_Gen_f_QuasiTV(UV.get_slice(0), UV.get_slice(1), im_x, im_y, im_t,
                         static_cast<float>(sigma), im_x.width(), im_x.height(), out);
  return out;
}

void UpdateRobustWeight_Leclerc(const CImg<double>& UV, CImgList<double>& z, double tau,
                                bool periodic) {
  smoothnessWeights("UpdateRobustWeight_Leclerc", UV, z, periodic, [tau](double dU, double dV) {
    // tau times the squared difference (the square first).
    return 0.5 * (std::exp(-tau * (dU * dU)) + std::exp(-tau * (dV * dV)));
  });
}

void UpdateRobustWeight_QuasiTV(const CImg<double>& UV, CImgList<double>& z, double tau,
                                bool periodic) {
  if (tau == 0.0) refuseParameter("UpdateRobustWeight_QuasiTV", "tau");
  const double s = 0.5 / tau;
  const double s2 = s * s;
  const double h = 0.5 * s;
  smoothnessWeights("UpdateRobustWeight_QuasiTV", UV, z, periodic, [s2, h](double dU, double dV) {
    return h * (1.0 / std::sqrt(dV * dV + s2) + 1.0 / std::sqrt(dU * dU + s2));
  });
}

void UpdateRobustWeight_QuasiTV(const CImg<double>& UV, CImgList<double>& z_right,
                                CImgList<double>& z_down, CImgList<double>& z_rightDown,
                                CImgList<double>& z_rightUp, CImgList<double>& z_t_right,
                                CImgList<double>& z_t_down, CImgList<double>& z_t_rightDown,
                                CImgList<double>& z_t_rightUp, int neta, int lo, double s,
                                double zeta) {
  if (neta > lo) return;
  const char* function = "UpdateRobustWeight_QuasiTV";
  if (neta < 0) {
    refuse(std::string(function) + ": link distance neta = " + std::to_string(neta) +
           " is negative");
  }
  const int nc = UV.width(), nl = UV.height();
  const int count = lo - neta + 1;
  CImgList<double>* lists[8] = {&z_right,   &z_down,   &z_rightDown,   &z_rightUp,
                                &z_t_right, &z_t_down, &z_t_rightDown, &z_t_rightUp};
  const char* names[8] = {"z_right",   "z_down",   "z_rightDown",   "z_rightUp",
                          "z_t_right", "z_t_down", "z_t_rightDown", "z_t_rightUp"};
  for (int n = 0; n < 8; ++n) requireList(function, names[n], *lists[n], count, nc, nl);
  if (nc > 0 && nl > 0) requireFlow(function, UV);

  // 1/sqrt(2), one unit in the last place below the correctly rounded value.
  const double c = 0.7071067811865475;
  for (int l = neta; l <= lo; ++l) {
    const int k = l - neta;
    for (int n = 0; n < 8; ++n) (*lists[n])[k].fill(1.0);
    if (!(s < 1000.0) || nl < 1) continue;
    const double lz = std::pow(static_cast<double>(l), zeta);
    const double F = lz * s;
    const double F2 = lz * lz * (s * s);
    auto weight = [F, F2](double d) { return F / std::sqrt(d * d + F2); };
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) {
        const double U = UV(x, y, 0), V = UV(x, y, 1);
        if (x + l < nc) {
          const double dU = U - UV(x + l, y, 0), dV = V - UV(x + l, y, 1);
          z_right[k](x, y) = weight(dU);
          z_t_right[k](x, y) = weight(dV);
        }
        if (y + l < nl) {
          const double dU = U - UV(x, y + l, 0), dV = V - UV(x, y + l, 1);
          z_down[k](x, y) = weight(dV);
          z_t_down[k](x, y) = weight(dU);
        }
        if (x + l < nc && y + l < nl) {
          const double dU = U - UV(x + l, y + l, 0), dV = V - UV(x + l, y + l, 1);
          z_rightDown[k](x, y) = weight(c * (dU + dV));
          z_t_rightDown[k](x, y) = weight(c * dU - c * dV);
        }
        if (x + l < nc && y - l >= 0) {
          const double dU = U - UV(x + l, y - l, 0), dV = V - UV(x + l, y - l, 1);
          z_rightUp[k](x, y) = weight(c * dU - c * dV);
          z_t_rightUp[k](x, y) = weight(-c * (dU + dV));
        }
      }
  }
}
