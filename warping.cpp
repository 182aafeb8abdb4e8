#include "warping.h"

#include <CImg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image_conversion.h"
#include "image_utils.h"
#include "invalid_samples.h"
#include "refusal.h"
#include "spline_interpolation.h"
#include "spline_prefilter.h"

using cimg_library::CImg;

namespace {

// The upsampling needs 2w to fit the 16-bit sizes too.
const int kMaxUpsampledSide = kMaxImageSide / 2;

// Largest float magnitude below the invalid-sample marker's, the bound of a
// valid warped value.
const float kLargestValid = std::nextafter(static_cast<float>(kInvalidMagnitude), 0.0f);

[[noreturn]] void fail(const char* function, const std::string& what, int w, int h) {
  refuse(std::string(function) + ": " + what + " (" + std::to_string(w) + " x " +
         std::to_string(h) + ")");
}

// Zero-filled buffer of count floats holding a copy of samples, or the end
// of the program when memory is short.
float* copiedBuffer(const char* function, const float* samples, int w, int h) {
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  float* buffer = static_cast<float*>(std::calloc(count, sizeof(float)));
  if (!buffer) fail(function, "not enough memory for the spline coefficients", w, h);
  Copy_f(buffer, samples, w, h);
  return buffer;
}

}  // namespace

void Proj_Dup_Spline(CImg<double>& out, const CImg<double>& in, int SplineDegree) {
  if (in.width() > kMaxUpsampledSide || in.height() > kMaxUpsampledSide)
    fail("Proj_Dup_Spline",
         "input larger than " + std::to_string(kMaxUpsampledSide) + " pixels per side",
         in.width(), in.height());
  const short nb_col = static_cast<short>(in.width());
  const short nb_lig = static_cast<short>(in.height());
  const short L_s = static_cast<short>(2 * nb_col);
  if (out.width() != 2 * nb_col || out.height() != 2 * nb_lig)
    fail("Proj_Dup_Spline", "output must be twice the input's size, got", out.width(),
         out.height());
  if (nb_col == 0 || nb_lig == 0) return;

  const long w = nb_col, h = nb_lig;
  float* I_high = new float[4 * w * h];
  float* I_low = CImg2float(in);
  float* coefficients = copiedBuffer("Proj_Dup_Spline", I_low, nb_col, nb_lig);
  if (SamplesToCoefficients(coefficients, w, h, SplineDegree) != 0) std::printf("probleme\n");

  auto s = [&](double x, double y) {
    return static_cast<float>(InterpolatedValue(coefficients, w, h, x, y, SplineDegree));
  };
  auto H = [&](long c, long r) -> float& { return I_high[r * L_s + c]; };

  for (long i = 0; i + 1 < h; ++i) {
    for (long j = 0; j + 1 < w; ++j) {
      H(2 * j, 2 * i) = s(j, i);
      H(2 * j, 2 * i + 1) = s(j, i + 0.5);
      H(2 * j + 1, 2 * i) = s(j + 0.5, i);
      H(2 * j + 1, 2 * i + 1) = s(j + 0.5, i + 0.5);
    }
    // Last column: no position beyond the last sample.
    H(2 * w - 2, 2 * i) = s(w - 1, i);
    H(2 * w - 2, 2 * i + 1) = s(w - 1, i + 0.5);
    H(2 * w - 1, 2 * i) = H(2 * w - 2, 2 * i);
    H(2 * w - 1, 2 * i + 1) = H(2 * w - 2, 2 * i + 1);
  }
  // Last row.
  for (long j = 0; j + 1 < w; ++j) {
    H(2 * j, 2 * h - 2) = s(j, h - 1);
    H(2 * j + 1, 2 * h - 2) = s(j + 0.5, h - 1);
    H(2 * j, 2 * h - 1) = H(2 * j, 2 * h - 2);
    H(2 * j + 1, 2 * h - 1) = H(2 * j + 1, 2 * h - 2);
  }
  const float corner = s(w - 1, h - 1);
  H(2 * w - 2, 2 * h - 2) = H(2 * w - 1, 2 * h - 2) = corner;
  H(2 * w - 2, 2 * h - 1) = H(2 * w - 1, 2 * h - 1) = corner;

  out = float2CImg(out.width(), out.height(), I_high);
  std::free(coefficients);
  delete[] I_low;
  delete[] I_high;
}

void Recal_spline(CImg<double>& out, const CImg<double>& in, const CImg<double>& UV,
                  int SplineDegree) {
  Recal_spline(out, in, UV, SplineDegree, OutsideTarget::NearestSample);
}

