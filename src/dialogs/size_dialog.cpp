#include "dialogs/size_dialog.h"

namespace {

std::string ByText(int32_t width, int32_t height) {
  return std::to_string(width) + " by " + std::to_string(height);
}

int DecodeMode(SizeChoice choice) {
  switch (choice) {
    case SIZE_HALF:
      return CODEC_DECODE_HALF;
    case SIZE_QUARTER:
      return CODEC_DECODE_QUARTER;
    case SIZE_FULL:
      break;
  }
  return CODEC_DECODE_FULL;
}

}  // namespace

std::array<std::string, 3> SizeOptionTexts(int32_t width, int32_t height) {
  return {ByText(width, height), ByText(width / 2, height / 2), ByText(width / 4, height / 4)};
}

bool ReadImageSize(JobState& job, CodecProps& codec) {
  CodecInit(codec);
  codec.jpegBuffer = job.jpegBuffer.data();
  codec.jpegSize = job.fileSize;
  codec.jpegFileName = nullptr;
  codec.largeBlocks = &job.largeBlocks;
  codec.progress = nullptr;
  const int status = CodecRead(codec, CODEC_READ_PARAMS);
  job.width = codec.jpegWidth;
  job.height = codec.jpegHeight;
  return status == CODEC_OK;
}

void ScaleBySizeChoice(JobState& job) {
  const int32_t divisor = job.sizeChoice == SIZE_HALF ? 2 : job.sizeChoice == SIZE_QUARTER ? 4 : 1;
  job.width /= divisor;
  job.height /= divisor;
}

SizeResult ConfirmSize(JobState& job, CodecProps& codec, CodecProgress* progress) {
  ScaleBySizeChoice(job);
  job.rowPad = RowPad(job.width);
  if (!job.pixelBuffer.Fit(BlockSize(job.width, job.height))) {
    CodecFree(codec);
    return SIZE_NO_MEMORY;
  }
  codec.pixelBuffer = job.pixelBuffer.data();
  codec.pixelWidth = job.width;
  codec.pixelHeight = job.height;
  codec.pixelRowPad = job.rowPad;
  codec.pixelChannels = 3;
  codec.pixelColor = CODEC_PIXEL_BGR;
  codec.metadata = &job.metadata;
  codec.largeBlocks = &job.largeBlocks;
  codec.progress = progress;
  const int status = CodecRead(codec, DecodeMode(job.sizeChoice));
  CodecFree(codec);
  // Few of the decoder's blocks would fit the encoder's requests (the photo's
  // chroma is mostly halved both ways, the copy's horizontally only), and
  // the others would add to the photo's peak: they go now, unless the next
  // photo's decode takes them over.
  if (!job.keepBlocks)
    job.largeBlocks.Release();
  if (status != CODEC_OK) {
    if (!job.keepBlocks)
      job.pixelBuffer.Release();
    switch (status) {
      case CODEC_NO_MEMORY:
        return SIZE_NO_MEMORY;
      case CODEC_CANCELLED:
        return SIZE_CANCELLED;
      default:
        return SIZE_UNREADABLE;
    }
  }
  if (!job.keepBlocks)
    job.jpegBuffer.Release();
  return SIZE_CONFIRMED;
}
