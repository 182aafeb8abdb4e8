// Refusals of the routines and the driver: each ends the program through
// the one refusal helper, so that what the run printed on standard output
// comes before the message on standard error when both go to one file.
#include <gtest/gtest.h>

#include <CImg.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

#include "hessian_assembly.h"
#include "image_derivatives.h"
#include "image_utils.h"
#include "refusal.h"
#include "robust_weights.h"
#include "sequence_paths.h"
#include "warping.h"

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// Text left in the standard output buffer (no line end, so that neither a
// line-buffered nor a fully buffered stream has written it), standard
// output then joined to standard error, and call, which must refuse: the
// text must come first.
void printed_then(const std::function<void()>& call) {
  std::fflush(stdout);  // what the test program printed stays out
  ::dup2(2, 1);
  std::printf("printed before;");
  call();
  std::exit(0);
}

}  // namespace

TEST(RefusalDeathTest, StandardOutputComesFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const CImg<double> wide(32768, 1, 1, 1, 0.0), in(5, 4, 1, 1, 1.0), img(4, 3, 1, 1, 1.0);
  CImg<double> wrong(10, 7, 1, 1, 0.0);
  const struct {
    const char* what;
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {"the helper", [] { refuse("Refused: a message"); }, "Refused: a message\n"},
      {"list file", [] {
         char** slots = alloc_seqPath(3);
         read_path("/nonexistent/velmora.list", 3, slots);
       },
       "Can't open the list file /nonexistent/velmora.list !\n"},
      {"padding", [] {
         int nc = 0, nl = 0;
         expand_dim(32768, 4, 2, &nc, &nl);
       },
       "Error: expand_dim\\(\\): image of 32768 x 4 pixels; sizes must lie in 0 ... 32767\n"},
      {"derivative", [&] { gradSpline_X(wide, 0); }, "32768 x 1 pixels exceeds 32767"},
      {"robust weights", [&] { RobustDataCoef(img, img, img, img, 1.0); }, "plane"},
      {"upsampling", [&] { Proj_Dup_Spline(wrong, in, 3); }, "twice"},
      {"Hessian size", [] { hessianNombre(20000, 20000, false); }, "too large for the sparse"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EXIT(printed_then(c.call), ::testing::ExitedWithCode(1),
                std::string("^printed before;[^\n]*") + c.message);
  }
}
