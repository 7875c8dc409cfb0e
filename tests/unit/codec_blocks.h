// What the codec binding's tests hand it and look at: pixel blocks with
// guard bytes after every row and after the block, and decode requests over
// them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "test_images.h"

namespace codec_blocks {

inline constexpr uint8_t kGuard = 0xA5;
inline constexpr size_t kGuardBytes = 64;

inline std::string TestImage(const char* name) {
  return std::string(TBM_TEST_DATA_DIR) + "/" + name;
}

// A pixel buffer for the codec, filled with guard bytes, with kGuardBytes
// more after the block that the codec must never touch.
struct PixelBlock {
  int width;
  int height;
  int pad;
  std::vector<uint8_t> bytes;

  PixelBlock(int w, int h, int row_pad = 0)
      : width(w), height(h), pad(row_pad), bytes(Size() + kGuardBytes, kGuard) {}
  size_t Stride() const { return static_cast<size_t>(width) * 3 + pad; }
  size_t Size() const { return Stride() * height; }
  const uint8_t* Bgr(int x, int y) const { return &bytes[y * Stride() + x * 3]; }

  bool GuardsIntact() const {
    for (int y = 0; y < height; ++y) {
      for (int i = 0; i < pad; ++i) {
        if (bytes[y * Stride() + width * 3 + i] != kGuard)
          return false;
      }
    }
    return std::all_of(bytes.begin() + Size(), bytes.end(), [](uint8_t b) { return b == kGuard; });
  }
  bool Untouched() const {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kGuard; });
  }
  test_images::Image ToRgb() const {
    test_images::Image image = test_images::Blank(width, height, 3);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c)
          image.At(x, y)[c] = Bgr(x, y)[2 - c];
      }
    }
    return image;
  }
};

// A request with `block` as the program's pixels, to decode into or encode.
inline CodecProps PixelRequest(PixelBlock& block) {
  CodecProps props{};
  props.pixelBuffer = block.bytes.data();
  props.pixelWidth = block.width;
  props.pixelHeight = block.height;
  props.pixelRowPad = block.pad;
  props.pixelChannels = 3;
  props.pixelColor = CODEC_PIXEL_BGR;
  return props;
}

inline CodecProps DecodeRequest(std::vector<uint8_t>& jpeg, PixelBlock& block) {
  CodecProps props = PixelRequest(block);
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  return props;
}

inline int Decode(std::vector<uint8_t>& jpeg, int mode, PixelBlock& block) {
  CodecProps props = DecodeRequest(jpeg, block);
  return CodecRead(props, mode);
}

// Where the first 0xFF `marker` pair lies; the size when nowhere.
inline size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
      return i;
  }
  return jpeg.size();
}

}  // namespace codec_blocks
