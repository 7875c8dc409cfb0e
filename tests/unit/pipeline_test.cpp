// The batch from end to end against a fake platform, with the real codec.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "batch_fixture.h"
#include "test_images.h"

namespace {

// Code page 932's lead bytes; ソ is 0x83 0x5C, whose second byte is a
// backslash's.
bool Cp932LeadBytes(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST_F(Batch, CommandLineFilesAreEachSavedUnderTheirXNamesWithTheirTimes) {
  platform.files["C:\\p\\a.jpg"] = Photo();
  platform.files["C:\\p\\b.jpg"] = Photo();
  platform.times["C:\\p\\a.jpg"] = 0x01D1'2345'6789'ABCD;
  platform.times["C:\\p\\b.jpg"] = 0x01D0'0000'0000'0001;
  platform.sizeAnswers = {SIZE_HALF, SIZE_QUARTER};
  platform.qualityAnswers = {kSave, kSave};
  EXPECT_EQ(Run("\"C:\\p\\a.jpg\" \"C:\\p\\b.jpg\""), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths, (std::vector<std::string>{"C:\\p\\aX.jpg", "C:\\p\\bX.jpg"}));
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_TRUE(platform.systemErrors.empty());
  EXPECT_EQ(platform.files["C:\\p\\a.jpg"], Photo()) << "the input is never written";
  EXPECT_EQ(platform.times["C:\\p\\aX.jpg"], 0x01D1'2345'6789'ABCDu);
  EXPECT_EQ(platform.times["C:\\p\\bX.jpg"], 0x01D0'0000'0000'0001u);
}

TEST_F(Batch, SelectedFilesAreProcessedInTheDialogsOrder) {
  for (const char* name : {"C:\\p\\c.jpg", "C:\\p\\a.jpg", "C:\\p\\b.jpg"}) {
    platform.files[name] = Photo();
  }
  platform.selections.push_back({{"C:\\p", "c.jpg", "a.jpg", "b.jpg"}});
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave, kSave, kSave};
  EXPECT_EQ(Run(), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths,
            (std::vector<std::string>{"C:\\p\\cX.jpg", "C:\\p\\aX.jpg", "C:\\p\\bX.jpg"}));
}

TEST_F(Batch, TheSizeChoiceAndQualityCarryToTheNextFile) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_QUARTER, SIZE_QUARTER};
  platform.qualityAnswers = {{"70"}, {"70"}, {"50"}, kCancel};
  Run("C:\\a.jpg C:\\b.jpg");
  const auto& e = platform.events;
  ASSERT_GE(e.size(), 9u);
  EXPECT_EQ(e[1], "size 227 by 149 checked 0");
  EXPECT_EQ(e[2].rfind("quality 56 by 37 q90 ", 0), 0u) << e[2];
  EXPECT_EQ(e[3].rfind("quality 56 by 37 q70 ", 0), 0u) << e[3];
  EXPECT_EQ(e[6], "size 227 by 149 checked 2");  // the second file opens with Quarter
  EXPECT_EQ(e[7].rfind("quality 56 by 37 q70 ", 0), 0u) << e[7];
  EXPECT_EQ(job.choices.quality, 50);
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\aX.jpg"});
}

TEST_F(Batch, RetryEncodesAgainAndSaveSavesThatEncoding) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {{"20"}, {"020"}};
  Run("C:\\a.jpg");
  ASSERT_EQ(platform.savedPaths.size(), 1u);
  EXPECT_EQ(platform.events[3].rfind("quality 227 by 149 q20", 0), 0u);
  // The saved file is the encoding at 20, which is smaller than at 90.
  EXPECT_LT(platform.files["C:\\aX.jpg"].size(), Photo().size());
}

TEST_F(Batch, ALimitShowsTheQualityFoundAndAnUnreachableOneSaysSo) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  // 3 KB: found below 90 and saved. Then 0 KB, which not even quality 1
  // meets: the message, quality 1 shown, Cancel.
  platform.qualityAnswers = {{"90", false, "3"}, {kAsShown}, {"90", false, "0"}, kCancel};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\aX.jpg"});
  EXPECT_LE(platform.files["C:\\aX.jpg"].size(), 3u * 1024);
  // The qualities shown, from "quality W by H qN ...".
  std::vector<int> shown;
  for (const std::string& e : platform.events) {
    if (e.rfind("quality 227 by 149 q", 0) == 0)
      shown.push_back(std::stoi(e.substr(20)));
  }
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0], 90);
  EXPECT_LT(shown[1], 90);
  EXPECT_EQ(shown[3], 1);
  EXPECT_EQ(platform.messages,
            std::vector<std::string>{"Even at quality 1 the copy is larger than 0 KB."});
  EXPECT_EQ(job.choices.atMostKb, std::optional<uint32_t>(0));
}

