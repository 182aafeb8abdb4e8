// Randomized (Hutchinson) estimates of traces of A^-1 M, A the sparse
// Hessian of a level and M one block of it or a derivative of a block.
//
// Each probe z has independent standard normal entries (gasdev, seeded once
// per call from the clock by probe_seed); x = A^-1 z is solved by
// ILU(0)-preconditioned CGS from 0 with tolerance `tol`, and the probe's
// sample is x . (M z), whose mean over `nbIt` probes estimates
// trace(A^-1 M) for a symmetric A.
//
// System (see hessian_assembly.h): taille = 2*nc*nl unknowns, U(x, y) at
// y*nc + x and V(x, y) at nc*nl + y*nc + x; val/col_ind of `nombre` entries,
// row_ptr of taille + 1, base 0; only read. taille must equal 2*nc*nl.
// Probe order: pixels row by row, the U entry of a pixel taking the first
// of its two deviates.
//
// Operators, per pixel with zu, zv the probe's U and V entries and
// J_u = IxIx*zu + IxIy*zv, J_v = IxIy*zu + IyIy*zv:
//   A0  (data block)   : J * data_out
//   Ar  (smoothness)   : -laplacian(z, reg_out, periodic), per component
//   A0Fx, A0dFx        : minus the first and the second derivative of A0
//                        with respect to the data robust factor (see each
//                        four-trace member);
//   ArFx, ArdFx        : -laplacianPiemeDerivRobustWeight(z, reg_out, UV,
//                        power 2 and 4), the U part weighted by U, the V
//                        part by V (six-trace member).
// A solve that fails prints "Error CGS convergence <code> (in trace
// randomization)" and its last iterate still enters the mean.
// nbIt <= 0: nothing is drawn, the results are not a number.
//
// Threads: the probes of a call are drawn in order on the calling thread,
// ahead of their solves; the solves (each stopping at its own convergence)
// and the samples run in batches of right-hand sides on worker threads, as
// many as the CPUs the process may use and never more than the probes,
// with at most two batches per thread drawn and not yet done. The samples
// are added, and the messages of failed solves printed, in ascending probe
// order on the calling thread, so every result and every console line is
// that of the probes solved one at a time on one thread, whatever the
// number of threads and the batch size.
// The arrays returned by the four- and six-trace members are made with
// new[]; the caller frees them with delete[].
#pragma once

#include <cstddef>

namespace cimg_library {
template <typename T> struct CImg;
template <typename T> struct CImgList;
}  // namespace cimg_library

// Number of worker threads of the probe solves: n > 0 replaces the count
// of CPUs the process may use (sched_getaffinity); n <= 0 restores it.
// Returns the replacement set before (0 for none), for a caller to restore.
int set_trace_probe_threads(int n);

// Probes one worker solves together: n > 0 replaces the size chosen from
// the level's size (at most 4, within a memory budget for the probes in
// flight), a batch never holding more probes than the call has; n <= 0
// restores it. One thread and batches of one probe run the
// plain one-probe-at-a-time loop.
void set_trace_probe_batch(int n);

// The worker threads a call with nbIt probes uses.
int trace_probe_threads(int nbIt);

// Bytes of the probe buffers of one call with nbIt probes on an nc x nl
// level (the probes in flight, the solutions and CGS work vectors of every
// worker, its probe images), with the threads and batches it would use.
std::size_t trace_probe_buffer_bytes(int nc, int nl, int nbIt);

// The operators whose samples make images, by member: none for
// CGS_randomB_traceInvA and CGS_randomB_traceInvAA0; the negated Laplacian
// for CGS_randomB_traceInvAAr and both four-trace members; the negated
// Laplacian and the four power-weighted Laplacians for
// CGS_randomB_traceInvAA0ArFx.
enum class TraceSampleImages { None, Smoothness, SmoothnessAndPowers };

