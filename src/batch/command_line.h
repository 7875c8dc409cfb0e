// The argument text and how it splits into input paths.
#pragma once

#include <string_view>

#include "batch/job_state.h"

// Keeps the argument text in CommandLineBuffer with every double quote
// dropped, and its length. Nothing else is parsed: blanks are kept.
void CaptureArguments(BatchInput& input, std::string_view argumentText);

// Ends the path that starts at currentFile and sets nextStart to where the
// following one begins. Paths are not delimited by blanks (the quotes are
// gone): a new path begins where the first three characters of the whole
// command line occur again, and the character before it becomes the current
// path's terminator. Returns the current path.
const char* SplitCurrentPath(BatchInput& input);

// How many paths the command line holds from `start` on, split as above,
// without splitting it.
size_t CountPathsFrom(const BatchInput& input, size_t start);