// A folder stands for the photos in it and below, in Explorer's order, its
// copies left out; one without photos is said so, and the batch goes on.
TEST_F(Batch, AFolderAmongThePathsStandsForItsPhotos) {
  const auto file = [](const char* name, bool hidden = false) {
    return FolderEntry{name, false, hidden, false};
  };
  const auto folder = [](const char* name, bool link = false) {
    return FolderEntry{name, true, false, link};
  };
  platform.folders["C:\\pics"] = {file("a.jpg"),  file("aX.jpg"),    file("10.JPG"),
                                  file("9.jpeg"), file("notes.txt"), file("h.jpg", true),
                                  folder("sub"),  folder("ln", true)};
  platform.folders["C:\\pics\\sub"] = {file("c.jfif")};
  platform.folders["C:\\empty"] = {file("readme.txt"), folder("deeper")};
  platform.folders["C:\\empty\\deeper"] = {};
  for (const char* name : {"C:\\pics\\a.jpg", "C:\\pics\\10.JPG", "C:\\pics\\9.jpeg",
                           "C:\\pics\\sub\\c.jfif", "C:\\b.jpg"}) {
    platform.files[name] = Photo();
  }
  platform.files["C:\\pics\\aX.jpg"] = {1, 2, 3};  // an old copy, not a photo of the batch
  for (const bool sameForRest : {false, true}) {
    SCOPED_TRACE(sameForRest ? "same for the rest" : "dialogs");
    JobState j;
    FakePlatform p;
    p.folders = platform.folders;
    p.files = platform.files;
    p.sizeAnswers = {SIZE_QUARTER, SIZE_QUARTER, SIZE_QUARTER, SIZE_QUARTER, SIZE_QUARTER};
    p.qualityAnswers =
        std::deque<QualityAnswer>(sameForRest ? 1 : 5, QualityAnswer{"90", sameForRest});
    CaptureArguments(j.input, "C:\\pics\\ C:\\empty C:\\b.jpg");
    EXPECT_EQ(RunBatch(j, p), BatchEnding::kDestroyHost);
    EXPECT_EQ(p.savedPaths, (std::vector<std::string>{"C:\\pics\\9X.jpeg", "C:\\pics\\10X.JPG",
                                                      "C:\\pics\\aX.jpg", "C:\\pics\\sub\\cX.jfif",
                                                      "C:\\bX.jpg"}));
    EXPECT_EQ(p.messages, std::vector<std::string>{"No JPEG photos were found in C:\\empty."});
    EXPECT_NE(p.files["C:\\pics\\aX.jpg"], (std::vector<uint8_t>{1, 2, 3})) << "replaced";
    if (sameForRest) {
      std::vector<std::string> shown;
      for (const std::string& e : p.events) {
        if (e.rfind("batch ", 0) == 0 && e != "batch closed")
          shown.push_back(e);
      }
      EXPECT_EQ(shown, (std::vector<std::string>{"batch 2 of 5 10X.JPG", "batch 3 of 5 aX.jpg",
                                                 "batch 4 of 5 cX.jfif", "batch 5 of 5 bX.jpg"}));
    }
  }
}

TEST_F(Batch, AFolderThatCannotBeListedIsAnInputThatCannotBeOpenedAndCancelStopsTheSearch) {
  platform.folders["C:\\p"] = {{"a.jpg", false, false, false}, {"locked", true, false, false}};
  platform.files["C:\\p\\a.jpg"] = Photo();
  // A subfolder that cannot be listed is passed over; a folder given that
  // cannot be listed ends the batch as an input that cannot be opened does.
  platform.listErrors = {{"C:\\p\\locked", 5}, {"C:\\denied", 5}};
  platform.sizeAnswers = {SIZE_QUARTER};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run("C:\\p C:\\denied\\ C:\\p"), BatchEnding::kLeaveHostOpen);
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\p\\aX.jpg"});
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{5});

  JobState j;
  FakePlatform p;
  p.folders = platform.folders;
  p.stopListingAt = 1;
  CaptureArguments(j.input, "C:\\p");
  EXPECT_EQ(RunBatch(j, p), BatchEnding::kDestroyHost);
  EXPECT_TRUE(p.savedPaths.empty());
  EXPECT_TRUE(p.messages.empty());
}

