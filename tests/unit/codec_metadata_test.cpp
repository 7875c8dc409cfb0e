// What a copy carries from its original besides the pixels: the Exif
// orientation and an RGB colour profile, found wherever the original keeps
// them among its segments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/exif_orientation.h"
#include "codec_blocks.h"
#include "convert/output_block.h"
#include "metadata_samples.h"
#include "test_images.h"

namespace {

using codec_blocks::DecodeRequest;
using codec_blocks::FindMarker;
using codec_blocks::PixelBlock;
using codec_blocks::PixelRequest;
using metadata_samples::CameraExif;
using metadata_samples::ExifRecipe;
using metadata_samples::IccProfile;
using test_images::DecodedJpeg;
using test_images::Image;
using test_images::JpegOptions;

// The program's path for a photo: decoded at half size with its metadata,
// encoded at quality 90 into the program's output buffer.
std::vector<uint8_t> CopyAtHalfSize(std::vector<uint8_t> jpeg, CodecMetadata* metadata) {
  PixelBlock block(0, 0);
  CodecProps props{};
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  EXPECT_EQ(CodecRead(props, CODEC_READ_PARAMS), CODEC_OK);
  block = PixelBlock(props.jpegWidth / 2, props.jpegHeight / 2);
  props = DecodeRequest(jpeg, block);
  props.metadata = metadata;
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_HALF), CODEC_OK);
  OutputBlock out;
  EXPECT_TRUE(
      out.Prepare(CodecEncodedSizeBound(block.width, block.height) + metadata->SegmentBytes()));
  CodecProps encode = PixelRequest(block);
  encode.jpegMore = &out;
  encode.jpegColor = CODEC_JPEG_YCBCR;
  encode.jpegSubsampling = CODEC_SUBSAMPLE_422;
  encode.quality = 90;
  encode.metadata = metadata;
  EXPECT_EQ(CodecWrite(encode, CODEC_ENCODE_BUFFER), CODEC_OK);
  std::vector<uint8_t> copy;
  for (const auto piece : out.Pieces(encode.jpegSize))
    copy.insert(copy.end(), piece.begin(), piece.end());
  EXPECT_EQ(copy.size(), encode.jpegSize);
  return copy;
}

bool Holds(const std::vector<uint8_t>& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(Metadata, OnlyATurningOrientationTravelsFromTheCamerasExif) {
  const struct {
    ExifRecipe exif;
    uint16_t carried;  // 0: the copy has no Exif segment
  } cases[] = {
      {{false, 6, false}, 6}, {{true, 6, false}, 6}, {{true, 8, true}, 8},   {{false, 2, true}, 2},
      {{false, 1, false}, 0}, {{true, 0, false}, 0}, {{false, 9, false}, 0}, {{true, -1, false}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.exif.bigEndian ? "MM" : "II") + " orientation " +
                 std::to_string(c.exif.orientation));
    const std::vector<uint8_t> exif = CameraExif(c.exif);
    EXPECT_EQ(ExifOrientation(exif), c.exif.orientation < 0 ? 0 : c.exif.orientation);
    JpegOptions options;
    options.app1 = {exif};
    CodecMetadata metadata;
    const std::vector<uint8_t> copy = CopyAtHalfSize(
        test_images::EncodeJpeg(test_images::Gradient(96, 64, 3), options), &metadata);
    std::vector<test_images::Segment> app1;
    for (const auto& segment : test_images::SegmentsBeforeScan(copy)) {
      // JFIF, Exif, and the frame's own tables: no other application data.
      EXPECT_TRUE(segment.marker == 0xE0 || segment.marker == 0xE1 ||
                  (segment.marker >= 0xC0 && segment.marker < 0xE0))
          << "segment " << segment.marker;
      if (segment.marker == 0xE1)
        app1.push_back(segment);
    }
    EXPECT_FALSE(Holds(copy, "Canon"));
    EXPECT_FALSE(Holds(copy, "2024:05:01"));
    if (c.carried == 0) {
      EXPECT_TRUE(app1.empty());
      continue;
    }
    ASSERT_EQ(app1.size(), 1u);
    EXPECT_EQ(ExifOrientation(app1[0].data), c.carried);
    // One IFD0 entry and no further IFD: nothing else can hide in it.
    ASSERT_EQ(app1[0].data.size(), 32u);
    EXPECT_EQ(app1[0].data[14] << 8 | app1[0].data[15], 1);
    EXPECT_EQ(app1[0].data[28] | app1[0].data[29] | app1[0].data[30] | app1[0].data[31], 0);
    DecodedJpeg decoded;
    ASSERT_TRUE(test_images::DecodeJpeg(copy, &decoded));
    EXPECT_EQ(decoded.width, 48) << "the pixels are not turned";
    EXPECT_EQ(decoded.height, 32);
  }
}

