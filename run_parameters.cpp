// Command line of Velmora: the options in their fixed order, their derived
// values and the range check.
#include "run_parameters.h"

#include <CImg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace {

const char* const kBanner =
    "Optic flow estimation with Horn Schunck and optimal regularization coef estimation";

// Part of path after its last '/'.
const char* base_name(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

bool asks_for_help(int argc, const char* const* argv) {
  for (int k = 0; k < argc; ++k)
    if (!std::strcmp(argv[k], "-h") || !std::strcmp(argv[k], "-help") ||
        !std::strcmp(argv[k], "--help"))
      return true;
  return false;
}

// Usage banner: a blank line, " <program> : <banner> (<date>, <time>)", a blank
// line, on the library's output stream (standard error). The option facility
// is then primed so that each later option call prints its usage line.
void usage(int argc, const char* const* argv) {
  // Reset the facility's help flag, which it otherwise keeps for the process.
  cimg_library::cimg::option((char*)0, argc, argv, (char*)0, (char*)0, true);
  if (asks_for_help(argc, argv))
    std::fprintf(cimg_library::cimg::output(), "\n %s : %s (%s, %s)\n\n",
                 base_name(argc > 0 ? argv[0] : nullptr), kBanner, cimg_date, cimg_time);
  cimg_library::cimg::option((char*)0, argc, argv, (char*)0, (char*)0, false);
}

// Robust factor tau of a norm code and its parameter sigma: 0.5 / sigma for
// quasi-TV (1), sigma^-2 for Leclerc (0), 1 for any other code.
double robust_factor(double norm, double sigma) {
  if (norm == 1.0) return 0.5 / sigma;
  if (norm == 0.0) return std::pow(sigma, -2.0);
  return 1.0;
}

}  // namespace

RunParameters read_run_parameters(int argc, const char* const* argv) {
  RunParameters p;
  usage(argc, argv);

  const std::string default_ifn = p.ifn;
  p.ifn = cimg_option("-inPath", default_ifn.c_str(), "file of 2 input files in pgm format");
  p.dy = cimg_option("-dy", p.dy, "tile line number");
  p.dx = cimg_option("-dx", p.dx, "tile column number");
  p.ofy = cimg_option("-ofy", p.ofy, "offset line number ");
  p.ofx = cimg_option("-ofx", p.ofx, "offset column number");
  p.Dx = cimg_option("-Dx", p.Dx, "whole Image column number");
  p.Dy = cimg_option("-Dy", p.Dy, "whole Image line number");
  p.norm = cimg_option("-norm", p.norm, "Norm data term : 2=L2,1=L1,0=Leclerc (default=L2)");
  p.normRegRob =
      cimg_option("-normRegRob", p.normRegRob, "Norm reg term : 2=L2,1=L1,0=Leclerc (default=L2)");
  p.sigma_obs = cimg_option("-sigma_obs", p.sigma_obs,
                            "Initial robust parameter control on data term (norm leclerc)");
  p.sigma_reg = cimg_option("-sigma_reg", p.sigma_reg,
                            "Initial robust parameter control on reg term (norm leclerc)");
  p.sigmaRobEstim =
      cimg_option("-sigmaRobEstim", p.sigmaRobEstim,
                  "bayesian estimation of robust parameter observation (default=false) ");
  p.sigmaRegRobEstim =
      cimg_option("-sigmaRegRobEstim", p.sigmaRegRobEstim,
                  "bayesian estimation of robust parameter regularisation (default=false) ");

  // Both terms quadratic: there is no robust parameter to estimate.
  if (p.norm == 2.0 && static_cast<double>(p.normRegRob) == 2.0) {
    p.sigmaRobEstim = false;
    p.sigmaRegRobEstim = false;
  }

  p.sigmaAlphaEstim = cimg_option("-sigmaAlphaEstim", p.sigmaAlphaEstim,
                                  "bayesian estimation of alpha reg parameter (default=true) ");
  p.sigmaBetaEstim = cimg_option("-sigmaBetaEstim", p.sigmaBetaEstim,
                                 "bayesian estimation of beta reg parameter (default=true) ");
  p.sigBlur = cimg_option("-sigBlur", p.sigBlur, "Amplitude Ynderby's isotropic blurring");
  p.nb_resol = cimg_option("-multiresol", p.nb_resol, "Number of resolution levels");
  p.offEdge = cimg_option("-offEdeges", p.offEdge, "Border marge suppression from the data term ");
  p.periodic = cimg_option(
      "-periodic", p.periodic,
      "periodic boundary conditions (true) else Neumann with zero derivatives (false=default)");
  p.tol = cimg_option("-tol", p.tol, "precision for CGS trace randomization");
  p.nbIt = cimg_option("-nbItTrace", p.nbIt, "nb iteration trace randomization");
  p.precision = cimg_option("-precision", p.precision, "precision for gamma convergence");
  p.maxItCount = cimg_option("-maxItConvAlpha", p.maxItCount,
                             "max number of iteration for alpha's convergence");
  p.Umoy = cimg_option("-Umean", p.Umoy, "Average horizontal veocity");
  p.UVinit =
      cimg_option("-UVinit", p.UVinit, "initialisation with a velocity field (foramt uv) ");

  // An initial field is given at the finest resolution only.
  if (p.UVinit && p.nb_resol != 1) {
    std::cout << "setting a single resolution level!" << std::endl;
    p.nb_resol = 1;
  }

  p.alphaInit = cimg_option("-alphaInit", p.alphaInit,
                            "Horn & Schunck regularization coefficient initialization");
  p.betaInit = cimg_option("-betaInit", p.betaInit,
                           "Horn & Schunck data term variance inverse initialization");
  p.display = cimg_option("-display", p.display, "display mode");

  p.dxOrig = p.dx;
  p.dyOrig = p.dy;
  p.FactorRobParam = robust_factor(p.norm, p.sigma_obs);
  p.FactorRobParam_reg = robust_factor(static_cast<double>(p.normRegRob), p.sigma_reg);
  p.FactorRobParamInit = p.FactorRobParam;

  const std::string refused = check_run_parameters(p);
  if (!refused.empty()) {
    std::fprintf(stderr, "%s\n", refused.c_str());
    std::exit(1);
  }
  return p;
}

std::string check_run_parameters(const RunParameters& p) {
  struct AtLeastOne {
    const char* name;
    int value;
  };
  const AtLeastOne sizes[] = {{"-dy", p.dy}, {"-dx", p.dx}, {"-Dx", p.Dx}, {"-Dy", p.Dy}};
  for (const AtLeastOne& s : sizes)
    if (s.value < 1)
      return "invalid value " + std::to_string(s.value) + " for " + s.name +
             " (accepted range: 1 or more)";
  // The pyramids hold eight slots and the set-up uses the slot of index L.
  if (p.nb_resol < 1 || p.nb_resol > 7)
    return "invalid value " + std::to_string(p.nb_resol) +
           " for -multiresol (accepted range: 1 to 7)";
  if (p.nbIt < 1)
    return "invalid value " + std::to_string(p.nbIt) +
           " for -nbItTrace (accepted range: 1 or more)";
  return "";
}
