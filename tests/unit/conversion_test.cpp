// One photo's conversion: its headers, its decode at the chosen size, its
// encodes, and what it holds, with the real codec.
#include "convert/conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "test_images.h"

namespace {

// A conversion holding a photo's bytes, as a photo's first steps leave it.
void Load(Conversion& conversion, const std::vector<uint8_t>& bytes) {
  ASSERT_FALSE(bytes.empty());
  ASSERT_TRUE(conversion.PrepareInput(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), conversion.Input().begin());
}

uint64_t Length(const std::vector<std::span<const uint8_t>>& pieces) {
  uint64_t bytes = 0;
  for (const auto piece : pieces)
    bytes += piece.size();
  return bytes;
}

TEST(Conversion, DecodesAtTheChosenSizeAndGivesBackWhatItIsDoneWith) {
  const struct {
    SizeChoice choice;
    int32_t width, height;
  } cases[] = {{SIZE_FULL, 227, 149}, {SIZE_HALF, 113, 74}, {SIZE_QUARTER, 56, 37}};
  for (const auto& c : cases) {
    for (const auto blocks : {Conversion::Blocks::kEach, Conversion::Blocks::kWarm}) {
      SCOPED_TRACE(std::to_string(c.choice) +
                   (blocks == Conversion::Blocks::kEach ? " each" : " warm"));
      Conversion conversion(blocks);
      Load(conversion, Photo());
      ASSERT_TRUE(conversion.ReadHeader());
      EXPECT_EQ(conversion.InputWidth(), 227);
      EXPECT_EQ(conversion.InputHeight(), 149);
      ASSERT_EQ(conversion.Decode(c.choice, nullptr), CODEC_OK);
      EXPECT_EQ(conversion.Width(), c.width);
      EXPECT_EQ(conversion.Height(), c.height);
      EXPECT_EQ(conversion.InputBytes(), Photo().size());
      // One photo at a time gives its bytes back once decoded; a worker
      // keeps them for its next photo.
      EXPECT_EQ(conversion.Input().empty(), blocks == Conversion::Blocks::kEach);
      ASSERT_TRUE(conversion.PrepareCopy());
      ASSERT_EQ(conversion.Encode(90, nullptr), CODEC_OK);
      test_images::DecodedJpeg copy;
      std::vector<uint8_t> bytes;
      for (const auto piece : conversion.CopyPieces())
        bytes.insert(bytes.end(), piece.begin(), piece.end());
      ASSERT_TRUE(test_images::DecodeJpeg(bytes, &copy));
      EXPECT_EQ(copy.width, c.width);
      EXPECT_EQ(copy.height, c.height);
    }
  }
}

TEST(Conversion, ReportsWhatItCannotDoAndKeepsTheInput) {
  Conversion undecodable;
  Load(undecodable, test_images::ReadFileBytes(std::string(TBM_TEST_DATA_DIR) + "/testorig12.jpg"));
  EXPECT_FALSE(undecodable.ReadHeader());
  EXPECT_EQ(undecodable.Decode(SIZE_FULL, nullptr), CODEC_UNREADABLE);
  EXPECT_FALSE(undecodable.Input().empty());

  // More pixels than a process holds, as a forged header may claim.
  Conversion huge;
  Load(huge, PhotoClaiming(60000, 60000));
  ASSERT_TRUE(huge.ReadHeader());
  EXPECT_EQ(huge.Decode(SIZE_FULL, nullptr), CODEC_NO_MEMORY);
  EXPECT_FALSE(huge.Input().empty());

  // A quarter of 3 by 3 is 0 by 0: nothing to encode, no copy.
  Conversion tiny;
  Load(tiny, PhotoClaiming(3, 3));
  ASSERT_TRUE(tiny.ReadHeader());
  ASSERT_EQ(tiny.Decode(SIZE_QUARTER, nullptr), CODEC_OK);
  EXPECT_EQ(tiny.Width(), 0);
  EXPECT_NE(tiny.Encode(90, nullptr), CODEC_OK);
  EXPECT_EQ(tiny.CopyBytes(), 0u);
}

TEST(Conversion, EachEncodeReplacesTheCopy) {
  Conversion conversion;
  Load(conversion, Photo());
  ASSERT_TRUE(conversion.ReadHeader());
  ASSERT_EQ(conversion.Decode(SIZE_HALF, nullptr), CODEC_OK);
  ASSERT_EQ(conversion.Encode(90, nullptr), CODEC_OK);
  const uint32_t at90 = conversion.CopyBytes();
  EXPECT_EQ(Length(conversion.CopyPieces()), at90);
  ASSERT_EQ(conversion.Encode(20, nullptr), CODEC_OK);
  EXPECT_LT(conversion.CopyBytes(), at90);
  EXPECT_EQ(Length(conversion.CopyPieces()), conversion.CopyBytes());
  conversion.Release();
  EXPECT_EQ(conversion.CopyBytes(), 0u);
  EXPECT_TRUE(conversion.CopyPieces().empty());
}

std::vector<uint8_t> Joined(const std::vector<std::span<const uint8_t>>& pieces) {
  std::vector<uint8_t> bytes;
  for (const auto piece : pieces)
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

// Stops the work at its `at`th report.
class StopAt final : public CodecProgress {
 public:
  explicit StopAt(int at) : at_(at) {}
  bool Report(double) noexcept override { return ++reports_ < at_; }

 private:
  const int at_;
  int reports_ = 0;
};

TEST(Conversion, WithinALimitKeepsTheCopyOfTheHighestQualityThatFits) {
  // Tall enough for the search to guess from a sample of its rows.
  test_images::Image picture = test_images::Noise(320, 640, 3, 5);
  const test_images::Image smooth = test_images::Gradient(320, 640, 3);
  for (size_t i = 0; i < picture.data.size(); ++i)
    picture.data[i] = static_cast<uint8_t>((picture.data[i] / 8 + smooth.data[i]) & 0xFF);
  const std::vector<uint8_t> jpeg = test_images::EncodeJpeg(picture, {});
  Conversion conversion;
  Load(conversion, jpeg);
  ASSERT_TRUE(conversion.ReadHeader());
  ASSERT_EQ(conversion.Decode(SIZE_FULL, nullptr), CODEC_OK);
  ASSERT_EQ(conversion.Encode(60, nullptr), CODEC_OK);
  const uint64_t limit = conversion.CopyBytes();
  ASSERT_EQ(conversion.Encode(1, nullptr), CODEC_OK);
  const uint32_t atOne = conversion.CopyBytes();

  QualitySearch found;
  ASSERT_EQ(conversion.EncodeWithin(limit, 85, nullptr, found), CODEC_OK);
  ASSERT_EQ(found.outcome, QualitySearch::kFound);
  EXPECT_GE(found.quality, 60);
  EXPECT_LE(found.encodes, kMostEncodes);
  EXPECT_EQ(conversion.CopyBytes(), found.bytes);
  EXPECT_LE(found.bytes, limit);
  const std::vector<uint8_t> kept = Joined(conversion.CopyPieces());
  // The copy kept is the one an encode at that quality makes, and one
  // quality up is over the limit.
  ASSERT_EQ(conversion.Encode(found.quality + 1, nullptr), CODEC_OK);
  EXPECT_GT(conversion.CopyBytes(), limit);
  ASSERT_EQ(conversion.Encode(found.quality, nullptr), CODEC_OK);
  EXPECT_EQ(Joined(conversion.CopyPieces()), kept);

  // Out of reach: quality 1's copy, kept for the user to save or not.
  ASSERT_EQ(conversion.EncodeWithin(atOne - 1, 85, nullptr, found), CODEC_OK);
  EXPECT_EQ(found.outcome, QualitySearch::kNoneFits);
  EXPECT_EQ(found.quality, 1);
  EXPECT_EQ(conversion.CopyBytes(), atOne);

  // Stopped: no copy.
  StopAt stop(5);
  EXPECT_EQ(conversion.EncodeWithin(limit, 85, &stop, found), CODEC_CANCELLED);
  EXPECT_EQ(found.outcome, QualitySearch::kStopped);
  EXPECT_EQ(conversion.CopyBytes(), 0u);
}

TEST(Conversion, ItsMemoryNeedCountsTheWholeImageOnlyWhereTheDecodeHoldsIt) {
  const test_images::Image picture = test_images::Gradient(227, 149, 3);
  Conversion baseline;
  Load(baseline, test_images::EncodeJpeg(picture, {}));
  ASSERT_TRUE(baseline.ReadHeader());
  Conversion progressive;
  test_images::JpegOptions options;
  options.progressive = true;
  Load(progressive, test_images::EncodeJpeg(picture, options));
  ASSERT_TRUE(progressive.ReadHeader());
  // 4:2:0: 30 by 20 luminance blocks, 15 by 10 of each chroma, 128 bytes each.
  const uint64_t coefficients = 900 * 128;
  EXPECT_EQ(progressive.MemoryNeed(SIZE_FULL) - progressive.InputBytes(),
            baseline.MemoryNeed(SIZE_FULL) - baseline.InputBytes() + coefficients);
  // Pixels, the encoder's coefficients and the copy's bound shrink with the
  // size; the decoder's coefficients are the whole photo's at any size.
  EXPECT_LT(progressive.MemoryNeed(SIZE_QUARTER), progressive.MemoryNeed(SIZE_HALF));
  EXPECT_GT(progressive.MemoryNeed(SIZE_QUARTER) - progressive.InputBytes(), coefficients);
  EXPECT_GE(baseline.MemoryNeed(SIZE_FULL) - baseline.InputBytes(),
            BlockSize(227, 149) + 2 * CodecEncodedSizeBound(227, 149));
}

}  // namespace
