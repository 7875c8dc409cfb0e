#include "batch/job_state.h"

#include "codec/codec.h"

int32_t RowPad(int32_t width) {
  const int64_t bytes = 3 * static_cast<int64_t>(width);
  return static_cast<int32_t>(((bytes + 3) & ~int64_t{3}) - bytes);
}

uint64_t BlockSize(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0)
    return 0;
  return (static_cast<uint64_t>(width) + static_cast<uint64_t>(RowPad(width))) *
         static_cast<uint64_t>(height) * 3;
}

uint64_t OutputBound(int32_t width, int32_t height, const CodecMetadata& metadata) {
  if (width <= 0 || height <= 0)
    return 0;
  return CodecEncodedSizeBound(width, height) + metadata.SegmentBytes();
}

std::string KbText(uint32_t bytes) {
  return std::to_string(bytes >> 10) + " KB";
}
