// One conversion, timed phase by phase by the process that runs it: the
// program's own path through the batch, or the minimal libjpeg-turbo loop
// that is the limit the program is measured against.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Nanoseconds per phase of one conversion, and what it left behind.
struct Phases {
  int64_t read = 0;    // open, size and read of the input
  int64_t params = 0;  // the header read the "Output Size" dialog does (program only)
  int64_t decode = 0;
  int64_t encode = 0;
  int64_t write = 0;
  int64_t total = 0;
  uint64_t outputBytes = 0;
  uint64_t pageFaults = 0;  // first touches of fresh pages during the conversion
  bool ok = false;
};

// What the probe finds out about a photo before it is measured.
struct PhotoInfo {
  bool readable = false;  // the program reads its size
  int32_t width = 0;
  int32_t height = 0;
  bool progressive = false;
  int components = 0;
  std::string sampling;      // "4:4:4", "4:2:2", "4:2:0", "gray", ...
  int64_t headerReadNs = 0;  // ReadImageSize again on the same bytes: its own cost
};

int64_t NowNs();

// The process's peak resident set so far (VmHWM), in bytes.
uint64_t PeakResidentBytes();

// The process's page faults so far.
uint64_t PageFaults();

// Nanoseconds for the first touch of one page of a fresh anonymous mapping,
// the median over a few mappings of `bytes`.
int64_t FirstTouchNsPerPage(size_t bytes);

// The program's path for one photo at 1/denominator scale and quality 90:
// the batch's ProcessFile with dialogs that answer as a user would, so the
// file is read into a PageBlock, its size read, decoded, encoded into the
// output block and written beside the photo under its X-name.
Phases RunProgram(const std::string& photo, int denominator);

// The same conversion as a minimal libjpeg-turbo program would do it.
Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman);

// Reads the photo's headers the program's way, then `repeats` times more to
// time the header read alone.
PhotoInfo ProbePhoto(const std::string& photo, int repeats);

// Writes the pieces, one after another, to a new file at `path`.
bool WriteWholeFile(const char* path, std::span<const std::span<const uint8_t>> pieces);
