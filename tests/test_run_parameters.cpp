// Command line: option values, derived parameters, usage text and refusals.
#include "run_parameters.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace {

RunParameters parse(const std::vector<std::string>& args, const char* program = "Velmora") {
  std::vector<const char*> argv{program};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return read_run_parameters(static_cast<int>(argv.size()), argv.data());
}

void expect_same(const RunParameters& e, const RunParameters& a) {
  EXPECT_EQ(e.ifn, a.ifn);
  EXPECT_EQ(e.dy, a.dy);
  EXPECT_EQ(e.dx, a.dx);
  EXPECT_EQ(e.ofy, a.ofy);
  EXPECT_EQ(e.ofx, a.ofx);
  EXPECT_EQ(e.Dx, a.Dx);
  EXPECT_EQ(e.Dy, a.Dy);
  EXPECT_EQ(e.norm, a.norm);
  EXPECT_EQ(e.normRegRob, a.normRegRob);
  EXPECT_EQ(e.sigma_obs, a.sigma_obs);
  EXPECT_EQ(e.sigma_reg, a.sigma_reg);
  EXPECT_EQ(e.sigmaRobEstim, a.sigmaRobEstim);
  EXPECT_EQ(e.sigmaRegRobEstim, a.sigmaRegRobEstim);
  EXPECT_EQ(e.sigmaAlphaEstim, a.sigmaAlphaEstim);
  EXPECT_EQ(e.sigmaBetaEstim, a.sigmaBetaEstim);
  EXPECT_EQ(e.sigBlur, a.sigBlur);
  EXPECT_EQ(e.nb_resol, a.nb_resol);
  EXPECT_EQ(e.offEdge, a.offEdge);
  EXPECT_EQ(e.periodic, a.periodic);
  EXPECT_EQ(e.tol, a.tol);
  EXPECT_EQ(e.nbIt, a.nbIt);
  EXPECT_EQ(e.precision, a.precision);
  EXPECT_EQ(e.maxItCount, a.maxItCount);
  EXPECT_EQ(e.Umoy, a.Umoy);
  EXPECT_EQ(e.UVinit, a.UVinit);
  EXPECT_EQ(e.alphaInit, a.alphaInit);
  EXPECT_EQ(e.betaInit, a.betaInit);
  EXPECT_EQ(e.display, a.display);
  EXPECT_EQ(e.dxOrig, a.dxOrig);
  EXPECT_EQ(e.dyOrig, a.dyOrig);
  EXPECT_DOUBLE_EQ(e.FactorRobParam, a.FactorRobParam);
  EXPECT_DOUBLE_EQ(e.FactorRobParamInit, a.FactorRobParamInit);
  EXPECT_DOUBLE_EQ(e.FactorRobParam_reg, a.FactorRobParam_reg);
}

// The coded defaults, written out independently of the record's initialisers.
RunParameters defaults() {
  RunParameters p;
  p.ifn = "inputHS";
  p.dy = p.dx = p.Dx = p.Dy = 256;
  p.ofy = p.ofx = 0;
  p.norm = 2.0;
  p.normRegRob = 2;
  p.sigma_obs = p.sigma_reg = 50.0;
  p.sigmaRobEstim = p.sigmaRegRobEstim = p.sigmaAlphaEstim = p.sigmaBetaEstim = false;
  p.sigBlur = 0.0;
  p.nb_resol = 3;
  p.offEdge = 1;
  p.periodic = false;
  p.tol = 1e-6;
  p.nbIt = 30;
  p.precision = 0.001;
  p.maxItCount = 1000;
  p.Umoy = 0.0;
  p.UVinit = false;
  p.alphaInit = 10.0;
  p.betaInit = 1.0;
  p.display = false;
  p.dxOrig = p.dyOrig = 256;
  p.FactorRobParam = p.FactorRobParamInit = p.FactorRobParam_reg = 1.0;
  return p;
}

struct Case {
  const char* what;
  std::vector<std::string> args;
  std::function<void(RunParameters&)> change;  // applied to the defaults
};

}  // namespace

