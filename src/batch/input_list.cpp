#include "batch/input_list.h"

#include <algorithm>

#include "batch/command_line.h"
#include "batch/selection.h"

InputMode BeginBatch(BatchInput& input) {
  std::copy_n(input.CommandLineBuffer.begin(), input.SplitPrefix.size(), input.SplitPrefix.begin());
  input.currentFile = 0;
  return input.commandLineLength != 0 ? InputMode::kCommandLine : InputMode::kSelection;
}

bool PathWalk::AtEnd() const {
  return mode_ == InputMode::kSelection ? input_.fileCount <= 0
                                        : input_.currentFile >= input_.commandLineLength;
}

const char* PathWalk::Current() {
  if (mode_ == InputMode::kCommandLine)
    return SplitCurrentPath(input_);
  return BuildSelectedPath(input_, input_.currentFile) ? input_.inputPath.data() : nullptr;
}

size_t PathWalk::Following() const {
  return mode_ == InputMode::kSelection ? static_cast<size_t>(input_.fileCount - 1)
                                        : CountPathsFrom(input_, input_.nextStart);
}

void PathWalk::Advance() {
  if (mode_ == InputMode::kSelection) {
    --input_.fileCount;
    ++input_.currentFile;
  } else {
    input_.currentFile = input_.nextStart;
  }
}
