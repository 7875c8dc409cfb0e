// Damaged and foreign input: the decode fills what it can, says when there
// is nothing to read, and never writes outside the block.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec_blocks.h"
#include "codec_pictures.h"
#include "test_images.h"

namespace {

using codec_blocks::Decode;
using codec_blocks::DecodeRequest;
using codec_blocks::FindMarker;
using codec_blocks::PixelBlock;
using codec_blocks::TestImage;
using codec_pictures::Crop;
using test_images::Image;
using test_images::JpegOptions;

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

}  // namespace
