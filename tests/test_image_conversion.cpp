// Conversions between images and single-precision buffers.
#include <gtest/gtest.h>

#include <CImg.h>

#include <vector>

#include "image_conversion.h"

using cimg_library::CImg;

TEST(ImageConversion, RoundTripNarrowsToNearestFloat) {
  CImg<double> img(3, 2, 1, 1);
  const double values[6] = {0.1, -2.5, 1e-3, 1023.0, 1.0 / 3.0, 7.0};
  for (int k = 0; k < 6; ++k) img(k % 3, k / 3) = values[k];
  float* buffer = CImg2float(img);
  const CImg<double> back = float2CImg(3, 2, buffer);
  ASSERT_EQ(back.width(), 3);
  ASSERT_EQ(back.height(), 2);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(buffer[k], static_cast<float>(values[k]));
    EXPECT_EQ(back(k % 3, k / 3), static_cast<double>(static_cast<float>(values[k])));
  }
  EXPECT_NE(back(0, 0), 0.1);
  delete[] buffer;
}

TEST(ImageConversion, FirstChannelAndDepth) {
  CImg<double> img(2, 2, 3, 2);
  cimg_forXYZC(img, x, y, z, c) img(x, y, z, c) = 100 * c + 10 * z + 2 * y + x;
  float* buffer = CImg2float(img);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(buffer[x + 2 * y + 4 * z], 10 * z + 2 * y + x);
  const CImg<double> back = float2CImg(2, 2, 3, buffer);
  EXPECT_EQ(back.depth(), 3);
  EXPECT_EQ(back.spectrum(), 1);
  cimg_forXYZ(back, x, y, z) EXPECT_EQ(back(x, y, z), img(x, y, z, 0));
  delete[] buffer;
}

TEST(ImageConversion, EmptySizes) {
  const CImg<double> empty;
  float* buffer = CImg2float(empty);
  delete[] buffer;
  const float one = 1.0f;
  EXPECT_TRUE(float2CImg(0, 3, &one).is_empty());
  EXPECT_TRUE(float2CImg(2, 0, 1, &one).is_empty());
}

TEST(ImageConversion, CopyFloatsDestinationFirst) {
  std::vector<float> dst(8, -1.0f);
  const std::vector<float> src = {1, 2, 3, 4, 5, 6, 7, 8};
  Copy_f(dst.data(), src.data(), 3, 2);
  EXPECT_EQ(dst, (std::vector<float>{1, 2, 3, 4, 5, 6, -1, -1}));
  std::vector<float> untouched(4, -1.0f);
  Copy_f(untouched.data(), src.data(), 0, 5);
  Copy_f(untouched.data(), src.data(), 4, -1);
  EXPECT_EQ(untouched, std::vector<float>(4, -1.0f));
}
