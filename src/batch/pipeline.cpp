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

// What is held for one photo once it is done with, saved or not.
void EndFile(JobState& job) {
  job.outputBuffer.Release();
  job.pixelBuffer.Release();
  job.metadata.Clear();
  job.largeBlocks.Release();
}

// Steps 8 to 11 of a file: from a decoded image to a saved (or skipped)
// output. What the file held is released on every path.
void ChooseQualityAndSave(JobState& job, Platform& platform) {
  if (!job.outputBuffer.Prepare(OutputBound(job.width, job.height, job.metadata))) {
    EndFile(job);
    platform.ShowSystemError(kErrorNotEnoughMemory);
    return;
  }
  job.encodedSize = 0;
  int result;
  while ((result = platform.ShowQualityDialog(job)) == QUALITY_RETRY) {
  }
  // A failed encoding (a 0 by 0 image, say) leaves nothing worth a file.
  if (result != QUALITY_SKIP && job.encodedSize != 0) {
    const auto pieces = job.outputBuffer.Pieces(job.encodedSize);
    const SystemError error = platform.SaveOutput(job.OutputPath.data(), pieces);
    if (error != kNoError)
      platform.ShowSystemError(error);
  } else if (result != QUALITY_SKIP && job.encodeStatus == CODEC_NO_MEMORY) {
    platform.ShowSystemError(kErrorNotEnoughMemory);
  }
  EndFile(job);
}

}  // namespace

std::optional<BatchEnding> ProcessFile(JobState& job, CodecProps& codec, Platform& platform,
                                       InputMode mode, const char* path) {
  if (const SystemError error = platform.OpenInput(path); error != kNoError) {
    platform.ShowSystemError(error);
    return BatchEnding::kLeaveHostOpen;
  }
  uint64_t size = 0;
  if (const SystemError error = platform.InputSize(size); error != kNoError) {
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
  if (size > UINT32_MAX || !job.jpegBuffer.Allocate(size)) {
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

  const int sized = platform.ShowSizeDialog(job);
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
        platform.ShowMessage(kNotAJpegText);
        return BatchEnding::kDestroyHost;
      default:
        return BatchEnding::kDestroyHost;
    }
  }

  // The X-name of a path near the length limit does not fit: an output that
  // cannot be created.
  if (!BuildOutputPath(job, path)) {
    EndFile(job);
    platform.ShowSystemError(kErrorFilenameTooLong);
    return std::nullopt;
  }
  BuildDisplayName(job);
  ChooseQualityAndSave(job, platform);
  return std::nullopt;
}

BatchEnding RunBatch(JobState& job, CodecProps& codec, Platform& platform) {
  const InputMode mode = BeginBatch(job);
  if (mode == InputMode::kSelection) {
    if (!platform.ChooseFiles(job))
      return BatchEnding::kSendDestroy;
    ParseSelection(job);
    for (job.currentFile = 0; job.fileCount > 0; --job.fileCount, ++job.currentFile) {
      if (!BuildSelectedPath(job, job.currentFile)) {
        // As the system would answer an open of a path that long.
        platform.ShowSystemError(kErrorFilenameTooLong);
        return BatchEnding::kLeaveHostOpen;
      }
      if (auto ending = ProcessFile(job, codec, platform, mode, job.inputPath.data())) {
        return *ending;
      }
    }
  } else {
    while (job.currentFile < job.commandLineLength) {
      const char* path = SplitCurrentPath(job);
      if (auto ending = ProcessFile(job, codec, platform, mode, path))
        return *ending;
      job.currentFile = job.nextStart;
    }
  }
  return BatchEnding::kDestroyHost;
}
