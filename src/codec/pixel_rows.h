// The record's pixel rows, as the decode writes and the encode reads them.
#pragma once

#include <cstddef>
// Before jpeglib.h, which uses FILE and size_t without declaring them.
#include <cstdio>

#include <jpeglib.h>

#include "codec/codec.h"

inline constexpr int kBgrBytes = 3;

// Rows handed to libjpeg per read or write call.
inline constexpr JDIMENSION kRowsPerCall = 16;

inline size_t RowStride(const CodecProps& props) {
  return static_cast<size_t>(props.pixelWidth) * kBgrBytes + props.pixelRowPad;
}

inline bool ValidPixelLayout(const CodecProps& props) {
  return props.pixelChannels == kBgrBytes && props.pixelColor == CODEC_PIXEL_BGR &&
         props.pixelRowPad >= 0 && props.pixelRowPad <= 3;
}
