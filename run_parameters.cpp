// Command line of Velmora: the options in their fixed order, their derived
// values and the range check.
#include "run_parameters.h"

#include <CImg.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <sstream>

#include "image_derivatives.h"
#include "image_utils.h"
#include "readers.h"
#include "refusal.h"

namespace {

// Levels the pyramids hold (eight slots, the set-up uses the slot of index L).
constexpr int kMaxLevels = 7;

const char* const kBanner =
    "Optic flow estimation with Horn Schunck and optimal regularization coef estimation";

// Part of path after its last '/'.
const char* base_name(const char* path) {
  if (!path) return "";
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// The 28 options with the kind of value each takes and the values it
// accepts, as said in the refusal messages.
struct OptionRule {
  const char* name;
  char kind;  // 's' string, 'i' int, 'd' double, 'b' bool
  std::string accepted;
};

const OptionRule kOptionRules[] = {
    {"-inPath", 's', "a path"},
    {"-dy", 'i', "1 or more"},
    {"-dx", 'i', "1 or more"},
    {"-ofy", 'i', "0 or more"},
    {"-ofx", 'i', "0 or more"},
    {"-Dx", 'i', "1 or more"},
    {"-Dy", 'i', "1 or more"},
    {"-norm", 'd', "0, 1 or 2"},
    {"-normRegRob", 'i', "0, 1 or 2"},
    {"-sigma_obs", 'd',
     "a finite number > 0; with -norm 0 or 1 about 1.0842e-19 to 1.8447e19 (its square in single "
     "precision a normal number)"},
    {"-sigma_reg", 'd',
     "a finite number > 0; with -normRegRob 0 about 7.4583e-155 to 6.7039e153 (sigma^-2 a normal "
     "number), with -normRegRob 1 about 1.4917e-154 to 1.3408e154 (the square of 0.5 / (0.5 / "
     "sigma) a normal number)"},
    {"-sigmaRobEstim", 'b',
     "true or false; with -sigmaRegRobEstim and -normRegRob 0, -sigmaRobEstim needs -norm 0 "
     "(-norm 1 with -sigmaRobEstim works without -sigmaRegRobEstim)"},
    {"-sigmaRegRobEstim", 'b', "true or false"},
    {"-sigmaAlphaEstim", 'b', "true or false"},
    {"-sigmaBetaEstim", 'b', "true or false"},
    {"-sigBlur", 'd',
     "a finite number from 0 to 4, or below 0: -s is s percent of the largest side of the padded "
     "tile, at most 4 pixels"},
    {"-multiresol", 'i', "1 to 7"},
    {"-offEdeges", 'i', "0 or more, less than half the smaller tile side"},
    {"-periodic", 'b', "true or false"},
    {"-tol", 'd', "a finite number > 0 and < 1"},
    {"-nbItTrace", 'i', "1 to 1000000"},
    {"-precision", 'd', "a finite number, 0 or more"},
    {"-maxItConvAlpha", 'i', "an integer"},
    {"-Umean", 'd',
     "a finite number from -" + std::to_string(static_cast<int>(kMaxVelocity)) + " to " +
         std::to_string(static_cast<int>(kMaxVelocity)) + "; 0 with -UVinit"},
    {"-UVinit", 'b', "true or false"},
    {"-alphaInit", 'd', "a finite number > 0"},
    {"-betaInit", 'd', "a finite number > 0"},
    {"-display", 'b', "true or false"},
};

const OptionRule* option_rule(const char* name) {
  for (const OptionRule& rule : kOptionRules)
    if (!std::strcmp(rule.name, name)) return &rule;
  return nullptr;
}

bool is_help_flag(const char* arg) {
  return !std::strcmp(arg, "-h") || !std::strcmp(arg, "-help") || !std::strcmp(arg, "--help");
}

// The bool spellings, in any letter case: 1 for true, on, yes, 1; 0 for
// false, off, no, 0; -1 for any other text.
int bool_spelling(const char* text) {
  using cimg_library::cimg::strcasecmp;
  for (const char* t : {"true", "on", "yes", "1"})
    if (!strcasecmp(text, t)) return 1;
  for (const char* f : {"false", "off", "no", "0"})
    if (!strcasecmp(text, f)) return 0;
  return -1;
}

// A bool option, its text found as the option facility finds it (after the
// first argument equal to name; the name itself when it is the last one)
// and its value shown on the usage line as the facility shows it ("true"
// or "false"). The value is false for the false spellings of bool_spelling
// ("no" included, which the facility would read as true) and true for any
// other text: a true spelling, an option name following the bool, the
// bool's own name; check_arguments refuses every other text.
bool bool_option(const char* name, int argc, const char* const* argv, bool value,
                 const char* help) {
  const char* text = cimg_library::cimg::option(name, argc, argv, (char*)0);
  if (text) value = bool_spelling(text) != 0;
  cimg_library::cimg::option(name, 0, nullptr, value ? "true" : "false", help);
  return value;
}

// A whole decimal integer of int range: optional sign, then digits only.
bool is_int_text(const char* text) {
  const char* c = text;
  if (*c == '+' || *c == '-') ++c;
  if (*c == '\0') return false;
  for (const char* d = c; *d; ++d)
    if (*d < '0' || *d > '9') return false;
  errno = 0;
  const long long v = std::strtoll(text, nullptr, 10);
  return errno == 0 && v >= INT_MIN && v <= INT_MAX;
}

// Length of the decimal number at the start of text ([sign] digits [.
// digits] [exponent], at least one digit before the exponent), 0 if none.
std::size_t decimal_length(const char* text) {
  const char* c = text;
  if (*c == '+' || *c == '-') ++c;
  std::size_t digits = 0;
  while (*c >= '0' && *c <= '9') ++c, ++digits;
  if (*c == '.') {
    ++c;
    while (*c >= '0' && *c <= '9') ++c, ++digits;
  }
  if (digits == 0) return 0;
  if (*c == 'e' || *c == 'E') {
    const char* e = c + 1;
    if (*e == '+' || *e == '-') ++e;
    if (*e >= '0' && *e <= '9') {
      while (*e >= '0' && *e <= '9') ++e;
      c = e;
    }
  }
  return static_cast<std::size_t>(c - text);
}

// A decimal number "a" or a quotient "a/b" of two, as the option facility
// reads doubles, with nothing after it.
bool is_double_text(const char* text) {
  const std::size_t a = decimal_length(text);
  if (a == 0) return false;
  if (text[a] == '\0') return true;
  if (text[a] != '/') return false;
  const std::size_t b = decimal_length(text + a + 1);
  return b != 0 && text[a + 1 + b] == '\0';
}

std::string invalid(const std::string& value, const char* option, const char* what,
                    const std::string& accepted) {
  return "invalid value " + value + " for " + option + " (" + what + "accepted range: " + accepted +
         ")";
}

// A double as the messages show it: %g (6 significant digits).
std::string shown(double value) {
  std::ostringstream s;
  s << value;
  return s.str();
}

// A float above `bound` as %g with 6 significant digits, or with more (up
// to the 9 that tell any two floats apart) while the text would read as
// `bound` or less: a value just past a bound shows that it is past it.
std::string shown_above(float value, double bound) {
  char text[32];
  for (int digits = 6;; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (digits >= 9 || !(std::strtod(text, nullptr) <= bound)) return text;
  }
}

bool asks_for_help(int argc, const char* const* argv) {
  for (int k = 0; k < argc; ++k)
    if (is_help_flag(argv[k])) return true;
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

// A finite number above 0 that is not subnormal: with denormals flushed,
// the run reads a subnormal as 0.
bool positive(double v) { return std::isnormal(v) && v > 0.0; }

// The square of sigma narrowed to float, formed in float as the data
// weights form it, is a normal number (not 0, not subnormal, not infinite).
bool float_square_normal(double sigma) {
  if (!(std::fabs(sigma) <= std::numeric_limits<float>::max())) return false;
  const float f = static_cast<float>(sigma);
  const float square = f * f;
  return std::isnormal(square);
}

// A data robust parameter the run can use: a positive number; with norm 0
// or 1 its factor tau (robust_factor) is a normal number, and both sigma
// and the value each level start rebuilds from tau (1/sqrt(tau) for
// Leclerc, 0.5/tau for quasi-TV) have a normal float square: the data
// weights take exp(-r^2/sigma^2) or S/sqrt(r^2 + S^2) with the square
// formed in float.
bool data_sigma_usable(double norm, double sigma) {
  if (!positive(sigma)) return false;
  if (norm != 0.0 && norm != 1.0) return true;
  const double tau = robust_factor(norm, sigma);
  if (!positive(tau)) return false;
  const double rebuilt = norm == 0.0 ? 1.0 / std::sqrt(tau) : 0.5 / tau;
  return float_square_normal(sigma) && float_square_normal(rebuilt);
}

// A smoothness robust parameter the run can use: a positive number; with
// norm 0 its factor tau = sigma^-2 and the sigma rebuilt from it at each
// level start (1/sqrt(tau)) are normal numbers; with norm 1 tau = 0.5/sigma,
// the weights' s = 0.5/tau, s^2 and s/2 are normal numbers (all in double).
bool smoothness_sigma_usable(int norm, double sigma) {
  if (!positive(sigma)) return false;
  const double tau = robust_factor(static_cast<double>(norm), sigma);
  if (norm == 0) return positive(tau) && positive(1.0 / std::sqrt(tau));
  if (norm == 1) {
    if (!positive(tau)) return false;
    const double s = 0.5 / tau;
    return positive(s * s) && positive(0.5 * s);
  }
  return true;
}

// The argument text the option facility reads for name: the one after the
// first argument equal to name (the name itself when it is the last one);
// null when name is absent.
const char* given_text(const char* name, int argc, const char* const* argv) {
  if (!argv) return nullptr;
  for (int k = 0; k < argc; ++k)
    if (argv[k] && !std::strcmp(argv[k], name)) return k + 1 < argc ? argv[k + 1] : argv[k];
  return nullptr;
}

// The finest level's image: the tile padded for the level count, a
// multiple of 2^levels on each side (the tile as given when the count is
// outside 1..kMaxLevels, which the check refuses).
struct PaddedTile {
  long long width, height;
  int levels;  // 0: not padded
  long long largest() const { return std::max(width, height); }
};

PaddedTile padded_tile(const RunParameters& p) {
  const int levels = p.nb_resol >= 1 && p.nb_resol <= kMaxLevels ? p.nb_resol : 0;
  return {padded_side(p.dxOrig, levels), padded_side(p.dyOrig, levels), levels};
}

}  // namespace

std::string level_count(int levels) {
  return std::to_string(levels) + (levels == 1 ? " level" : " levels");
}

float finest_blur_width(const RunParameters& p) {
  const PaddedTile tile = padded_tile(p);
  const auto side = [](long long n) {
    return static_cast<int>(std::min<long long>(n, std::numeric_limits<int>::max()));
  };
  return blurWidth(static_cast<float>(p.sigBlur), side(tile.width), side(tile.height), 1);
}

namespace {

// The negative -sigBlur down to which a tile whose padded largest side is
// `largest` is accepted, as the refusal shows it: -100 kMaxSigBlur /
// largest to 6 significant digits, rounded toward zero, then moved toward
// zero by a unit of its last digit while its width in single precision
// (finest_blur_width) is still above kMaxSigBlur. The value shown is
// accepted.
std::string sigblur_bound(const RunParameters& p, long long largest) {
  const double exact = 100.0 * kMaxSigBlur / static_cast<double>(largest);
  char text[32];
  std::snprintf(text, sizeof text, "%.5e", exact);  // d.ddddde<exponent>
  char* e = std::strchr(text, 'e');
  const int exponent = std::atoi(e + 1);
  *e = '\0';
  const double mantissa = std::strtod(text, nullptr);
  const auto magnitude = [exponent](long long digits) {
    return shown(static_cast<double>(digits) * std::pow(10.0, exponent - 5));
  };
  long long digits = std::llround(mantissa * 1e5);
  if (std::strtod(magnitude(digits).c_str(), nullptr) > exact) --digits;
  RunParameters q = p;
  for (; digits > 0; --digits) {
    const std::string bound = "-" + magnitude(digits);
    q.sigBlur = std::strtod(bound.c_str(), nullptr);
    if (finest_blur_width(q) <= kMaxSigBlur) return bound;
  }
  return "0";
}

}  // namespace

RunParameters read_run_parameters(int argc, const char* const* argv,
                                  const ParameterCheck& more_checks) {
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
      bool_option("-sigmaRobEstim", argc, argv, p.sigmaRobEstim,
                  "bayesian estimation of robust parameter observation (default=false) ");
  p.sigmaRegRobEstim =
      bool_option("-sigmaRegRobEstim", argc, argv, p.sigmaRegRobEstim,
                  "bayesian estimation of robust parameter regularisation (default=false) ");

  // Both terms quadratic: there is no robust parameter to estimate.
  if (p.norm == 2.0 && static_cast<double>(p.normRegRob) == 2.0) {
    p.sigmaRobEstim = false;
    p.sigmaRegRobEstim = false;
  }

  p.sigmaAlphaEstim = bool_option("-sigmaAlphaEstim", argc, argv, p.sigmaAlphaEstim,
                                  "bayesian estimation of alpha reg parameter (default=true) ");
  p.sigmaBetaEstim = bool_option("-sigmaBetaEstim", argc, argv, p.sigmaBetaEstim,
                                 "bayesian estimation of beta reg parameter (default=true) ");
  p.sigBlur = cimg_option("-sigBlur", p.sigBlur, "Amplitude Ynderby's isotropic blurring");
  p.nb_resol = cimg_option("-multiresol", p.nb_resol, "Number of resolution levels");
  p.offEdge = cimg_option("-offEdeges", p.offEdge, "Border marge suppression from the data term ");
  p.periodic = bool_option(
      "-periodic", argc, argv, p.periodic,
      "periodic boundary conditions (true) else Neumann with zero derivatives (false=default)");
  p.tol = cimg_option("-tol", p.tol, "precision for CGS trace randomization");
  p.nbIt = cimg_option("-nbItTrace", p.nbIt, "nb iteration trace randomization");
  p.precision = cimg_option("-precision", p.precision, "precision for gamma convergence");
  p.maxItCount = cimg_option("-maxItConvAlpha", p.maxItCount,
                             "max number of iteration for alpha's convergence");
  p.Umoy = cimg_option("-Umean", p.Umoy, "Average horizontal veocity");
  p.UVinit = bool_option("-UVinit", argc, argv, p.UVinit,
                         "initialisation with a velocity field (foramt uv) ");

  // An initial field is given at the finest resolution only. A level count
  // outside 1..7 is left as given, for the check to refuse.
  const bool single_level = p.UVinit && p.nb_resol >= 2 && p.nb_resol <= kMaxLevels;
  if (single_level) p.nb_resol = 1;

  // The options after -UVinit, read first without their usage lines: the
  // command line is checked before the single-level line, which a refused
  // one does not print, and which an accepted one prints where it always
  // has, before those usage lines.
  const auto read_last_options = [argc, argv, &p](bool with_usage) {
    const auto help = [with_usage](const char* text) { return with_usage ? text : nullptr; };
    p.alphaInit = cimg_option("-alphaInit", p.alphaInit,
                              help("Horn & Schunck regularization coefficient initialization"));
    p.betaInit = cimg_option("-betaInit", p.betaInit,
                             help("Horn & Schunck data term variance inverse initialization"));
    p.display = bool_option("-display", argc, argv, p.display, help("display mode"));
  };
  read_last_options(false);

  p.dxOrig = p.dx;
  p.dyOrig = p.dy;
  p.FactorRobParam = robust_factor(p.norm, p.sigma_obs);
  p.FactorRobParam_reg = robust_factor(static_cast<double>(p.normRegRob), p.sigma_reg);
  p.FactorRobParamInit = p.FactorRobParam;

  std::string refused = check_arguments(argc, argv);
  if (refused.empty()) refused = check_run_parameters(p, argc, argv);
  if (refused.empty() && more_checks) refused = more_checks(p);
  if (single_level && refused.empty())
    std::cout << "setting a single resolution level!" << std::endl;
  read_last_options(true);  // the same values, now with their usage lines
  if (!refused.empty()) refuse(refused);
  return p;
}

std::string check_arguments(int argc, const char* const* argv) {
  const auto name_or_flag = [](const char* arg) { return is_help_flag(arg) || option_rule(arg); };
  for (int k = 1; k < argc; ++k) {
    const char* arg = argv[k];
    if (is_help_flag(arg)) continue;
    const OptionRule* rule = option_rule(arg);
    if (!rule)
      return std::string("unknown argument ") + arg +
             " (not one of the program's options; -h lists them)";
    const bool has_value = k + 1 < argc && !name_or_flag(argv[k + 1]);
    if (rule->kind == 'b') {
      if (has_value && bool_spelling(argv[++k]) < 0)
        return invalid(argv[k], arg,
                       "not a bool value: true, on, yes, 1, false, off, no or 0 in any letter "
                       "case; ",
                       rule->accepted);
      continue;
    }
    if (!has_value)
      return std::string("option ") + arg +
             " is missing its value (accepted range: " + rule->accepted + ")";
    const char* value = argv[++k];
    if (rule->kind == 'i' && !is_int_text(value))
      return invalid(value, arg, "not a whole integer; ", rule->accepted);
    if (rule->kind == 'd' && !is_double_text(value))
      return invalid(value, arg, "not a decimal number; ", rule->accepted);
  }
  return "";
}

std::string check_run_parameters(const RunParameters& p, int argc, const char* const* argv) {
  const auto refuse_int = [](const char* option, int value) {
    return invalid(std::to_string(value), option, "", option_rule(option)->accepted);
  };
  // A double option's value as typed when argv holds it, else as %g.
  const auto text_of = [argc, argv](const char* option, double value) {
    const char* text = given_text(option, argc, argv);
    return text ? std::string(text) : shown(value);
  };
  const auto refuse_double = [&](const char* option, double value, const char* what = "") {
    return invalid(text_of(option, value), option, what, option_rule(option)->accepted);
  };
  const auto finite_non_negative = [](double v) { return std::isfinite(v) && v >= 0.0; };
  const auto norm_code = [](double v) { return v == 0.0 || v == 1.0 || v == 2.0; };

  const struct {
    const char* name;
    int value, least;
  } counts[] = {{"-dy", p.dy, 1},   {"-dx", p.dx, 1}, {"-ofy", p.ofy, 0},
                {"-ofx", p.ofx, 0}, {"-Dx", p.Dx, 1}, {"-Dy", p.Dy, 1}};
  for (const auto& c : counts)
    if (c.value < c.least) return refuse_int(c.name, c.value);
  if (!norm_code(p.norm)) return refuse_double("-norm", p.norm);
  if (!norm_code(p.normRegRob)) return refuse_int("-normRegRob", p.normRegRob);
  if (!data_sigma_usable(p.norm, p.sigma_obs)) return refuse_double("-sigma_obs", p.sigma_obs);
  if (!smoothness_sigma_usable(p.normRegRob, p.sigma_reg))
    return refuse_double("-sigma_reg", p.sigma_reg);
  // The joint update of both robust parameters takes the Leclerc step for
  // the data parameter.
  if (p.sigmaRobEstim && p.sigmaRegRobEstim && p.normRegRob == 0 && p.norm == 1.0)
    return invalid("true", "-sigmaRobEstim",
                   "-norm 1 with -sigmaRegRobEstim and -normRegRob 0: that joint update "
                   "estimates the Leclerc data parameter only; ",
                   option_rule("-sigmaRobEstim")->accepted);
  if (!(std::isfinite(p.sigBlur) && p.sigBlur <= kMaxSigBlur))
    return refuse_double("-sigBlur", p.sigBlur);
  // A negative amplitude is a percentage of each level's largest side: its
  // width is largest at the finest level, where the bound applies.
  if (p.sigBlur < 0.0) {
    const float width = finest_blur_width(p);
    if (!(width <= kMaxSigBlur)) {
      const PaddedTile tile = padded_tile(p);
      std::string what = "resolves to a smoothing width of " + shown_above(width, kMaxSigBlur) +
                         " pixels, " + shown(-p.sigBlur) + " percent of " +
                         std::to_string(tile.largest()) +
                         ", the largest side of the " + std::to_string(tile.width) + " x " +
                         std::to_string(tile.height) + " tile";
      if (tile.levels > 0) what += " padded for " + level_count(tile.levels);
      what += "; on this tile -sigBlur goes down to about " + sigblur_bound(p, tile.largest()) +
              "; ";
      return refuse_double("-sigBlur", p.sigBlur, what.c_str());
    }
  }
  // The pyramids hold eight slots and the set-up uses the slot of index L.
  if (p.nb_resol < 1 || p.nb_resol > kMaxLevels) return refuse_int("-multiresol", p.nb_resol);
  // Some data weight must stay positive inside the frame of zero weights:
  // 2 -offEdeges < the smaller tile side. -offEdeges is the value refused
  // when it is negative or was given (on the command line, or other than
  // its default); else the default border does not fit the tile, and the
  // smaller side (-dy when the two are equal) is the value refused.
  const long long smaller_side = std::min(p.dxOrig, p.dyOrig);
  if (p.offEdge < 0 || 2LL * p.offEdge >= smaller_side) {
    const bool border_given =
        p.offEdge != RunParameters().offEdge || given_text("-offEdeges", argc, argv);
    if (p.offEdge < 0 || border_given)
      return invalid(std::to_string(p.offEdge), "-offEdeges", "",
                     ("0 to " + std::to_string((smaller_side - 1) / 2) +
                      ", less than half the smaller tile side")
                         .c_str());
    const bool width_side = p.dxOrig < p.dyOrig;
    const std::string border = std::to_string(p.offEdge);
    const std::string relation = "-offEdeges " + border +
                                 ", its default, must be less than half the smaller tile side "
                                 "(-dx " + std::to_string(p.dxOrig) + ", -dy " +
                                 std::to_string(p.dyOrig) + "); ";
    const std::string accepted = std::to_string(2LL * p.offEdge + 1) + " or more with -offEdeges " +
                                 border + ", 1 or more with -offEdeges 0";
    return invalid(std::to_string(width_side ? p.dxOrig : p.dyOrig), width_side ? "-dx" : "-dy",
                   relation.c_str(), accepted.c_str());
  }
  if (!(positive(p.tol) && p.tol < 1.0)) return refuse_double("-tol", p.tol);
  if (p.nbIt < 1 || p.nbIt > kMaxTraceProbes) return refuse_int("-nbItTrace", p.nbIt);
  if (!finite_non_negative(p.precision)) return refuse_double("-precision", p.precision);
  if (!(std::isfinite(p.Umoy) && std::fabs(p.Umoy) <= kMaxVelocity))
    return refuse_double("-Umean", p.Umoy);
  // Image 2 is pre-warped either by the constant or by the initial field,
  // which is also the linearisation point; the two do not combine.
  if (p.UVinit && p.Umoy != 0.0)
    return refuse_double("-Umean", p.Umoy,
                         "-Umean and -UVinit are two pre-warps of image 2 that cannot be combined: "
                         "use one of them (put the constant into the initial field, or drop "
                         "-UVinit); ");
  if (!positive(p.alphaInit)) return refuse_double("-alphaInit", p.alphaInit);
  if (!positive(p.betaInit)) return refuse_double("-betaInit", p.betaInit);
  return "";
}
