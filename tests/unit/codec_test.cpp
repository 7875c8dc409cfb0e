#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/large_blocks.h"
#include "codec_blocks.h"
#include "codec_pictures.h"
#include "test_images.h"

namespace {

using codec_blocks::BgrRows;
using codec_blocks::Decode;
using codec_blocks::DecodeRequest;
using codec_blocks::DecodeScaled;
using codec_blocks::Encode;
using codec_blocks::EncodeRequest;
using codec_blocks::FindMarker;
using codec_blocks::JpegBlock;
using codec_blocks::kGuard;
using codec_blocks::PixelBlock;
using codec_blocks::TestImage;
using codec_pictures::BoxShrink;
using codec_pictures::Crop;
using codec_pictures::ExpectScalesAgree;
using codec_pictures::GrayToRgb;
using codec_pictures::MeanAbsDiff;
using test_images::DecodedJpeg;
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

TEST(DamagedInput, TruncatedDataDecodesAsFarAsItGoes) {
  const Image image = test_images::Noise(1001, 667, 3, 7);
  JpegOptions progressive;
  progressive.progressive = true;
  for (const JpegOptions& options : {JpegOptions{}, progressive}) {
    const std::vector<uint8_t> whole = test_images::EncodeJpeg(image, options);
    PixelBlock complete(500, 333);
    std::vector<uint8_t> copy = whole;
    ASSERT_EQ(Decode(copy, CODEC_DECODE_HALF, complete), CODEC_OK);
    for (int percent : {10, 50, 99}) {
      SCOPED_TRACE(std::to_string(percent) + "% progressive " +
                   std::to_string(options.progressive));
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + whole.size() * percent / 100);
      PixelBlock block(500, 333, 1);
      ASSERT_EQ(Decode(cut, CODEC_DECODE_HALF, block), CODEC_OK);
      EXPECT_TRUE(block.GuardsIntact());
      if (!options.progressive) {
        EXPECT_EQ(Crop(block.ToRgb(), 500, 16).data, Crop(complete.ToRgb(), 500, 16).data);
      }
    }
  }
}

TEST(DamagedInput, DataWithoutUsableHeadersIsUnreadable) {
  std::vector<std::vector<uint8_t>> inputs = {
      {0xFF}, {0xFF, 0xD8}, {0xFF, 0xD8, 0xFF}, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}};
  std::vector<uint8_t> noise = {0xFF, 0xD8};
  std::mt19937 random(1);
  for (int i = 0; i < 4096; ++i) {
    noise.push_back(static_cast<uint8_t>(random()));
  }
  inputs.push_back(noise);
  const std::vector<uint8_t> sample = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  const size_t sof = FindMarker(sample, 0xC0);
  ASSERT_LT(sof, sample.size());
  // Cut inside the frame header, then a height and a width of 0.
  inputs.emplace_back(sample.begin(), sample.begin() + sof + 9);
  for (size_t field : {sof + 5, sof + 7}) {
    std::vector<uint8_t> empty = sample;
    empty[field] = empty[field + 1] = 0;
    inputs.push_back(empty);
  }
  std::vector<uint8_t> two_components = test_images::EncodeJpeg(test_images::Noise(8, 8, 2, 1), {});
  ASSERT_FALSE(two_components.empty());
  inputs.push_back(two_components);
  // Cut inside an Exif segment, an ICC chunk, and a run of segments.
  inputs.push_back({0xFF, 0xD8, 0xFF, 0xE1, 0x10, 0x00, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M'});
  inputs.push_back({0xFF, 0xD8, 0xFF, 0xE2, 0x01, 0x00, 'I', 'C', 'C', '_', 'P',
                    'R',  'O',  'F',  'I',  'L',  'E',  0,   1,   1,   0});
  inputs.push_back({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x02, 0xFF, 0xE2, 0x00});
  for (size_t i = 0; i < inputs.size(); ++i) {
    PixelBlock block(1, 1);
    CodecProps props = DecodeRequest(inputs[i], block);
    EXPECT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_UNREADABLE) << "input " << i;
    CodecMetadata metadata;
    props.metadata = &metadata;
    EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_UNREADABLE) << "input " << i;
    EXPECT_TRUE(block.Untouched());
    EXPECT_EQ(metadata.iccProfile, nullptr);
  }
}

