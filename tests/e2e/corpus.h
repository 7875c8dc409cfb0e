// Files of the kind people keep in their photo folders that are not quite
// photos: half-copied, padded, forged or of another format, made from a good
// JPEG or from scratch. bad_input_test.cpp runs each through the program.
#pragma once

#include <vector>

#include "files.h"

namespace e2e {

// A grainy 320 by 240 photo: its headers take a few hundred of its tens of
// thousands of bytes, so a cut at 10 % already falls in the picture.
Bytes GrainyPhoto(bool progressive);

// A 64 by 48 photo of one colour, one value per component of `space`.
Bytes Flat(JpegRecipe::Space space, std::vector<uint8_t> colour);
// Adobe's inverted CMYK, where 255 is no ink: red is magenta and yellow,
// blue is cyan and magenta.
Bytes RedInCmyk();
Bytes BlueInYcck();

// A 160 by 120 photo with restart markers after every row of blocks, among
// the markers of WithOddMarkers below.
Bytes OddlyMarked();

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

// The JPEG without its quantization tables (DQT segments): its headers
// read, but no decoder can make pixels of it.
Bytes WithoutQuantizationTables(const Bytes& jpeg);

// A lossless JPEG (start-of-frame SOF3, predictor 1) of a flat grey
// picture, coded as the standard lays it out: every difference is 0.
// `width` x `height` must be a multiple of 8.
Bytes LosslessJpeg(int width, int height);

// A PNG of a colour gradient: 8-bit RGB, stored without compression.
Bytes Png(int width, int height);

}  // namespace e2e
