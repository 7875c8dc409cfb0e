#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

bool FakePlatform::ChooseFiles(JobState& job) {
  events.push_back("choose");
  if (!selection)
    return false;
  size_t p = 0;
  for (const auto& s : *selection) {
    EXPECT_LT(p + s.size() + 1, job.SelectionBuffer.size());
    std::copy(s.begin(), s.end(), job.SelectionBuffer.begin() + static_cast<std::ptrdiff_t>(p));
    p += s.size() + 1;
  }
  return true;
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

SystemError FakePlatform::InputSize(uint64_t& bytes) {
  EXPECT_TRUE(inputOpen);
  bytes = files.at(openPath_).size();
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
  const size_t largest = job.largeBlocks.largest();
  job.largeBlocks.SetLargest(encodeMemory.value_or(largest));
  EncodeAtQuality(job, codec_);
  job.largeBlocks.SetLargest(largest);
  const QualityTexts texts = QualityDialogTexts(job);
  events.push_back("quality " + texts.resolution + " q" + texts.quality + " " + texts.outputSize +
                   " " + job.DisplayName.data());
  EXPECT_FALSE(qualityAnswers.empty()) << "an Output Quality dialog nobody expected";
  if (qualityAnswers.empty())
    return QUALITY_SKIP;
  const QualityAnswer answer = qualityAnswers.front();
  qualityAnswers.pop_front();
  if (!answer.typed)
    return QUALITY_SKIP;
  return DecideQuality(job, *answer.typed);
}

void FakePlatform::ShowMessage(const char* text) {
  events.push_back(std::string("message ") + text);
  messages.emplace_back(text);
}

void FakePlatform::ShowSystemError(SystemError error) {
  events.push_back("system error " + std::to_string(error));
  systemErrors.push_back(error);
}

SystemError FakePlatform::SaveOutput(const char* path,
                                     std::span<const std::span<const uint8_t>> pieces) {
  EXPECT_FALSE(inputOpen) << "saving while the input is open";
  events.push_back(std::string("save ") + path);
  if (auto e = saveErrors.find(path); e != saveErrors.end())
    return e->second;
  std::vector<uint8_t>& file = files[path];
  file.clear();
  for (const auto piece : pieces)
    file.insert(file.end(), piece.begin(), piece.end());
  savedPaths.emplace_back(path);
  return kNoError;
}
