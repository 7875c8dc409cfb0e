#include "batch/pipeline.h"

#include "batch/command_line.h"
#include "batch/output_naming.h"
#include "batch/selection.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

bool HasJpegSignature(std::span<const uint8_t> bytes) {
  return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// Every block a photo holds.
void ReleaseBlocks(JobState& job) {
  job.jpegBuffer.Release();
  job.pixelBuffer.Release();
  job.outputBuffer.Release();
  job.largeBlocks.Release();
}

// What is held for one photo once it is done with, saved or not; its blocks
// stay for the next photo while job.keepBlocks is set.
void EndFile(JobState& job) {
  job.metadata.Clear();
  if (!job.keepBlocks)
    ReleaseBlocks(job);
}

}  // namespace

// The rest of a batch after "Same for the rest": each photo's decode and
// encode reported to the batch's window as a share of the whole run.
class RestOfBatch final : public CodecProgress {
 public:
  RestOfBatch(Platform& platform, size_t firstNumber, size_t total)
      : platform_(platform), number_(firstNumber), first_(firstNumber), total_(total) {}

  // The next photo begins: shown with its new name; false once cancelled.
  bool BeginPhoto(const char* newName) {
    platform_.ShowBatchPhoto(number_, total_, newName);
    phase_ = 0;
    return Report(0);
  }
  void BeginEncode() { phase_ = 1; }
  void EndPhoto() { ++number_; }

  bool Report(double done) noexcept override {
    // The decode and the encode count for half of a photo each.
    const double photos = static_cast<double>(number_ - first_) + (phase_ + done) / 2;
    return platform_.ReportBatchProgress(photos / static_cast<double>(total_ - first_ + 1));
  }

 private:
  Platform& platform_;
  size_t number_;
  const size_t first_;
  const size_t total_;
  int phase_ = 0;
};

namespace {

// The size chosen in "Output Size", or, in the rest of a batch, the size
// chosen for the photo before.
int ChooseSize(JobState& job, CodecProps& codec, Platform& platform, RestOfBatch* rest) {
  if (rest == nullptr)
    return platform.ShowSizeDialog(job);
  if (!ReadImageSize(job, codec))
    return SIZE_UNREADABLE;
  return ConfirmSize(job, codec, rest);
}

// Steps 8 to 11 of a file: from a decoded image to a saved (or skipped)
// output. What the file held is released on every path. False when the user
// stopped the rest of the batch.
bool ChooseQualityAndSave(JobState& job, CodecProps& codec, Platform& platform, RestOfBatch* rest) {
  if (!job.outputBuffer.Prepare(OutputBound(job.width, job.height, job.metadata))) {
    EndFile(job);
    platform.ShowSystemError(kErrorNotEnoughMemory);
    return true;
  }
  job.encodedSize = 0;
  job.encodeStatus = CODEC_OK;
  int result = QUALITY_SAVE;
  if (rest != nullptr) {
    rest->BeginEncode();
    EncodeAtQuality(job, codec, rest);
  } else {
    job.sameForRest = false;
    while ((result = platform.ShowQualityDialog(job)) == QUALITY_RETRY) {
    }
  }
  if (job.encodeStatus == CODEC_CANCELLED) {
    EndFile(job);
    return false;
  }
  // A failed encoding (a 0 by 0 image, say) leaves nothing worth a file.
  if (result != QUALITY_SKIP && job.encodedSize != 0) {
    const auto pieces = job.outputBuffer.Pieces(job.encodedSize);
    const SystemError error = platform.SaveOutput(job.OutputPath.data(), pieces, job.inputTime);
    if (error != kNoError)
      platform.ShowSystemError(error);
  } else if (result != QUALITY_SKIP && job.encodeStatus == CODEC_NO_MEMORY) {
    platform.ShowSystemError(kErrorNotEnoughMemory);
  }
  if (result == QUALITY_SKIP)
    job.sameForRest = false;  // the box counts only with Save
  EndFile(job);
  return true;
}

}  // namespace

