// The first steps of every photo: its file opened and sized, then read whole
// into its conversion and checked to begin as a JPEG does.
#pragma once

#include <cstdint>
#include <memory>

#include "batch/input_list.h"
#include "batch/photo_outcome.h"
#include "batch/platform.h"
#include "convert/conversion.h"

// The photo's file, open, with what its first step learnt of it.
struct OpenedPhoto {
  std::unique_ptr<InputFile> file;
  uint64_t bytes = 0;
  uint64_t lastWriteTime = 0;
};

// Opens the photo at `path` and takes its size and time. An empty file ends
// its walk here: silently on the command line, with the batch in selection
// mode.
PhotoOutcome OpenPhoto(Platform& platform, InputMode mode, const char* path, OpenedPhoto& opened);

// Reads the whole file into `conversion`, a piece at a time, telling
// `progress` (may be null) after each piece; it may stop the read. Closes the
// file.
PhotoOutcome ReadPhoto(OpenedPhoto& opened, Conversion& conversion, CodecProgress* progress);
