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

TEST(UserChoices, StartAtFullSizeAndQuality90) {
  const JobState job;
  EXPECT_EQ(job.choices.sizeChoice, SIZE_FULL);
  EXPECT_EQ(job.choices.quality, 90);
  EXPECT_FALSE(job.choices.sameForRest);
  EXPECT_EQ(job.input.commandLineLength, 0u);
}

TEST(SizeOptionTexts, OffersFullHalfAndQuarterRoundedDown) {
  EXPECT_EQ(SizeOptionTexts(1001, 667),
            (std::array<std::string, 3>{"1001 by 667", "500 by 333", "250 by 166"}));
  EXPECT_EQ(SizeOptionTexts(3, 3), (std::array<std::string, 3>{"3 by 3", "1 by 1", "0 by 0"}));
}

TEST(KbText, ShiftsRightByTenBits) {
  EXPECT_EQ(KbText(0), "0 KB");
  EXPECT_EQ(KbText(1023), "0 KB");
  EXPECT_EQ(KbText(1024), "1 KB");
  EXPECT_EQ(KbText(2'000'000), "1953 KB");
  EXPECT_EQ(KbText(0xFFFFFFFFu), "4194303 KB");
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
  UserChoices choices;
  const PhotoWork photo;
  EXPECT_EQ(DecideQuality(choices, photo, "90"), QUALITY_SAVE);
  EXPECT_EQ(DecideQuality(choices, photo, "090"), QUALITY_SAVE);
  EXPECT_EQ(choices.quality, 90);
  EXPECT_EQ(DecideQuality(choices, photo, "70"), QUALITY_RETRY);
  EXPECT_EQ(choices.quality, 70);
  EXPECT_EQ(DecideQuality(choices, photo, "70"), QUALITY_SAVE);
  EXPECT_EQ(DecideQuality(choices, photo, ""), QUALITY_RETRY);  // an emptied field is quality 0
  EXPECT_EQ(choices.quality, 0);
}

TEST(QualityDialog, ShowsResolutionQualityAndBothSizes) {
  PhotoWork photo;
  const std::vector<uint8_t> bytes = ReadTestImage("testorig.jpg");
  ASSERT_TRUE(photo.conversion.PrepareInput(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), photo.conversion.Input().begin());
  ASSERT_TRUE(photo.conversion.ReadHeader());
  ASSERT_EQ(ConfirmSize(photo, SIZE_HALF), SIZE_CONFIRMED);
  UserChoices choices;
  choices.quality = 75;
  EncodeAtQuality(photo, choices.quality);
  EXPECT_EQ(photo.encodeStatus, CODEC_OK);
  const QualityTexts texts = QualityDialogTexts(photo, choices);
  EXPECT_EQ(texts.resolution, "113 by 74");
  EXPECT_EQ(texts.quality, "75");
  EXPECT_EQ(texts.inputSize, KbText(static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(texts.outputSize, KbText(photo.conversion.CopyBytes()));
  EXPECT_NE(photo.conversion.CopyBytes(), 0u);
}

}  // namespace
