// Run parameters of Velmora: the 28 command-line options, read through the
// image library's option facility, and the values derived from them.
#ifndef VELMORA_RUN_PARAMETERS_H
#define VELMORA_RUN_PARAMETERS_H

#include <functional>
#include <string>

// Every value the run reads from its command line. Field names are the
// program's variable names; the initialisers are the coded option defaults.
// The comment after each field gives its option.
struct RunParameters {
  std::string ifn = "inputHS";   // -inPath: the list file (image 1, image 2, prefix, unused, field)
  int dy = 256;                  // -dy: tile height; later the padded height
  int dx = 256;                  // -dx: tile width; later the padded width
  int ofy = 0;                   // -ofy: row of the tile's top-left pixel
  int ofx = 0;                   // -ofx: column of the tile's top-left pixel
  int Dx = 256;                  // -Dx: whole-image width for image 2 and the initial field
  int Dy = 256;                  // -Dy: whole-image height for image 2 and the initial field
  double norm = 2.0;             // -norm: data norm, 2 L2, 1 quasi-TV, 0 Leclerc (exact)
  int normRegRob = 2;            // -normRegRob: smoothness norm, same codes
  double sigma_obs = 50.0;       // -sigma_obs: initial data robust parameter sigma_d
  double sigma_reg = 50.0;       // -sigma_reg: initial smoothness robust parameter sigma_r
  bool sigmaRobEstim = false;    // -sigmaRobEstim: estimate sigma_d at the finest level
  bool sigmaRegRobEstim = false; // -sigmaRegRobEstim: estimate sigma_r at the finest level
  bool sigmaAlphaEstim = false;  // -sigmaAlphaEstim: estimate alpha
  bool sigmaBetaEstim = false;   // -sigmaBetaEstim: estimate beta
  double sigBlur = 0.0;          // -sigBlur: derivative smoothing (-s: s % of largest side)
  int nb_resol = 3;              // -multiresol: number of pyramid levels L, 1..7
  int offEdge = 1;               // -offEdeges: width of the border with zero data weight
  bool periodic = false;         // -periodic: periodic stencil borders, else Neumann
  double tol = 1e-6;             // -tol: tolerance of the random-probe solves
  int nbIt = 30;                 // -nbItTrace: number of random probes per trace
  double precision = 0.001;      // -precision: relative tolerance of the convergence test
  int maxItCount = 1000;         // -maxItConvAlpha: iteration cap at the finest level
  double Umoy = 0.0;             // -Umean: constant horizontal pre-warp of image 2
  bool UVinit = false;           // -UVinit: read an initial velocity field (list-file line 5)
  double alphaInit = 10.0;       // -alphaInit: alpha at every level start
  double betaInit = 1.0;         // -betaInit: beta at every level start
  bool display = false;          // -display: show images and fields in windows

  // Derived after parsing.
  int dxOrig = 256;              // tile width as given (dx before padding)
  int dyOrig = 256;              // tile height as given (dy before padding)
  double FactorRobParam = 1.0;   // tau_d: 0.5/sigma_obs (norm 1), sigma_obs^-2 (norm 0), else 1
  double FactorRobParamInit = 1.0; // tau_d0: tau_d as derived here, restored at each level start
  double FactorRobParam_reg = 1.0; // tau_r: same rule from normRegRob and sigma_reg
};

// Reads the options from argv in their fixed order (printing the usage text
// on standard error when "-h", "-help" or "--help" is present, then going
// on), applies the derivations (robust-estimation switch, single-level rule
// for a level count of 2 to 7, a count outside 1..7 being kept for the
// check, dxOrig/dyOrig, the robust factors) and checks the command line
// with check_arguments, the values with check_run_parameters and then, when
// given, with more_checks (the caller's checks that need no input, such as
// the display, the sizes and the memory; "" or the one-line refusal). A refused command line ends the
// program with one line on standard error and exit status 1, before any
// file is opened, and prints nothing on standard output; an accepted one
// with the single-level rule prints its line there. argv[0] gives the
// program name of the usage banner; argc may be 0.
using ParameterCheck = std::function<std::string(const RunParameters&)>;
RunParameters read_run_parameters(int argc, const char* const* argv,
                                  const ParameterCheck& more_checks = nullptr);

