// The batch's tests: photos in memory, a fake platform whose dialogs answer
// as a script says, and the real codec.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "batch/command_line.h"
#include "batch/pipeline.h"
#include "dialogs/quality_dialog.h"
#include "fake_platform.h"

inline std::vector<uint8_t> Photo() {
  std::ifstream in(std::string(TBM_TEST_DATA_DIR) + "/testorig.jpg", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The photo with its frame header claiming another size.
inline std::vector<uint8_t> PhotoClaiming(uint16_t width, uint16_t height) {
  std::vector<uint8_t> bytes = Photo();
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = static_cast<uint8_t>(height >> 8);
      bytes[i + 6] = static_cast<uint8_t>(height);
      bytes[i + 7] = static_cast<uint8_t>(width >> 8);
      bytes[i + 8] = static_cast<uint8_t>(width);
      return bytes;
    }
  }
  ADD_FAILURE() << "no frame header";
  return bytes;
}

inline const QualityAnswer kSave{"90"};
inline const QualityAnswer kCancel{std::nullopt};

class Batch : public ::testing::Test {
 protected:
  // Runs the batch over the command line given, or the open dialog when empty.
  BatchEnding Run(std::string_view commandLine = "") {
    CaptureArguments(job, commandLine);
    return RunBatch(job, codec, platform);
  }
  bool Saved(const std::string& path) const { return platform.files.contains(path); }

  JobState job;
  CodecProps codec{};
  FakePlatform platform{codec};
};