TEST(RunParameters, TableOfArgumentVectors) {
  const Case cases[] = {
      {"no arguments", {}, [](RunParameters&) {}},
      {"Leclerc data term",
       {"-norm", "0", "-sigma_obs", "50"},
       [](RunParameters& p) {
         p.norm = 0.0;
         p.FactorRobParam = p.FactorRobParamInit = 1.0 / 2500.0;
       }},
      {"quasi-TV data term",
       {"-norm", "1", "-sigma_obs", "50"},
       [](RunParameters& p) {
         p.norm = 1.0;
         p.FactorRobParam = p.FactorRobParamInit = 0.01;
       }},
      {"Leclerc smoothness",
       {"-normRegRob", "0", "-sigma_reg", "4"},
       [](RunParameters& p) {
         p.normRegRob = 0;
         p.sigma_reg = 4.0;
         p.FactorRobParam_reg = 1.0 / 16.0;
       }},
      {"quasi-TV smoothness",
       {"-normRegRob", "1", "-sigma_reg", "4"},
       [](RunParameters& p) {
         p.normRegRob = 1;
         p.sigma_reg = 4.0;
         p.FactorRobParam_reg = 0.125;
       }},
      {"robust flag kept with one robust norm",
       {"-norm", "2", "-normRegRob", "1", "-sigmaRobEstim", "true"},
       [](RunParameters& p) {
         p.normRegRob = 1;
         p.sigmaRobEstim = true;
         p.FactorRobParam_reg = 0.01;
       }},
      {"robust flags dropped with both norms quadratic",
       {"-sigmaRobEstim", "true", "-sigmaRegRobEstim", "1"},
       [](RunParameters&) {}},
      {"single level with an initial field",
       {"-UVinit", "true"},
       [](RunParameters& p) {
         p.UVinit = true;
         p.nb_resol = 1;
       }},
      {"the largest level count with an initial field",
       {"-multiresol", "7", "-UVinit", "1"},
       [](RunParameters& p) {
         p.UVinit = true;
         p.nb_resol = 1;
       }},
      {"bool option last without a value",
       {"-dx", "64", "-display"},
       [](RunParameters& p) {
         p.dx = p.dxOrig = 64;
         p.display = true;
       }},
      {"bool spellings of false",
       {"-display", "off", "-periodic", "OFF", "-UVinit", "0", "-sigmaAlphaEstim", "False"},
       [](RunParameters&) {}},
      {"bool spellings of true",
       {"-periodic", "yes", "-sigmaBetaEstim", "ON", "-sigmaAlphaEstim", "1", "-display", "True"},
       [](RunParameters& p) {
         p.periodic = true;
         p.sigmaBetaEstim = true;
         p.sigmaAlphaEstim = true;
         p.display = true;
       }},
      // Read as true, -sigmaRobEstim would survive the robust norm and
      // -UVinit would drop the levels to one.
      {"no is false, also before the derivations",
       {"-norm", "0", "-sigmaRobEstim", "no", "-UVinit", "No", "-multiresol", "5", "-periodic",
        "nO"},
       [](RunParameters& p) {
         p.norm = 0.0;
         p.FactorRobParam = p.FactorRobParamInit = 1.0 / 2500.0;
         p.nb_resol = 5;
       }},
      {"a negative smoothing amplitude",
       {"-dx", "584", "-dy", "388", "-sigBlur", "-0.5"},
       [](RunParameters& p) {
         p.dx = p.dxOrig = 584;
         p.dy = p.dyOrig = 388;
         p.sigBlur = -0.5;
       }},
      {"a fraction and an exponent for a double",
       {"-alphaInit", "3/4", "-betaInit", "2.5e-1"},
       [](RunParameters& p) {
         p.alphaInit = 0.75;
         p.betaInit = 0.25;
       }},
      {"the first occurrence wins",
       {"-dx", "12", "-dy", "40", "-dy", "80"},
       [](RunParameters& p) {
         p.dx = p.dxOrig = 12;
         p.dy = p.dyOrig = 40;
       }},
      {"a bool followed by an option is true",
       {"-periodic", "-dx", "20", "-display"},
       [](RunParameters& p) {
         p.periodic = true;
         p.dx = p.dxOrig = 20;
         p.display = true;
       }},
      {"a string value that looks like a number",
       {"-inPath", "-3"},
       [](RunParameters& p) { p.ifn = "-3"; }},
      {"remaining options",
       {"-inPath",
        "list.txt",
        "-ofy",
        "3",
        "-ofx",
        "4",
        "-Dx",
        "584",
        "-Dy",
        "388",
        "-sigBlur",
        "2",
        "-multiresol",
        "7",
        "-offEdeges",
        "0",
        "-tol",
        "1e-3",
        "-nbItTrace",
        "1",
        "-precision",
        "0.01",
        "-maxItConvAlpha",
        "5",
        "-Umean",
        "-1.5",
        "-betaInit",
        "2.5"},
       [](RunParameters& p) {
         p.ifn = "list.txt";
         p.ofy = 3;
         p.ofx = 4;
         p.Dx = 584;
         p.Dy = 388;
         p.sigBlur = 2.0;
         p.nb_resol = 7;
         p.offEdge = 0;
         p.tol = 1e-3;
         p.nbIt = 1;
         p.precision = 0.01;
         p.maxItCount = 5;
         p.Umoy = -1.5;
         p.betaInit = 2.5;
       }},
      {"smallest accepted sizes",
       {"-dx", "1", "-dy", "1", "-Dx", "1", "-Dy", "1", "-multiresol", "1", "-offEdeges", "0"},
       [](RunParameters& p) {
         p.dx = p.dy = p.dxOrig = p.dyOrig = p.Dx = p.Dy = 1;
         p.nb_resol = 1;
         p.offEdge = 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunParameters expected = defaults();
    c.change(expected);
    expect_same(expected, parse(c.args));
  }
}

TEST(RunParameters, SingleLevelMessageOnStandardOutput) {
  ::testing::internal::CaptureStdout();
  parse({"-UVinit", "true"});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "setting a single resolution level!\n");

  ::testing::internal::CaptureStdout();
  parse({"-UVinit", "true", "-multiresol", "1"});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");

  ::testing::internal::CaptureStdout();
  parse({"-UVinit", "NO"});
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// Standard output joined to standard error in the death statement: a
// refused command line with -UVinit prints its refusal and nothing before
// it ("fasle" reads as true until the check refuses it); an accepted one
// prints the single-level line between the usage lines of -UVinit and
// -alphaInit, as it always has.
TEST(RunParametersDeathTest, SingleLevelLineOnlyForAnAcceptedCommandLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } refused[] = {
      {{"-UVinit", "fasle"}, "^invalid value fasle for -UVinit \\(not a bool value"},
      {{"-UVinit", "true", "-alphaInit", "0"}, "^invalid value 0 for -alphaInit"},
      {{"-multiresol", "4", "-UVinit", "-sigBlur", "-50"}, "^invalid value -50 for -sigBlur"},
      {{"-UVinit", "-dx", "0"}, "^invalid value 0 for -dx"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EXIT(
        {
          std::fflush(stdout);  // what the test program printed stays out
          ::dup2(2, 1);
          parse(c.args);
        },
        ::testing::ExitedWithCode(1), c.message);
  }
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        ::dup2(2, 1);
        parse({"-h", "-UVinit", "-multiresol", "2"});
        std::cout.flush();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0),
      "-UVinit +true[^\n]*\nsetting a single resolution level!\n +-alphaInit ");
}

