// Reports of how far a decode or an encode has come, and the work called off
// by the hook that receives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/codec.h"
#include "codec/large_blocks.h"
#include "codec_blocks.h"
#include "test_images.h"

namespace {

using codec_blocks::BgrRows;
using codec_blocks::DecodeRequest;
using codec_blocks::Encode;
using codec_blocks::EncodeRequest;
using codec_blocks::JpegBlock;
using codec_blocks::PixelBlock;
using codec_blocks::TestImage;
using test_images::Image;
using test_images::JpegOptions;

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
