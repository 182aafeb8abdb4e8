// Entry points of the generalised local-global model: argument checks, data
// products, the order of the two passes, and the wrappers.
#include "generalised_model.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "CImg.h"
#include "cimg_sum.h"
#include "generalised_coefficients.h"
#include "generalised_rows.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

enum class Worker { kLogDet, kCount };

bool isPlane(const CImg<double>& img, int nc, int nl) {
  return img.width() == nc && img.height() == nl && img.depth() == 1 && img.spectrum() == 1;
}

bool holdsDistances(const CImgList<double>& list, int nc, int nl, int neta, int lo) {
  const long long needed = static_cast<long long>(lo) - neta + 1;
  if (needed <= 0) return true;
  if (static_cast<long long>(list.size()) < needed) return false;
  for (long long k = 0; k < needed; ++k)
    if (!isPlane(list[k], nc, nl)) return false;
  return true;
}

bool refuse(const char* reason) {
  std::printf("Error : %s, nothing computed\n", reason);
  return false;
}

// The prologue's checks: the report of a distance above the function's
// bound, then the refusals of calls that would leave the image. Returns
// false (after one line on standard output) for a refused call.
bool acceptArguments(Worker worker, const CImg<double>& im_x, const CImg<double>& im_y,
                     const CImg<double>& data_out, const CImg<double>& lambda_S2,
                     const CImg<double>& lambda_S2_cross, const DirectionWeights& z, int neta,
                     int lo) {
  const int nc = im_x.width(), nl = im_x.height();
  if (worker == Worker::kLogDet) {
    if (lo > nc * 0.5 || lo > nl * 0.5)
      std::printf("Error : lo must respect lo <= nc/2 and lo <= nl/2\n");
  } else if (lo > nc * 0.5 - 1.0 || lo > nl * 0.5 - 1.0) {
    std::printf("Error : lo must respect lo <= nc/2 - 1 and lo <= nl/2 - 1\n");
  }
  if (neta < 1) return refuse("neta must be at least 1");
  if (nc < 2 || nl < 2) return refuse("the image must be at least 2 x 2 pixels");
  if (lo > nc - 1 || lo > nl - 1) return refuse("lo must respect lo <= nc - 1 and lo <= nl - 1");
  if (!isPlane(im_x, nc, nl) || !isPlane(im_y, nc, nl) || !isPlane(data_out, nc, nl))
    return refuse("im_x, im_y and data_out must be images of nc x nl pixels");
  if (lo >= neta && lambda_S2.size() < static_cast<unsigned long>(lo) + 1)
    return refuse("lambda_S2 must hold a value for every distance up to lo");
  int largestDiagonal = -1;
  for (int l = neta; l <= lo; ++l)
    if (diagonalDistance(neta, lo, l)) largestDiagonal = l;
  if (largestDiagonal >= 0 &&
      lambda_S2_cross.size() < static_cast<unsigned long>(largestDiagonal) + 1)
    return refuse("lambda_S2_cross must hold a value for every diagonal distance");
  for (const CImgList<double>* list : {&z.z_right, &z.z_down, &z.z_rightDown, &z.z_rightUp,
                                       &z.z_t_right, &z.z_t_down, &z.z_t_rightDown, &z.z_t_rightUp})
    if (!holdsDistances(*list, nc, nl, neta, lo))
      return refuse("every weight list must hold lo - neta + 1 images of nc x nl pixels");
  return true;
}

CImg<double> dataProduct(const CImg<double>& a, const CImg<double>& b, int scale) {
  CImg<double> p = a.get_mul(b);
  if (scale == 1) return p;
  // Deriche smoothing of order 0 with Neumann borders; a negative sigma is
  // that percentage of the largest side.
  const float sigma = static_cast<float>(static_cast<double>(scale) - 1.0);
  return p.get_blur(sigma, 1, false);
}

