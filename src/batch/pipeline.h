// The batch: every input file read, checked, resized, re-encoded and saved
// under its X-name, and how the program ends afterwards.
#pragma once

#include <optional>

#include "batch/input_list.h"
#include "batch/job_state.h"
#include "batch/photo_outcome.h"
#include "batch/platform.h"

BatchEnding RunBatch(JobState& job, Platform& platform);

// One input file through its two dialogs. Empty when the batch goes on with
// the next file.
std::optional<BatchEnding> ProcessFile(JobState& job, Platform& platform, InputMode mode,
                                       const char* path, bool morePhotosFollow = false);