std::optional<BatchEnding> ProcessFile(JobState& job, CodecProps& codec, Platform& platform,
                                       InputMode mode, const char* path, RestOfBatch* rest) {
  if (const SystemError error = platform.OpenInput(path); error != kNoError) {
    platform.ShowSystemError(error);
    return BatchEnding::kLeaveHostOpen;
  }
  uint64_t size = 0;
  if (const SystemError error = platform.InputSizeAndTime(size, job.inputTime); error != kNoError) {
    platform.CloseInput();
    platform.ShowSystemError(error);
    return BatchEnding::kLeaveHostOpen;
  }
  if (size == 0) {
    platform.CloseInput();
    if (mode == InputMode::kCommandLine)
      return std::nullopt;
    platform.ShowMessage(kFileEmptyText);
    return BatchEnding::kSendDestroy;
  }
  if (size > UINT32_MAX || !job.jpegBuffer.Fit(size)) {
    platform.CloseInput();
    platform.ShowSystemError(kErrorNotEnoughMemory);
    return std::nullopt;
  }
  job.fileSize = static_cast<uint32_t>(size);
  if (const SystemError error = platform.ReadInput(job.jpegBuffer.bytes()); error != kNoError) {
    platform.CloseInput();
    job.jpegBuffer.Release();
    platform.ShowSystemError(error);
    return BatchEnding::kLeaveHostOpen;
  }
  if (!HasJpegSignature(job.jpegBuffer.bytes())) {
    platform.CloseInput();
    job.jpegBuffer.Release();
    platform.ShowMessage(kNotAJpegText);
    return BatchEnding::kDestroyHost;
  }

  const int sized = ChooseSize(job, codec, platform, rest);
  platform.CloseInput();
  if (sized != SIZE_CONFIRMED) {
    job.jpegBuffer.Release();
    job.metadata.Clear();
    CodecFree(codec);
    switch (sized) {
      case SIZE_NO_MEMORY:
        platform.ShowSystemError(kErrorNotEnoughMemory);
        return std::nullopt;
      case SIZE_UNREADABLE:
        // Past the signature test, but not a JPEG the codec can decode (12
        // bits a sample, lossless, headers cut off): this photo only.
        platform.ShowMessage(kNotAJpegText);
        return std::nullopt;
      default:
        return BatchEnding::kDestroyHost;
    }
  }

  // The X-name of a path near the length limit does not fit: an output that
  // cannot be created.
  if (!BuildOutputPath(job, path, platform.LeadBytes())) {
    EndFile(job);
    platform.ShowSystemError(kErrorFilenameTooLong);
    return std::nullopt;
  }
  BuildDisplayName(job, platform.LeadBytes());
  if (!ChooseQualityAndSave(job, codec, platform, rest))
    return BatchEnding::kDestroyHost;
  return std::nullopt;
}

namespace {

// The batch's paths in order, in either mode.
class PathWalk {
 public:
  PathWalk(JobState& job, InputMode mode) : job_(job), mode_(mode) {}

  bool AtEnd() const {
    return mode_ == InputMode::kSelection ? job_.fileCount <= 0
                                          : job_.currentFile >= job_.commandLineLength;
  }
  // The current path; null when a chosen name does not fit in a path.
  const char* Current() {
    ++number_;
    if (mode_ == InputMode::kCommandLine)
      return SplitCurrentPath(job_);
    return BuildSelectedPath(job_, job_.currentFile) ? job_.inputPath.data() : nullptr;
  }
  // The paths after the current one.
  size_t Following() const {
    return mode_ == InputMode::kSelection ? static_cast<size_t>(job_.fileCount - 1)
                                          : CountPathsFrom(job_, job_.nextStart);
  }
  void Advance() {
    if (mode_ == InputMode::kSelection) {
      --job_.fileCount;
      ++job_.currentFile;
    } else {
      job_.currentFile = job_.nextStart;
    }
  }
  // The current path's place in the batch, from 1.
  size_t Number() const { return number_; }

 private:
  JobState& job_;
  const InputMode mode_;
  size_t number_ = 0;
};

// After a Save with "Same for the rest": every photo after the current one,
// at the same size and quality, without dialogs.
BatchEnding RunRest(JobState& job, CodecProps& codec, Platform& platform, InputMode mode,
                    PathWalk& walk) {
  RestOfBatch rest(platform, walk.Number() + 1, walk.Number() + walk.Following());
  job.keepBlocks = true;
  std::optional<BatchEnding> ending;
  for (walk.Advance(); !ending && !walk.AtEnd(); walk.Advance()) {
    const char* path = walk.Current();
    if (path == nullptr) {
      platform.ShowSystemError(kErrorFilenameTooLong);
      ending = BatchEnding::kLeaveHostOpen;
      break;
    }
    // The window names the photo by its copy's name from the start.
    const bool named = BuildOutputPath(job, path, platform.LeadBytes());
    if (named)
      BuildDisplayName(job, platform.LeadBytes());
    if (!rest.BeginPhoto(named ? job.DisplayName.data() : path)) {
      ending = BatchEnding::kDestroyHost;
      break;
    }
    ending = ProcessFile(job, codec, platform, mode, path, &rest);
    rest.EndPhoto();
  }
  platform.CloseBatchProgress();
  job.keepBlocks = false;
  ReleaseBlocks(job);
  return ending.value_or(BatchEnding::kDestroyHost);
}

}  // namespace

BatchEnding RunBatch(JobState& job, CodecProps& codec, Platform& platform) {
  const InputMode mode = BeginBatch(job);
  if (mode == InputMode::kSelection) {
    for (;;) {
      const FileChoice choice = platform.ChooseFiles(job);
      if (choice == FileChoice::kCancelled)
        return BatchEnding::kSendDestroy;
      if (choice == FileChoice::kChosen && ParseSelection(job))
        break;
      // Refused by the dialog, or cut at the buffer's end: the user chooses
      // fewer, never gets a part of the list.
      platform.ShowMessage(kTooManyFilesText);
    }
  }
  for (PathWalk walk(job, mode); !walk.AtEnd(); walk.Advance()) {
    const char* path = walk.Current();
    if (path == nullptr) {
      // As the system would answer an open of a path that long.
      platform.ShowSystemError(kErrorFilenameTooLong);
      return BatchEnding::kLeaveHostOpen;
    }
    job.morePhotosFollow = walk.Following() > 0;
    if (auto ending = ProcessFile(job, codec, platform, mode, path))
      return *ending;
    if (job.sameForRest)
      return RunRest(job, codec, platform, mode, walk);
  }
  return BatchEnding::kDestroyHost;
}
