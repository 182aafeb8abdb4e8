// Hessian log-determinant and entry count of the generalised local-global
// flow model.
//
// The model's energy has a data term built from the products of the image
// derivatives, IxIx, IyIy and IxIy (blurred with sigma = scale - 1 unless
// scale is 1), weighted by data_out, and a smoothness term that couples
// each unknown with its partners at the clique distances l = neta ... lo
// along the right, down, right-down and right-up directions. Each direction
// has a normal and a transverse weight list (element k: an nc x nl weight
// image for distance neta + k); lambda_S2 (axis cliques) and
// lambda_S2_cross (diagonal cliques) hold one regularisation weight per
// distance, distance l at flat index l. Transverse mode (the first image of
// z_t_down sums to non-zero) doubles the normalisers of every distance.
//
// Unknowns of an nc x nl image (nc, nl: width and height of im_x): U(x, y)
// at y*nc + x, V(x, y) at nc*nl + y*nc + x, taille = 2*nc*nl. logdetA
// assembles the Hessian with Dirichlet borders (the one-pixel frame rows are
// identity rows) in compressed rows and returns the ILU(0) log-determinant;
// NumberNonZeroElementInHessian returns the number of entries the same
// assembly stores before its Dirichlet step, the `nombre` to pass to it.
//
// A distance lo above the function's bound (nc/2 and nl/2 for logdetA,
// nc/2 - 1 and nl/2 - 1 for the count) is reported on standard output and
// the call goes on. A call that cannot be computed inside the image is
// refused with one line on standard output, returning not-a-number
// (logdetA) or -1 (count): neta < 1, nc or nl below 2, lo above nc - 1 or
// nl - 1, an image other than nc x nl, lambda_S2 with fewer than lo + 1
// values, lambda_S2_cross without a value for the largest diagonal
// distance, a weight list with fewer than lo - neta + 1 images of nc x nl.
// An image whose count cannot fit an int is refused with a message on
// standard error and exit status 1.
#pragma once

#include <vector>

namespace cimg_library {
template <typename T>
struct CImg;
template <typename T>
struct CImgList;
}  // namespace cimg_library

// ln|det| of the ILU(0) factors of the Hessian. im_t is not used; nombre
// sizes the arrays (trunc(nombre * 1.2) entries). When more entries are
// stored, "ERROR : number non zero elements in Hessian matrix with
// Dirichlet conditions !!! <count>" is written on standard output and the
// arrays grow, so the result is still that of the whole matrix.
double logdetA(
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& im_t, cimg_library::CImg<double> data_out,
    const cimg_library::CImg<double>& lambda_S2, const cimg_library::CImg<double>& lambda_S2_cross,
    const cimg_library::CImgList<double>& z_right, const cimg_library::CImgList<double>& z_down,
    const cimg_library::CImgList<double>& z_rightDown,
    const cimg_library::CImgList<double>& z_rightUp,
    const cimg_library::CImgList<double>& z_t_right, const cimg_library::CImgList<double>& z_t_down,
    const cimg_library::CImgList<double>& z_t_rightDown,
    const cimg_library::CImgList<double>& z_t_rightUp, int scale, int neta, int lo, int nombre);

// logdetA with neta = 1.
double logdetA_Gen_Rob_BruhnAndAl(
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& im_t, cimg_library::CImg<double> data_out,
    const cimg_library::CImg<double>& lambda_S2, const cimg_library::CImg<double>& lambda_S2_cross,
    const cimg_library::CImgList<double>& z_right, const cimg_library::CImgList<double>& z_down,
    const cimg_library::CImgList<double>& z_rightDown,
    const cimg_library::CImgList<double>& z_rightUp,
    const cimg_library::CImgList<double>& z_t_right, const cimg_library::CImgList<double>& z_t_down,
    const cimg_library::CImgList<double>& z_t_rightDown,
    const cimg_library::CImgList<double>& z_t_rightUp, int scale, int lo, int nombre);