TEST(Metadata, ExifReaderTrustsNothingOutsideTheSegment) {
  const std::vector<uint8_t> good = CameraExif({true, 6, false});
  ASSERT_EQ(ExifOrientation(good), 6);
  // Cut anywhere inside IFD0, the entry is gone.
  for (size_t cut : {size_t{6}, size_t{13}, size_t{16}, size_t{27}, size_t{6 + 8 + 2 + 12 * 4 - 1}})
    EXPECT_EQ(ExifOrientation(std::span(good).first(cut)), 0) << cut;
  const auto spoilt = [&](size_t at, uint8_t value) {
    std::vector<uint8_t> bad = good;
    bad[at] = value;
    return ExifOrientation(bad);
  };
  EXPECT_EQ(spoilt(6, 'X'), 0);                     // no byte order
  EXPECT_EQ(spoilt(9, 43), 0);                      // not TIFF
  EXPECT_EQ(spoilt(13, 0xF0), 0);                   // IFD0 past the end
  EXPECT_EQ(spoilt(15, 0xFF), 0);                   // more entries than the segment holds
  EXPECT_EQ(spoilt(6 + 8 + 2 + 12 * 3 + 3, 4), 0);  // the tag as a LONG
  EXPECT_EQ(spoilt(6 + 8 + 2 + 12 * 3 + 7, 2), 0);  // a count of 2
  const auto segment = ExifOrientationSegment(5);
  EXPECT_EQ(ExifOrientation(segment), 5);
}

TEST(Metadata, AnRgbProfileTravelsByteForByteAndNoOtherDoes) {
  const struct {
    std::vector<uint8_t> icc;
    bool carried;
  } cases[] = {
      {IccProfile(3144, "RGB "), true},
      {IccProfile(150000, "RGB "), true},  // three APP2 chunks
      {IccProfile(560, "GRAY"), false},
      {IccProfile(560000, "CMYK"), false},
      {IccProfile(1000, "Lab "), false},
      {IccProfile(1000, "RGB ", 4000), false},  // claims more than it holds
      {IccProfile(100, "RGB "), false},         // shorter than a header
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.icc.size()) + " bytes of " +
                 std::string(c.icc.begin() + 16, c.icc.begin() + 20));
    JpegOptions options;
    options.icc = c.icc;
    CodecMetadata metadata;
    const std::vector<uint8_t> copy = CopyAtHalfSize(
        test_images::EncodeJpeg(test_images::Noise(64, 40, 3, 5), options), &metadata);
    DecodedJpeg decoded;
    ASSERT_TRUE(test_images::DecodeJpeg(copy, &decoded));
    if (c.carried) {
      EXPECT_TRUE(decoded.icc == c.icc);
    } else {
      EXPECT_TRUE(decoded.icc.empty());
      EXPECT_EQ(FindMarker(copy, 0xE2), copy.size());
    }
  }
}

TEST(Metadata, TheEncodedSizeCountsTheSegmentsAcrossRegions) {
  // Grainy enough to fill more than one region of the output.
  const Image noise = test_images::Noise(4096, 1600, 3, 12);
  JpegOptions options;
  options.quality = 98;
  options.app1 = {CameraExif({false, 6, false})};
  options.icc = IccProfile(70000, "RGB ");
  CodecMetadata metadata;
  const std::vector<uint8_t> copy =
      CopyAtHalfSize(test_images::EncodeJpeg(noise, options), &metadata);
  EXPECT_GT(copy.size(), OutputBlock::kRegionBytes);
  EXPECT_EQ(metadata.orientation, 6);
  EXPECT_EQ(metadata.SegmentBytes(), (4 + 32) + 70000 + 2 * 18u);
  DecodedJpeg decoded;
  ASSERT_TRUE(test_images::DecodeJpeg(copy, &decoded));
  EXPECT_TRUE(decoded.icc == options.icc);
  EXPECT_EQ(copy[copy.size() - 2] << 8 | copy.back(), 0xFFD9);
}

// --- Among many other segments ---