// Shape of the command line argv[1 .. argc-1]: every argument is one of the
// 28 option names or a help flag; every option but a bool one is followed
// by its value (an option name there is a missing value); a bool option
// takes the next argument as its value unless that is an option name or a
// help flag (the bool is then true, as it is when it is the last argument),
// and that value is true, on, yes, 1, false, off, no or 0 in any letter
// case; an int value is a whole
// decimal integer of int range, a double value a decimal number "a" or
// "a/b". Returns "", or the one-line message naming the first offending
// argument and what is accepted (no line end).
std::string check_arguments(int argc, const char* const* argv);

// "1 level" or "<levels> levels": the level count of the messages that
// name a tile padded for the pyramid.
std::string level_count(int levels);

// Largest -sigBlur, in pixels of each level: the derivative smoothing is
// applied at every level of the pyramid, and a wider one leaves too little
// image structure at the coarse levels (far-off flows on the example pairs).
// A negative -sigBlur is bounded by the same width at the finest level,
// where its width (a percentage of the level's largest side) is largest.
constexpr double kMaxSigBlur = 4.0;

// Smoothing width, in pixels, of the derivatives at the finest level:
// -sigBlur when it is 0 or more; for a negative -sigBlur -s, s percent of
// the largest side of the tile (dxOrig x dyOrig) padded to a multiple of
// 2^nb_resol, in single precision as the derivatives work it out (the tile
// as given when nb_resol is outside 1..7). At the coarser levels the width
// of a negative -sigBlur halves with the sides.
float finest_blur_width(const RunParameters& p);

// Largest -nbItTrace. Every probe of a trace estimate costs one solve, and
// its samples and solve code are kept until the call ends (at most 53 bytes
// a probe); a million probes keep that under 53 MB.
constexpr int kMaxTraceProbes = 1000000;

// Ranges of the values: -dy, -dx, -Dx, -Dy at least 1; -ofy, -ofx at least
// 0; -norm and -normRegRob 0, 1 or 2; -sigma_obs and -sigma_reg finite and
// > 0 whatever the norm, and usable by the robust weights of their norm:
// with -norm 0 or 1 the square of sigma_obs in single precision, both as
// given and as each level start rebuilds it from its factor (1/sqrt(tau),
// 0.5/tau), is a normal number (about 1.0842e-19 to 1.8447e19); with
// -normRegRob 0 sigma_reg^-2 and the sigma rebuilt from it are normal
// numbers (about 7.4583e-155 to 6.7039e153); with -normRegRob 1 the factor
// 0.5/sigma_reg, s = 0.5/factor, s^2 and s/2 are normal numbers (about
// 1.4917e-154 to 1.3408e154); -sigmaRobEstim not with -norm 1 when
// -sigmaRegRobEstim is given with -normRegRob 0 (that joint update has a
// Leclerc data step only); -sigBlur finite, at most kMaxSigBlur, and when
// negative with a finest_blur_width of at most kMaxSigBlur (the message
// shows that width, with more than 6 digits when 6 would read as
// kMaxSigBlur or less, and the smallest -sigBlur of 6 digits the tile
// accepts, rounded toward zero);
// 1 to 7 levels (the value as given, before the
// single-level rule of -UVinit); -offEdeges at least 0 and less than half
// the smaller tile side (checked at the place of -offEdeges: the value
// refused is -offEdeges when it is negative, given in argv or not its
// default, else the smaller of -dx and -dy, -dy when they are equal, in a
// message that names both sides and the border); -tol finite, > 0 and < 1;
// -nbItTrace 1 to kMaxTraceProbes; -precision finite
// and >= 0; -Umean finite with a magnitude of at most kMaxVelocity
// (readers.h, the bound of an initial field's values), and 0 with -UVinit
// (image 2 is pre-warped by one or the other); -alphaInit and -betaInit
// finite and > 0. "> 0" excludes subnormal numbers, which the run reads as
// 0. Returns "" or the one-line message naming the first offending option
// (in option order), its value and the accepted range (no line end). The
// value of a double option is shown as the argument text the option
// facility read for it (the one after the option's first occurrence) when
// argv holds the option, else as %g.
std::string check_run_parameters(const RunParameters& p, int argc = 0,
                                 const char* const* argv = nullptr);

#endif
