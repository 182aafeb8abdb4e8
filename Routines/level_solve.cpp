// Level solve of the linearised Horn-Schunck problem and the sparse solve
// and ILU(0) log-determinant of compressed-row systems.
#include "level_solve.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <vector>

#include "CImg.h"
#include "cgs_ilu.h"
#include "comprow_double.h"
#include "hessian_assembly.h"
#include "ilupre_double.h"
#include "kept_memory.h"
#include "mvblasd.h"
#include "mvvd.h"
#include "operators.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

constexpr double kLevelTolerance = 1e-6;
constexpr int kMaxCgsIterations = 500;

// Shared body of both level solves. `smooth(plane)` is the Laplacian of one
// component of the linearisation point, `assemble(val, col_ind, row_ptr,
// nombre)` writes the matching Hessian.
template <typename Smooth, typename Assemble>
bool solveLevel(CImg<double>& UV, const CImg<double>& UVtil, const CImg<double>& im_x,
                const CImg<double>& im_y, const CImg<double>& im_t, float alpha,
                const CImg<double>& data_out, bool periodic, Smooth smooth, Assemble assemble) {
  const int nc = im_x.width(), nl = im_x.height();
  if (nc == 0 || nl == 0) return false;  // nothing to solve
  // Refuses (exit status 1) a level too large for int indices, before
  // anything is allocated.
  const int nombre = hessianNombre(nc, nl, periodic);
  const int ncnl = nc * nl, taille = 2 * ncnl;
  assert(UV.width() >= nc && UV.height() >= nl && UV.depth() >= 2);
  assert(UVtil.width() >= nc && UVtil.height() >= nl && UVtil.depth() >= 2);
  assert(im_t.width() >= nc && im_t.height() >= nl);
  assert(data_out.width() >= nc && data_out.height() >= nl);

  std::vector<double> val(nombre);
  std::vector<int> col_ind(nombre), row_ptr(taille + 1);
  CImg<double> X(nc, nl, 2, 1, 0.0);
  MV_Vector_double B(taille, 0.0);

  const CImg<double> Delta_Util = smooth(UVtil.get_slice(0));
  const CImg<double> Delta_Vtil = smooth(UVtil.get_slice(1));
  assemble(val.data(), col_ind.data(), row_ptr.data(), nombre);

  // B = -grad E at a zero increment: alpha * Laplacian of the linearisation
  // point minus the data gradient rho * I_{x,y} * It.
  const double a = alpha;
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      const int k = y * nc + x;
      const double rho = data_out(x, y), It = im_t(x, y);
      B(k) = a * Delta_Util(x, y) - (rho * im_x(x, y)) * It;
      B(ncnl + k) = a * Delta_Vtil(x, y) - (rho * im_y(x, y)) * It;
    }

  // The solve of standard_CGS_inversion, without its copy of B.
  const FactoredSystem system(taille, nombre, val.data(), row_ptr.data(), col_ind.data());
  const int code = system.solve(B, X, kLevelTolerance);
  if (code != 0) return true;  // the caller's increment is kept
  for (int y = 0; y < nl; ++y)
    for (int x = 0; x < nc; ++x) {
      UV(x, y, 0) = X(x, y, 0);
      UV(x, y, 1) = X(x, y, 1);
    }
  return false;
}

}  // namespace

bool HornAndSchunck(CImg<double>& UV, const CImg<double>& UVtil, const CImg<double>& im_x,
                    const CImg<double>& im_y, const CImg<double>& im_t, float alpha,
                    const CImg<double>& data_out, const CImgList<double>& reg_out,
                    bool periodic) {
  return solveLevel(
      UV, UVtil, im_x, im_y, im_t, alpha, data_out, periodic,
      [&](const CImg<double>& plane) { return laplacian(plane, reg_out, periodic); },
      [&](double* val, int* col_ind, int* row_ptr, int nombre) {
        fillingSparseHessian_A_HS(val, col_ind, row_ptr, im_x, im_y, data_out, reg_out, alpha,
                                  nombre, periodic);
      });
}