TEST(DamagedInput, EmptyBufferIsUnreadable) {
  std::vector<uint8_t> jpeg = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  PixelBlock block(8, 8);
  CodecProps props = DecodeRequest(jpeg, block);
  props.jpegSize = 0;
  EXPECT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_UNREADABLE);
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_UNREADABLE);
  props = DecodeRequest(jpeg, block);
  props.jpegBuffer = nullptr;
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_UNREADABLE);
  EXPECT_TRUE(block.Untouched());
}

TEST(DamagedInput, HeadersAloneGiveTheSize) {
  const std::vector<uint8_t> sample = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  const size_t sos = FindMarker(sample, 0xDA);
  std::vector<uint8_t> headers(sample.begin(), sample.begin() + sos + 14);
  CodecProps props{};
  props.jpegBuffer = headers.data();
  props.jpegSize = static_cast<uint32_t>(headers.size());
  ASSERT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_OK);
  EXPECT_EQ(props.jpegWidth, 227);
  EXPECT_EQ(props.jpegHeight, 149);
}

TEST(DamagedInput, CorruptScanDataStaysInsideTheBlock) {
  for (const char* name : {"testorig.jpg", "testimgint.jpg", "testimgari.jpg"}) {
    const std::vector<uint8_t> sample = test_images::ReadFileBytes(TestImage(name));
    const size_t data = FindMarker(sample, 0xDA) + 14;
    std::mt19937 random(3);
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<uint8_t> jpeg = sample;
      for (int i = 0; i < 8; ++i) {
        jpeg[data + random() % (jpeg.size() - data)] = static_cast<uint8_t>(random());
      }
      PixelBlock block(113, 74, 3);
      const int status = Decode(jpeg, CODEC_DECODE_HALF, block);
      EXPECT_TRUE(status == CODEC_OK || status == CODEC_UNREADABLE) << name << " " << trial;
      EXPECT_TRUE(block.GuardsIntact()) << name << " " << trial;
    }
  }
}

TEST(Encode, NoiseAtTopQualityFitsAndDecodes) {
  for (int size : {1, 8, 16, 17, 64}) {
    SCOPED_TRACE(std::to_string(size) + "x" + std::to_string(size));
    // Saturated noise is the hardest input to compress that we know of.
    Image noise = test_images::Noise(size, size, 3, static_cast<uint32_t>(size));
    for (uint8_t& byte : noise.data)
      byte = byte < 128 ? 0 : 255;
    const std::vector<uint8_t> jpeg = Encode(noise, 100);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_LT(jpeg.size(), CodecEncodedSizeBound(size, size));
    EXPECT_EQ(jpeg[jpeg.size() - 2] * 256 + jpeg.back(), 0xFFD9);
    DecodedJpeg decoded;
    ASSERT_TRUE(test_images::DecodeJpeg(jpeg, &decoded));
    EXPECT_EQ(decoded.width, size);
    EXPECT_EQ(decoded.height, size);
    EXPECT_EQ(decoded.components, 3);
    EXPECT_FALSE(decoded.progressive);
    EXPECT_FALSE(decoded.arithmetic);
    const int sampling[3][2] = {{2, 1}, {1, 1}, {1, 1}};
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(decoded.h_samp[c], sampling[c][0]) << "component " << c;
      EXPECT_EQ(decoded.v_samp[c], sampling[c][1]) << "component " << c;
    }
  }
}

TEST(Encode, NeverWritesPastTheCapacity) {
  const Image image = test_images::Noise(40, 24, 3, 9);
  const std::vector<uint8_t> fitting = Encode(image, 95);
  ASSERT_FALSE(fitting.empty());
  std::vector<uint8_t> pixels = BgrRows(image, 0);
  JpegBlock exact(fitting.size());
  CodecProps props = EncodeRequest(pixels, image, 0, exact, 95);
  EXPECT_EQ(CodecWrite(props, CODEC_ENCODE_BUFFER), CODEC_OK);
  EXPECT_EQ(exact.Encoded(props), fitting);
  EXPECT_TRUE(exact.GuardIntact());
  for (size_t capacity : {fitting.size() - 1, fitting.size() / 2, size_t{100}, size_t{1}}) {
    JpegBlock small(capacity);
    props = EncodeRequest(pixels, image, 0, small, 95);
    EXPECT_EQ(CodecWrite(props, CODEC_ENCODE_BUFFER), CODEC_OUTPUT_FULL) << capacity;
    EXPECT_EQ(props.jpegSize, 0u);
    EXPECT_TRUE(small.GuardIntact()) << capacity;
  }
}