namespace {

// One usage line: name in 16 columns, value in 24, help text.
std::string line(const std::string& name, const std::string& value, const std::string& help) {
  std::string n = name, v = value;
  n.resize(std::max<std::size_t>(16, n.size()), ' ');
  v.resize(std::max<std::size_t>(24, v.size()), ' ');
  return "    " + n + " " + v + " " + help + "\n";
}

// Usage lines of every option, with the values given to -dx, -norm,
// -sigma_obs, -sigmaRobEstim, -sigmaAlphaEstim, -periodic and -UVinit in
// UsageTextOnHelp below.
std::string option_lines() {
  return line("-inPath", "inputHS", "file of 2 input files in pgm format") +
         line("-dy", "256", "tile line number") + line("-dx", "12", "tile column number") +
         line("-ofy", "0", "offset line number ") + line("-ofx", "0", "offset column number") +
         line("-Dx", "256", "whole Image column number") +
         line("-Dy", "256", "whole Image line number") +
         line("-norm", "1", "Norm data term : 2=L2,1=L1,0=Leclerc (default=L2)") +
         line("-normRegRob", "2", "Norm reg term : 2=L2,1=L1,0=Leclerc (default=L2)") +
         line("-sigma_obs", "0.5", "Initial robust parameter control on data term (norm leclerc)") +
         line("-sigma_reg", "50", "Initial robust parameter control on reg term (norm leclerc)") +
         line("-sigmaRobEstim", "true",
              "bayesian estimation of robust parameter observation (default=false) ") +
         line("-sigmaRegRobEstim", "false",
              "bayesian estimation of robust parameter regularisation (default=false) ") +
         line("-sigmaAlphaEstim", "false",
              "bayesian estimation of alpha reg parameter (default=true) ") +
         line("-sigmaBetaEstim", "false",
              "bayesian estimation of beta reg parameter (default=true) ") +
         line("-sigBlur", "0", "Amplitude Ynderby's isotropic blurring") +
         line("-multiresol", "3", "Number of resolution levels") +
         line("-offEdeges", "1", "Border marge suppression from the data term ") +
         line("-periodic", "false",
              "periodic boundary conditions (true) else Neumann with zero derivatives "
              "(false=default)") +
         line("-tol", "1e-06", "precision for CGS trace randomization") +
         line("-nbItTrace", "30", "nb iteration trace randomization") +
         line("-precision", "0.001", "precision for gamma convergence") +
         line("-maxItConvAlpha", "1000", "max number of iteration for alpha's convergence") +
         line("-Umean", "0", "Average horizontal veocity") +
         line("-UVinit", "true", "initialisation with a velocity field (foramt uv) ") +
         line("-alphaInit", "10", "Horn & Schunck regularization coefficient initialization") +
         line("-betaInit", "1", "Horn & Schunck data term variance inverse initialization") +
         line("-display", "false", "display mode");
}

// "Mmm dd yyyy, hh:mm:ss)", as __DATE__ and __TIME__ give them.
bool is_build_stamp(const std::string& s) {
  const std::string shape = "Aaa 00 0000, 00:00:00)";
  if (s.size() != shape.size()) return false;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const char c = s[k], want = shape[k];
    const bool ok = want == 'A'   ? (c >= 'A' && c <= 'Z')
                    : want == 'a' ? (c >= 'a' && c <= 'z')
                    : want == '0' ? ((c >= '0' && c <= '9') || (k == 4 && c == ' '))
                                  : c == want;
    if (!ok) return false;
  }
  return true;
}

}  // namespace

TEST(RunParameters, UsageTextOnHelp) {
  const std::string banner =
      "\n Velmora : Optic flow estimation with Horn Schunck and optimal regularization coef "
      "estimation (";
  for (const char* help : {"-h", "-help", "--help"}) {
    SCOPED_TRACE(help);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    // The lines show the values as given, before the derivations; the run
    // then goes on with the derived values.
    // "no" shows as false: the image library alone would read it as true.
    const RunParameters p = parse({"-dx", "12", help, "-norm", "1", "-sigma_obs", "1/2",
                                   "-sigmaRobEstim", "1", "-sigmaAlphaEstim", "no", "-periodic",
                                   "No", "-UVinit", "on"},
                                  "/opt/tools/Velmora");
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    const std::size_t banner_end = err.find("\n\n", 1);
    ASSERT_NE(banner_end, std::string::npos);
    // The banner, then the build date and time: "(Mmm dd yyyy, hh:mm:ss)".
    EXPECT_EQ(err.substr(0, banner.size()), banner);
    EXPECT_TRUE(is_build_stamp(err.substr(banner.size(), banner_end - banner.size())))
        << err.substr(0, banner_end);
    EXPECT_EQ(err.substr(banner_end + 2), option_lines());
    EXPECT_EQ(out, "setting a single resolution level!\n");
    EXPECT_EQ(p.dx, 12);
    EXPECT_EQ(p.nb_resol, 1);
    EXPECT_TRUE(p.sigmaRobEstim);
  }
}

