// What the two dialogs compute and decide, with the real codec underneath.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

std::vector<uint8_t> ReadTestImage(const std::string& name) {
  std::ifstream in(std::string(TBM_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A job holding a photo's bytes, as the pipeline leaves it before "Output Size".
void LoadPhoto(JobState& job, const std::vector<uint8_t>& bytes) {
  ASSERT_FALSE(bytes.empty());
  ASSERT_TRUE(job.jpegBuffer.Allocate(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), job.jpegBuffer.data());
  job.fileSize = static_cast<uint32_t>(bytes.size());
}

TEST(SizeOptionTexts, OffersFullHalfAndQuarterRoundedDown) {
  EXPECT_EQ(SizeOptionTexts(1001, 667),
            (std::array<std::string, 3>{"1001 by 667", "500 by 333", "250 by 166"}));
  EXPECT_EQ(SizeOptionTexts(3, 3), (std::array<std::string, 3>{"3 by 3", "1 by 1", "0 by 0"}));
}

TEST(ScaleBySizeChoice, DividesByTwoOrFour) {
  const struct {
    SizeChoice choice;
    int32_t width, height;
  } cases[] = {{SIZE_FULL, 2000, 1500}, {SIZE_HALF, 1000, 750}, {SIZE_QUARTER, 500, 375}};
  for (const auto& c : cases) {
    JobState job;
    job.width = 2000;
    job.height = 1500;
    job.sizeChoice = c.choice;
    ScaleBySizeChoice(job);
    EXPECT_EQ(job.width, c.width);
    EXPECT_EQ(job.height, c.height);
  }
}

TEST(SizeDialog, ReadsTheSizeAndDecodesAtTheChosenScale) {
  const auto photo = ReadTestImage("testorig.jpg");
  for (SizeChoice choice : {SIZE_FULL, SIZE_HALF, SIZE_QUARTER}) {
    JobState job;
    CodecProps codec{};
    LoadPhoto(job, photo);
    ASSERT_TRUE(ReadImageSize(job, codec));
    EXPECT_EQ(job.width, 227);
    EXPECT_EQ(job.height, 149);
    job.sizeChoice = choice;
    ASSERT_EQ(ConfirmSize(job, codec), SIZE_CONFIRMED);
    const int32_t divisor = choice == SIZE_FULL ? 1 : choice == SIZE_HALF ? 2 : 4;
    EXPECT_EQ(job.width, 227 / divisor);
    EXPECT_EQ(job.height, 149 / divisor);
    EXPECT_EQ(job.rowPad, RowPad(job.width));
    EXPECT_EQ(job.pixelBuffer.size(), BlockSize(job.width, job.height));
    EXPECT_EQ(job.jpegBuffer.data(), nullptr) << "the input's bytes are released";
  }
}

TEST(SizeDialog, HalfOfA2000By1500PhotoNeedsNoPad) {
  JobState job;
  job.width = 2000;
  job.height = 1500;
  job.sizeChoice = SIZE_HALF;
  ScaleBySizeChoice(job);
  EXPECT_EQ(RowPad(job.width), 0);
  EXPECT_EQ(BlockSize(job.width, job.height), 2'250'000u);
}

TEST(SizeDialog, AnUndecodablePhotoIsReportedAndKeepsItsBytes) {
  JobState job;
  CodecProps codec{};
  LoadPhoto(job, ReadTestImage("testorig12.jpg"));  // 12-bit samples: not for this codec
  EXPECT_FALSE(ReadImageSize(job, codec));
  EXPECT_EQ(ConfirmSize(job, codec), SIZE_UNREADABLE);
  EXPECT_EQ(job.pixelBuffer.data(), nullptr);
  EXPECT_NE(job.jpegBuffer.data(), nullptr);
}

TEST(SizeDialog, APixelBufferTooLargeForTheProcessIsReported) {
  JobState job;
  CodecProps codec{};
  LoadPhoto(job, ReadTestImage("testorig.jpg"));
  ASSERT_TRUE(ReadImageSize(job, codec));
  job.width = 60000;  // what a forged header could claim
  job.height = 60000;
  EXPECT_EQ(ConfirmSize(job, codec), SIZE_NO_MEMORY);
  EXPECT_EQ(job.pixelBuffer.data(), nullptr);
  EXPECT_NE(job.jpegBuffer.data(), nullptr);
}

TEST(QualityFromText, ReadsLikeADecimalConversionOfNineCharacters) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"90", 90},
      {"090", 90},
      {"", 0},
      {"abc", 0},
      {"  \t75", 75},
      {"\r\n\v\f5", 5},
      {"+80", 80},
      {"-5", -5},
      {"+-5", 0},
      {"- 5", 0},
      {"70x9", 70},
      {"7 0", 7},
      {"999999999", 999999999},
      {"1234567890", 123456789},
      {"         42", 0},  // nine blanks leave no digit within the nine characters
      {"-00000012", -12},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QualityFromText(c.text), c.value) << '"' << c.text << '"';
}

