// The program's own path through the batch, with dialogs that answer at once.
#include <malloc.h>
#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <fstream>

#include "batch/command_line.h"
#include "batch/pipeline.h"
#include "conversion.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

// A photo's file, its read timed.
class BenchFile final : public InputFile {
 public:
  BenchFile(const char* path, Phases& phases) : phases_(phases), start_(NowNs()) {
    in_.open(path, std::ios::binary | std::ios::ate);
  }
  bool Open() const { return static_cast<bool>(in_); }
  SystemError SizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) override {
    bytes = static_cast<uint64_t>(in_.tellg());
    lastWriteTime = 0;
    return in_.seekg(0) ? kNoError : SystemError(EIO);
  }
  SystemError Read(std::span<uint8_t> into) override {
    in_.read(reinterpret_cast<char*>(into.data()), std::streamsize(into.size()));
    phases_.read = NowNs() - start_;
    return in_ ? kNoError : SystemError(EIO);
  }

 private:
  Phases& phases_;
  const int64_t start_;
  std::ifstream in_;
};

// The platform the batch runs on here: files, and dialogs that do what their
// window procedures do with the user's answers. Each step is timed.
class BenchPlatform : public Platform {
 public:
  BenchPlatform(const UserAnswers& answers, Phases& phases, size_t workers = 1)
      : answers_(answers), phases_(phases), workers_(workers) {}

  FileChoice ChooseFiles(BatchInput&) override { return FileChoice::kCancelled; }
  bool IsFolder(const char*) override { return false; }
  uint32_t List(const std::string&, std::vector<FolderEntry>&) override { return ENOTDIR; }
  bool Listed(size_t, size_t) override { return true; }
  void EndFolderSearch() override {}
  std::unique_ptr<InputFile> OpenInput(const char* path, SystemError& error) override {
    auto file = std::make_unique<BenchFile>(path, phases_);
    error = file->Open() ? kNoError : SystemError(ENOENT);
    return error == kNoError ? std::move(file) : nullptr;
  }

  int ShowSizeDialog(PhotoWork& photo, UserChoices& choices) override {
    const int64_t start = NowNs();
    if (!photo.conversion.ReadHeader())
      return SIZE_UNREADABLE;
    phases_.params = NowNs() - start;
    choices.sizeChoice = answers_.size;
    const SizeResult result = ConfirmSize(photo, choices.sizeChoice);
    phases_.decode = NowNs() - start - phases_.params;
    return result;
  }

  int ShowQualityDialog(PhotoWork& photo, UserChoices& choices) override {
    const int64_t start = NowNs();
    EncodeForDialog(photo, choices);
    phases_.openings.push_back(NowNs() - start);
    phases_.encode = phases_.openings[0];
    if (opening_ < answers_.typedQualities.size())
      return DecideQuality(choices, photo, answers_.typedQualities[opening_++], answers_.atMost);
    // The quality shown: with a limit, the search's answer, not the ceiling
    // the user typed, which the dialog would take as a new ceiling. An
    // opening that has not yet searched within the typed limit takes it in
    // and opens again.
    const bool saves = LimitFromText(answers_.atMost) == photo.shownLimit;
    if (saves && answers_.onSave)
      answers_.onSave();
    return DecideQuality(choices, photo, std::to_string(photo.shownQuality), answers_.atMost,
                         answers_.sameForRest);
  }

  void ShowMessage(const char*) override { failed = true; }
  void ShowSystemError(SystemError) override { failed = true; }
  void KeepAnswering() noexcept override {}
  void ShowBatchPhoto(size_t, size_t, const char*) override {}
  bool ReportBatchProgress(double) noexcept override { return true; }
  void CloseBatchProgress() override {}
  RestLimits RestOfBatchLimits() override {
    restStart = NowNs();
    return {workers_, uint64_t{8} << 30};
  }
  bool SessionEnds() const override { return false; }
  LeadByteRule LeadBytes() const override { return NoLeadBytes; }

  SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                         uint64_t) override {
    const int64_t start = NowNs();
    const bool ok = WriteFile(path, pieces);
    phases_.write = NowNs() - start;
    for (const auto piece : pieces)
      phases_.outputBytes += piece.size();
    return ok ? kNoError : SystemError(EIO);
  }

  bool failed = false;
  int64_t restStart = 0;  // when the rest of the batch began, if it did

 private:
  const UserAnswers& answers_;
  Phases& phases_;
  const size_t workers_;
  size_t opening_ = 0;
};

}  // namespace

void UseHeap(bool warm) {
  // Fresh: glibc's defaults, but with a fixed threshold, which glibc would
  // otherwise raise to keep freed buffers.
  mallopt(M_MMAP_MAX, warm ? 0 : 65536);
  mallopt(M_TRIM_THRESHOLD, warm ? INT_MAX : 128 * 1024);
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

int64_t NowNs() {
  return std::chrono::nanoseconds(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint64_t PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_minflt + usage.ru_majflt);
}

Phases RunProgram(const std::string& photo, const UserAnswers& answers) {
  Phases phases;
  JobState job;
  BenchPlatform platform(answers, phases);
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  const auto ending = ProcessFile(job, platform, InputMode::kCommandLine, photo.c_str());
  phases.total = NowNs() - start;
  phases.pageFaults = PageFaults() - faults;
  phases.ok = !ending && !platform.failed && phases.outputBytes > 0;
  return phases;
}

std::optional<BatchTimes> RunBatchProgram(const std::vector<std::string>& photos,
                                          const UserAnswers& answers, size_t workers) {
  Phases phases;
  JobState job;
  BenchPlatform platform(answers, phases, workers);
  std::string commandLine;
  for (const std::string& photo : photos)
    commandLine += (commandLine.empty() ? "" : " ") + photo;
  CaptureArguments(job.input, commandLine);
  const int64_t start = NowNs();
  const BatchEnding ending = RunBatch(job, platform);
  const int64_t end = NowNs();
  if (ending != BatchEnding::kDestroyHost || platform.failed)
    return std::nullopt;
  return BatchTimes{end - start, platform.restStart != 0 ? end - platform.restStart : 0};
}
