#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

FileChoice FakePlatform::ChooseFiles(JobState& job) {
  events.push_back("choose");
  if (selections.empty())
    return FileChoice::kCancelled;
  const SelectionAnswer answer = selections.front();
  selections.pop_front();
  if (answer.refused)
    return FileChoice::kTooMany;
  std::string result;
  for (const auto& s : answer.strings)
    result.append(s).push_back('\0');
  result.push_back('\0');
  auto& buffer = job.SelectionBuffer;
  std::fill(buffer.begin(), buffer.end(), '\0');
  std::copy_n(result.begin(), std::min(result.size(), buffer.size()), buffer.begin());
  return FileChoice::kChosen;
}

SystemError FakePlatform::OpenInput(const char* path) {
  EXPECT_FALSE(inputOpen) << "an input left open before " << path;
  events.push_back(std::string("open ") + path);
  if (auto e = openErrors.find(path); e != openErrors.end())
    return e->second;
  if (!files.contains(path))
    return 2;  // file not found
  inputOpen = true;
  openPath_ = path;
  return kNoError;
}

SystemError FakePlatform::InputSizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) {
  EXPECT_TRUE(inputOpen);
  bytes = files.at(openPath_).size();
  lastWriteTime = times[openPath_];
  return kNoError;
}

SystemError FakePlatform::ReadInput(std::span<uint8_t> into) {
  EXPECT_TRUE(inputOpen);
  const auto& bytes = files.at(openPath_);
  EXPECT_EQ(into.size(), bytes.size());
  std::copy_n(bytes.begin(), std::min(into.size(), bytes.size()), into.begin());
  return kNoError;
}

void FakePlatform::CloseInput() {
  EXPECT_TRUE(inputOpen);
  inputOpen = false;
}

int FakePlatform::ShowSizeDialog(JobState& job) {
  if (!ReadImageSize(job, codec_)) {
    events.push_back("size unreadable");
    return SIZE_UNREADABLE;
  }
  const auto texts = SizeOptionTexts(job.width, job.height);
  events.push_back("size " + texts[0] + " checked " + std::to_string(job.sizeChoice));
  EXPECT_FALSE(sizeAnswers.empty()) << "an Output Size dialog nobody expected";
  if (sizeAnswers.empty())
    return SIZE_CANCELLED;
  const auto answer = sizeAnswers.front();
  sizeAnswers.pop_front();
  if (!answer)
    return SIZE_CANCELLED;
  job.sizeChoice = *answer;
  return ConfirmSize(job, codec_);
}

int FakePlatform::ShowQualityDialog(JobState& job) {
  EncodeAtQuality(job, codec_);
  if (encodeOutOfMemory) {
    // What the encoder reports when it cannot have its memory (the codec's
    // tests make it so).
    job.encodeStatus = CODEC_NO_MEMORY;
    job.encodedSize = 0;
  }
  const QualityTexts texts = QualityDialogTexts(job);
  events.push_back("quality " + texts.resolution + " q" + texts.quality + " " + texts.outputSize +
                   " " + job.DisplayName.data());
  boxes.push_back(!job.morePhotosFollow ? "-" : job.sameForRest ? "[x]" : "[ ]");
  EXPECT_FALSE(qualityAnswers.empty()) << "an Output Quality dialog nobody expected";
  if (qualityAnswers.empty())
    return QUALITY_SKIP;
  const QualityAnswer answer = qualityAnswers.front();
  qualityAnswers.pop_front();
  if (!answer.typed)
    return QUALITY_SKIP;
  return DecideQuality(job, *answer.typed, answer.sameForRest);
}

void FakePlatform::ShowMessage(const char* text) {
  events.push_back(std::string("message ") + text);
  messages.emplace_back(text);
}

void FakePlatform::ShowSystemError(SystemError error) {
  events.push_back("system error " + std::to_string(error));
  systemErrors.push_back(error);
}

void FakePlatform::ShowBatchPhoto(size_t number, size_t total, const char* newName) {
  events.push_back("batch " + std::to_string(number) + " of " + std::to_string(total) + " " +
                   newName);
  batchWindowOpen = true;
  batchNumber_ = number;
  batchReports_ = 0;
}

bool FakePlatform::ReportBatchProgress(double done) noexcept {
  EXPECT_TRUE(batchWindowOpen);
  EXPECT_GE(done, batchDone_) << "the run's progress goes back";
  EXPECT_LE(done, 1.0);
  batchDone_ = done;
  ++batchReports_;
  return !(batchCancel && batchCancel->number == batchNumber_ &&
           batchCancel->report == batchReports_);
}

void FakePlatform::CloseBatchProgress() {
  events.push_back("batch closed");
  batchWindowOpen = false;
}

SystemError FakePlatform::SaveOutput(const char* path,
                                     std::span<const std::span<const uint8_t>> pieces,
                                     uint64_t lastWriteTime) {
  EXPECT_FALSE(inputOpen) << "saving while the input is open";
  events.push_back(std::string("save ") + path);
  if (auto e = saveErrors.find(path); e != saveErrors.end())
    return e->second;
  std::vector<uint8_t>& file = files[path];
  file.clear();
  for (const auto piece : pieces)
    file.insert(file.end(), piece.begin(), piece.end());
  times[path] = lastWriteTime;
  savedPaths.emplace_back(path);
  return kNoError;
}

std::vector<uint8_t> Photo() {
  std::ifstream in(std::string(TBM_TEST_DATA_DIR) + "/testorig.jpg", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> PhotoClaiming(uint16_t width, uint16_t height) {
  std::vector<uint8_t> bytes = Photo();
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = static_cast<uint8_t>(height >> 8);
      bytes[i + 6] = static_cast<uint8_t>(height);
      bytes[i + 7] = static_cast<uint8_t>(width >> 8);
      bytes[i + 8] = static_cast<uint8_t>(width);
      return bytes;
    }
  }
  ADD_FAILURE() << "no frame header";
  return bytes;
}

std::vector<uint8_t> PhotoWithoutQuantizationTables() {
  std::vector<uint8_t> bytes = Photo();
  for (size_t i = 2; i + 4 < bytes.size() && bytes[i + 1] != 0xDA;) {
    const size_t length = size_t{bytes[i + 2]} << 8 | bytes[i + 3];
    if (bytes[i + 1] == 0xDB) {
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                  bytes.begin() + static_cast<std::ptrdiff_t>(i + 2 + length));
    } else {
      i += 2 + length;
    }
  }
  return bytes;
}