TEST(Encode, QualityIsClampedToLibjpegsRange) {
  const Image image = test_images::Noise(32, 16, 3, 4);
  const std::vector<uint8_t> lowest = Encode(image, 1), highest = Encode(image, 100);
  EXPECT_EQ(Encode(image, 0), lowest);
  EXPECT_EQ(Encode(image, -5), lowest);
  EXPECT_EQ(Encode(image, 150), highest);
  EXPECT_GT(highest.size(), Encode(image, 10).size());
}

TEST(Encode, RoundTripIsCloseToTheOriginal) {
  const Image image = test_images::Gradient(160, 120, 3);
  std::vector<uint8_t> jpeg = Encode(image, 90, 3);
  EXPECT_EQ(Encode(image, 90, 0), jpeg);  // the row pad is skipped, not encoded
  PixelBlock block(160, 120, 1);
  ASSERT_EQ(Decode(jpeg, CODEC_DECODE_FULL, block), CODEC_OK);
  EXPECT_LT(MeanAbsDiff(block.ToRgb(), image), 1.5);
}

TEST(Encode, MalformedRequestsAreRefused) {
  const Image image = test_images::Gradient(16, 16, 3);
  std::vector<uint8_t> pixels = BgrRows(image, 0);
  JpegBlock out(4096);
  const auto refused = [&](void (*spoil)(CodecProps&), int mode) {
    CodecProps props = EncodeRequest(pixels, image, 0, out, 75);
    spoil(props);
    const int status = CodecWrite(props, mode);
    return (status == CODEC_BAD_REQUEST || status == CODEC_FAILED) && props.jpegSize == 0 &&
           std::all_of(out.bytes.begin(), out.bytes.end(), [](uint8_t b) { return b == kGuard; });
  };
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelWidth = 0; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelHeight = 0; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelHeight = -3; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelBuffer = nullptr; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.jpegBuffer = nullptr; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelChannels = 4; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelColor = 3; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.pixelRowPad = 4; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.jpegColor = 1; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps& p) { p.jpegSubsampling = 1; }, CODEC_ENCODE_BUFFER));
  EXPECT_TRUE(refused([](CodecProps&) {}, CODEC_DECODE_FULL));
  EXPECT_TRUE(refused([](CodecProps& p) { p.jpegSize = 0; }, CODEC_ENCODE_BUFFER));
}

// --- Huffman tables made for the photo ---

// The standard tables' encoding of the same pixels, by plain libjpeg.
std::vector<uint8_t> StandardTablesCopy(const Image& rgb, int quality) {
  JpegOptions options;
  options.quality = quality;
  options.sampling422 = true;
  return test_images::EncodeJpeg(rgb, options);
}

std::vector<std::vector<uint8_t>> HuffmanTables(const std::vector<uint8_t>& jpeg) {
  std::vector<std::vector<uint8_t>> tables;
  for (const auto& segment : test_images::SegmentsBeforeScan(jpeg)) {
    if (segment.marker == 0xC4)
      tables.push_back(segment.data);
  }
  return tables;
}

