// What the "Output Size" dialog decides and computes, without its window.
#pragma once

#include <array>
#include <string>

#include "batch/job_state.h"
#include "batch/platform.h"
#include "codec/codec.h"

// "W by H" for full, half and quarter size, divisions rounding toward zero.
std::array<std::string, 3> SizeOptionTexts(int32_t width, int32_t height);

// OK: decodes the photo at the chosen size. On SIZE_CONFIRMED its pixels
// hold the image and its metadata what the copy carries. `progress` (may be
// null) is told how the decode goes; when it stops the decode, the result is
// SIZE_CANCELLED.
SizeResult ConfirmSize(PhotoWork& photo, SizeChoice choice, CodecProgress* progress = nullptr);
