// Discrete operators of the flow energy and small 2-D correlation filters.
//
// Every operator reads the first plane of its image arguments (element
// (x, y) at x + y*width, each image indexed with its own width) and returns
// a new nc x nl x 1 x 1 image, nc and nl being the width and height of its
// first argument; none modifies its inputs. Images passed together must be
// at least nc x nl.
//
// Border modes (`periodic`): false uses clamped neighbours (a neighbour
// outside the image is the pixel itself, so border differences vanish),
// true wrapped neighbours (column nc-1 is the left neighbour of column 0 and
// column 0 the right neighbour of column nc-1; likewise for rows). A link
// weight is read at the same clamped or wrapped index as its neighbour.
//
// Robust weight set z: z[0](x, y) weights the link (x, y)-(x+1, y), z[1](x, y)
// the link (x, y)-(x, y+1).
#pragma once

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Weighted 5-point Laplacian: sum over the four links of
// w * (im(neighbour) - im(x, y)), added down, up, right, left.
cimg_library::CImg<double> laplacian(const cimg_library::CImg<double>& im,
                                     const cimg_library::CImgList<double>& z, bool periodic);

// Plain 5-point Laplacian: Filtre_2D with the mask (0 1 0; 1 -4 1; 0 1 0).
cimg_library::CImg<double> laplacian(const cimg_library::CImg<double>& im, bool periodic);

// As the weighted laplacian, each link term multiplied by pow(d, power),
// d the forward difference of U along that link:
// sum of pow(d, power) * (im(neighbour) - im(x, y)) * w.
cimg_library::CImg<double> laplacianPiemeDerivRobustWeight(const cimg_library::CImg<double>& im,
                                                           const cimg_library::CImgList<double>& z,
                                                           const cimg_library::CImg<double>& U,
                                                           double power, bool periodic);

// 0.5 * (pow(im(x+1, y) - im(x, y), power) * z(x, y)
//        + pow(im(x, y) - im(x-1, y), power) * z(x-1, y)); z one weight image.
cimg_library::CImg<double> GradRobX_powK(const cimg_library::CImg<double>& im,
                                         const cimg_library::CImg<double>& z, double power,
                                         bool periodic);

// 0.5 * (pow(im(x, y+1) - im(x, y), power) * z(x, y)
//        + pow(im(x, y) - im(x, y-1), power) * z(x, y-1)); z one weight image.
cimg_library::CImg<double> GradRobY_powK(const cimg_library::CImg<double>& im,
                                         const cimg_library::CImg<double>& z, double power,
                                         bool periodic);

// Correlation (not convolution) with a filter of odd width fw and height fh:
// a(x, y) = sum over k = -fh/2 ... fh/2 (outer), l = -fw/2 ... fw/2 (inner) of
// b(X(x+l), Y(y+k)) * filtre(l+fw/2, k+fh/2), with clamped indices, or with
// `periodic` a single-step wrap (any index left of the image maps to the last
// column, any index right of it to column 0; rows likewise), exact for
// half-widths of 1. An empty filter raises CImgInstanceException, an even
// width or height CImgArgumentException.
cimg_library::CImg<double> Filtre_2D(const cimg_library::CImg<double>& b,
                                     const cimg_library::CImg<double>& filtre);
cimg_library::CImg<double> Filtre_2D(const cimg_library::CImg<double>& b,
                                     const cimg_library::CImg<double>& filtre, bool periodic);

// Correlation that skips invalid samples (|v| >= 1022, clamped indices).
// Where no tap of positive weight falls on an invalid sample the output is
// the plain correlation sum. Where some do, it is the sum over the valid
// taps divided by their weight (times the kernel's sum, 1 for the pyramid
// kernel) when that weight is at least half of the kernel's sum, and a
// marker otherwise: -1023 when one of the samples seen was <= -1022, else
// +1023. With `periodic` (single-step wrap) only v >= 1022 is invalid and
// the marker is always +1023. Raises CImgInstanceException for an empty
// filter, CImgArgumentException for an even width or height.
cimg_library::CImg<double> Filtre_2D_sparse(const cimg_library::CImg<double>& b,
                                            const cimg_library::CImg<double>& filtre);
cimg_library::CImg<double> Filtre_2D_sparse(const cimg_library::CImg<double>& b,
                                            const cimg_library::CImg<double>& filtre,
                                            bool periodic);