TEST(Encode, TablesMadeForThePhotoChangeNoPixelAndOnlyRemoveBytes) {
  PixelBlock photo(0, 0);
  std::vector<uint8_t> sample = test_images::ReadFileBytes(TestImage("testorig.jpg"));
  ASSERT_EQ(DecodeScaled(sample, CODEC_DECODE_FULL, &photo), CODEC_OK);
  const Image images[] = {photo.ToRgb(), test_images::Gradient(300, 200, 3),
                          test_images::Noise(123, 77, 3, 8)};
  for (const Image& image : images) {
    for (int quality : {50, 90}) {
      SCOPED_TRACE(std::to_string(image.width) + "x" + std::to_string(image.height) + " q" +
                   std::to_string(quality));
      const std::vector<uint8_t> standard = StandardTablesCopy(image, quality);
      LargeBlocks warm(SIZE_MAX);
      const std::vector<uint8_t> made = Encode(image, quality, 1, &warm);
      ASSERT_FALSE(made.empty());
      EXPECT_LE(made.size(), standard.size());
      EXPECT_NE(HuffmanTables(made), HuffmanTables(standard));
      DecodedJpeg a, b;
      ASSERT_TRUE(test_images::DecodeJpeg(made, &a));
      ASSERT_TRUE(test_images::DecodeJpeg(standard, &b));
      EXPECT_FALSE(a.progressive);
      EXPECT_TRUE(a.rgb.data == b.rgb.data) << "the same pixels";
      // A second encoding of the same image, at another quality, reuses the
      // first one's memory and must not depend on it.
      const std::vector<uint8_t> retry = Encode(image, quality + 5, 1, &warm);
      EXPECT_EQ(retry, Encode(image, quality + 5, 1));
    }
  }
}

TEST(LargeBlocks, AKeptBlockServesTheSmallestRequestItHolds) {
  const size_t kib = 1024;
  LargeBlocks blocks(1024 * kib);
  EXPECT_EQ(blocks.Take(1024 * kib + 1), nullptr);
  void* big = blocks.Take(300 * kib);
  void* small = blocks.Take(200 * kib);
  ASSERT_TRUE(big != nullptr && small != nullptr);
  blocks.Give(big, 300 * kib);
  blocks.Give(small, 200 * kib);
  EXPECT_EQ(blocks.Take(150 * kib), small);
  EXPECT_EQ(blocks.Take(250 * kib), big);
  std::memset(big, 1, 250 * kib);
  // Given back with the size it was asked for, it still holds its own.
  blocks.Give(small, 150 * kib);
  void* again = blocks.Take(200 * kib);
  EXPECT_EQ(again, small);
  std::memset(again, 2, 200 * kib);
  blocks.Give(again, 200 * kib);
  blocks.Give(big, 250 * kib);
  blocks.Release();
}

TEST(Encode, WithoutMemoryForTheTablesTheStandardOnesMakeTheCopy) {
  const Image image = test_images::Gradient(512, 384, 3);
  const std::vector<uint8_t> made = Encode(image, 90);
  // Room for row buffers, not for the whole image's coefficients.
  LargeBlocks limited(256 * 1024);
  const std::vector<uint8_t> fallback = Encode(image, 90, 0, &limited);
  EXPECT_EQ(fallback, StandardTablesCopy(image, 90));
  EXPECT_LT(made.size(), fallback.size());

  // Without even the row buffers the encode says so, with no length.
  LargeBlocks none(0);
  std::vector<uint8_t> pixels = BgrRows(image, 0);
  JpegBlock out(static_cast<size_t>(CodecEncodedSizeBound(image.width, image.height)));
  CodecProps encode = EncodeRequest(pixels, image, 0, out, 90);
  encode.largeBlocks = &none;
  EXPECT_EQ(CodecWrite(encode, CODEC_ENCODE_BUFFER), CODEC_NO_MEMORY);
  EXPECT_EQ(encode.jpegSize, 0u);

  // A decode that cannot have its memory says so: the photo is not at fault.
  JpegOptions progressive;
  progressive.progressive = true;
  std::vector<uint8_t> jpeg = test_images::EncodeJpeg(image, progressive);
  PixelBlock block(512, 384);
  CodecProps props = DecodeRequest(jpeg, block);
  props.largeBlocks = &limited;
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_NO_MEMORY);
}

// --- Reports of how far the work has come ---

// Notes every report, and calls the work off at the first that reaches `stopAt`.
class ProgressLog final : public CodecProgress {
 public:
  explicit ProgressLog(double stopAt = 2) : stopAt_(stopAt) { reports.reserve(1 << 16); }
  bool Report(double done) noexcept override {
    reports.push_back(done);
    return done < stopAt_;
  }
  bool Steady() const {
    return std::is_sorted(reports.begin(), reports.end()) &&
           std::all_of(reports.begin(), reports.end(), [](double d) { return d >= 0 && d <= 1; });
  }
  size_t Below(double done) const {
    return static_cast<size_t>(
        std::count_if(reports.begin(), reports.end(), [done](double d) { return d < done; }));
  }
  std::vector<double> reports;

