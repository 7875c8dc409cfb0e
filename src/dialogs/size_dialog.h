// What the "Output Size" dialog decides and computes, without its window.
#pragma once

#include <array>
#include <string>

#include "batch/job_state.h"
#include "codec/codec.h"

// The dialog's results. 0 and 1 are the user's cancel and OK; the others end
// it when the photo turns out unusable.
enum SizeResult : int {
  SIZE_CANCELLED = 0,
  SIZE_CONFIRMED = 1,
  SIZE_UNREADABLE = 2,  // the codec cannot decode the photo
  SIZE_NO_MEMORY = 3,   // the pixel buffer, or the decoder's memory, cannot be had
};

// "W by H" for full, half and quarter size, divisions rounding toward zero.
std::array<std::string, 3> SizeOptionTexts(int32_t width, int32_t height);

// Reads the image's width and height from the JPEG buffer into the job.
// False when the codec cannot read the headers.
bool ReadImageSize(JobState& job, CodecProps& codec);

// Width and height scaled by the size choice.
void ScaleBySizeChoice(JobState& job);

// OK: scales the size, allocates the pixel buffer and decodes into it, frees
// the codec. On SIZE_CONFIRMED the JPEG buffer has been released, the pixel
// buffer holds the image and the job's metadata what its copy carries;
// otherwise the pixel buffer is empty and the JPEG buffer still held, for the
// caller to release. While job.keepBlocks is set, nothing is released: the
// next photo takes the blocks over. `progress` (may be null) is told how the decode goes;
// when it stops the decode, the result is SIZE_CANCELLED.
SizeResult ConfirmSize(JobState& job, CodecProps& codec, CodecProgress* progress = nullptr);
