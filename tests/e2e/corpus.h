// Files of the kind people keep in their photo folders that are not quite
// photos: half-copied, padded, forged or of another format, made from a good
// JPEG or from scratch. bad_input_test.cpp runs each through the program.
#pragma once

#include "files.h"

namespace e2e {

// The first `percent` per cent of the file's bytes, as a copy that broke off.
Bytes Truncated(const Bytes& file, int percent);

// The JPEG followed by 4 KB of other bytes after its end marker, 0xFF and a
// second start-of-image among them, as some cameras and tools append.
Bytes WithTrailingGarbage(const Bytes& jpeg);

// The JPEG with every marker it may carry that a decoder has to step over:
// APP2, APP13 and APP15 segments, a comment of the largest size a segment
// holds (65,533 bytes), and fill bytes (0xFF 0xFF) before every marker,
// restart markers included. Give it one made with restart markers to have a
// DRI segment too.
Bytes WithOddMarkers(const Bytes& jpeg);

// A lossless JPEG (start-of-frame SOF3, predictor 1) of a flat grey
// picture, coded as the standard lays it out: every difference is 0.
// `width` x `height` must be a multiple of 8.
Bytes LosslessJpeg(int width, int height);

// A PNG of a colour gradient: 8-bit RGB, stored without compression.
Bytes Png(int width, int height);

}  // namespace e2e
