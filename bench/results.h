// What the benchmark measured, and the report it writes from that.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "measure.h"

// The reference has optimized Huffman tables, as the program; "warm" ones
// convert into memory their process touched in the conversion before.
enum Tool : int {
  kProgram,
  kProgramTwice,  // "Output Quality" opened twice: at 90, then at 80
  kProgramTwiceWarm,
  kReference,
  kReferenceWarm,
  kReferenceStandard,  // libjpeg's standard tables
  kReferenceStandardWarm,
  kDjpegCjpeg,
  kConvert,
  kVips,
  kToolCount,
};

inline constexpr std::array<int, 3> kDenominators = {1, 2, 4};

struct Photo {
  std::string label;
  std::string kind;  // "real" photographs, codec "test" images, or "made" here
  std::string source;
  std::string path;
  uint64_t bytes = 0;
  PhotoInfo info;
  bool small = false;  // under 1 MP
};

struct Measurement {
  bool ok = false;
  Phases phases;  // the in-process tools' own phase times; total for all
  uint64_t peakRss = 0;
  uint64_t outputBytes = 0;
};

struct PhotoResults {
  Photo photo;
  // [scale index][tool]: one entry per run.
  std::array<std::array<std::vector<Measurement>, kToolCount>, kDenominators.size()> runs;
  uint64_t headerReadInstructions = 0;  // callgrind's count for ReadImageSize
  // The program's full-scale copies compared byte for byte with the
  // reference's file of an earlier run: how many, and how many were the same.
  int copiesCompared = 0;
  int copiesSame = 0;
};

// Instructions of one conversion, program against reference.
struct InstructionCount {
  const PhotoResults* photo;
  size_t scale;
  uint64_t program;
  uint64_t reference;
  uint64_t referenceStandard;
};

struct ReportInputs {
  std::vector<PhotoResults> photos;
  std::vector<InstructionCount> instructions;
  std::vector<Photo> skipped;  // photos the program cannot read
  std::string versions;        // "package version" lines
  std::string win32Memory;     // a markdown section on the 32-bit program under Wine, if any
  uint64_t orchestratorPeak = 0;
  int64_t firstTouchNs = 0;  // the first touch of a fresh 4 KiB page
  int runs = 0;
  int peerRuns = 0;
  int smallRuns = 0;
  int64_t elapsedNs = 0;
};

const char* ToolName(Tool tool);

// docs/benchmarks.md, and the data the chart is drawn from.
bool WriteReport(const ReportInputs& in, const std::string& reportPath,
                 const std::string& chartDataPath, const std::string& chartFile);
