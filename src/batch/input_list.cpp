#include "batch/input_list.h"

#include <algorithm>

InputMode BeginBatch(JobState& job) {
  std::copy_n(job.CommandLineBuffer.begin(), job.SplitPrefix.size(), job.SplitPrefix.begin());
  job.currentFile = 0;
  return job.commandLineLength != 0 ? InputMode::kCommandLine : InputMode::kSelection;
}
