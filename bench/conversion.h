// One conversion of a photo, timed phase by phase by the process that runs it:
// the program's own path through the batch, or the minimal libjpeg-turbo loop
// that is the limit the program is measured against.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "batch/job_state.h"

// Nanoseconds per phase of one conversion, and what it left behind.
struct Phases {
  int64_t read = 0;    // open, size and read of the input
  int64_t params = 0;  // the header read behind "Output Size" (program only)
  int64_t decode = 0;
  int64_t encode = 0;             // the first "Output Quality" opening's, for the program
  std::vector<int64_t> openings;  // each "Output Quality" opening's encode (program only)
  int64_t write = 0;
  int64_t total = 0;
  uint64_t outputBytes = 0;
  uint64_t pageFaults = 0;  // first touches of fresh pages during the conversion
  bool ok = false;
};

// How the C heap hands out large buffers for the rest of the process: each
// fresh from the kernel (as the program's page blocks are), or (warm) reused
// from memory touched before, nothing given back.
void UseHeap(bool warm);

int64_t NowNs();
uint64_t PageFaults();

// What the user does in the dialogs: the size, then the texts typed in the
// quality field of each "Output Quality" opening before Save (none: Save at
// 90 at once). `onSave` sees the job as the last opening leaves it.
struct UserAnswers {
  SizeChoice size = SIZE_FULL;
  std::vector<std::string> typedQualities;
  std::function<void(const JobState&)> onSave;
};

// The program's path for one photo: the batch's ProcessFile with dialogs that
// answer as `answers` says, so the file is read into a page block, its size
// read, decoded, encoded into the output block and written beside the photo
// under its X-name.
Phases RunProgram(const std::string& photo, const UserAnswers& answers);

// The same conversion as a minimal libjpeg-turbo program would do it at
// 1/denominator scale and quality 90, carrying the photo's orientation and
// RGB colour profile as the program does, with optimized or standard Huffman
// tables.
Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman);

// Writes the pieces, one after another, to a new file at `path`.
bool WriteFile(const char* path, std::span<const std::span<const uint8_t>> pieces);

// The reference's encode of the job's pixels at its quality and with its
// metadata, standard tables; nanoseconds.
int64_t StandardTablesEncode(const JobState& job);

// The photo as the benchmark reports it, as one line of JSON: the program's
// size, then the coding, sampling, orientation and profile that libjpeg finds.
// Empty when the program cannot read the photo's size.
std::string ProbePhoto(const std::string& photo);
