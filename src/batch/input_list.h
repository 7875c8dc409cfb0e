// Where the batch's input paths come from: the command line when it holds
// anything, otherwise the open dialog.
#pragma once

#include "batch/job_state.h"

enum class InputMode { kCommandLine, kSelection };

// Takes the split prefix (the first three characters of the command line,
// zero bytes where it is shorter), starts at the first file and chooses the
// mode by the command line's length.
InputMode BeginBatch(JobState& job);
