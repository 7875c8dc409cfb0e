// The output's name: the input's, with an X before the first dot of the file
// name (at its end when there is no dot), in the input's folder.
#pragma once

#include <string_view>

#include "batch/job_state.h"

// Fills OutputPath. False when the path with its X does not fit; OutputPath
// is then empty and nothing was written past it.
bool BuildOutputPath(JobState& job, std::string_view inputPath);

// Fills DisplayName with the file-name part of OutputPath.
void BuildDisplayName(JobState& job);