TEST(RunParameters, NothingOnStandardErrorWithoutHelp) {
  ::testing::internal::CaptureStderr();
  parse({"-h"});  // a help run first: the facility's help state must not stick
  EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
  ::testing::internal::CaptureStderr();
  parse({"-dx", "12"});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Width of the derivative smoothing at the finest level, worked out by
// hand: s percent of the largest side of the tile padded to a multiple of
// 2^levels (after the single-level rule of -UVinit), or -sigBlur itself.
TEST(RunParameters, FinestBlurWidth) {
  const struct {
    std::vector<std::string> args;
    float width;
  } cases[] = {
      {{"-dx", "584", "-dy", "388", "-sigBlur", "-0.5"}, 2.92f},  // 584 x 392: 0.5 % of 584
      {{"-dx", "100", "-dy", "60", "-sigBlur", "-2"}, 2.08f},     // 104 x 64
      {{"-dx", "60", "-dy", "100", "-sigBlur", "-2"}, 2.08f},     // 64 x 104: the height
      {{"-dx", "100", "-dy", "60", "-sigBlur", "-2", "-UVinit"}, 2.0f},         // one level
      {{"-dx", "101", "-dy", "60", "-sigBlur", "-2", "-multiresol", "1"}, 2.04f},  // 102
      {{"-dx", "100", "-dy", "60", "-sigBlur", "-3", "-multiresol", "7"}, 3.84f},  // 128
      {{"-sigBlur", "-1/4"}, 0.64f},  // 256 x 256
      {{"-dx", "100", "-sigBlur", "2.5"}, 2.5f},
      {{}, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_FLOAT_EQ(finest_blur_width(parse(c.args)), c.width);
  }
}

// The bound a -sigBlur refusal suggests, worked out by hand: 584 x 388 with
// 3 levels pads to 584 x 392 (multiples of 8), and -s gives s * 584 / 100
// pixels, 4 at s = 400 / 584 = 0.68493150...: to 6 digits toward zero,
// -0.684931 (3.999997 pixels in float) is accepted; -0.684932 gives
// 4.0000029 pixels, which 6 digits would show as "4".
TEST(RunParameters, SuggestedSigBlurBoundIsAccepted) {
  RunParameters p = defaults();
  p.dx = p.dxOrig = p.Dx = 584;
  p.dy = p.dyOrig = p.Dy = 388;
  p.sigBlur = -0.7;
  const std::string refused = check_run_parameters(p);
  EXPECT_NE(refused.find("584 x 392 tile padded for 3 levels; on this tile -sigBlur goes down to "
                         "about -0.684931; "),
            std::string::npos)
      << refused;
  p.sigBlur = -0.684931;
  EXPECT_EQ(check_run_parameters(p), "");
  p.sigBlur = -0.684932;
  const std::string past = check_run_parameters(p);
  const std::string head =
      "invalid value -0.684932 for -sigBlur (resolves to a smoothing width of ";
  ASSERT_EQ(past.substr(0, head.size()), head) << past;
  const double width = std::strtod(past.c_str() + head.size(), nullptr);
  EXPECT_GT(width, 4.0) << past;
  EXPECT_LT(width, 4.00001) << past;

  // On every tile, the bound shown lies within the accepted range, inside
  // the exact bound -400 / largest by less than a unit of its 6th digit.
  const std::string marker = "goes down to about ";
  for (int side = 1; side <= 3000; ++side) {
    SCOPED_TRACE(side);
    p.dx = p.dxOrig = p.Dx = side;
    p.dy = p.dyOrig = p.Dy = 8;
    p.nb_resol = 1;
    p.offEdge = 0;
    const long long largest = std::max(side + side % 2, 8);
    const double exact = -400.0 / static_cast<double>(largest);
    p.sigBlur = 2 * exact;
    const std::string message = check_run_parameters(p);
    const std::size_t at = message.find(marker);
    ASSERT_NE(at, std::string::npos) << message;
    const double bound = std::strtod(message.c_str() + at + marker.size(), nullptr);
    EXPECT_GE(bound, exact);
    EXPECT_LT(bound - exact, 1e-5 * -exact);
    p.sigBlur = bound;
    EXPECT_EQ(check_run_parameters(p), "");
  }
}

TEST(RunParameters, CheckNamesTheFirstOffendingOption) {
  RunParameters p = defaults();
  EXPECT_EQ(check_run_parameters(p), "");
  p.Dy = 0;
  p.nb_resol = 8;
  EXPECT_EQ(check_run_parameters(p), "invalid value 0 for -Dy (accepted range: 1 or more)");
  p.Dy = 1;
  EXPECT_EQ(check_run_parameters(p), "invalid value 8 for -multiresol (accepted range: 1 to 7)");
}

// The shape of the command line: option names, values and their syntax.
TEST(RunParameters, ArgumentShapes) {
  const struct {
    std::vector<std::string> args;
    std::string message;  // "" when accepted
  } cases[] = {
      {{}, ""},
      {{"-h"}, ""},
      {{"-dx", "12", "--help", "-dy", "8"}, ""},
      {{"-display"}, ""},
      {{"-display", "off", "-periodic", "-UVinit", "-h"}, ""},
      {{"-display", "YES", "-periodic", "No", "-UVinit", "oFF", "-sigmaRobEstim", "TRUE"}, ""},
      {{"-periodic", "fasle"},
       "invalid value fasle for -periodic (not a bool value: true, on, yes, 1, false, off, no or 0 "
       "in any letter case; accepted range: true or false)"},
      {{"-UVinit", "2"}, "invalid value 2 for -UVinit (not a bool value"},
      {{"-sigmaRobEstim", "y"}, "invalid value y for -sigmaRobEstim (not a bool value"},
      {{"-dx", "4", "-display", ""}, "invalid value  for -display (not a bool value"},
      {{"-ofx", "-0", "-Umean", "-1.5", "-alphaInit", ".5", "-betaInit", "5.", "-tol", "1E-3"}, ""},
      {{"-norm", "+2", "-sigBlur", "1/4", "-precision", "0e0"}, ""},
      {{"-alpha", "3"},
       "unknown argument -alpha (not one of the program's options; -h lists them)"},
      {{"-dx", "12", "16"}, "unknown argument 16"},
      {{"-hh"}, "unknown argument -hh"},
      {{"inputHS"}, "unknown argument inputHS"},
      {{"-dx", "12", "-alphaInit"}, "option -alphaInit is missing its value"},
      {{"-inPath"}, "option -inPath is missing its value (accepted range: a path)"},
      {{"-inPath", "-dx", "12"}, "option -inPath is missing its value"},
      {{"-dx", "-h"}, "option -dx is missing its value"},
      {{"-dx", "12abc"},
       "invalid value 12abc for -dx (not a whole integer; accepted range: 1 or more)"},
      {{"-dx", "1e308"}, "invalid value 1e308 for -dx (not a whole integer"},
      {{"-dy", "0x10"}, "invalid value 0x10 for -dy (not a whole integer"},
      {{"-ofx", "2147483648"}, "invalid value 2147483648 for -ofx (not a whole integer"},
      {{"-dx", " 12"}, "invalid value  12 for -dx"},
      {{"-dx", ""}, "invalid value  for -dx"},
      {{"-norm", "3,5"},
       "invalid value 3,5 for -norm (not a decimal number; accepted range: 0, 1 or 2)"},
      {{"-alphaInit", "nan"}, "invalid value nan for -alphaInit (not a decimal number"},
      {{"-alphaInit", "inf"}, "invalid value inf for -alphaInit (not a decimal number"},
      {{"-alphaInit", "0x10"}, "invalid value 0x10 for -alphaInit"},
      {{"-alphaInit", "1/"}, "invalid value 1/ for -alphaInit"},
      {{"-alphaInit", "1e"}, "invalid value 1e for -alphaInit"},
      {{"-alphaInit", "."}, "invalid value . for -alphaInit"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"Velmora"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    const std::string message = check_arguments(static_cast<int>(argv.size()), argv.data());
    SCOPED_TRACE(::testing::PrintToString(c.args));
    if (c.message.empty())
      EXPECT_EQ(message, "");
    else
      EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
  }
}

// Ranges of the values, each at and just past its bound.
TEST(RunParameters, ValueRanges) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  static const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* what;
    std::function<void(RunParameters&)> change;
    std::string message;  // "" when accepted
  } cases[] = {
      {"defaults", [](RunParameters&) {}, ""},
      {"zero offsets", [](RunParameters& p) { p.ofx = p.ofy = 0; }, ""},
      {"negative column offset", [](RunParameters& p) { p.ofx = -1; },
       "invalid value -1 for -ofx (accepted range: 0 or more)"},
      {"negative row offset", [](RunParameters& p) { p.ofy = -2147483647 - 1; },
       "invalid value -2147483648 for -ofy"},
      {"each norm code",
       [](RunParameters& p) {
         p.norm = 0.0;
         p.normRegRob = 1;
       },
       ""},
      {"data norm 0.5", [](RunParameters& p) { p.norm = 0.5; },
       "invalid value 0.5 for -norm (accepted range: 0, 1 or 2)"},
      {"smoothness norm 3", [](RunParameters& p) { p.normRegRob = 3; },
       "invalid value 3 for -normRegRob (accepted range: 0, 1 or 2)"},
      {"sigma_obs 0 with the quadratic norm", [](RunParameters& p) { p.sigma_obs = 0.0; },
       "invalid value 0 for -sigma_obs (accepted range: a finite number > 0; with -norm 0 or 1 "
       "about 1.0842e-19 to 1.8447e19 (its square in single precision a normal number))"},
      {"sigma_obs tiny with the quadratic norm", [](RunParameters& p) { p.sigma_obs = 1e-300; },
       ""},
      {"sigma_obs subnormal with the quadratic norm",
       [](RunParameters& p) { p.sigma_obs = 1e-310; }, "invalid value 1e-310 for -sigma_obs"},
      {"sigma_obs negative with the quadratic norm", [](RunParameters& p) { p.sigma_obs = -1.0; },
       "invalid value -1 for -sigma_obs"},
      {"sigma_obs not a number with the quadratic norm",
       [](RunParameters& p) { p.sigma_obs = nan; }, "invalid value nan for -sigma_obs"},
      {"sigma_obs infinite with the quadratic norm", [](RunParameters& p) { p.sigma_obs = inf; },
       "invalid value inf for -sigma_obs"},
      {"sigma_reg 0 with the quadratic norm", [](RunParameters& p) { p.sigma_reg = 0.0; },
       "invalid value 0 for -sigma_reg (accepted range: a finite number > 0; with -normRegRob 0 "
       "about 7.4583e-155 to 6.7039e153"},
      {"sigma_reg infinite with the quadratic norm", [](RunParameters& p) { p.sigma_reg = -inf; },
       "invalid value -inf for -sigma_reg"},
      {"sigma_obs 0 with Leclerc",
       [](RunParameters& p) {
         p.norm = 0.0;
         p.sigma_obs = 0.0;
       },
       "invalid value 0 for -sigma_obs (accepted range: a finite number > 0; with -norm 0 or 1"},
      {"sigma_obs infinite with quasi-TV",
       [](RunParameters& p) {
         p.norm = 1.0;
         p.sigma_obs = inf;
       },
       "invalid value inf for -sigma_obs"},
      {"sigma_reg negative with Leclerc",
       [](RunParameters& p) {
         p.normRegRob = 0;
         p.sigma_reg = -1.0;
       },
       "invalid value -1 for -sigma_reg"},
      // 0.5 / (0.5 / 1e-300) squared is 0 in double.
      {"sigma_reg tiny with quasi-TV",
       [](RunParameters& p) {
         p.normRegRob = 1;
         p.sigma_reg = 1e-300;
       },
       "invalid value 1e-300 for -sigma_reg"},
      {"joint update of the Leclerc parameters with the Leclerc data norm",
       [](RunParameters& p) {
         p.norm = 0.0;
         p.normRegRob = 0;
         p.sigmaRobEstim = p.sigmaRegRobEstim = true;
       },
       ""},
      {"quasi-TV data parameter alone",
       [](RunParameters& p) {
         p.norm = 1.0;
         p.normRegRob = 0;
         p.sigmaRobEstim = true;
       },
       ""},
      {"quasi-TV data parameter with a quasi-TV smoothness flag",
       [](RunParameters& p) {
         p.norm = 1.0;
         p.normRegRob = 1;
         p.sigmaRobEstim = p.sigmaRegRobEstim = true;
       },
       ""},
      {"Leclerc smoothness parameter alone with the quasi-TV data norm",
       [](RunParameters& p) {
         p.norm = 1.0;
         p.normRegRob = 0;
         p.sigmaRegRobEstim = true;
       },
       ""},
      {"both parameters with the quadratic data norm",
       [](RunParameters& p) {
         p.normRegRob = 0;
         p.sigmaRobEstim = p.sigmaRegRobEstim = true;
       },
       ""},
      {"joint update of the Leclerc parameters with the quasi-TV data norm",
       [](RunParameters& p) {
         p.norm = 1.0;
         p.normRegRob = 0;
         p.sigmaRobEstim = p.sigmaRegRobEstim = true;
       },
       "invalid value true for -sigmaRobEstim (-norm 1 with -sigmaRegRobEstim and -normRegRob 0: "
       "that joint update estimates the Leclerc data parameter only; accepted range: true or "
       "false; with -sigmaRegRobEstim and -normRegRob 0, -sigmaRobEstim needs -norm 0 (-norm 1 "
       "with -sigmaRobEstim works without -sigmaRegRobEstim))"},
      {"sigBlur 0", [](RunParameters& p) { p.sigBlur = 0.0; }, ""},
      // Negative: a percentage of the largest side of the padded tile,
      // 256 x 256 by default (a multiple of 2^3): 2 % of 256 is 5.12 pixels.
      {"sigBlur negative past its bound", [](RunParameters& p) { p.sigBlur = -2.0; },
       "invalid value -2 for -sigBlur (resolves to a smoothing width of 5.12 pixels, 2 percent of "
       "256, the largest side of the 256 x 256 tile padded for 3 levels; on this tile -sigBlur "
       "goes down to about -1.5625; accepted range: a finite number from 0 to 4, or below 0: -s "
       "is s percent of the largest side of the padded tile, at most 4 pixels)"},
      // 1.5625 % of 256 is 4 pixels exactly, in float as well.
      {"sigBlur negative at its bound", [](RunParameters& p) { p.sigBlur = -1.5625; }, ""},
      {"sigBlur negative just past its bound", [](RunParameters& p) { p.sigBlur = -1.5626; },
       "invalid value -1.5626 for -sigBlur (resolves to a smoothing width of 4.00026 pixels"},
      {"sigBlur negative, tiny", [](RunParameters& p) { p.sigBlur = -1e-300; }, ""},
      // 100 x 60 pads to 104 x 64: 3.9 % of 104 is 4.056 pixels (of 100
      // it would be 3.9); 3.8 % of 104 is 3.952.
      {"sigBlur negative on the padded side",
       [](RunParameters& p) {
         p.dxOrig = 100;
         p.dyOrig = 60;
         p.sigBlur = -3.9;
       },
       "invalid value -3.9 for -sigBlur (resolves to a smoothing width of 4.056 pixels, 3.9 "
       "percent of 104, the largest side of the 104 x 64 tile padded for 3 levels;"},
      {"sigBlur negative within the padded side",
       [](RunParameters& p) {
         p.dxOrig = 100;
         p.dyOrig = 60;
         p.sigBlur = -3.8;
       },
       ""},
      // One level pads to a multiple of 2: 4 % of 100 is 4 pixels.
      {"sigBlur negative at its bound with one level",
       [](RunParameters& p) {
         p.dxOrig = 60;
         p.dyOrig = 100;
         p.nb_resol = 1;
         p.sigBlur = -4.0;
       },
       ""},
      {"sigBlur negative past its bound with one level",
       [](RunParameters& p) {
         p.dxOrig = 60;
         p.dyOrig = 100;
         p.nb_resol = 1;
         p.sigBlur = -4.0001;
       },
       "invalid value -4.0001 for -sigBlur (resolves to a smoothing width of 4.0001 pixels, "
       "4.0001 percent of 100, the largest side of the 60 x 100 tile padded for 1 level;"},
      // A level count the check refuses: the tile as given, already too wide.
      {"sigBlur negative with levels past the pyramid",
       [](RunParameters& p) {
         p.nb_resol = 8;
         p.sigBlur = -2.0;
       },
       "invalid value -2 for -sigBlur (resolves to a smoothing width of 5.12 pixels, 2 percent of "
       "256, the largest side of the 256 x 256 tile; on this tile"},
      {"sigBlur negative within the tile, levels past the pyramid",
       [](RunParameters& p) {
         p.nb_resol = 8;
         p.sigBlur = -1.0;
       },
       "invalid value 8 for -multiresol"},
      {"sigBlur negative infinite", [](RunParameters& p) { p.sigBlur = -inf; },
       "invalid value -inf for -sigBlur (accepted range: a finite number from 0 to 4, or below 0"},
      {"sigBlur at its bound", [](RunParameters& p) { p.sigBlur = 4.0; }, ""},
      {"sigBlur past its bound", [](RunParameters& p) { p.sigBlur = std::nextafter(4.0, 5.0); },
       "invalid value 4 for -sigBlur (accepted range: a finite number from 0 to 4, or below 0: -s "
       "is s percent of the largest side of the padded tile, at most 4 pixels)"},
      {"sigBlur infinite", [](RunParameters& p) { p.sigBlur = inf; },
       "invalid value inf for -sigBlur"},
      {"sigBlur not a number", [](RunParameters& p) { p.sigBlur = nan; },
       "invalid value nan for -sigBlur"},
      {"offEdeges at its bound",
       [](RunParameters& p) {
         p.dxOrig = 16;
         p.dyOrig = 9;
         p.offEdge = 4;
       },
       ""},
      {"offEdeges half the smaller side",
       [](RunParameters& p) {
         p.dxOrig = 16;
         p.dyOrig = 9;
         p.offEdge = 5;
       },
       "invalid value 5 for -offEdeges (accepted range: 0 to 4, less than half the smaller tile "
       "side)"},
      // The default border on a tile too small for it: the side is refused.
      {"default offEdeges on a narrow tile", [](RunParameters& p) { p.dxOrig = 2; },
       "invalid value 2 for -dx (-offEdeges 1, its default, must be less than half the smaller "
       "tile side (-dx 2, -dy 256); accepted range: 3 or more with -offEdeges 1, 1 or more with "
       "-offEdeges 0)"},
      {"default offEdeges on a low tile",
       [](RunParameters& p) {
         p.dxOrig = 5;
         p.dyOrig = 1;
       },
       "invalid value 1 for -dy (-offEdeges 1, its default, must be less than half the smaller "
       "tile side (-dx 5, -dy 1);"},
      {"default offEdeges on a tile of two equal sides",
       [](RunParameters& p) { p.dxOrig = p.dyOrig = 2; }, "invalid value 2 for -dy ("},
      {"offEdeges negative", [](RunParameters& p) { p.offEdge = -1; },
       "invalid value -1 for -offEdeges"},
      {"offEdeges huge", [](RunParameters& p) { p.offEdge = 2147483647; },
       "invalid value 2147483647 for -offEdeges"},
      {"tol just below 1", [](RunParameters& p) { p.tol = 0.999; }, ""},
      {"tol 1", [](RunParameters& p) { p.tol = 1.0; },
       "invalid value 1 for -tol (accepted range: a finite number > 0 and < 1)"},
      {"tol 0", [](RunParameters& p) { p.tol = 0.0; }, "invalid value 0 for -tol"},
      {"nbItTrace at its bound", [](RunParameters& p) { p.nbIt = 1000000; }, ""},
      {"nbItTrace past its bound", [](RunParameters& p) { p.nbIt = 1000001; },
       "invalid value 1000001 for -nbItTrace (accepted range: 1 to 1000000)"},
      {"nbItTrace 0", [](RunParameters& p) { p.nbIt = 0; }, "invalid value 0 for -nbItTrace"},
      {"precision 0", [](RunParameters& p) { p.precision = 0.0; }, ""},
      {"precision negative", [](RunParameters& p) { p.precision = -1e-3; },
       "invalid value -0.001 for -precision (accepted range: a finite number, 0 or more)"},
      {"precision infinite", [](RunParameters& p) { p.precision = inf; },
       "invalid value inf for -precision"},
      {"Umean at its bound", [](RunParameters& p) { p.Umoy = -32767.0; }, ""},
      {"Umean past its bound", [](RunParameters& p) { p.Umoy = 32767.5; },
       "invalid value 32767.5 for -Umean (accepted range: a finite number from -32767 to 32767; "
       "0 with -UVinit)"},
      {"Umean 0 with an initial field",
       [](RunParameters& p) {
         p.UVinit = true;
         p.nb_resol = 1;
         p.Umoy = -0.0;
       },
       ""},
      {"Umean with an initial field",
       [](RunParameters& p) {
         p.UVinit = true;
         p.nb_resol = 1;
         p.Umoy = 1.5;
       },
       "invalid value 1.5 for -Umean (-Umean and -UVinit are two pre-warps of image 2 that cannot "
       "be combined: use one of them (put the constant into the initial field, or drop -UVinit); "
       "accepted range: a finite number from -32767 to 32767; 0 with -UVinit)"},
      {"levels past the pyramid with an initial field",
       [](RunParameters& p) {
         p.UVinit = true;
         p.nb_resol = 8;
       },
       "invalid value 8 for -multiresol (accepted range: 1 to 7)"},
      {"alphaInit 0", [](RunParameters& p) { p.alphaInit = 0.0; },
       "invalid value 0 for -alphaInit (accepted range: a finite number > 0)"},
      {"alphaInit negative", [](RunParameters& p) { p.alphaInit = -1.0; },
       "invalid value -1 for -alphaInit"},
      {"alphaInit not a number", [](RunParameters& p) { p.alphaInit = nan; },
       "invalid value nan for -alphaInit"},
      {"alphaInit subnormal", [](RunParameters& p) { p.alphaInit = 1e-320; },
       "invalid value 9.99989e-321 for -alphaInit"},
      {"betaInit infinite", [](RunParameters& p) { p.betaInit = inf; },
       "invalid value inf for -betaInit (accepted range: a finite number > 0)"},
      {"the first offending option in option order",
       [](RunParameters& p) {
         p.betaInit = 0.0;
         p.ofx = -1;
       },
       "invalid value -1 for -ofx"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RunParameters p = defaults();
    c.change(p);
    const std::string message = check_run_parameters(p);
    if (c.message.empty())
      EXPECT_EQ(message, "");
    else
      EXPECT_EQ(message.substr(0, c.message.size()), c.message) << message;
  }
}

// The robust parameters at the limits of the weights their norms compute.
// Data weights narrow sigma to float and square it in float: 2^-63 squares
// to 2^-126, the smallest normal float, and the float below it to a
// subnormal; a double between the two that is nearer 2^-63 narrows to it;
// the float below 2^64 squares to 2^128 (1 - 2^-23), finite, and 2^64 to
// infinity. Leclerc smoothness takes tau = sigma^-2 in double: 2^511 gives
// 2^-1022, the smallest normal double, 2^-512 gives 2^1024, infinite. The
// quasi-TV smoothness weight squares s = 0.5 / (0.5 / sigma) in double:
// 2^-511 squares to 2^-1022, the double below it to a subnormal; the double
// below 2^512 squares to a finite number, 2^512 to infinity.
TEST(RunParameters, RobustParametersAtTheLimitsOfTheirWeights) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double f_min = std::ldexp(1.0, -63);
  const double f_below = std::ldexp(1.0 - std::ldexp(1.0, -24), -63);
  const double f_rounds_up = std::ldexp(1.0 - std::ldexp(1.0, -26), -63);
  const double f_max = std::ldexp(1.0 - std::ldexp(1.0, -24), 64);
  const double f_over = std::ldexp(1.0, 64);
  const struct {
    const char* what;
    bool data;  // sigma_obs with -norm `norm`, else sigma_reg with -normRegRob `norm`
    int norm;
    double sigma;
    bool accepted;
  } cases[] = {
      {"data, smallest", true, 0, f_min, true},
      {"data, float below the smallest", true, 0, f_below, false},
      {"data, double narrowed up to the smallest", true, 0, f_rounds_up, true},
      {"data, largest", true, 0, f_max, true},
      {"data, square overflows", true, 0, f_over, false},
      {"data, beyond float", true, 0, 1e39, false},
      {"data, tiny", true, 0, 1e-300, false},
      {"data, smallest", true, 1, f_min, true},
      {"data, float below the smallest", true, 1, f_below, false},
      {"data, double narrowed up to the smallest", true, 1, f_rounds_up, true},
      {"data, largest", true, 1, f_max, true},
      {"data, square overflows", true, 1, f_over, false},
      {"data, tiny", true, 1, 1e-300, false},
      {"data, quadratic, tiny", true, 2, 1e-300, true},
      {"data, quadratic, huge", true, 2, 1e300, true},
      {"Leclerc smoothness, largest", false, 0, std::ldexp(1.0, 511), true},
      {"Leclerc smoothness, past the largest", false, 0, std::nextafter(std::ldexp(1.0, 511), inf),
       false},
      {"Leclerc smoothness, factor overflows", false, 0, std::ldexp(1.0, -512), false},
      {"Leclerc smoothness, smallest", false, 0, std::nextafter(std::ldexp(1.0, -512), inf), true},
      {"quasi-TV smoothness, smallest", false, 1, std::ldexp(1.0, -511), true},
      {"quasi-TV smoothness, below the smallest", false, 1,
       std::nextafter(std::ldexp(1.0, -511), 0.0), false},
      {"quasi-TV smoothness, largest", false, 1, std::nextafter(std::ldexp(1.0, 512), 0.0), true},
      {"quasi-TV smoothness, square overflows", false, 1, std::ldexp(1.0, 512), false},
      {"quadratic smoothness, tiny", false, 2, 1e-300, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.what << ", norm " << c.norm);
    RunParameters p = defaults();
    if (c.data) {
      p.norm = c.norm;
      p.sigma_obs = c.sigma;
    } else {
      p.normRegRob = c.norm;
      p.sigma_reg = c.sigma;
    }
    const std::string message = check_run_parameters(p);
    if (c.accepted) {
      EXPECT_EQ(message, "");
    } else {
      const std::string option = c.data ? "-sigma_obs" : "-sigma_reg";
      EXPECT_NE(message.find(" for " + option + " (accepted range: a finite number > 0; "),
                std::string::npos)
          << message;
    }
  }
}

TEST(RunParametersDeathTest, OutOfRangeValuesAreRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-multiresol", "0"}, "invalid value 0 for -multiresol \\(accepted range: 1 to 7\\)"},
      {{"-multiresol", "8"}, "invalid value 8 for -multiresol \\(accepted range: 1 to 7\\)"},
      {{"-dx", "0"}, "invalid value 0 for -dx \\(accepted range: 1 or more\\)"},
      {{"-dy", "0x10"},
       "invalid value 0x10 for -dy \\(not a whole integer; accepted range: 1 or more\\)"},
      {{"-Dx", "-3"}, "invalid value -3 for -Dx \\(accepted range: 1 or more\\)"},
      {{"-Dy", "abc"}, "invalid value abc for -Dy \\(not a whole integer"},
      {{"-nbItTrace", "0"}, "invalid value 0 for -nbItTrace \\(accepted range: 1 to 1000000\\)"},
      {{"-nbItTrace", "2147483647", "-sigmaAlphaEstim"},
       "invalid value 2147483647 for -nbItTrace \\(accepted range: 1 to 1000000\\)"},
      {{"-alphaInit", "0"}, "invalid value 0 for -alphaInit"},
      {{"-sigBlur", "1000"},
       "invalid value 1000 for -sigBlur \\(accepted range: a finite number from 0 to 4, or below "
       "0: -s is s percent of the largest side of the padded tile, at most 4 pixels\\)"},
      // 0.7 % of 584 (584 x 388 pads to 584 x 392) is 4.088 pixels.
      {{"-dx", "584", "-dy", "388", "-sigBlur", "-0.7"},
       "invalid value -0.7 for -sigBlur \\(resolves to a smoothing width of 4.088 pixels, 0.7 "
       "percent of 584, the largest side of the 584 x 392 tile padded for 3 levels; on this tile "
       "-sigBlur goes down to about -0.684931; accepted range: "},
      // Just past that bound: 4.0000029 pixels, more than 4 in the digits shown.
      {{"-dx", "584", "-dy", "388", "-sigBlur", "-0.684932"},
       "invalid value -0.684932 for -sigBlur \\(resolves to a smoothing width of 4\\.00000[1-9]"},
      // -UVinit leaves one level: 110 pads to 110, not 112.
      {{"-dx", "110", "-sigBlur", "-3.7", "-UVinit", "-dy", "20"},
       "invalid value -3.7 for -sigBlur \\(resolves to a smoothing width of 4.07 pixels, 3.7 "
       "percent of 110, the largest side of the 110 x 20 tile padded for 1 level;"},
      // -offEdeges and the tile sides: the value typed is the one named.
      {{"-dx", "1"},
       "invalid value 1 for -dx \\(-offEdeges 1, its default, must be less than half the smaller "
       "tile side \\(-dx 1, -dy 256\\); accepted range: 3 or more with -offEdeges 1, 1 or more "
       "with -offEdeges 0\\)"},
      {{"-dy", "2", "-dx", "300"}, "invalid value 2 for -dy \\(-offEdeges 1, its default"},
      {{"-dx", "2", "-offEdeges", "1"},
       "invalid value 1 for -offEdeges \\(accepted range: 0 to 0, less than half the smaller tile "
       "side\\)"},
      {{"-offEdeges", "200", "-dy", "300"},
       "invalid value 200 for -offEdeges \\(accepted range: 0 to 127, less than half the smaller "
       "tile side\\)"},
      {{"-periodic", "fasle"},
       "invalid value fasle for -periodic \\(not a bool value: true, on, yes, 1, false, off, no or "
       "0 in any letter case; accepted range: true or false\\)"},
      {{"-sigmaAlphaEstim", "-dx", "64", "-UVinit", "2"}, "invalid value 2 for -UVinit"},
      // Every number finite and above 0, whatever the norm.
      {{"-norm", "2", "-sigma_obs", "0/0"},
       "invalid value 0/0 for -sigma_obs \\(accepted range: a finite number > 0; "},
      {{"-sigma_obs", "1/0"}, "invalid value 1/0 for -sigma_obs \\(accepted range"},
      {{"-sigma_obs", "-1"}, "invalid value -1 for -sigma_obs \\(accepted range"},
      {{"-normRegRob", "2", "-sigma_reg", "0/0"},
       "invalid value 0/0 for -sigma_reg \\(accepted range: a finite number > 0; "},
      {{"-sigma_reg", "-1/0"}, "invalid value -1/0 for -sigma_reg \\(accepted range"},
      // A square that is 0 in the precision of the weights.
      {{"-norm", "1", "-sigma_obs", "1e-300"},
       "invalid value 1e-300 for -sigma_obs \\(accepted range: a finite number > 0; with -norm 0 "
       "or 1 about 1.0842e-19 to 1.8447e19"},
      {{"-norm", "0", "-sigma_obs", "1e-20"}, "invalid value 1e-20 for -sigma_obs"},
      {{"-normRegRob", "1", "-sigma_reg", "1e-155"}, "invalid value 1e-155 for -sigma_reg"},
      // The level count as given, also with an initial field.
      {{"-multiresol", "8", "-UVinit"},
       "invalid value 8 for -multiresol \\(accepted range: 1 to 7\\)"},
      {{"-UVinit", "true", "-multiresol", "0"}, "invalid value 0 for -multiresol"},
      {{"-multiresol", "-5", "-UVinit", "on"}, "invalid value -5 for -multiresol"},
      // Values as typed; the first occurrence is the one read.
      {{"-Umean", "32767.0001"},
       "invalid value 32767.0001 for -Umean \\(accepted range: a finite number from -32767 to "
       "32767; 0 with -UVinit\\)"},
      {{"-alphaInit", "1e-320"}, "invalid value 1e-320 for -alphaInit"},
      {{"-tol", "2/2", "-tol", "0.5"}, "invalid value 2/2 for -tol"},
      {{"-Umean", "40000", "-dx", "12", "-Umean", "1"}, "invalid value 40000 for -Umean"},
      {{"-Umean", "1.5", "-UVinit"},
       "invalid value 1.5 for -Umean \\(-Umean and -UVinit are two pre-warps of image 2 that "
       "cannot be combined: use one of them \\(put the constant into the initial field, or drop "
       "-UVinit\\); accepted range: .*0 with -UVinit\\)"},
      {{"-norm", "1", "-sigmaRobEstim", "true", "-sigmaRegRobEstim", "true", "-normRegRob", "0"},
       "invalid value true for -sigmaRobEstim \\(-norm 1 with -sigmaRegRobEstim and -normRegRob "
       "0: that joint update estimates the Leclerc data parameter only; accepted range: .* "
       "-sigmaRobEstim needs -norm 0 \\(-norm 1 with -sigmaRobEstim works without "
       "-sigmaRegRobEstim\\)\\)"},
      {{"-bogus", "1"}, "unknown argument -bogus"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    EXPECT_EXIT(parse(c.args), ::testing::ExitedWithCode(1), c.message);
  }
}