 private:
  double stopAt_;
};

TEST(Progress, RisesFromZeroToNearlyOneThroughEveryPass) {
  const Image photo = test_images::ReadPpm(TestImage("testorig.ppm"));
  // More scans than libjpeg guesses at first: it raises its estimate as it goes.
  JpegOptions progressive;
  progressive.per_coefficient_scan_bits = 0;
  for (const JpegOptions& options : {JpegOptions{}, progressive}) {
    SCOPED_TRACE(options.per_coefficient_scan_bits < 0 ? "baseline" : "progressive");
    std::vector<uint8_t> jpeg = test_images::EncodeJpeg(photo, options);
    PixelBlock block(227, 149);
    ProgressLog log;
    CodecProps props = DecodeRequest(jpeg, block);
    props.progress = &log;
    ASSERT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_OK);
    EXPECT_TRUE(log.Steady());
    ASSERT_FALSE(log.reports.empty());
    EXPECT_GT(log.reports.back(), 0.9);
    // A progressive photo's scans are read before the first row comes out,
    // in the first half; the rows in the second.
    if (options.per_coefficient_scan_bits >= 0) {
      EXPECT_GT(log.Below(0.5), 20u);
    }
  }
  // The encode's second pass, over the coefficients for the tables made for
  // the photo, is the second half.
  std::vector<uint8_t> pixels = BgrRows(photo, 0);
  JpegBlock out(static_cast<size_t>(CodecEncodedSizeBound(photo.width, photo.height)));
  ProgressLog log;
  CodecProps props = EncodeRequest(pixels, photo, 0, out, 90);
  props.progress = &log;
  ASSERT_EQ(CodecWrite(props, CODEC_ENCODE_BUFFER), CODEC_OK);
  EXPECT_TRUE(log.Steady());
  EXPECT_GT(log.Below(0.5), 0u);
  EXPECT_GT(log.reports.size(), log.Below(0.5));
  EXPECT_GT(log.reports.back(), 0.9);
}

TEST(Progress, AHookThatSaysStopCancelsAndLeavesNothingBehind) {
  const Image photo = test_images::ReadPpm(TestImage("testorig.ppm"));
  JpegOptions progressive;
  progressive.progressive = true;
  progressive.icc = std::vector<uint8_t>(70000, 7);  // the decode holds it when stopped
  progressive.icc[16] = 'R', progressive.icc[17] = 'G', progressive.icc[18] = 'B';
  LargeBlocks blocks(SIZE_MAX);
  for (double stopAt : {0.2, 0.7}) {
    SCOPED_TRACE(stopAt);
    std::vector<uint8_t> jpeg = test_images::EncodeJpeg(photo, progressive);
    PixelBlock block(227, 149);
    CodecMetadata metadata;
    metadata.orientation = 6;
    ProgressLog decodeLog(stopAt);
    CodecProps decode = DecodeRequest(jpeg, block);
    decode.metadata = &metadata;
    decode.progress = &decodeLog;
    decode.largeBlocks = &blocks;
    EXPECT_EQ(CodecRead(decode, CODEC_DECODE_FULL), CODEC_CANCELLED);
    EXPECT_EQ(decodeLog.reports.size(), decodeLog.Below(stopAt) + 1) << "stopped at once";
    EXPECT_EQ(metadata.orientation, 0);
    EXPECT_EQ(metadata.iccProfile, nullptr);

    std::vector<uint8_t> pixels = BgrRows(photo, 0);
    JpegBlock out(static_cast<size_t>(CodecEncodedSizeBound(photo.width, photo.height)));
    ProgressLog encodeLog(stopAt);
    CodecProps encode = EncodeRequest(pixels, photo, 0, out, 90);
    encode.progress = &encodeLog;
    encode.largeBlocks = &blocks;
    EXPECT_EQ(CodecWrite(encode, CODEC_ENCODE_BUFFER), CODEC_CANCELLED);
    EXPECT_EQ(encode.jpegSize, 0u);
    EXPECT_EQ(encodeLog.reports.size(), encodeLog.Below(stopAt) + 1) << "stopped at once";
  }
  // What the stopped work gave back serves the next encode as well as new memory.
  EXPECT_EQ(Encode(photo, 90, 0, &blocks), Encode(photo, 90));
}

}  // namespace
