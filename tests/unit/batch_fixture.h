// The batch's tests: photos in memory, a fake platform whose dialogs answer
// as a script says, and the real codec.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/command_line.h"
#include "batch/pipeline.h"
#include "dialogs/quality_dialog.h"
#include "fake_platform.h"

inline const QualityAnswer kSave{"90"};
inline const QualityAnswer kCancel{std::nullopt};

class Batch : public ::testing::Test {
 protected:
  // Runs the batch over the command line given, or the open dialog when empty.
  BatchEnding Run(std::string_view commandLine = "") {
    CaptureArguments(job.input, commandLine);
    return RunBatch(job, platform);
  }

  JobState job;
  FakePlatform platform;
};
