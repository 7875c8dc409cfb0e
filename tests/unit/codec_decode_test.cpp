// Decoding at the program's three scales: the libjpeg-turbo samples, every
// way of storing the same coefficients, and the sizes a request may ask for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec_blocks.h"
#include "codec_pictures.h"
#include "test_images.h"

namespace {

using codec_blocks::Decode;
using codec_blocks::DecodeRequest;
using codec_blocks::DecodeScaled;
using codec_blocks::FindMarker;
using codec_blocks::PixelBlock;
using codec_blocks::TestImage;
using codec_pictures::BoxShrink;
using codec_pictures::Crop;
using codec_pictures::ExpectScalesAgree;
using codec_pictures::GrayToRgb;
using codec_pictures::MeanAbsDiff;
using test_images::Image;
using test_images::JpegOptions;

TEST(CodecLifetime, InitAndFreeClearTheRecord) {
  CodecProps props;
  std::fill_n(reinterpret_cast<uint8_t*>(&props), sizeof props, 0x5C);
  EXPECT_EQ(CodecInit(props), CODEC_OK);
  EXPECT_EQ(props.pixelBuffer, nullptr);
  EXPECT_EQ(props.quality, 0);
  std::fill_n(reinterpret_cast<uint8_t*>(&props), sizeof props, 0x5C);
  EXPECT_EQ(CodecFree(props), CODEC_OK);
  EXPECT_EQ(props.jpegBuffer, nullptr);
  EXPECT_EQ(props.jpegSize, 0u);
}

// The sample images of libjpeg-turbo: one photo stored baseline, baseline
// from the integer DCT, and arithmetic-coded.
class SampleImages : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Codec, SampleImages,
                         testing::Values("testorig.jpg", "testimgint.jpg", "testimgari.jpg"));

TEST_P(SampleImages, ParamsGiveTheImageSize) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage(GetParam()));
  CodecProps props{};
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  ASSERT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_OK);
  EXPECT_EQ(props.jpegWidth, 227);
  EXPECT_EQ(props.jpegHeight, 149);
}

TEST_P(SampleImages, EveryScaleFillsExactlyTheBlock) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage(GetParam()));
  PixelBlock full(227, 149);
  ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, full), CODEC_OK);
  EXPECT_TRUE(full.GuardsIntact());
  const struct {
    int mode, denom, width, height;
  } scales[] = {{CODEC_DECODE_HALF, 2, 113, 74}, {CODEC_DECODE_QUARTER, 4, 56, 37}};
  for (const auto& scale : scales) {
    for (int pad = 0; pad <= 3; ++pad) {
      SCOPED_TRACE("mode " + std::to_string(scale.mode) + " pad " + std::to_string(pad));
      PixelBlock block(scale.width, scale.height, pad);
      ASSERT_EQ(Decode(jpeg, scale.mode, block), CODEC_OK);
      EXPECT_TRUE(block.GuardsIntact());
      EXPECT_LT(MeanAbsDiff(block.ToRgb(), BoxShrink(full.ToRgb(), scale.denom)), 2.0);
    }
  }
}

TEST(SampleImage, OtherCodingsDecodeLikeTheBaselineFile) {
  std::vector<uint8_t> baseline = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  for (const char* name : {"testimgint.jpg", "testimgari.jpg"}) {
    std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage(name));
    for (int mode : {CODEC_DECODE_FULL, CODEC_DECODE_QUARTER}) {
      PixelBlock expected(0, 0), actual(0, 0);
      ASSERT_EQ(DecodeScaled(baseline, mode, &expected), CODEC_OK);
      ASSERT_EQ(DecodeScaled(jpeg, mode, &actual), CODEC_OK) << name;
      EXPECT_LT(MeanAbsDiff(actual.ToRgb(), expected.ToRgb()), 1.0) << name << " mode " << mode;
    }
  }
}

TEST(SampleImage, FullDecodeIsCloseToTheOriginalPixels) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  const Image original = test_images::ReadPpm(TestImage("testorig.ppm"));
  PixelBlock block(0, 0);
  ASSERT_EQ(DecodeScaled(jpeg, CODEC_DECODE_FULL, &block, 2), CODEC_OK);
  EXPECT_LT(MeanAbsDiff(block.ToRgb(), original), 1.0);
}

TEST(SampleImage, TwelveBitIsUnreadable) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig12.jpg"));
  ASSERT_FALSE(jpeg.empty());
  CodecProps props{};
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  EXPECT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_UNREADABLE);
  PixelBlock block(227, 149);
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_FULL, block), CODEC_UNREADABLE);
  EXPECT_TRUE(block.Untouched());
}