// Checks the arguments, builds the model and runs both passes into `rows`:
// for logdetA a store sized from nombre and the Dirichlet step after each
// pass, for the count a counter. Returns false for a refused call.
bool runModel(Worker worker, const CImg<double>& im_x, const CImg<double>& im_y,
              const CImg<double>& data_out, const CImg<double>& lambda_S2,
              const CImg<double>& lambda_S2_cross, const DirectionWeights& z, int scale, int neta,
              int lo, int nombre, HessianRows& rows) {
  if (!acceptArguments(worker, im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z, neta, lo))
    return false;
  const int nc = im_x.width(), nl = im_x.height();
  refuseOversizedCount(nc, nl, 0);  // before anything is allocated
  const bool dirichlet = worker == Worker::kLogDet;
  rows = dirichlet ? rowStore(2 * nc * nl, nombre) : rowCounter();
  GeneralisedModel m(nc, nl, neta, lo, data_out, lambda_S2, lambda_S2_cross, z);
  m.IxIx = dataProduct(im_x, im_x, scale);
  m.IyIy = dataProduct(im_y, im_y, scale);
  m.IxIy = dataProduct(im_x, im_y, scale);
  m.masks = buildDistanceMasks(nc, nl, neta, lo);
  allocateCoefficients(m, dirichlet);
  m.transverse = z.z_t_down.size() > 0 && cimgSum(z.z_t_down[0]) != 0.0;

  buildPass1(m);
  if (dirichlet) applyDirichletBorders(m, 1);
  addRows(m, 1, rows);
  buildPass2(m);
  if (dirichlet) applyDirichletBorders(m, 2);
  addRows(m, 2, rows);
  if (dirichlet) finishStore(rows);
  return true;
}

// Lists of lo images of im_x's size filled with 1.0 (none when lo <= 0).
CImgList<double> unitWeights(const CImg<double>& im_x, int lo) {
  return CImgList<double>(lo > 0 ? lo : 0, im_x.width(), im_x.height(), 1, 1, 1.0);
}

}  // namespace

double logdetA(const CImg<double>& im_x, const CImg<double>& im_y, const CImg<double>& im_t,
               CImg<double> data_out, const CImg<double>& lambda_S2,
               const CImg<double>& lambda_S2_cross, const CImgList<double>& z_right,
               const CImgList<double>& z_down, const CImgList<double>& z_rightDown,
               const CImgList<double>& z_rightUp, const CImgList<double>& z_t_right,
               const CImgList<double>& z_t_down, const CImgList<double>& z_t_rightDown,
               const CImgList<double>& z_t_rightUp, int scale, int neta, int lo, int nombre) {
  (void)im_t;
  const DirectionWeights z{z_right,   z_down,   z_rightDown,   z_rightUp,
                           z_t_right, z_t_down, z_t_rightDown, z_t_rightUp};
  HessianRows rows;
  if (!runModel(Worker::kLogDet, im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z, scale, neta,
                lo, nombre, rows))
    return std::numeric_limits<double>::quiet_NaN();
  return rowsLogDet(rows, 2 * im_x.width() * im_x.height());
}

double logdetA_Gen_Rob_BruhnAndAl(
    const CImg<double>& im_x, const CImg<double>& im_y, const CImg<double>& im_t,
    CImg<double> data_out, const CImg<double>& lambda_S2, const CImg<double>& lambda_S2_cross,
    const CImgList<double>& z_right, const CImgList<double>& z_down,
    const CImgList<double>& z_rightDown, const CImgList<double>& z_rightUp,
    const CImgList<double>& z_t_right, const CImgList<double>& z_t_down,
    const CImgList<double>& z_t_rightDown, const CImgList<double>& z_t_rightUp, int scale, int lo,
    int nombre) {
  return logdetA(im_x, im_y, im_t, data_out, lambda_S2, lambda_S2_cross, z_right, z_down,
                 z_rightDown, z_rightUp, z_t_right, z_t_down, z_t_rightDown, z_t_rightUp, scale, 1,
                 lo, nombre);
}

double logdetA_Gen_BruhnAndAl(const CImg<double>& im_x, const CImg<double>& im_y,
                              const CImg<double>& im_t, CImg<double> data_out,
                              const CImg<double>& lambda_S2, const CImg<double>& lambda_S2_cross,
                              int scale, int lo, int nombre) {
  const CImgList<double> z_tmp = unitWeights(im_x, lo), z_t_tmp = unitWeights(im_x, lo);
  return logdetA(im_x, im_y, im_t, data_out, lambda_S2, lambda_S2_cross, z_tmp, z_tmp, z_tmp, z_tmp,
                 z_t_tmp, z_t_tmp, z_t_tmp, z_t_tmp, scale, 1, lo, nombre);
}

