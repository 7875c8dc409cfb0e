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

TEST(DecideQuality, SavesWhatIsShownAndTriesAgainWithWhatIsTyped) {
  const std::optional<uint32_t> none;
  const struct {
    int32_t shown;
    std::optional<uint32_t> shownLimit;
    const char* typed;
    const char* typedLimit;
    QualityResult result;
    int32_t quality;  // the user's quality after, 90 before
    std::optional<uint32_t> limit;
  } cases[] = {
      {90, none, "90", "", QUALITY_SAVE, 90, none},
      {90, none, "090", "", QUALITY_SAVE, 90, none},
      {90, none, "70", "", QUALITY_RETRY, 70, none},
      {90, none, "", "", QUALITY_RETRY, 0, none},  // an emptied field is quality 0
      {90, none, "90", "200", QUALITY_RETRY, 90, 200},
      // After a search the field shows the quality found, which is not a
      // quality the user typed: the ceiling stays the one typed before.
      {62, 200, "62", "200", QUALITY_SAVE, 90, 200},
      {62, 200, "62", "0200", QUALITY_SAVE, 90, 200},
      {62, 200, "62", "150", QUALITY_RETRY, 90, 150},
      {62, 200, "80", "200", QUALITY_RETRY, 80, 200},
      {62, 200, "62", "", QUALITY_RETRY, 90, none},
      {1, 50, "1", "50", QUALITY_SAVE, 90, 50},  // no quality fits: quality 1 saved
      {90, none, "90", "0", QUALITY_RETRY, 90, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.typed) + " at most " + c.typedLimit);
    UserChoices choices;
    choices.atMostKb = c.shownLimit;
    PhotoWork photo;
    photo.shownQuality = c.shown;
    photo.shownLimit = c.shownLimit;
    EXPECT_EQ(DecideQuality(choices, photo, c.typed, c.typedLimit), c.result);
    EXPECT_EQ(choices.quality, c.quality);
    EXPECT_EQ(choices.atMostKb, c.limit);
  }
}

TEST(LimitFromText, IsANumberOfKbOrNone) {
  EXPECT_EQ(LimitFromText(""), std::nullopt);
  EXPECT_EQ(LimitFromText("   "), std::nullopt);
  EXPECT_EQ(LimitFromText("-5"), std::nullopt);
  EXPECT_EQ(LimitFromText("KB"), std::nullopt);
  EXPECT_EQ(LimitFromText("200"), 200u);
  EXPECT_EQ(LimitFromText(" 0"), 0u);
  EXPECT_EQ(LimitFromText("12345678901"), 123456789u);
  EXPECT_EQ(LimitMissedText(200), "Even at quality 1 the copy is larger than 200 KB.");
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
  EncodeForDialog(photo, choices);
  EXPECT_EQ(photo.encodeStatus, CODEC_OK);
  const QualityTexts texts = QualityDialogTexts(photo, choices);
  EXPECT_EQ(texts.resolution, "113 by 74");
  EXPECT_EQ(texts.quality, "75");
  EXPECT_EQ(texts.inputSize, KbText(static_cast<uint32_t>(bytes.size())));
  EXPECT_EQ(texts.outputSize, KbText(photo.conversion.CopyBytes()));
  EXPECT_EQ(texts.atMost, "");
  EXPECT_NE(photo.conversion.CopyBytes(), 0u);

  // With a limit the copy's is the quality found, within it.
  choices.atMostKb = photo.conversion.CopyBytes() / 1024 / 2;
  EncodeForDialog(photo, choices);
  EXPECT_EQ(photo.encodeStatus, CODEC_OK);
  EXPECT_LT(photo.shownQuality, 75);
  EXPECT_LE(photo.conversion.CopyBytes(), *choices.atMostKb * 1024);
  EXPECT_FALSE(photo.limitMissed);
  EXPECT_EQ(QualityDialogTexts(photo, choices).quality, std::to_string(photo.shownQuality));
  EXPECT_EQ(QualityDialogTexts(photo, choices).atMost, std::to_string(*choices.atMostKb));
  choices.atMostKb = 0;
  EncodeForDialog(photo, choices);
  EXPECT_TRUE(photo.limitMissed);
  EXPECT_EQ(photo.shownQuality, 1);
}

}  // namespace
