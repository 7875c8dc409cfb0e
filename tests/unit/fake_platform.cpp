#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

// The file's bytes as they were when it was opened.
class FakeInputFile final : public InputFile {
 public:
  FakeInputFile(std::vector<uint8_t> bytes, uint64_t time, std::atomic<int>& open)
      : bytes_(std::move(bytes)), time_(time), open_(open) {
    ++open_;
  }
  ~FakeInputFile() override { --open_; }

  SystemError SizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) override {
    bytes = bytes_.size();
    lastWriteTime = time_;
    return kNoError;
  }
  SystemError Read(std::span<uint8_t> into) override {
    EXPECT_LE(read_ + into.size(), bytes_.size());
    const size_t take = std::min(into.size(), bytes_.size() - read_);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(read_), take, into.begin());
    read_ += take;
    return kNoError;
  }

 private:
  const std::vector<uint8_t> bytes_;
  const uint64_t time_;
  std::atomic<int>& open_;
  size_t read_ = 0;
};

}  // namespace

void FakePlatform::Record(std::string event) {
  std::lock_guard lock(mutex_);
  events.push_back(std::move(event));
}

FileChoice FakePlatform::ChooseFiles(BatchInput& input) {
  Record("choose");
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
  auto& buffer = input.SelectionBuffer;
  std::fill(buffer.begin(), buffer.end(), '\0');
  std::copy_n(result.begin(), std::min(result.size(), buffer.size()), buffer.begin());
  return FileChoice::kChosen;
}

std::unique_ptr<InputFile> FakePlatform::OpenInput(const char* path, SystemError& error) {
  Record(std::string("open ") + path);
  std::lock_guard lock(mutex_);
  error = kNoError;
  if (auto e = openErrors.find(path); e != openErrors.end())
    error = e->second;
  else if (!files.contains(path))
    error = 2;  // file not found
  if (error != kNoError)
    return nullptr;
  return std::make_unique<FakeInputFile>(files.at(path), times[path], inputsOpen);
}

bool FakePlatform::IsFolder(const char* path) {
  std::string folder = path;
  while (folder.size() > 3 && folder.back() == '\\')
    folder.pop_back();
  return folders.contains(folder) || listErrors.contains(folder);
}

uint32_t FakePlatform::List(const std::string& folder, std::vector<FolderEntry>& entries) {
  Record("list " + folder);
  if (const auto e = listErrors.find(folder); e != listErrors.end())
    return e->second;
  const auto it = folders.find(folder);
  if (it == folders.end())
    return 3;  // path not found
  entries = it->second;
  return 0;
}

bool FakePlatform::Listed(size_t, size_t) {
  return ++listings_ != stopListingAt;
}

int FakePlatform::ShowSizeDialog(PhotoWork& photo, UserChoices& choices) {
  if (!photo.conversion.ReadHeader()) {
    Record("size unreadable");
    return SIZE_UNREADABLE;
  }
  const auto texts = SizeOptionTexts(photo.conversion.InputWidth(), photo.conversion.InputHeight());
  Record("size " + texts[0] + " checked " + std::to_string(choices.sizeChoice));
  EXPECT_FALSE(sizeAnswers.empty()) << "an Output Size dialog nobody expected";
  if (sizeAnswers.empty())
    return SIZE_CANCELLED;
  const auto answer = sizeAnswers.front();
  sizeAnswers.pop_front();
  if (!answer)
    return SIZE_CANCELLED;
  choices.sizeChoice = *answer;
  return ConfirmSize(photo, choices.sizeChoice);
}

int FakePlatform::ShowQualityDialog(PhotoWork& photo, UserChoices& choices) {
  if (encodeOutOfMemory) {
    // What the encoder reports when it cannot have its memory (the codec's
    // tests make it so): no copy.
    photo.encodeStatus = CODEC_NO_MEMORY;
    photo.shownQuality = choices.quality;
    photo.shownLimit = choices.atMostKb;
  } else {
    EncodeForDialog(photo, choices);
  }
  if (photo.limitMissed)
    ShowMessage(LimitMissedText(*photo.shownLimit).c_str());
  const QualityTexts texts = QualityDialogTexts(photo, choices);
  Record("quality " + texts.resolution + " q" + texts.quality + " " + texts.outputSize + " " +
         photo.names.DisplayName.data());
  boxes.push_back(!photo.morePhotosFollow ? "-" : choices.sameForRest ? "[x]" : "[ ]");
  EXPECT_FALSE(qualityAnswers.empty()) << "an Output Quality dialog nobody expected";
  if (qualityAnswers.empty())
    return QUALITY_SKIP;
  const QualityAnswer answer = qualityAnswers.front();
  qualityAnswers.pop_front();
  if (!answer.typed)
    return QUALITY_SKIP;
  const std::string typed = *answer.typed == kAsShown ? texts.quality : *answer.typed;
  return DecideQuality(choices, photo, typed, answer.atMost.value_or(texts.atMost),
                       answer.sameForRest);
}

void FakePlatform::ShowMessage(const char* text) {
  Record(std::string("message ") + text);
  messages.emplace_back(text);
}

void FakePlatform::ShowSystemError(SystemError error) {
  Record("system error " + std::to_string(error));
  systemErrors.push_back(error);
}

void FakePlatform::ShowBatchPhoto(size_t number, size_t total, const char* newName) {
  Record("batch " + std::to_string(number) + " of " + std::to_string(total) + " " + newName);
  batchWindowOpen = true;
  batchNumber_ = number;
  batchReports_ = 0;
}

bool FakePlatform::ReportBatchProgress(double done) noexcept {
  EXPECT_GE(done, batchDone_) << "the run's progress goes back";
  EXPECT_LE(done, 1.0);
  batchDone_ = done;
  ++batchReports_;
  return !(batchCancel && batchCancel->number == batchNumber_ &&
           batchCancel->report == batchReports_);
}

void FakePlatform::CloseBatchProgress() {
  Record("batch closed");
  batchWindowOpen = false;
}

SystemError FakePlatform::SaveOutput(const char* path,
                                     std::span<const std::span<const uint8_t>> pieces,
                                     uint64_t lastWriteTime) {
  Record(std::string("save ") + path);
  std::lock_guard lock(mutex_);
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
