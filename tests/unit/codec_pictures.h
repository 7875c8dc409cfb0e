// How the codec's tests judge the pictures it gives: how far one lies from
// another, and shrunk, cropped or coloured copies to hold them against.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec_blocks.h"
#include "test_images.h"

namespace codec_pictures {

// The mean absolute difference of two images' samples; huge when their sizes differ.
inline double MeanAbsDiff(const test_images::Image& a, const test_images::Image& b) {
  EXPECT_EQ(a.data.size(), b.data.size());
  if (a.data.empty() || a.data.size() != b.data.size())
    return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.data.size(); ++i)
    sum += std::abs(a.data[i] - b.data[i]);
  return sum / static_cast<double>(a.data.size());
}

// The average of each denom x denom square that lies wholly inside the image.
inline test_images::Image BoxShrink(const test_images::Image& image, int denom) {
  test_images::Image out =
      test_images::Blank(image.width / denom, image.height / denom, image.channels);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      for (int c = 0; c < image.channels; ++c) {
        int sum = 0;
        for (int i = 0; i < denom * denom; ++i) {
          sum += image.At(x * denom + i % denom, y * denom + i / denom)[c];
        }
        out.At(x, y)[c] = static_cast<uint8_t>((sum + denom * denom / 2) / (denom * denom));
      }
    }
  }
  return out;
}

// The image's top left corner, `width` by `height`.
inline test_images::Image Crop(const test_images::Image& image, int width, int height) {
  test_images::Image out = test_images::Blank(width, height, image.channels);
  for (int y = 0; y < height; ++y) {
    std::copy_n(image.At(0, y), width * image.channels, out.At(0, y));
  }
  return out;
}

// A one-component image as RGB, its three channels equal.
inline test_images::Image GrayToRgb(const test_images::Image& gray) {
  test_images::Image rgb = test_images::Blank(gray.width, gray.height, 3);
  for (size_t i = 0; i < rgb.data.size(); ++i)
    rgb.data[i] = gray.data[i / 3];
  return rgb;
}

// Checks every decode mode against the full decode, shrunk, and the guards.
inline void ExpectScalesAgree(std::vector<uint8_t>& jpeg, double tolerance) {
  codec_blocks::PixelBlock full(0, 0);
  ASSERT_EQ(codec_blocks::DecodeScaled(jpeg, CODEC_DECODE_FULL, &full, 1), CODEC_OK);
  EXPECT_TRUE(full.GuardsIntact());
  for (int mode : {CODEC_DECODE_HALF, CODEC_DECODE_QUARTER}) {
    for (int pad = 0; pad <= 3; ++pad) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " pad " + std::to_string(pad));
      codec_blocks::PixelBlock scaled(0, 0);
      ASSERT_EQ(codec_blocks::DecodeScaled(jpeg, mode, &scaled, pad), CODEC_OK);
      EXPECT_TRUE(scaled.GuardsIntact());
      const int denom = mode == CODEC_DECODE_HALF ? 2 : 4;
      EXPECT_LT(MeanAbsDiff(scaled.ToRgb(), BoxShrink(full.ToRgb(), denom)), tolerance);
    }
  }
}

}  // namespace codec_pictures
