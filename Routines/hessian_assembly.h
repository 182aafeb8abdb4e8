// Sparse Hessian of the linearised Horn-Schunck energy of one level.
//
// Compressed-row system (base 0): an nc x nl level has taille = 2*nc*nl
// unknowns, U(x, y) at y*nc + x and V(x, y) at nc*nl + y*nc + x. `val`
// (double) and `col_ind` (int) hold the stored entries row after row,
// `row_ptr` (int, taille + 1 entries) the row starts: row_ptr[0] = 0 and
// row_ptr[r + 1] = number of entries stored in rows 0 ... r. A row holds its
// diagonal, the coupling to the other component of its pixel and one entry
// per present stencil neighbour (or wrap-around partner), at most 6.
// Stored count: 12*nc*nl with periodic borders, 12*nc*nl - 4*nc - 4*nl with
// Neumann borders. Columns ascend within a row, except on periodic levels
// narrower or lower than 3 pixels, where a wrap partner repeats a column.
//
// The matrix is that of E_d + alpha*E_r: per pixel the data block
// rho * [Ix^2, Ix*Iy; Ix*Iy, Iy^2], and on each component minus alpha times
// the weighted 5-point Laplacian of the operators module (same weights, same
// border mode). It is symmetric.
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Number of stored entries of the Hessian of an nc x nl level, in 64 bits:
// 2*(nombre_lap + nc*nl) with nombre_lap = 5*nc*nl (periodic) or
// (5*nl - 2)*(nc - 2) + 8*nl - 4 (Neumann); 0 for an empty level.
long long hessianStoredCount(int nc, int nl, bool periodic);

// hessianStoredCount as the int `nombre` the arrays are allocated with. A
// level whose count or system size 2*nc*nl does not fit in an int is
// refused: a message on standard error and exit status 1.
int hessianNombre(int nc, int nl, bool periodic);

// Writes the Hessian into caller-allocated arrays: val and col_ind of at
// least hessianStoredCount entries (`nombre`, checked against it), row_ptr
// of taille + 1. im_x, im_y: derivatives Ix, Iy of the warped second image;
// data_out: data weights rho; reg_out: robust weight set (element 0 weights
// the link (x, y)-(x+1, y), element 1 the link (x, y)-(x, y+1)); all of
// im_x's size. alpha is used as given in single precision (widened to
// double); `periodic` chooses periodic or Neumann borders.
void fillingSparseHessian_A_HS(double* val, int* col_ind, int* row_ptr,
                               const cimg_library::CImg<double>& im_x,
                               const cimg_library::CImg<double>& im_y,
                               const cimg_library::CImg<double>& data_out,
                               const cimg_library::CImgList<double>& reg_out, float alpha,
                               int nombre, bool periodic);

// The same with every link weight equal to 1 (plain Horn-Schunck).
void fillingSparseHessian_A_HS(double* val, int* col_ind, int* row_ptr,
                               const cimg_library::CImg<double>& im_x,
                               const cimg_library::CImg<double>& im_y,
                               const cimg_library::CImg<double>& data_out, float alpha,
                               int nombre, bool periodic);
