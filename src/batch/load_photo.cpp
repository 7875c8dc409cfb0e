#include "batch/load_photo.h"

#include <algorithm>

namespace {

// Pieces small enough that a slow disk returns each within a fraction of a
// second, large enough that their count costs nothing.
constexpr size_t kPieceBytes = size_t{4} << 20;

}  // namespace

PhotoOutcome OpenPhoto(Platform& platform, InputMode mode, const char* path, OpenedPhoto& opened) {
  SystemError error = kNoError;
  opened.file = platform.OpenInput(path, error);
  if (opened.file == nullptr)
    return PhotoOutcome::Error(error, BatchEnding::kLeaveHostOpen);
  error = opened.file->SizeAndTime(opened.bytes, opened.lastWriteTime);
  if (error != kNoError) {
    opened.file.reset();
    return PhotoOutcome::Error(error, BatchEnding::kLeaveHostOpen);
  }
  if (opened.bytes == 0) {
    opened.file.reset();
    if (mode == InputMode::kCommandLine)
      return PhotoOutcome::Skip();
    return PhotoOutcome::Message(kFileEmptyText, BatchEnding::kSendDestroy);
  }
  return PhotoOutcome::GoOn();
}

PhotoOutcome ReadPhoto(OpenedPhoto& opened, Conversion& conversion, CodecProgress* progress) {
  const std::unique_ptr<InputFile> file = std::move(opened.file);
  if (!conversion.PrepareInput(opened.bytes))
    return PhotoOutcome::Error(kErrorNotEnoughMemory);
  std::span<uint8_t> rest = conversion.Input();
  const double total = static_cast<double>(rest.size());
  while (!rest.empty()) {
    const size_t piece = std::min(rest.size(), kPieceBytes);
    if (const SystemError error = file->Read(rest.first(piece)); error != kNoError)
      return PhotoOutcome::Error(error, BatchEnding::kLeaveHostOpen);
    rest = rest.subspan(piece);
    if (progress != nullptr && !progress->Report(1 - static_cast<double>(rest.size()) / total))
      return PhotoOutcome::Stop();
  }
  if (!conversion.HasJpegSignature())
    return PhotoOutcome::Message(kNotAJpegText, BatchEnding::kDestroyHost);
  return PhotoOutcome::GoOn();
}
