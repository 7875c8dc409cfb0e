// The batch: every input file read, checked, resized, re-encoded and saved
// under its X-name, and how the program ends afterwards.
#pragma once

#include <optional>

#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/platform.h"
#include "codec/codec.h"

inline constexpr char kNotAJpegText[] = "That's not a jpeg file.";
inline constexpr char kFileEmptyText[] = "File is empty";
inline constexpr char kTooManyFilesText[] = "Too many files were chosen at once.";

// How the host window ends the program once the batch is over.
enum class BatchEnding {
  kDestroyHost,    // destroyed during its creation: the program ends at once
  kSendDestroy,    // told it is destroyed: shown briefly, then the program ends
  kLeaveHostOpen,  // left alive: the program ends when the user closes it
};

BatchEnding RunBatch(JobState& job, CodecProps& codec, Platform& platform);

// The photos after a Save with "Same for the rest", done without dialogs.
class RestOfBatch;

// One input file: through its two dialogs, or, with `rest`, at the size and
// quality of the photo before, its progress shown in the batch's window.
// Empty when the batch goes on with the next file.
std::optional<BatchEnding> ProcessFile(JobState& job, CodecProps& codec, Platform& platform,
                                       InputMode mode, const char* path,
                                       RestOfBatch* rest = nullptr);
