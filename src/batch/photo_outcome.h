// Where a photo's walk stops short of its copy, what the user is told, and
// whether the batch goes on: the rows of the batch's outcomes table, the same
// whether the photo went through its dialogs or through a worker.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "batch/platform.h"

inline constexpr char kNotAJpegText[] = "That's not a jpeg file.";
inline constexpr char kFileEmptyText[] = "File is empty";
inline constexpr char kTooManyFilesText[] = "Too many files were chosen at once.";

// "No JPEG photos were found in FOLDER.", the folder as it was given.
inline std::string NoPhotosText(std::string_view folder) {
  return "No JPEG photos were found in " + std::string(folder) + ".";
}

// How the host window ends the program once the batch is over.
enum class BatchEnding {
  kDestroyHost,    // destroyed during its creation: the program ends at once
  kSendDestroy,    // told it is destroyed: shown briefly, then the program ends
  kLeaveHostOpen,  // left alive: the program ends when the user closes it
};

struct PhotoOutcome {
  bool goOn = true;              // the photo's walk goes on to its next step
  std::string message;           // one of the program's texts, told; empty: none
  SystemError error = kNoError;  // the system's text for it, told
  std::optional<BatchEnding> ending;

  static PhotoOutcome GoOn() { return {}; }
  // The photo gets no copy; nothing is told and the batch goes on.
  static PhotoOutcome Skip() { return {false, {}, kNoError, std::nullopt}; }
  static PhotoOutcome Message(std::string text, std::optional<BatchEnding> ending = {}) {
    return {false, std::move(text), kNoError, ending};
  }
  static PhotoOutcome Error(SystemError error, std::optional<BatchEnding> ending = {}) {
    return {false, {}, error, ending};
  }
  // The user stopped the batch: the program ends without a word.
  static PhotoOutcome Stop() { return {false, {}, kNoError, BatchEnding::kDestroyHost}; }
};

// Tells the user what the outcome says; the batch's ending, if it ends.
inline std::optional<BatchEnding> Tell(Platform& platform, const PhotoOutcome& outcome) {
  if (!outcome.message.empty())
    platform.ShowMessage(outcome.message.c_str());
  if (outcome.error != kNoError)
    platform.ShowSystemError(outcome.error);
  return outcome.ending;
}
