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

// The platform the batch runs on here: files, and dialogs that do what their
// window procedures do with the user's answers. Each step is timed.
class BenchPlatform : public Platform {
 public:
  BenchPlatform(const UserAnswers& answers, Phases& phases) : answers_(answers), phases_(phases) {}

  FileChoice ChooseFiles(JobState&) override { return FileChoice::kCancelled; }
  SystemError OpenInput(const char* path) override {
    readStart_ = NowNs();
    in_.open(path, std::ios::binary | std::ios::ate);
    return in_ ? kNoError : SystemError(ENOENT);
  }
  SystemError InputSizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) override {
    bytes = static_cast<uint64_t>(in_.tellg());
    lastWriteTime = 0;
    return in_.seekg(0) ? kNoError : SystemError(EIO);
  }
  SystemError ReadInput(std::span<uint8_t> into) override {
    in_.read(reinterpret_cast<char*>(into.data()), std::streamsize(into.size()));
    phases_.read = NowNs() - readStart_;
    return in_ ? kNoError : SystemError(EIO);
  }
  void CloseInput() override { in_.close(); }

  int ShowSizeDialog(JobState& job) override {
    const int64_t start = NowNs();
    if (!ReadImageSize(job, codec_))
      return SIZE_UNREADABLE;
    phases_.params = NowNs() - start;
    job.sizeChoice = answers_.size;
    const SizeResult result = ConfirmSize(job, codec_);
    phases_.decode = NowNs() - start - phases_.params;
    return result;
  }

  int ShowQualityDialog(JobState& job) override {
    const int64_t start = NowNs();
    EncodeAtQuality(job, codec_);
    phases_.openings.push_back(NowNs() - start);
    phases_.encode = phases_.openings[0];
    if (opening_ < answers_.typedQualities.size())
      return DecideQuality(job, answers_.typedQualities[opening_++]);
    if (answers_.onSave)
      answers_.onSave(job);
    return DecideQuality(job, std::to_string(job.quality), answers_.sameForRest);
  }

  void ShowMessage(const char*) override { failed = true; }
  void ShowSystemError(SystemError) override { failed = true; }
  void ShowBatchPhoto(size_t, size_t, const char*) override {}
  bool ReportBatchProgress(double) noexcept override { return true; }
  void CloseBatchProgress() override {}
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

 private:
  const UserAnswers& answers_;
  Phases& phases_;
  CodecProps codec_{};
  std::ifstream in_;
  size_t opening_ = 0;
  int64_t readStart_ = 0;
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
  CodecProps codec{};
  BenchPlatform platform(answers, phases);
  const uint64_t faults = PageFaults();
  const int64_t start = NowNs();
  const auto ending = ProcessFile(job, codec, platform, InputMode::kCommandLine, photo.c_str());
  phases.total = NowNs() - start;
  phases.pageFaults = PageFaults() - faults;
  phases.ok = !ending && !platform.failed && phases.outputBytes > 0;
  return phases;
}

std::optional<int64_t> RunBatchProgram(const std::vector<std::string>& photos,
                                       const UserAnswers& answers) {
  Phases phases;
  JobState job;
  CodecProps codec{};
  BenchPlatform platform(answers, phases);
  std::string commandLine;
  for (const std::string& photo : photos)
    commandLine += (commandLine.empty() ? "" : " ") + photo;
  CaptureArguments(job, commandLine);
  const int64_t start = NowNs();
  const BatchEnding ending = RunBatch(job, codec, platform);
  const int64_t took = NowNs() - start;
  if (ending != BatchEnding::kDestroyHost || platform.failed)
    return std::nullopt;
  return took;
}
