// Decoding photos that are not stored as YCbCr: grayscale, and CMYK with
// and without Adobe's marker, into the program's BGR.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "codec/codec.h"
#include "codec_blocks.h"
#include "codec_pictures.h"
#include "test_images.h"

namespace {

using codec_blocks::Decode;
using codec_blocks::PixelBlock;
using codec_pictures::ExpectScalesAgree;
using codec_pictures::GrayToRgb;
using codec_pictures::MeanAbsDiff;
using test_images::Image;
using test_images::JpegOptions;

TEST(DecodeColour, GrayscaleGivesEqualChannels) {
  const Image gray = test_images::Gradient(64, 48, 1);
  std::vector<uint8_t> jpeg = test_images::EncodeJpeg(gray, {});
  PixelBlock block(64, 48, 1);
  ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, block), CODEC_OK);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint8_t* bgr = block.Bgr(x, y);
      ASSERT_TRUE(bgr[0] == bgr[1] && bgr[1] == bgr[2]) << x << "," << y;
    }
  }
  EXPECT_LT(MeanAbsDiff(block.ToRgb(), GrayToRgb(gray)), 1.0);
  EXPECT_TRUE(block.GuardsIntact());
}

struct CmykCase {
  const char* name;
  bool adobe;
  bool ycck;
};

void PrintTo(const CmykCase& cmyk, std::ostream* out) {
  *out << cmyk.name;
}

class DecodeCmyk : public testing::TestWithParam<CmykCase> {};

INSTANTIATE_TEST_SUITE_P(Codec, DecodeCmyk,
                         testing::Values(CmykCase{"Plain", false, false},
                                         CmykCase{"Adobe", true, false},
                                         CmykCase{"AdobeYcck", true, true}),
                         [](const auto& cmyk_info) { return cmyk_info.param.name; });

// Four 16x16 patches of ink: none, cyan, magenta + yellow, half black.
TEST_P(DecodeCmyk, InkGivesTheExpectedColours) {
  const uint8_t ink[4][4] = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 255, 255, 0}, {0, 0, 0, 128}};
  const uint8_t rgb[4][3] = {{255, 255, 255}, {0, 255, 255}, {255, 0, 0}, {127, 127, 127}};
  Image cmyk = test_images::Blank(64, 16, 4);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 64; ++x) {
      for (int c = 0; c < 4; ++c) {
        const uint8_t value = ink[x / 16][c];
        cmyk.At(x, y)[c] = GetParam().adobe ? 255 - value : value;
      }
    }
  }
  JpegOptions options;
  options.quality = 100;
  options.adobe_marker = GetParam().adobe;
  options.ycck = GetParam().ycck;
  std::vector<uint8_t> jpeg = test_images::EncodeJpeg(cmyk, options);
  PixelBlock block(64, 16, 3);
  ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, block), CODEC_OK);
  for (int patch = 0; patch < 4; ++patch) {
    const uint8_t* bgr = block.Bgr(patch * 16 + 8, 8);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(bgr[2 - c], rgb[patch][c], 3) << "patch " << patch << " channel " << c;
    }
  }
  EXPECT_TRUE(block.GuardsIntact());
  ExpectScalesAgree(jpeg, 4.0);  // YCCK's halved chroma blurs the patch edges
}

}  // namespace