// The same coefficients, however they are stored, decode to the same pixels.
TEST(DecodeStructure, RestartsProgressionAndArithmeticDecodeAlike) {
  const Image photo = test_images::ReadPpm(TestImage("testorig.ppm"));
  std::vector<uint8_t> plain = test_images::EncodeJpeg(photo, {});
  JpegOptions restarts, progressive, arithmetic;
  restarts.restart_interval = 1;
  progressive.progressive = true;
  arithmetic.arithmetic = true;
  arithmetic.progressive = true;
  ASSERT_LT(FindMarker(test_images::EncodeJpeg(photo, restarts), 0xD3), plain.size());
  for (int mode : {CODEC_DECODE_FULL, CODEC_DECODE_HALF}) {
    PixelBlock expected(0, 0);
    ASSERT_EQ(DecodeScaled(plain, mode, &expected), CODEC_OK);
    for (const JpegOptions& options : {restarts, progressive, arithmetic}) {
      std::vector<uint8_t> jpeg = test_images::EncodeJpeg(photo, options);
      PixelBlock actual(0, 0);
      ASSERT_EQ(DecodeScaled(jpeg, mode, &actual), CODEC_OK);
      EXPECT_EQ(actual.bytes, expected.bytes) << "mode " << mode;
    }
  }
}

TEST(DecodeStructure, TooManyScansAreUnreadable) {
  const Image image = test_images::Gradient(32, 32, 1);
  JpegOptions many, fewer;
  many.per_coefficient_scan_bits = 8;   // 568 scans
  fewer.per_coefficient_scan_bits = 5;  // 379 scans
  std::vector<uint8_t> refused = test_images::EncodeJpeg(image, many);
  std::vector<uint8_t> accepted = test_images::EncodeJpeg(image, fewer);
  PixelBlock block(32, 32);
  EXPECT_EQ(Decode(refused, CODEC_DECODE_FULL, block), CODEC_UNREADABLE);
  EXPECT_TRUE(block.GuardsIntact());
  EXPECT_EQ(Decode(accepted, CODEC_DECODE_FULL, block), CODEC_OK);
  EXPECT_LT(MeanAbsDiff(block.ToRgb(), GrayToRgb(image)), 1.0);
}

TEST(DecodeSize, OddSizesCropToTheRoundedDownScale) {
  std::vector<uint8_t> jpeg = test_images::EncodeJpeg(test_images::Gradient(1001, 667, 3), {});
  PixelBlock half(500, 333, 3), quarter(250, 166, 1);
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_HALF, half), CODEC_OK);
  EXPECT_TRUE(half.GuardsIntact());
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_QUARTER, quarter), CODEC_OK);
  EXPECT_TRUE(quarter.GuardsIntact());
  ExpectScalesAgree(jpeg, 1.0);
}

TEST(DecodeSize, SmallerRequestIsTheTopLeftOfTheImage) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  PixelBlock full(227, 149);
  ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, full), CODEC_OK);
  // Narrower rows go through scratch rows; full-width ones straight in.
  for (PixelBlock part : {PixelBlock(100, 50, 2), PixelBlock(227, 61, 1)}) {
    ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, part), CODEC_OK);
    EXPECT_EQ(part.ToRgb().data, Crop(full.ToRgb(), part.width, part.height).data);
    EXPECT_TRUE(part.GuardsIntact());
  }
}

TEST(DecodeSize, EmptyRequestWritesNothing) {
  std::vector<uint8_t> jpeg = test_images::EncodeJpeg(test_images::Gradient(3, 3, 3), {});
  PixelBlock none(0, 0), one(1, 1);
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_QUARTER, none), CODEC_OK);
  EXPECT_TRUE(none.Untouched());
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_HALF, one), CODEC_OK);
  EXPECT_FALSE(one.Untouched());
  EXPECT_TRUE(one.GuardsIntact());
  CodecProps props = DecodeRequest(jpeg, none);
  props.pixelBuffer = nullptr;
  props.pixelWidth = 3;
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_OK);
}

TEST(DecodeSize, RequestBeyondTheScaledImageIsRefused) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  // libjpeg rounds scaled sizes up (half: 114x75, quarter: 57x38); those may be asked for.
  PixelBlock most(114, 75);
  EXPECT_EQ(Decode(jpeg, CODEC_DECODE_HALF, most), CODEC_OK);
  const struct {
    int mode, width, height;
  } requests[] = {{CODEC_DECODE_HALF, 115, 75},
                  {CODEC_DECODE_HALF, 114, 76},
                  {CODEC_DECODE_FULL, 228, 149},
                  {CODEC_DECODE_QUARTER, 58, 38}};
  for (const auto& request : requests) {
    PixelBlock block(request.width, request.height);
    EXPECT_EQ(Decode(jpeg, request.mode, block), CODEC_BAD_REQUEST)
        << request.width << "x" << request.height;
    EXPECT_TRUE(block.Untouched());
  }
}

TEST(DecodeRequest, MalformedRequestsAreRefused) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  PixelBlock block(16, 16);
  const auto refused = [&](void (*spoil)(CodecProps&), int mode) {
    CodecProps props = DecodeRequest(jpeg, block);
    spoil(props);
    return CodecRead(props, mode) == CODEC_BAD_REQUEST && block.Untouched();
  };
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelChannels = 4; }, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelColor = 1; }, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelRowPad = 4; }, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelRowPad = -1; }, CODEC_DECODE_HALF));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelWidth = -1; }, CODEC_DECODE_QUARTER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelHeight = -16; }, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelBuffer = nullptr; }, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps&) {}, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps&) {}, 2));
}

}  // namespace
