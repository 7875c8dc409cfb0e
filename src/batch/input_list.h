// Where the batch's input paths come from: the command line when it holds
// anything, otherwise the open dialog; and the walk over them in order.
#pragma once

#include <cstddef>

#include "batch/job_state.h"

enum class InputMode { kCommandLine, kSelection };

// Takes the split prefix (the first three characters of the command line,
// zero bytes where it is shorter), starts at the first file and chooses the
// mode by the command line's length.
InputMode BeginBatch(BatchInput& input);

// The batch's paths in order, in either mode.
class PathWalk {
 public:
  PathWalk(BatchInput& input, InputMode mode) : input_(input), mode_(mode) {}

  bool AtEnd() const;
  // The current path; null when a chosen name does not fit in a path. Valid
  // until the walk advances.
  const char* Current();
  // How many paths follow the current one.
  size_t Following() const;
  void Advance();

 private:
  BatchInput& input_;
  const InputMode mode_;
};
