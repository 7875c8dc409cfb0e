// What the codec binding's tests hand it and look at: pixel blocks with
// guard bytes after every row and after the block, JPEG buffers with guard
// bytes after them, and decode and encode requests over both.
#pragma once

#include <gtest/gtest.h>

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

// Decodes at full size, or at the program's rounded-down half or quarter size.
inline int DecodeScaled(std::vector<uint8_t>& jpeg, int mode, PixelBlock* block, int pad = 0) {
  CodecProps props{};
  props.jpegBuffer = jpeg.data();
  props.jpegSize = static_cast<uint32_t>(jpeg.size());
  const int status = CodecRead(props, CODEC_READ_PARAMS);
  if (status != CODEC_OK)
    return status;
  const int denom = mode == CODEC_DECODE_HALF ? 2 : mode == CODEC_DECODE_QUARTER ? 4 : 1;
  *block = PixelBlock(props.jpegWidth / denom, props.jpegHeight / denom, pad);
  return Decode(jpeg, mode, *block);
}

// Where the first 0xFF `marker` pair lies; the size when nowhere.
inline size_t FindMarker(const std::vector<uint8_t>& jpeg, uint8_t marker) {
  for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == marker)
      return i;
  }
  return jpeg.size();
}

// A JPEG buffer of `capacity` bytes followed by guard bytes.
struct JpegBlock {
  explicit JpegBlock(size_t size) : capacity(size), bytes(size + kGuardBytes, kGuard) {}
  bool GuardIntact() const {
    return std::all_of(bytes.begin() + capacity, bytes.end(),
                       [](uint8_t b) { return b == kGuard; });
  }
  std::vector<uint8_t> Encoded(const CodecProps& props) const {
    return std::vector<uint8_t>(bytes.begin(), bytes.begin() + props.jpegSize);
  }
  size_t capacity;
  std::vector<uint8_t> bytes;
};

// Packs an RGB image into BGR rows with `pad` bytes of junk after each.
inline std::vector<uint8_t> BgrRows(const test_images::Image& rgb, int pad) {
  std::vector<uint8_t> rows;
  for (int y = 0; y < rgb.height; ++y) {
    for (int x = 0; x < rgb.width; ++x) {
      rows.insert(rows.end(), {rgb.At(x, y)[2], rgb.At(x, y)[1], rgb.At(x, y)[0]});
    }
    rows.insert(rows.end(), pad, static_cast<uint8_t>(0x3C + y));
  }
  return rows;
}

inline CodecProps EncodeRequest(std::vector<uint8_t>& pixels, const test_images::Image& image,
                                int pad, JpegBlock& out, int quality) {
  CodecProps props{};
  props.pixelBuffer = pixels.data();
  props.pixelWidth = image.width;
  props.pixelHeight = image.height;
  props.pixelRowPad = pad;
  props.pixelChannels = 3;
  props.pixelColor = CODEC_PIXEL_BGR;
  props.jpegBuffer = out.bytes.data();
  props.jpegSize = static_cast<uint32_t>(out.capacity);
  props.jpegColor = CODEC_JPEG_YCBCR;
  props.jpegSubsampling = CODEC_SUBSAMPLE_422;
  props.quality = quality;
  return props;
}

// Encodes into a buffer of the size the program uses; empty on failure.
inline std::vector<uint8_t> Encode(const test_images::Image& image, int quality, int pad = 0,
                                   LargeBlocks* blocks = nullptr) {
  std::vector<uint8_t> pixels = BgrRows(image, pad);
  JpegBlock out(static_cast<size_t>(
      std::max<uint64_t>(pixels.size(), CodecEncodedSizeBound(image.width, image.height))));
  CodecProps props = EncodeRequest(pixels, image, pad, out, quality);
  props.largeBlocks = blocks;
  const int status = CodecWrite(props, CODEC_ENCODE_BUFFER);
  EXPECT_TRUE(out.GuardIntact());
  EXPECT_EQ(status, CODEC_OK);
  return status == CODEC_OK ? out.Encoded(props) : std::vector<uint8_t>{};
}

}  // namespace codec_blocks