// logdetA with neta = 1 and every weight 1.0 (lo images per list, so
// transverse mode whenever lo >= 1).
double logdetA_Gen_BruhnAndAl(const cimg_library::CImg<double>& im_x,
                              const cimg_library::CImg<double>& im_y,
                              const cimg_library::CImg<double>& im_t,
                              cimg_library::CImg<double> data_out,
                              const cimg_library::CImg<double>& lambda_S2,
                              const cimg_library::CImg<double>& lambda_S2_cross, int scale, int lo,
                              int nombre);

// Number of entries the assembly of logdetA stores, counted before its
// Dirichlet step (which only turns couplings into explicit zeros, so for
// finite input the two agree); 4*nc*nl when lo < neta.
int NumberNonZeroElementInHessian(
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& data_out, const cimg_library::CImg<double>& lambda_S2,
    const cimg_library::CImg<double>& lambda_S2_cross,
    const cimg_library::CImgList<double>& z_right, const cimg_library::CImgList<double>& z_down,
    const cimg_library::CImgList<double>& z_rightDown,
    const cimg_library::CImgList<double>& z_rightUp,
    const cimg_library::CImgList<double>& z_t_right, const cimg_library::CImgList<double>& z_t_down,
    const cimg_library::CImgList<double>& z_t_rightDown,
    const cimg_library::CImgList<double>& z_t_rightUp, int scale, int neta, int lo);

// NumberNonZeroElementInHessian with neta = 1.
int NumberNonZeroElementInHessian_Gen_Rob_BruhnAndAl(
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    cimg_library::CImg<double> data_out, const cimg_library::CImg<double>& lambda_S2,
    const cimg_library::CImg<double>& lambda_S2_cross,
    const cimg_library::CImgList<double>& z_right, const cimg_library::CImgList<double>& z_down,
    const cimg_library::CImgList<double>& z_rightDown,
    const cimg_library::CImgList<double>& z_rightUp,
    const cimg_library::CImgList<double>& z_t_right, const cimg_library::CImgList<double>& z_t_down,
    const cimg_library::CImgList<double>& z_t_rightDown,
    const cimg_library::CImgList<double>& z_t_rightUp, int scale, int lo);

// NumberNonZeroElementInHessian with neta = 1 and every weight 1.0.
int NumberNonZeroElementInHessian_Gen_BruhnAndAl(const cimg_library::CImg<double>& im_x,
                                                 const cimg_library::CImg<double>& im_y,
                                                 cimg_library::CImg<double> data_out,
                                                 const cimg_library::CImg<double>& lambda_S2,
                                                 const cimg_library::CImg<double>& lambda_S2_cross,
                                                 int scale, int lo);

// For tests: the compressed rows logdetA hands to its log-determinant
// (same arguments, messages and refusals; `refused` set and the arrays
// empty when refused). val and col_ind hold `count` entries followed by
// zeros up to their size, which is what the log-determinant receives.
struct GeneralisedHessianRows {
  bool refused = true;
  long long count = 0;
  std::vector<double> val;
  std::vector<int> col_ind;
  std::vector<int> row_ptr;
};
GeneralisedHessianRows generalisedHessianRows(
    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
    const cimg_library::CImg<double>& data_out, const cimg_library::CImg<double>& lambda_S2,
    const cimg_library::CImg<double>& lambda_S2_cross,
    const cimg_library::CImgList<double>& z_right, const cimg_library::CImgList<double>& z_down,
    const cimg_library::CImgList<double>& z_rightDown,
    const cimg_library::CImgList<double>& z_rightUp,
    const cimg_library::CImgList<double>& z_t_right, const cimg_library::CImgList<double>& z_t_down,
    const cimg_library::CImgList<double>& z_t_rightDown,
    const cimg_library::CImgList<double>& z_t_rightUp, int scale, int neta, int lo, int nombre);
