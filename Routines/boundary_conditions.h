// Stencil boundary conditions.
//
// Before a sparse Hessian is assembled, the discretised energy is held as
// stencil coefficient images: one image per coupling direction, whose value
// at pixel (x, y) (x the column, y the row, element x + y*width) is the
// matrix coefficient coupling the unknown of (x, y) with one neighbour, or
// the diagonal coefficient. The functions below rewrite those images at the
// border of an nc x nl frame so that the stencil obeys a boundary condition:
// periodic (couplings wrap around), Neumann (the missing neighbour folds
// into the centre) or Dirichlet (frame couplings are cut). All of them
// modify their images in place and report nothing.
//
// Image names: i is the row, j the column; "_1"/"1" mean minus/plus one,
// "_l"/"l" minus/plus the distance l. A_ij is the centre, A_i_1j couples
// (x, y) with (x, y-1), A_i1j with (x, y+1), A_ij_1 with (x-1, y), A_ij1
// with (x+1, y); A_ijnc, A_ij0, A_inlj, A_i0j are the periodic partners of
// the left, right, upper and lower couplings. A coefficient list holds in
// element e the image of distance l = neta + e, for l = neta ... lo.
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Coefficient value meaning "no matrix entry here": the assemblers store an
// entry only when its coefficient is not exactly equal to this value.
constexpr double kAbsentEntry = -1e30;

// Periodic borders: on column 0 the left coupling moves into A1_ijnc, on
// column nc-1 the right one into A1_ij0, on row 0 the upper one into
// A1_inlj, on row nl-1 the lower one into A1_i0j (copied, not added); each
// moved coupling becomes kAbsentEntry. All images at least nc x nl.
void fixPeriodConditions(int nc, int nl, cimg_library::CImg<double>& A1_i_1j,
                         cimg_library::CImg<double>& A1_i1j, cimg_library::CImg<double>& A1_ij_1,
                         cimg_library::CImg<double>& A1_ij1, cimg_library::CImg<double>& A1_ijnc,
                         cimg_library::CImg<double>& A1_ij0, cimg_library::CImg<double>& A1_inlj,
                         cimg_library::CImg<double>& A1_i0j);

// Neumann borders: every coupling that leaves the frame (left on column 0,
// right on column nc-1, upper on row 0, lower on row nl-1, added in that
// order) is added to the centre A1_ij and becomes kAbsentEntry. All images
// at least nc x nl.
void fixNeumannConditions(int nc, int nl, cimg_library::CImg<double>& A1_i_1j,
                          cimg_library::CImg<double>& A1_ij, cimg_library::CImg<double>& A1_i1j,
                          cimg_library::CImg<double>& A1_ij_1, cimg_library::CImg<double>& A1_ij1);

// Dirichlet borders on the axis couplings at distances neta ... lo: every
// coupling at distance l that starts or ends on the one-pixel frame (and
// the ones leaving the image from row 0 in A_ijl, row nl-1 in A_ij_l,
// column 0 in A_ilj, column nc-1 in A_i_lj) is cleared to 0.0 unless it
// holds kAbsentEntry. Nothing happens when lo < neta. Needs 0 <= neta,
// lo <= nc-1, lo <= nl-1, lists of lo-neta+1 images of at least nc x nl.
void fixDirichletConditions(int nc, int nl, cimg_library::CImgList<double>& A_i_lj,
                            cimg_library::CImgList<double>& A_ij_l,
                            cimg_library::CImgList<double>& A_ijl,
                            cimg_library::CImgList<double>& A_ilj, int neta, int lo);

// Dirichlet borders on a five-point stencil: frame pixels become identity
// rows (centre 1.0, couplings towards the interior 0.0, outward couplings
// kAbsentEntry) and the couplings of the second ring towards the frame
// become 0.0. Writes unconditionally. Needs nc >= 2 and nl >= 2 (nothing
// happens for an empty frame); images at least nc x nl.
void fixDirichletConditions(int nc, int nl, cimg_library::CImg<double>& A_i_1j,
                            cimg_library::CImg<double>& A_ij, cimg_library::CImg<double>& A_i1j,
                            cimg_library::CImg<double>& A_ij_1, cimg_library::CImg<double>& A_ij1);

// Dirichlet borders on the diagonal couplings at distances neta ... lo
// (A_i_lj_l to (x-l, y-l), A_i_ljl to (x+l, y-l), A_ilj_l to (x-l, y+l),
// A_iljl to (x+l, y+l)): every such coupling that starts or ends on the
// frame is cleared to 0.0 unless it holds kAbsentEntry. Same needs as the
// axis-coupling overload.
void fixDirichletConditions_cross(int nc, int nl, cimg_library::CImgList<double>& A_i_lj_l,
                                  cimg_library::CImgList<double>& A_i_ljl,
                                  cimg_library::CImgList<double>& A_ilj_l,
                                  cimg_library::CImgList<double>& A_iljl, int neta, int lo);

// The list form above, then the centre A_ij set to 0.0 on every frame pixel.
void fixDirichletConditions_cross(int nc, int nl, cimg_library::CImg<double>& A_ij,
                                  cimg_library::CImgList<double>& A_i_lj_l,
                                  cimg_library::CImgList<double>& A_i_ljl,
                                  cimg_library::CImgList<double>& A_ilj_l,
                                  cimg_library::CImgList<double>& A_iljl, int neta, int lo);

// Every coefficient exactly equal to zero in elements 0 ... lo-neta of the
// four diagonal lists becomes kAbsentEntry, over the width and height of
// element 0 of A_iljl (each image indexed with its own width). Does nothing,
// and reads nothing, when lo < neta or A_iljl is empty. Note the argument
// order: distances first, lists down-right, up-left, up-right, down-left.
void excludeWhite(int neta, int lo, cimg_library::CImgList<double>& A_iljl,
                  cimg_library::CImgList<double>& A_i_lj_l,
                  cimg_library::CImgList<double>& A_i_ljl,
                  cimg_library::CImgList<double>& A_ilj_l);