void Recal_spline(CImg<double>& out, const CImg<double>& in, const CImg<double>& UV,
                  int SplineDegree, OutsideTarget outside) {
  std::printf("\n Recalage\n");
  std::fflush(stdout);
  if (in.width() > kMaxImageSide || in.height() > kMaxImageSide)
    fail("Recal_spline", "input larger than " + std::to_string(kMaxImageSide) + " pixels per side",
         in.width(), in.height());
  if (out.width() != in.width() || out.height() != in.height())
    fail("Recal_spline", "output must have the input's size, got", out.width(), out.height());
  if (UV.width() != in.width() || UV.height() != in.height() || UV.depth() < 2)
    fail("Recal_spline", "flow field must have the input's size and two slices, got",
         UV.width(), UV.height());
  const short nb_col = static_cast<short>(in.width());
  const short nb_lig = static_cast<short>(in.height());
  if (nb_col == 0 || nb_lig == 0) return;

  const long plane = static_cast<long>(nb_col) * nb_lig;
  float* Im_in = CImg2float(in);
  float* uv = CImg2float(UV);  // slice 0 U, slice 1 V
  const float* u = uv;
  const float* v = uv + plane;
  float* Im_out = new float[plane];
  float* coefficients = copiedBuffer("Recal_spline", Im_in, nb_col, nb_lig);
  // The prefilter would spread an invalid sample's value into the
  // coefficients of its neighbours: the spline goes through the filled
  // samples instead. The block test below still reads Im_in, so a pixel
  // whose block holds an invalid sample stays invalid in the output.
  fill_invalid_samples(coefficients, nb_col, nb_lig);
  if (SplineDegree > 2 && SamplesToCoefficients(coefficients, nb_col, nb_lig, SplineDegree) != 0)
    std::printf("probleme\n");

  auto sample = [&](int c, int r) { return Im_in[r * nb_col + c]; };

  for (int i = 0; i < nb_lig; ++i) {
    for (int j = 0; j < nb_col; ++j) {
      const long k = static_cast<long>(i) * nb_col + j;
      const float U = u[k], V = v[k];
      // A displacement that is not finite is no displacement.
      if (!std::isfinite(U) || !std::isfinite(V)) {
        Im_out[k] = Im_in[k];
        continue;
      }
      const float x = static_cast<float>(j) + U;
      const float y = static_cast<float>(i) + V;
      const int inc_j = U > 0 ? 1 : -1;
      const int inc_i = V > 0 ? 1 : -1;

      int I_u, I_v;
      float Du = 0.0f, Dv = 0.0f;
      if (x < 0) {
        I_u = 0;
      } else if (x > nb_col - 1) {
        I_u = nb_col - 1;
      } else {
        I_u = j + static_cast<int>(U);
        Du = std::fabs(U) - std::fabs(static_cast<float>(static_cast<int>(U)));
      }
      if (y < 0) {
        I_v = 0;
      } else if (y > nb_lig - 1) {
        I_v = nb_lig - 1;
      } else {
        I_v = i + static_cast<int>(V);
        Dv = std::fabs(V) - std::fabs(static_cast<float>(static_cast<int>(V)));
      }

      const int J = I_u + inc_j, I = I_v + inc_i;
      const bool blockInside = J >= 0 && J < nb_col && I >= 0 && I < nb_lig;
      // The block's first invalid sample (base, along x, along y,
      // diagonal); a pixel whose value would come from it is invalid too.
      bool blockValid = true;
      float marker = 0.0f;
      if (blockInside)
        for (const float corner : {sample(I_u, I_v), sample(J, I_v), sample(I_u, I), sample(J, I)})
          if (is_invalid_sample(corner)) {
            blockValid = false;
            marker = corner;
            break;
          }
      float value;
      if (outside == OutsideTarget::Invalid &&
          (x < 0 || x > nb_col - 1 || y < 0 || y > nb_lig - 1)) {
        value = static_cast<float>(kInvalidMarker);
      } else if (!blockInside) {
        value = sample(I_u, I_v);
      } else if (!blockValid) {
        value = marker;
      } else if (SplineDegree > 2) {
        value = static_cast<float>(
            InterpolatedValue(coefficients, nb_col, nb_lig, x, y, SplineDegree));
        // Near bright edges the spline of valid samples can overshoot to a
        // marker's magnitude; the value stays a valid one.
        if (value >= kLargestValid)
          value = kLargestValid;
        else if (value <= -kLargestValid)
          value = -kLargestValid;
      } else {
        const float p00 = sample(I_u, I_v), p01 = sample(J, I_v);
        const float p10 = sample(I_u, I), p11 = sample(J, I);
        value = (1 - Dv) * ((1 - Du) * p00 + Du * p01) + Dv * ((1 - Du) * p10 + Du * p11);
      }
      Im_out[k] = value;
    }
  }

  out = float2CImg(out.width(), out.height(), Im_out);
  std::free(coefficients);
  delete[] Im_in;
  delete[] uv;
  delete[] Im_out;
}
