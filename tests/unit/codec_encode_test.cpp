// Encoding the copy: what it holds, the buffer it must fit, the requests
// refused, and the Huffman tables made for each photo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
using codec_blocks::JpegBlock;
using codec_blocks::kGuard;
using codec_blocks::PixelBlock;
using codec_blocks::TestImage;
using codec_pictures::MeanAbsDiff;
using test_images::DecodedJpeg;
using test_images::Image;
using test_images::JpegOptions;

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

}  // namespace
