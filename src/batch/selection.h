// The open dialog's result: one full path, or a folder followed by the names
// chosen in it, each ended by a zero byte, the whole by a second zero byte.
#pragma once

#include "batch/job_state.h"

// Records where each name starts and how long the folder is, and copies the
// folder (or the single full path) into inputPath. Sets fileCount to the
// number of files, at least 1. False, with fileCount 0, for a result that
// ends without its second zero byte: a list longer than the buffer, which
// Wine's dialog cuts at the buffer's end where Windows' refuses it.
bool ParseSelection(BatchInput& input);

// Builds the full path of chosen file `index` in inputPath: the folder, a
// backslash and the name. False when it does not fit in inputPath; the path
// is then empty.
bool BuildSelectedPath(BatchInput& input, size_t index);
