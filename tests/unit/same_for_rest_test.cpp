// "Same for the rest": the photos after the first are done without dialogs,
// with the same outcomes as through them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "batch_fixture.h"
#include "test_images.h"

namespace {

const QualityAnswer kSaveForAll{"70", true};

struct RestCase {
  const char* situation;  // of c.jpg, the third of four photos
  bool selection;         // chosen in the open dialog, else on the command line
  std::vector<uint8_t> bytes;
  SystemError saveError;
  BatchEnding ending;
  std::vector<std::string> saved;
  std::vector<std::string> messages;
  std::vector<SystemError> systemErrors;
};

TEST(SameForTheRest, GivesEachPhotoTheOutcomeItsDialogsWouldGive) {
  const std::vector<std::string> all{"aX.jpg", "bX.jpg", "cX.jpg", "dX.jpg"};
  const std::vector<std::string> notC{"aX.jpg", "bX.jpg", "dX.jpg"};
  const std::vector<std::string> upToB{"aX.jpg", "bX.jpg"};
  std::vector<uint8_t> cut = Photo();
  cut.resize(20);
  const RestCase cases[] = {
      {"a photo", false, Photo(), kNoError, BatchEnding::kDestroyHost, all, {}, {}},
      {"a photo", true, Photo(), kNoError, BatchEnding::kDestroyHost, all, {}, {}},
      {"cannot be opened", false, {}, kNoError, BatchEnding::kLeaveHostOpen, upToB, {}, {2}},
      {"empty", false, {}, kNoError, BatchEnding::kDestroyHost, notC, {}, {}},
      {"empty", true, {}, kNoError, BatchEnding::kSendDestroy, upToB, {kFileEmptyText}, {}},
      {"not a JPEG",
       false,
       {'G', 'I', 'F', '8'},
       kNoError,
       BatchEnding::kDestroyHost,
       upToB,
       {kNotAJpegText},
       {}},
      {"undecodable", false, cut, kNoError, BatchEnding::kDestroyHost, notC, {kNotAJpegText}, {}},
      {"undecodable once decoding",
       false,
       PhotoWithoutQuantizationTables(),
       kNoError,
       BatchEnding::kDestroyHost,
       notC,
       {kNotAJpegText},
       {}},
      {"0 by 0 at half",
       false,
       PhotoClaiming(1, 1),
       kNoError,
       BatchEnding::kDestroyHost,
       notC,
       {},
       {}},
      {"too large",
       false,
       PhotoClaiming(60000, 60000),
       kNoError,
       BatchEnding::kDestroyHost,
       notC,
       {},
       {kErrorNotEnoughMemory}},
      // A full disk or a folder gone would fail every copy after: one message.
      {"its save fails", false, Photo(), 5, BatchEnding::kDestroyHost, upToB, {}, {5}},
  };
  // a, b and d differ, so that a copy written for the wrong photo shows.
  const std::map<std::string, std::pair<std::vector<uint8_t>, int>> photos{
      {"a.jpg", {Photo(), 113}},
      {"b.jpg", {test_images::EncodeJpeg(test_images::Gradient(100, 60, 3), {}), 50}},
      {"d.jpg", {test_images::EncodeJpeg(test_images::Noise(64, 64, 3, 7), {}), 32}}};
  for (const RestCase& c : cases) {
    std::map<std::string, std::vector<uint8_t>> oneWorker;
    // One worker, then three: the same copies, byte for byte, and the same
    // messages and ending.
    for (const size_t workers : {1u, 3u}) {
      SCOPED_TRACE(std::string(c.situation) + (c.selection ? ", chosen, " : ", command line, ") +
                   std::to_string(workers) + " workers");
      JobState job;
      FakePlatform platform;
      platform.restLimits.workers = workers;
      for (const auto& [name, photo] : photos)
        platform.files["C:\\p\\" + name] = photo.first;
      if (c.situation != std::string("cannot be opened"))
        platform.files["C:\\p\\c.jpg"] = c.bytes;
      if (c.saveError != kNoError)
        platform.saveErrors["C:\\p\\cX.jpg"] = c.saveError;
      platform.sizeAnswers = {SIZE_HALF};
      platform.qualityAnswers = {kSaveForAll, kSaveForAll};
      if (c.selection) {
        platform.selections.push_back({{"C:\\p", "a.jpg", "b.jpg", "c.jpg", "d.jpg"}});
      } else {
        CaptureArguments(job.input, "C:\\p\\a.jpg C:\\p\\b.jpg C:\\p\\c.jpg C:\\p\\d.jpg");
      }
      EXPECT_EQ(RunBatch(job, platform), c.ending);

      std::vector<std::string> saved;
      for (const std::string& path : platform.savedPaths)
        saved.push_back(path.substr(5));
      EXPECT_EQ(saved, c.saved);
      EXPECT_EQ(platform.messages, c.messages);
      EXPECT_EQ(platform.systemErrors, c.systemErrors);
      // Only the first photo had dialogs: Half, then 70 tried and saved.
      EXPECT_TRUE(platform.sizeAnswers.empty());
      EXPECT_TRUE(platform.qualityAnswers.empty());
      EXPECT_EQ(platform.boxes, (std::vector<std::string>{"[ ]", "[x]"}));
      for (const auto& [name, photo] : photos) {
        const std::string copy = "C:\\p\\" + name.substr(0, 1) + "X.jpg";
        if (!platform.files.contains(copy))
          continue;
        test_images::DecodedJpeg decoded;
        ASSERT_TRUE(test_images::DecodeJpeg(platform.files[copy], &decoded)) << copy;
        EXPECT_EQ(decoded.width, photo.second) << copy;  // half of the photo's
      }
      EXPECT_FALSE(platform.batchWindowOpen);
      EXPECT_EQ(platform.inputsOpen, 0);
      if (workers == 1)
        oneWorker = platform.files;
      else
        EXPECT_TRUE(platform.files == oneWorker);
    }
  }
}

TEST_F(Batch, WithALimitEachPhotoGetsTheHighestQualityUpToTheCeilingThatFits) {
  // At most 1 KB: the first photo fits only below 90, the second and fourth
  // at 90, the third at no quality.
  const auto made = [](const test_images::Image& image) {
    return test_images::EncodeJpeg(image, {});
  };
  platform.files["C:\\p\\a.jpg"] = made(test_images::Noise(64, 64, 3, 7));
  platform.files["C:\\p\\b.jpg"] = made(test_images::Gradient(100, 60, 3));
  platform.files["C:\\p\\c.jpg"] = made(test_images::Noise(300, 300, 3, 7));
  platform.files["C:\\p\\d.jpg"] = made(test_images::Gradient(80, 50, 3));
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {{"90", true, "1"}, {kAsShown, true}};
  EXPECT_EQ(Run("C:\\p\\a.jpg C:\\p\\b.jpg C:\\p\\c.jpg C:\\p\\d.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths,
            (std::vector<std::string>{"C:\\p\\aX.jpg", "C:\\p\\bX.jpg", "C:\\p\\dX.jpg"}));
  for (const std::string& copy : platform.savedPaths)
    EXPECT_LE(platform.files[copy].size(), 1024u) << copy;
  EXPECT_EQ(platform.messages,
            std::vector<std::string>{"These photos cannot be made as small as 1 KB:\nc.jpg"});
  EXPECT_EQ(job.choices.quality, 90) << "the ceiling stays the one typed";
  // The second photo fits at the ceiling: its copy is quality 90's.
  Conversion b;
  const std::vector<uint8_t>& bytes = platform.files["C:\\p\\b.jpg"];
  ASSERT_TRUE(b.PrepareInput(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), b.Input().begin());
  ASSERT_TRUE(b.ReadHeader());
  ASSERT_EQ(b.Decode(SIZE_FULL, nullptr), CODEC_OK);
  ASSERT_EQ(b.Encode(90, nullptr), CODEC_OK);
  std::vector<uint8_t> at90;
  for (const auto piece : b.CopyPieces())
    at90.insert(at90.end(), piece.begin(), piece.end());
  EXPECT_EQ(platform.files["C:\\p\\bX.jpg"], at90);
}

TEST_F(Batch, TheProgressWindowNamesEachPhotoInItsTurn) {
  for (const char* name : {"C:\\a.jpg", "C:\\b.jpg", "C:\\c.jpg"})
    platform.files[name] = Photo();
  platform.sizeAnswers = {SIZE_QUARTER};
  platform.qualityAnswers = {{"90", true}};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg C:\\c.jpg"), BatchEnding::kDestroyHost);
  std::vector<std::string> batch;
  for (const std::string& e : platform.events) {
    if (e.rfind("batch", 0) == 0)
      batch.push_back(e);
  }
  EXPECT_EQ(batch, (std::vector<std::string>{"batch 2 of 3 bX.jpg", "batch 3 of 3 cX.jpg",
                                             "batch closed"}));
  EXPECT_EQ(job.choices.quality, 90);
}

TEST_F(Batch, CancelInTheProgressWindowEndsTheProgramWithOnlyWholeCopies) {
  for (const char* name : {"C:\\a.jpg", "C:\\b.jpg", "C:\\c.jpg", "C:\\d.jpg"})
    platform.files[name] = Photo();
  platform.sizeAnswers = {SIZE_FULL};
  platform.qualityAnswers = {{"90", true}};
  // Pressed while the third photo is in hand.
  platform.batchCancel = BatchCancel{3, 1};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg C:\\c.jpg C:\\d.jpg"), BatchEnding::kDestroyHost);
  EXPECT_EQ(platform.savedPaths, (std::vector<std::string>{"C:\\aX.jpg", "C:\\bX.jpg"}));
  EXPECT_TRUE(platform.messages.empty());
  EXPECT_TRUE(platform.systemErrors.empty());
  EXPECT_FALSE(platform.batchWindowOpen);

  // Pressed at the first photo or the last, it ends the run alike.
  for (const BatchCancel at : {BatchCancel{2, 1}, BatchCancel{4, 1}}) {
    JobState j;
    FakePlatform p;
    p.files = {{"C:\\a.jpg", Photo()},
               {"C:\\b.jpg", Photo()},
               {"C:\\c.jpg", Photo()},
               {"C:\\d.jpg", Photo()}};
    p.sizeAnswers = {SIZE_FULL};
    p.qualityAnswers = {{"90", true}};
    p.batchCancel = at;
    CaptureArguments(j.input, "C:\\a.jpg C:\\b.jpg C:\\c.jpg C:\\d.jpg");
    EXPECT_EQ(RunBatch(j, p), BatchEnding::kDestroyHost);
    EXPECT_EQ(p.savedPaths.size(), at.number - 1) << "cancelled at photo " << at.number;
  }
}

TEST_F(Batch, TheBoxCountsOnlyWhereAPhotoFollowsAndOnlyWithSave) {
  for (const char* name : {"C:\\a.jpg", "C:\\b.jpg", "C:\\c.jpg"})
    platform.files[name] = Photo();
  platform.sizeAnswers = {SIZE_FULL, SIZE_FULL, SIZE_FULL};
  // Checked, then the photo skipped: the next photo has its dialogs. Checked
  // on the last photo, where it is not offered: nothing more happens.
  platform.qualityAnswers = {{std::nullopt, true}, {"60", true}, {"60", false}, {"60", true}};
  EXPECT_EQ(Run("C:\\a.jpg C:\\b.jpg C:\\c.jpg"), BatchEnding::kDestroyHost);
  // The box starts unchecked for each photo and keeps its state over a retry.
  EXPECT_EQ(platform.boxes, (std::vector<std::string>{"[ ]", "[ ]", "[x]", "-"}));
  EXPECT_EQ(platform.savedPaths, (std::vector<std::string>{"C:\\bX.jpg", "C:\\cX.jpg"}));
  EXPECT_TRUE(platform.qualityAnswers.empty());
}

}  // namespace