int NumberNonZeroElementInHessian(
    const CImg<double>& im_x, const CImg<double>& im_y, const CImg<double>& data_out,
    const CImg<double>& lambda_S2, const CImg<double>& lambda_S2_cross,
    const CImgList<double>& z_right, const CImgList<double>& z_down,
    const CImgList<double>& z_rightDown, const CImgList<double>& z_rightUp,
    const CImgList<double>& z_t_right, const CImgList<double>& z_t_down,
    const CImgList<double>& z_t_rightDown, const CImgList<double>& z_t_rightUp, int scale, int neta,
    int lo) {
  const DirectionWeights z{z_right,   z_down,   z_rightDown,   z_rightUp,
                           z_t_right, z_t_down, z_t_rightDown, z_t_rightUp};
  HessianRows rows;
  if (!runModel(Worker::kCount, im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z, scale, neta,
                lo, 0, rows))
    return -1;
  return static_cast<int>(rows.count);  // refused beyond INT_MAX
}

int NumberNonZeroElementInHessian_Gen_Rob_BruhnAndAl(
    const CImg<double>& im_x, const CImg<double>& im_y, CImg<double> data_out,
    const CImg<double>& lambda_S2, const CImg<double>& lambda_S2_cross,
    const CImgList<double>& z_right, const CImgList<double>& z_down,
    const CImgList<double>& z_rightDown, const CImgList<double>& z_rightUp,
    const CImgList<double>& z_t_right, const CImgList<double>& z_t_down,
    const CImgList<double>& z_t_rightDown, const CImgList<double>& z_t_rightUp, int scale, int lo) {
  return NumberNonZeroElementInHessian(im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z_right,
                                       z_down, z_rightDown, z_rightUp, z_t_right, z_t_down,
                                       z_t_rightDown, z_t_rightUp, scale, 1, lo);
}

int NumberNonZeroElementInHessian_Gen_BruhnAndAl(const CImg<double>& im_x, const CImg<double>& im_y,
                                                 CImg<double> data_out,
                                                 const CImg<double>& lambda_S2,
                                                 const CImg<double>& lambda_S2_cross, int scale,
                                                 int lo) {
  const CImgList<double> z_tmp = unitWeights(im_x, lo), z_t_tmp = unitWeights(im_x, lo);
  return NumberNonZeroElementInHessian(im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z_tmp,
                                       z_tmp, z_tmp, z_tmp, z_t_tmp, z_t_tmp, z_t_tmp, z_t_tmp,
                                       scale, 1, lo);
}

GeneralisedHessianRows generalisedHessianRows(
    const CImg<double>& im_x, const CImg<double>& im_y, const CImg<double>& data_out,
    const CImg<double>& lambda_S2, const CImg<double>& lambda_S2_cross,
    const CImgList<double>& z_right, const CImgList<double>& z_down,
    const CImgList<double>& z_rightDown, const CImgList<double>& z_rightUp,
    const CImgList<double>& z_t_right, const CImgList<double>& z_t_down,
    const CImgList<double>& z_t_rightDown, const CImgList<double>& z_t_rightUp, int scale, int neta,
    int lo, int nombre) {
  const DirectionWeights z{z_right,   z_down,   z_rightDown,   z_rightUp,
                           z_t_right, z_t_down, z_t_rightDown, z_t_rightUp};
  HessianRows rows;
  GeneralisedHessianRows out;
  if (!runModel(Worker::kLogDet, im_x, im_y, data_out, lambda_S2, lambda_S2_cross, z, scale, neta,
                lo, nombre, rows))
    return out;
  out.refused = false;
  out.count = rows.count;
  out.val = std::move(rows.val);
  out.col_ind = std::move(rows.col_ind);
  out.row_ptr = std::move(rows.row_ptr);
  return out;
}