bool HornAndSchunck(CImg<double>& UV, const CImg<double>& UVtil, const CImg<double>& im_x,
                    const CImg<double>& im_y, const CImg<double>& im_t, float alpha,
                    const CImg<double>& data_out, bool periodic) {
  return solveLevel(
      UV, UVtil, im_x, im_y, im_t, alpha, data_out, periodic,
      [&](const CImg<double>& plane) { return laplacian(plane, periodic); },
      [&](double* val, int* col_ind, int* row_ptr, int nombre) {
        fillingSparseHessian_A_HS(val, col_ind, row_ptr, im_x, im_y, data_out, alpha, nombre,
                                  periodic);
      });
}

FactoredSystem::FactoredSystem(int taille, int nombre, double* val, int* row_ptr, int* col_ind)
    : taille_(taille),
      A_(std::make_unique<CompRow_Mat_double>(taille, taille, nombre, val, row_ptr, col_ind, 0,
                                              MV_Vector_::ref)),
      M_(std::make_unique<CompRow_ILUPreconditioner_double>(*A_)),
      sweeps_(std::make_unique<IluSweeps>(*M_)) {}

FactoredSystem::~FactoredSystem() = default;

int FactoredSystem::solve(const MV_Vector_double& B, CImg<double>& res, double tol,
                          int* iterations) const {
  MV_Vector_double X(taille_, 0.0);
  int max_iter = kMaxCgsIterations;
  double t = tol;
  int code;
  if (B.size() == taille_ && taille_ > 0) {
    // The work vectors come from the memory the process keeps for its
    // solves (see kept_memory.h).
    const KeptMemory memory(CgsWorkspace::doubles(taille_) * sizeof(double));
    CgsWorkspace work(reinterpret_cast<double*>(memory.data()), taille_, 0);
    code = fusedCGS(csrArrays(*A_), *sweeps_, &X(0), &B(0), max_iter, t, work);
  } else {
    code = fusedCGS(*A_, X, B, *M_, max_iter, t);  // reports the size mismatch
  }
  if (iterations) *iterations = max_iter;
  if (code != 0) report_failure(code);
  // The U block goes to slice 0, the V block to slice 1.
  const int nc = res.width(), nl = res.height(), nz = res.depth();
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < nl; ++y)
      for (int x = 0; x < nc; ++x) res(x, y, z) = X(y * nc + x + z * nc * nl);
  return code;
}

void FactoredSystem::solve_batch(int count, const double* const* B, double* const* x, double tol,
                                 int* code, CgsWorkspace* const* work, int* iterations) const {
  assert(taille_ > 0);
  if (count <= 0) return;
  std::vector<int> max_iter(static_cast<std::size_t>(count), kMaxCgsIterations);
  std::vector<double> t(static_cast<std::size_t>(count), tol);
  for (int j = 0; j < count; ++j) {
    assert(work[j]->size() == taille_);
    std::fill(x[j], x[j] + taille_, 0.0);
  }
  fusedCGSBatch(csrArrays(*A_), *sweeps_, count, x, B, max_iter.data(), t.data(), code, work);
  if (iterations)
    for (int j = 0; j < count; ++j) iterations[j] = max_iter[j];
}

void FactoredSystem::report_failure(int code) {
  std::printf("no convergence (output CGS %d)", code);
}

int standard_CGS_inversion(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                           MV_Vector_double B, CImg<double>& res, double tol) {
  const FactoredSystem system(taille, nombre, val, row_ptr, col_ind);
  return system.solve(B, res, tol);
}

int standard_CGS_inversion(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                           MV_Vector_double B, CImg<double>& res) {
  return standard_CGS_inversion(taille, nombre, val, row_ptr, col_ind, B, res, kLevelTolerance);
}

double ILU_logDetA(int taille, int nombre, double* val, int* row_ptr, int* col_ind) {
  const CompRow_Mat_double Ar(taille, taille, nombre, val, row_ptr, col_ind, 0, MV_Vector_::ref);
  CompRow_ILUPreconditioner_double A(Ar);
  return A.logDetLP();
}
