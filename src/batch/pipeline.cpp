#include "batch/pipeline.h"

#include "batch/load_photo.h"
#include "batch/photo_walk.h"
#include "batch/rest_of_batch.h"
#include "batch/selection.h"

namespace {

// The program's own thread reading an input: its windows keep answering
// between the pieces.
class KeepAnswering final : public CodecProgress {
 public:
  explicit KeepAnswering(Platform& platform) : platform_(platform) {}
  bool Report(double) noexcept override {
    platform_.KeepAnswering();
    return true;
  }

 private:
  Platform& platform_;
};

// From a decoded photo to its copy saved, or skipped.
void ChooseQualityAndSave(UserChoices& choices, Platform& platform, PhotoWork& photo) {
  if (!photo.conversion.PrepareCopy()) {
    platform.ShowSystemError(kErrorNotEnoughMemory);
    return;
  }
  choices.sameForRest = false;
  int result = QUALITY_SAVE;
  while ((result = platform.ShowQualityDialog(photo, choices)) == QUALITY_RETRY) {
  }
  if (result == QUALITY_SKIP) {
    choices.sameForRest = false;  // the box counts only with Save
    return;
  }
  if (photo.encodeStatus == CODEC_NO_MEMORY) {
    platform.ShowSystemError(kErrorNotEnoughMemory);
  } else if (photo.conversion.CopyBytes() != 0) {
    // A failed encoding (a 0 by 0 image, say) leaves nothing worth a file.
    const SystemError error = platform.SaveOutput(photo.names.OutputPath.data(),
                                                  photo.conversion.CopyPieces(), photo.inputTime);
    if (error != kNoError)
      platform.ShowSystemError(error);
  }
}

}  // namespace

std::optional<BatchEnding> ProcessFile(JobState& job, Platform& platform, InputMode mode,
                                       const char* path, bool morePhotosFollow) {
  PhotoWork photo;
  photo.morePhotosFollow = morePhotosFollow;
  OpenedPhoto opened;
  PhotoOutcome outcome = OpenPhoto(platform, mode, path, opened);
  if (outcome.goOn) {
    photo.inputTime = opened.lastWriteTime;
    KeepAnswering answering(platform);
    outcome = ReadPhoto(opened, photo.conversion, &answering);
  }
  if (!outcome.goOn)
    return Tell(platform, outcome);

  switch (platform.ShowSizeDialog(photo, job.choices)) {
    case SIZE_CONFIRMED:
      break;
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

  // The X-name of a path near the length limit does not fit: an output that
  // cannot be created.
  if (!BuildOutputPath(photo.names, path, platform.LeadBytes())) {
    platform.ShowSystemError(kErrorFilenameTooLong);
    return std::nullopt;
  }
  BuildDisplayName(photo.names, platform.LeadBytes());
  ChooseQualityAndSave(job.choices, platform, photo);
  return std::nullopt;
}

BatchEnding RunBatch(JobState& job, Platform& platform) {
  const InputMode mode = BeginBatch(job.input);
  if (mode == InputMode::kSelection) {
    for (;;) {
      const FileChoice choice = platform.ChooseFiles(job.input);
      if (choice == FileChoice::kCancelled)
        return BatchEnding::kSendDestroy;
      if (choice == FileChoice::kChosen && ParseSelection(job.input))
        break;
      // Refused by the dialog, or cut at the buffer's end: the user chooses
      // fewer, never gets a part of the list.
      platform.ShowMessage(kTooManyFilesText);
    }
  }
  for (PhotoWalk walk(job.input, mode, platform); walk.Next();) {
    if (platform.SessionEnds())
      return BatchEnding::kDestroyHost;
    if (walk.Told()) {
      if (auto ending = Tell(platform, *walk.Told()))
        return *ending;
      continue;
    }
    if (auto ending = ProcessFile(job, platform, mode, walk.Path(), walk.MoreFollow()))
      return *ending;
    if (job.choices.sameForRest)
      return RunRest(job, platform, mode, walk);
  }
  return BatchEnding::kDestroyHost;
}
