// Robust data and smoothness weights of the iteratively reweighted least
// squares: Leclerc, w = exp(-d^2 tau) (data term: exp(-r^2 / sigma^2)), and
// quasi-total-variation, w = s / sqrt(d^2 + s^2).
//
// The data weights take the linearised brightness-constancy residual
// r = u*fx + v*fy + ft of every pixel; the smoothness weights the flow
// differences across each link of a weight set z: z[0](x, y) weights the link
// (x, y)-(x+1, y), z[1](x, y) the link (x, y)-(x, y+1). Flow fields are
// nc x nl x 2 (slice 0 U, slice 1 V). Every image is indexed with its own
// width. An image or list smaller than the region a function reads or writes
// ends the program with a message on standard error and exit status 1, as do
// the values for which quasi-TV is undefined (s = 0, tau = 0).
#ifndef VELMORA_ROBUST_WEIGHTS_H
#define VELMORA_ROBUST_WEIGHTS_H

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}

// Leclerc data weights over nb_col x nb_line pixels into Data_out (at least
// that size): exp(-r^2 / var), var = sigma*sigma in single precision; all 0
// when var is 0. u, v, fx, fy, ft: at least nb_col x nb_line.
void Data_Out_Gen_f(const cimg_library::CImg<double>& u, const cimg_library::CImg<double>& v,
                    const cimg_library::CImg<double>& fx, const cimg_library::CImg<double>& fy,
                    const cimg_library::CImg<double>& ft, float sigma, int nb_col, int nb_line,
                    cimg_library::CImg<double>& Data_out);

// Quasi-TV data weights: s / sqrt(r^2 + s*s), s*s in single precision.
void Data_Out_Gen_f_QuasiTV(const cimg_library::CImg<double>& u,
                            const cimg_library::CImg<double>& v,
                            const cimg_library::CImg<double>& fx,
                            const cimg_library::CImg<double>& fy,
                            const cimg_library::CImg<double>& ft, float s, int nb_col,
                            int nb_line, cimg_library::CImg<double>& Data_out);

// New image of im_x's width and height: the Leclerc data weights of the flow
// UV (planes 0 and 1) with sigma narrowed to single precision.
cimg_library::CImg<double> RobustDataCoef(const cimg_library::CImg<double>& UV,
                                          const cimg_library::CImg<double>& im_x,
                                          const cimg_library::CImg<double>& im_y,
                                          const cimg_library::CImg<double>& im_t, double sigma);

// The same with the quasi-TV data weights, s = sigma narrowed to float.
cimg_library::CImg<double> RobustDataCoef_QuasiTV(const cimg_library::CImg<double>& UV,
                                                  const cimg_library::CImg<double>& im_x,
                                                  const cimg_library::CImg<double>& im_y,
                                                  const cimg_library::CImg<double>& im_t,
                                                  double sigma);

// Leclerc smoothness weights of UV into z (two images of at least nc x nl):
// the mean over U and V of exp(-tau d^2) across each link; neighbours clamped
// (the last column or row weighs 1) or wrapped around when periodic.
void UpdateRobustWeight_Leclerc(const cimg_library::CImg<double>& UV,
                                cimg_library::CImgList<double>& z, double tau, bool periodic);

// Quasi-TV smoothness weights: the mean over U and V of s / sqrt(d^2 + s^2),
// s = 0.5 / tau; same neighbours as the Leclerc update.
void UpdateRobustWeight_QuasiTV(const cimg_library::CImg<double>& UV,
                                cimg_library::CImgList<double>& z, double tau, bool periodic);

// Multi-distance quasi-TV weights, for the distances l = neta..lo (element
// l - neta of every list, each list holding at least lo - neta + 1 images of
// at least nc x nl). Normal (z_*) and transverse (z_t_*) components of the
// flow difference along the links (x+l, y), (x, y+l), (x+l, y+l), (x+l, y-l),
// weighted F / sqrt(d^2 + F^2) with F = l^zeta * s; links leaving the image,
// and every link when s >= 1000, weigh 1. Nothing happens when neta > lo.
void UpdateRobustWeight_QuasiTV(const cimg_library::CImg<double>& UV,
                                cimg_library::CImgList<double>& z_right,
                                cimg_library::CImgList<double>& z_down,
                                cimg_library::CImgList<double>& z_rightDown,
                                cimg_library::CImgList<double>& z_rightUp,
                                cimg_library::CImgList<double>& z_t_right,
                                cimg_library::CImgList<double>& z_t_down,
                                cimg_library::CImgList<double>& z_t_rightDown,
                                cimg_library::CImgList<double>& z_t_rightUp, int neta, int lo,
                                double s, double zeta);

#endif