TEST(DecideQuality, SavesOnTheSameValueAndRetriesOnAnother) {
  JobState job;
  EXPECT_EQ(DecideQuality(job, "90"), QUALITY_SAVE);
  EXPECT_EQ(DecideQuality(job, "090"), QUALITY_SAVE);
  EXPECT_EQ(job.quality, 90);
  EXPECT_EQ(DecideQuality(job, "70"), QUALITY_RETRY);
  EXPECT_EQ(job.quality, 70);
  EXPECT_EQ(DecideQuality(job, "70"), QUALITY_SAVE);
  EXPECT_EQ(DecideQuality(job, ""), QUALITY_RETRY);  // an emptied field is quality 0
  EXPECT_EQ(job.quality, 0);
}

TEST(QualityDialog, EncodesAndShowsResolutionAndSizes) {
  JobState job;
  CodecProps codec{};
  LoadPhoto(job, ReadTestImage("testorig.jpg"));
  ASSERT_TRUE(ReadImageSize(job, codec));
  job.sizeChoice = SIZE_HALF;
  ASSERT_EQ(ConfirmSize(job, codec), SIZE_CONFIRMED);
  ASSERT_TRUE(job.outputBuffer.Prepare(OutputBound(job.width, job.height, job.metadata)));

  EncodeAtQuality(job, codec);
  ASSERT_GT(job.encodedSize, 0u);
  const auto pieces = job.outputBuffer.Pieces(job.encodedSize);
  ASSERT_EQ(pieces.size(), 1u);
  ASSERT_EQ(pieces[0].size(), job.encodedSize);
  EXPECT_EQ(pieces[0][0], 0xFF);
  EXPECT_EQ(pieces[0][1], 0xD8);
  EXPECT_EQ(pieces[0][job.encodedSize - 2], 0xFF);
  EXPECT_EQ(pieces[0][job.encodedSize - 1], 0xD9);

  const QualityTexts texts = QualityDialogTexts(job);
  EXPECT_EQ(texts.resolution, "113 by 74");
  EXPECT_EQ(texts.quality, "90");
  EXPECT_EQ(texts.inputSize, KbText(job.fileSize));
  EXPECT_EQ(texts.outputSize, KbText(job.encodedSize));

  const uint32_t at90 = job.encodedSize;
  job.quality = 20;
  EncodeAtQuality(job, codec);
  EXPECT_LT(job.encodedSize, at90);
}

TEST(QualityDialog, AZeroByZeroImageHasNoEncoding) {
  JobState job;
  job.width = 0;
  job.height = 0;
  ASSERT_TRUE(job.pixelBuffer.Allocate(BlockSize(0, 0)));
  ASSERT_TRUE(job.outputBuffer.Prepare(OutputBound(0, 0, job.metadata)));
  CodecProps codec{};
  EncodeAtQuality(job, codec);
  EXPECT_EQ(job.encodedSize, 0u);
  EXPECT_EQ(QualityDialogTexts(job).outputSize, "0 KB");
}

}  // namespace