TEST_F(Batch, AnInputThatCannotBeOpenedLeavesTheHostOpenInBothModes) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run("C:\\a.jpg C:\\missing.jpg C:\\a.jpg"), BatchEnding::kLeaveHostOpen);
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{2});
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\aX.jpg"}) << "earlier outputs stay";

  JobState job2;
  FakePlatform selecting;
  selecting.selections.push_back({{"C:\\missing.jpg"}});
  EXPECT_EQ(RunBatch(job2, selecting), BatchEnding::kLeaveHostOpen);
  EXPECT_EQ(selecting.systemErrors, std::vector<SystemError>{2});
}

TEST_F(Batch, AnEmptyFileIsSkippedSilentlyOnTheCommandLine) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\empty.jpg"] = {};
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave, kSave};
  EXPECT_EQ(Run("C:\\a.jpg C:\\empty.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.savedPaths.size(), 2u);
}

TEST_F(Batch, AnEmptyFileChosenInTheDialogEndsWithAMessage) {
  platform.files["C:\\p\\empty.jpg"] = {};
  platform.files["C:\\p\\a.jpg"] = Photo();
  platform.selections.push_back({{"C:\\p", "empty.jpg", "a.jpg"}});
  EXPECT_EQ(Run(), BatchEnding::kSendDestroy);
  EXPECT_EQ(platform.messages, std::vector<std::string>{"File is empty"});
  EXPECT_TRUE(platform.savedPaths.empty());
}

TEST_F(Batch, ANonJpegEndsTheBatchWithAMessageInBothModes) {
  for (const std::vector<uint8_t>& bytes : std::vector<std::vector<uint8_t>>{
           {0xFF}, {0xFF, 0xD8}, {0x89, 'P', 'N', 'G', 0x0D, 0x0A}, {0xFF, 0xD8, 0xFE, 0xFF}}) {
    JobState j;
    FakePlatform p;
    p.files["C:\\a.jpg"] = Photo();
    p.files["C:\\x.jpg"] = bytes;
    p.sizeAnswers = {SIZE_FULL};
    p.qualityAnswers = {kSave};
    CaptureArguments(j.input, "C:\\a.jpg C:\\x.jpg C:\\a.jpg");
    EXPECT_EQ(RunBatch(j, p), BatchEnding::kDestroyHost);
    EXPECT_EQ(p.messages, std::vector<std::string>{"That's not a jpeg file."});
    EXPECT_EQ(p.savedPaths, std::vector<std::string>{"C:\\aX.jpg"});
    EXPECT_EQ(p.inputsOpen, 0);
  }
  platform.files["C:\\p\\x.jpg"] = {'G', 'I', 'F'};
  platform.selections.push_back({{"C:\\p\\x.jpg"}});
  EXPECT_EQ(Run(), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.messages, std::vector<std::string>{"That's not a jpeg file."});
}

TEST_F(Batch, CancellingOutputSizeEndsTheProgramWithoutAMessage) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, std::nullopt};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\aX.jpg"});
  EXPECT_EQ(platform.inputsOpen, 0);
}

TEST_F(Batch, CancellingOutputQualitySkipsTheFileAndGoesOn) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kCancel, kSave};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
}

