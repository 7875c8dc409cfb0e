// One conversion of a photo, timed phase by phase by the process that runs it:
// the program's own path through the batch, or the minimal libjpeg-turbo loop
// the program is measured against.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "batch/job_state.h"

// Nanoseconds per phase (read: the input opened and read; params: the header
// read behind "Output Size"; encode: the first "Output Quality" opening's).
struct Phases {
  int64_t read = 0, params = 0, decode = 0, encode = 0, write = 0, total = 0;
  std::vector<int64_t> openings;  // each "Output Quality" opening's encode
  uint64_t outputBytes = 0;
  uint64_t pageFaults = 0;  // first touches of fresh pages during the conversion
  bool ok = false;
};

// Large buffers of the C heap, for the rest of the process: each fresh from
// the kernel, as the program's page blocks are, or (warm) reused from memory
// touched before, nothing given back.
void UseHeap(bool warm);
int64_t NowNs();
uint64_t PageFaults();

// The user's answers: the size, then the text typed in the quality field of
// each "Output Quality" opening before Save (none: Save at 90 at once);
// `onSave` runs as the last opening is left; Save with "Same for the rest"
// checked, or not. `atMost` is the text typed in the "at most" field in the
// first opening (empty: no limit); the opening after it shows the search's
// quality, which is saved as shown.
struct UserAnswers {
  SizeChoice size = SIZE_FULL;
  std::vector<std::string> typedQualities;
  std::function<void()> onSave;
  bool sameForRest = false;
  std::string atMost{};
};

// The program's path for one photo: ProcessFile with dialogs answering so,
// writing the copy beside the photo under its X-name.
Phases RunProgram(const std::string& photo, const UserAnswers& answers);

// Nanoseconds for a whole batch, and for its rest after "Same for the rest"
// (from the moment the rest asks for its workers; 0 when there was none).
struct BatchTimes {
  int64_t total = 0;
  int64_t rest = 0;
};

// The program's batch over `photos` on its command line, the first photo's
// dialogs answering so, the rest of the batch on `workers` workers; empty
// when a copy failed.
std::optional<BatchTimes> RunBatchProgram(const std::vector<std::string>& photos,
                                          const UserAnswers& answers, size_t workers = 1);

// The same conversion by a minimal libjpeg-turbo loop at 1/denominator scale
// and quality 90, carrying the orientation and RGB profile as the program does.
Phases RunReference(const std::string& photo, const std::string& output, int denominator,
                    bool optimizeHuffman);

bool WriteFile(const char* path, std::span<const std::span<const uint8_t>> pieces);

// The reference's encode of the photo at 1/denominator scale, with what its
// copy carries, at `quality` with standard tables; nanoseconds, the decode
// before it not counted.
int64_t StandardTablesEncode(const std::string& photo, int denominator, int quality);

// "width height bytes progressive components h v orientation icc-bytes
// icc-space" as the program and libjpeg read the photo; empty when the program
// cannot read its size.
std::string ProbePhoto(const std::string& photo);