// A whole segment: marker, length field and data.
std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& data) {
  const size_t length = data.size() + 2;
  std::vector<uint8_t> bytes = {0xFF, marker, static_cast<uint8_t>(length >> 8),
                                static_cast<uint8_t>(length)};
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

std::vector<uint8_t> Text(const std::string& text) {
  return {text.begin(), text.end()};
}

// The JPEG with `segments` between its SOI and the segments it had.
std::vector<uint8_t> WithSegmentsFirst(std::vector<uint8_t> jpeg,
                                       const std::vector<uint8_t>& segments) {
  jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
  return jpeg;
}

// What a full-size decode finds, and the pixels it gives.
CodecMetadata DecodeWithMetadata(std::vector<uint8_t>& jpeg, PixelBlock* block) {
  CodecMetadata metadata;
  CodecProps props = DecodeRequest(jpeg, *block);
  props.metadata = &metadata;
  EXPECT_EQ(CodecRead(props, CODEC_DECODE_FULL), CODEC_OK);
  return metadata;
}

bool HoldsProfile(const CodecMetadata& metadata, const std::vector<uint8_t>& icc) {
  return metadata.iccProfile != nullptr && metadata.iccProfileSize == icc.size() &&
         std::equal(icc.begin(), icc.end(), metadata.iccProfile.get());
}

TEST(Metadata, IsFoundAfterThousandsOfOtherSegments) {
  const std::vector<uint8_t> icc = IccProfile(150000, "RGB ");
  JpegOptions options;
  // Only the first Exif segment counts.
  options.app1 = {CameraExif({true, 6, false}), CameraExif({false, 3, false})};
  options.icc = icc;
  std::vector<uint8_t> plain = test_images::EncodeJpeg(test_images::Gradient(96, 64, 3), options);
  std::vector<uint8_t> others;
  const auto add = [&](const std::vector<uint8_t>& segment, int times) {
    for (int i = 0; i < times; ++i)
      others.insert(others.end(), segment.begin(), segment.end());
  };
  add(Segment(0xE1, {}), 20000);
  add(Segment(0xE1, Text(std::string("http://ns.adobe.com/xap/1.0/", 29) + "<x:xmpmeta/>")), 1);
  add(Segment(0xE2, {}), 5000);
  add(Segment(0xE2, Text(std::string("MPF\0II*\0", 8))), 1);
  add(Segment(0xFE, Text("a comment")), 1000);
  std::vector<uint8_t> padded = WithSegmentsFirst(plain, others);
  ASSERT_GT(padded.size(), 100000u);

  PixelBlock expected(96, 64), actual(96, 64);
  DecodeWithMetadata(plain, &expected);
  const CodecMetadata metadata = DecodeWithMetadata(padded, &actual);
  EXPECT_EQ(metadata.orientation, 6);
  EXPECT_TRUE(HoldsProfile(metadata, icc));
  EXPECT_EQ(actual.bytes, expected.bytes);
}

TEST(Metadata, IccChunksMakeAProfileOnlyWhenEachIsThereOnce) {
  const std::vector<uint8_t> icc = IccProfile(3000, "RGB ");
  struct Chunk {
    int number, count;
  };
  const struct {
    const char* name;
    std::vector<Chunk> chunks;
    bool carried;
  } cases[] = {
      {"in order", {{1, 3}, {2, 3}, {3, 3}}, true},
      {"out of order", {{3, 3}, {1, 3}, {2, 3}}, true},
      {"one missing", {{1, 3}, {3, 3}}, false},
      {"one twice", {{1, 3}, {2, 3}, {2, 3}, {3, 3}}, false},
      {"counts that differ", {{1, 3}, {2, 3}, {3, 4}}, false},
      {"a number 0", {{0, 3}, {1, 3}, {2, 3}, {3, 3}}, false},
      {"a number past the count", {{1, 2}, {2, 2}, {3, 2}}, false},
  };
  const std::vector<uint8_t> plain =
      test_images::EncodeJpeg(test_images::Gradient(32, 16, 3), JpegOptions{});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> segments;
    for (const Chunk& chunk : c.chunks) {
      std::vector<uint8_t> data = Text(std::string("ICC_PROFILE", 12));
      data.push_back(static_cast<uint8_t>(chunk.number));
      data.push_back(static_cast<uint8_t>(chunk.count));
      const size_t part = static_cast<size_t>((chunk.number + 2) % 3);  // chunk 1 holds the start
      data.insert(data.end(), icc.begin() + part * 1000, icc.begin() + part * 1000 + 1000);
      // Other segments between the chunks.
      const std::vector<uint8_t> segment = Segment(0xE2, data), other = Segment(0xE1, {});
      segments.insert(segments.end(), segment.begin(), segment.end());
      segments.insert(segments.end(), other.begin(), other.end());
    }
    std::vector<uint8_t> jpeg = WithSegmentsFirst(plain, segments);
    PixelBlock block(32, 16);
    const CodecMetadata metadata = DecodeWithMetadata(jpeg, &block);
    EXPECT_EQ(HoldsProfile(metadata, icc), c.carried);
    EXPECT_EQ(metadata.iccProfile != nullptr, c.carried);
  }
}

}  // namespace