// Bytes of nc x nl images that every thread forming samples (the calling
// thread and each worker) holds at most at once beyond
// trace_probe_buffer_bytes: each negated Laplacian is a Laplacian, a zero
// image and the copy returned, made while the probe images it replaces are
// still held (5 images); the six-trace member keeps its four power-weighted
// images beside them (9 images).
std::size_t trace_sample_image_bytes(int nc, int nl, TraceSampleImages images);

// Mean of z . x: trace(A^-1).
double CGS_randomB_traceInvA(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                             int* col_ind, int nbIt, double tol);

// trace(A^-1 A0); nc, nl from IxIx.
double CGS_randomB_traceInvAA0(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                               const cimg_library::CImg<double>& IxIx,
                               const cimg_library::CImg<double>& IxIy,
                               const cimg_library::CImg<double>& IyIy,
                               const cimg_library::CImg<double>& data_out, int nbIt, double tol);

// trace(A^-1 Ar), Ar the negated reg_out-weighted Laplacian.
double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, const cimg_library::CImgList<double>& reg_out,
                               int nbIt, double tol, bool periodic);

// The same with every link weight 1.
double CGS_randomB_traceInvAAr(int taille, int nombre, int nc, int nl, double* val, int* row_ptr,
                               int* col_ind, int nbIt, double tol, bool periodic);

// Four traces from one solve per probe, exponential (Leclerc) data weights
// data_out = exp(-tau*x2): [0] trace(A^-1 Ar), [1] trace(A^-1 A0),
// [2] trace(A^-1 A0Fx), [3] trace(A^-1 A0dFx), with per pixel
// A0Fx z = x2*data_out*J and A0dFx z = data_out*x2*x2*J.
double* CGS_randomB_traceInvAA0Fx(int taille, int nombre, double* val, int* row_ptr, int* col_ind,
                                  const cimg_library::CImg<double>& IxIx,
                                  const cimg_library::CImg<double>& IxIy,
                                  const cimg_library::CImg<double>& IyIy,
                                  const cimg_library::CImg<double>& data_out,
                                  const cimg_library::CImgList<double>& reg_out,
                                  const cimg_library::CImg<double>& x2, int nbIt, double tol,
                                  bool periodic);

// The same four traces for quasi-TV data weights data_out = 1/sqrt(s),
// s = 4*tau^2*x2 + 1: A0Fx z = data_out*J*g1 and
// A0dFx z = data_out*J*(data_out*g2 + g1^2), g1 = -4*tau*x2 / s,
// g2 = 4*x2*(4*tau^2*x2 - 1) / (s*sqrt(s)).
double* CGS_randomB_traceInvAA0Fx_QuasiTV(int taille, int nombre, double* val, int* row_ptr,
                                          int* col_ind, const cimg_library::CImg<double>& IxIx,
                                          const cimg_library::CImg<double>& IxIy,
                                          const cimg_library::CImg<double>& IyIy,
                                          const cimg_library::CImg<double>& data_out,
                                          const cimg_library::CImgList<double>& reg_out,
                                          const cimg_library::CImg<double>& x2, double tau,
                                          int nbIt, double tol, bool periodic);

// Six traces from one solve per probe: [0] to [3] those of
// CGS_randomB_traceInvAA0Fx (exponential form), [4] trace(A^-1 ArFx),
// [5] trace(A^-1 ArdFx), with UV (nc x nl x 2) the flow whose link
// differences weight the two smoothness operators.
double* CGS_randomB_traceInvAA0ArFx(int taille, int nombre, double* val, int* row_ptr,
                                    int* col_ind, const cimg_library::CImg<double>& IxIx,
                                    const cimg_library::CImg<double>& IxIy,
                                    const cimg_library::CImg<double>& IyIy,
                                    const cimg_library::CImg<double>& data_out,
                                    const cimg_library::CImgList<double>& reg_out,
                                    const cimg_library::CImg<double>& x2,
                                    const cimg_library::CImg<double>& UV, int nbIt, double tol,
                                    bool periodic);
