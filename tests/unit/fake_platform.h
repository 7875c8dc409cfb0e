// A platform for the batch's tests: files in memory, dialogs that answer as
// a script says (running the dialogs' real logic and the real codec), and a
// record of every message and save.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/platform.h"
#include "codec/codec.h"

// One showing of the open dialog.
struct SelectionAnswer {
  // The strings it returns, each ended by a zero byte, then the closing
  // zero byte; cut at the buffer's end when longer, as Wine's dialog does.
  std::vector<std::string> strings;
  bool refused = false;  // fails as Windows' does for a list too long
};

// Typed in the quality field: Save with the quality the dialog shows.
inline const std::string kAsShown = "as shown";

struct QualityAnswer {
  std::optional<std::string> typed;  // the quality field's text before Save; none: Cancel
  bool sameForRest = false;          // "Same for the rest" checked
  std::optional<std::string> atMost = std::nullopt;  // the "at most" field's text; none: as shown
};

// Where the user presses Cancel in the batch's progress window: at the
// `report`th report (from 1) of photo `number`'s work.
struct BatchCancel {
  size_t number;
  int report;
};

class FakePlatform : public Platform {
 public:
  FakePlatform() = default;

  // Set up by the test. Workers read files while the program's thread
  // saves: both under the platform's lock.
  std::map<std::string, std::vector<uint8_t>> files;
  std::map<std::string, uint64_t> times;          // last-write times; none: 0
  std::map<std::string, SystemError> openErrors;  // an open that fails
  // Folders and what they list, by path without a separator at the end.
  std::map<std::string, std::vector<FolderEntry>> folders;
  std::map<std::string, uint32_t> listErrors;  // folders that cannot be listed
  int stopListingAt = 0;  // Cancel in the folder search's window at this listing; 0: never
  std::map<std::string, SystemError> saveErrors;      // a save that fails
  std::deque<SelectionAnswer> selections;             // in turn; none left: cancelled
  std::deque<std::optional<SizeChoice>> sizeAnswers;  // none: Cancel
  std::deque<QualityAnswer> qualityAnswers;
  bool encodeOutOfMemory = false;  // every encode in a dialog finds its memory short
  std::optional<BatchCancel> batchCancel;
  LeadByteRule leadBytes = NoLeadBytes;
  RestLimits restLimits{3, uint64_t{1} << 30};

  // Recorded.
  // "open PATH", "size W by H", "quality ...", "message ...", "batch N of M NAME", ...
  std::vector<std::string> events;
  // Per "Output Quality" showing, the "Same for the rest" box: "-" not
  // offered, "[ ]" offered, "[x]" offered and checked.
  std::vector<std::string> boxes;
  bool batchWindowOpen = false;
  std::vector<SystemError> systemErrors;
  std::vector<std::string> messages;
  std::vector<std::string> savedPaths;
  std::atomic<int> inputsOpen{0};
  int keptAnswering = 0;  // KeepAnswering calls

  FileChoice ChooseFiles(BatchInput& input) override;
  std::unique_ptr<InputFile> OpenInput(const char* path, SystemError& error) override;
  bool IsFolder(const char* path) override;
  uint32_t List(const std::string& folder, std::vector<FolderEntry>& entries) override;
  bool Listed(size_t folders, size_t photos) override;
  void EndFolderSearch() override { Record("search over"); }
  int ShowSizeDialog(PhotoWork& photo, UserChoices& choices) override;
  int ShowQualityDialog(PhotoWork& photo, UserChoices& choices) override;
  void ShowMessage(const char* text) override;
  void ShowSystemError(SystemError error) override;
  void KeepAnswering() noexcept override { ++keptAnswering; }
  void ShowBatchPhoto(size_t number, size_t total, const char* newName) override;
  bool ReportBatchProgress(double done) noexcept override;
  void CloseBatchProgress() override;
  RestLimits RestOfBatchLimits() override { return restLimits; }
  bool SessionEnds() const override { return false; }
  SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                         uint64_t lastWriteTime) override;
  LeadByteRule LeadBytes() const override { return leadBytes; }

 private:
  void Record(std::string event);

  std::mutex mutex_;
  int listings_ = 0;
  size_t batchNumber_ = 0;
  int batchReports_ = 0;
  double batchDone_ = 0;
};

// The photos the tests give the batch: the codec's sample testorig.jpg (227
// by 149 pixels); the same with its frame header claiming another size; and
// without its quantization tables, so that its headers read ("Output Size"
// offers its sizes) but its decode fails once OK is pressed.
std::vector<uint8_t> Photo();
std::vector<uint8_t> PhotoClaiming(uint16_t width, uint16_t height);
std::vector<uint8_t> PhotoWithoutQuantizationTables();
