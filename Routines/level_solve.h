// Solve of one pyramid level and the sparse solve and log-determinant of a
// compressed-row system.
//
// Compressed-row system as in hessian_assembly.h: `taille` unknowns (U
// block then V block), `nombre` values and column indices, row_ptr of
// taille + 1 entries. Note the array order of these wrappers, (val, row_ptr,
// col_ind), unlike the assembler's (val, col_ind, row_ptr). The arrays stay
// the caller's: the solves and the log-determinant read them in place,
// without a copy, and never write them.
#pragma once

#include <memory>

#include "mvvd.h"

class CompRow_Mat_double;
class CompRow_ILUPreconditioner_double;
class CgsWorkspace;
struct IluSweeps;

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Solves the linearised Horn-Schunck problem of one level for the flow
// increment: assembles the Hessian of E_d + alpha*E_r, builds the
// right-hand side B = alpha*laplacian(UVtil) - rho*I_{x,y}*It and solves by
// ILU(0)-preconditioned CGS (tolerance 1e-6, at most 500 iterations).
// UV: flow field (at least nc x nl x 2) that receives the increment; UVtil:
// linearisation point (nc x nl x 2); im_x, im_y: derivatives of the warped
// second image (nc x nl, defining the level size); im_t: warped second image
// minus first image; data_out: data weights rho; reg_out: robust weight
// set; alpha in single precision. Returns false when the solve converged
// and UV was written, true when the solver failed (UV is then untouched and
// "no convergence (output CGS <code>)" was written on standard output).
bool HornAndSchunck(cimg_library::CImg<double>& UV, const cimg_library::CImg<double>& UVtil,
                    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
                    const cimg_library::CImg<double>& im_t, float alpha,
                    const cimg_library::CImg<double>& data_out,
                    const cimg_library::CImgList<double>& reg_out, bool periodic);

// The same with every link weight equal to 1 (plain Laplacian and the
// unweighted Hessian).
bool HornAndSchunck(cimg_library::CImg<double>& UV, const cimg_library::CImg<double>& UVtil,
                    const cimg_library::CImg<double>& im_x, const cimg_library::CImg<double>& im_y,
                    const cimg_library::CImg<double>& im_t, float alpha,
                    const cimg_library::CImg<double>& data_out, bool periodic);

// Solves A x = B by ILU(0)-preconditioned CGS from x = 0, at most 500
// iterations, relative residual |B - Ax| / |B| below tol. The last iterate
// is copied into res whatever the outcome: res(x, y, z) = x(y*w + x + z*w*h)
// with w, h the width and height of res (w*h*depth at most taille). Returns
// the CGS code: 0 converged, 1 iteration limit, 2 breakdown; on a non-zero
// code writes "no convergence (output CGS <code>)" on standard output,
// without a line end.
int standard_CGS_inversion(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                           MV_Vector_double B, cimg_library::CImg<double>& res, double tol);

// A compressed-row system and its ILU(0) factors, built once from the raw
// arrays (read in place: the caller keeps them, unchanged, for the
// object's lifetime) and solved for many right-hand sides. Every solve is the one of standard_CGS_inversion: the same
// iterates, codes and console message, without rebuilding the matrix and
// the factors, which are the same for every right-hand side.
class FactoredSystem {
 public:
  FactoredSystem(int taille, int nombre, double* val, int* row_ptr, int* col_ind);
  ~FactoredSystem();
  FactoredSystem(const FactoredSystem&) = delete;
  FactoredSystem& operator=(const FactoredSystem&) = delete;

  int taille() const { return taille_; }
  // standard_CGS_inversion of B with this system: x from 0, at most 500
  // iterations, last iterate into res, the CGS code returned. When
  // `iterations` is given it receives the number of CGS iterations done
  // (500 when the solve did not converge).
  int solve(const MV_Vector_double& B, cimg_library::CImg<double>& res, double tol,
            int* iterations = nullptr) const;

  // The solves of count right-hand sides B[j] (taille() elements each)
  // advanced together, each the solve of solve() alone: x[j] (taille()
  // elements) receives from 0 the same iterates and ends on the same last
  // iterate, code[j] the same CGS code and, when given, iterations[j] the
  // same count. Prints nothing (see report_failure). work[j]: a workspace of
  // taille() unknowns per right-hand side. The system is only read: several
  // threads may solve with it at once, each with its own vectors.
  void solve_batch(int count, const double* const* B, double* const* x, double tol, int* code,
                   CgsWorkspace* const* work, int* iterations = nullptr) const;

  // The message solve() writes on standard output for a non-zero code c:
  // "no convergence (output CGS c)", without a line end.
  static void report_failure(int code);

 private:
  int taille_;
  std::unique_ptr<CompRow_Mat_double> A_;
  std::unique_ptr<CompRow_ILUPreconditioner_double> M_;
  std::unique_ptr<IluSweeps> sweeps_;  // views into M_
};

// The same with tol = 1e-6.
int standard_CGS_inversion(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                           MV_Vector_double B, cimg_library::CImg<double>& res);

// ILU(0) log-determinant: the sum over the rows of ln|u_ii|, u the upper
// incomplete-LU factor of the system (equal to ln|det A| when ILU(0) is
// exact, as for tridiagonal systems).
double ILU_logDetA(int taille, int nombre, double* val, int* row_ptr, int* col_ind);