TEST_F(Batch, AFailedSaveShowsTheSystemsTextAndTheBatchGoesOn) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.files["C:\\aX.jpg"] = {1, 2, 3};
  platform.saveErrors["C:\\aX.jpg"] = 5;  // access denied
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave, kSave};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{5});
  EXPECT_EQ(platform.files["C:\\aX.jpg"], (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
}

TEST_F(Batch, ProcessingAnOutputReadsTheNewFile) {
  platform.files["C:\\img.jpg"] = Photo();
  platform.files["C:\\imgX.jpg"] = {0, 0, 0};  // not a JPEG until img.jpg's output replaces it
  platform.sizeAnswers = {SIZE_HALF, SIZE_FULL};
  platform.qualityAnswers = {kSave, kSave};
  EXPECT_EQ(Run("C:\\img.jpg C:\\imgX.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths, (std::vector<std::string>{"C:\\imgX.jpg", "C:\\imgXX.jpg"}));
  EXPECT_EQ(platform.events[5], "size 113 by 74 checked 1");
}

TEST_F(Batch, CancellingTheOpenDialogEndsTheProgramQuietly) {
  EXPECT_EQ(Run(), BatchEnding::kSendDestroy);
  EXPECT_EQ(platform.events, std::vector<std::string>{"choose"});
}

TEST_F(Batch, AnUndecodablePhotoIsSkippedWithTheMessageAndTheBatchGoesOn) {
  std::vector<uint8_t> headersCut = Photo();
  headersCut.resize(20);  // the signature, then the headers cut off
  platform.files["C:\\cut.jpg"] = headersCut;
  platform.files["C:\\noquant.jpg"] = PhotoWithoutQuantizationTables();
  // More scans than any camera writes (568), which would keep the decoder
  // busy for minutes at a photo's size.
  test_images::JpegOptions scans;
  scans.per_coefficient_scan_bits = 8;
  platform.files["C:\\scans.jpg"] =
      test_images::EncodeJpeg(test_images::Gradient(32, 32, 3), scans);
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_HALF, SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run("C:\\cut.jpg C:\\noquant.jpg C:\\scans.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.events[1], "size unreadable");
  EXPECT_EQ(platform.events[4], "size 227 by 149 checked 0") << "the second fails after OK";
  EXPECT_EQ(platform.events[7], "size 32 by 32 checked 1") << "the third fails after OK";
  EXPECT_EQ(platform.messages, std::vector<std::string>(3, "That's not a jpeg file."));
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
  EXPECT_EQ(platform.inputsOpen, 0);
}

TEST_F(Batch, TooManyFilesAtOnceAreSaidSoAndTheDialogAsksAgain) {
  std::vector<std::string> many{"C:\\p"};
  for (int i = 0; i < 4000; ++i)
    many.push_back("photo" + std::to_string(i) + ".jpg");
  platform.files["C:\\p\\a.jpg"] = Photo();
  platform.selections = {{{}, true}, {many}, {{"C:\\p\\a.jpg"}}};
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run(), BatchEnding::kDestroyHost);
  const std::string message = "message Too many files were chosen at once.";
  EXPECT_EQ(std::vector<std::string>(platform.events.begin(), platform.events.begin() + 6),
            (std::vector<std::string>{"choose", message, "choose", message, "choose",
                                      "open C:\\p\\a.jpg"}));
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\p\\aX.jpg"});

  FakePlatform cancelling;
  cancelling.selections = {{{}, true}};
  JobState job2;
  EXPECT_EQ(RunBatch(job2, cancelling), BatchEnding::kSendDestroy);
  EXPECT_EQ(cancelling.events, (std::vector<std::string>{"choose", message, "choose"}));
}

TEST_F(Batch, ADoubleByteNameIsReadByThePlatformsRule) {
  const std::string so = "\x83\x5C";  // ソ
  platform.leadBytes = Cp932LeadBytes;
  platform.files["C:\\p\\a." + so + ".jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {kSave};
  Run("C:\\p\\a." + so + ".jpg");
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\p\\aX." + so + ".jpg"});
  EXPECT_EQ(platform.events[2].substr(platform.events[2].size() - 9), "aX." + so + ".jpg");
}

TEST_F(Batch, AHeaderClaimingMorePixelsThanAProcessHoldsIsRefusedAndTheBatchGoesOn) {
  platform.files["C:\\huge.jpg"] = PhotoClaiming(60000, 60000);
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run("C:\\huge.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{kErrorNotEnoughMemory});
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
}

TEST_F(Batch, AnEncodingWithoutTheMemoryItNeedsSavesNothingAndSaysSo) {
  platform.files["C:\\a.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {kSave};
  platform.encodeOutOfMemory = true;
  EXPECT_EQ(Run("C:\\a.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.events[2].rfind("quality 227 by 149 q90 0 KB", 0), 0u) << platform.events[2];
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{kErrorNotEnoughMemory});
  EXPECT_TRUE(platform.savedPaths.empty());
}

TEST_F(Batch, AZeroByZeroChoiceWritesNothingAndGoesOn) {
  platform.files["C:\\tiny.jpg"] = PhotoClaiming(3, 3);
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_QUARTER, SIZE_FULL};
  platform.qualityAnswers = {kSave, kSave};
  EXPECT_EQ(Run("C:\\tiny.jpg C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.events[2].rfind("quality 0 by 0 q90 0 KB", 0), 0u) << platform.events[2];
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
  EXPECT_TRUE(platform.systemErrors.empty());
}

TEST_F(Batch, AnXNameTooLongForAPathIsAnOutputThatCannotBeCreated) {
  const std::string longName = "C:\\" + std::string(252, 'n') + ".jpg";  // 259 characters
  platform.files[longName] = Photo();
  platform.files["C:\\b.jpg"] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL};
  platform.qualityAnswers = {kSave};
  EXPECT_EQ(Run(longName + " C:\\b.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.systemErrors, std::vector<SystemError>{kErrorFilenameTooLong});
  EXPECT_EQ(platform.savedPaths, std::vector<std::string>{"C:\\bX.jpg"});
}

}  // namespace
