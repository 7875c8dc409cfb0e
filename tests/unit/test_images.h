// Images for the codec tests, made in memory and encoded or decoded with plain
// libjpeg, independently of the codec binding under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_images {

// Tightly packed rows of width * channels bytes: 1 gray, 3 RGB, 4 CMYK.
struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<uint8_t> data;

  uint8_t* At(int x, int y) { return &data[(static_cast<size_t>(y) * width + x) * channels]; }
  const uint8_t* At(int x, int y) const {
    return &data[(static_cast<size_t>(y) * width + x) * channels];
  }
};

Image Blank(int width, int height, int channels);
// Smooth diagonal ramps in each channel.
Image Gradient(int width, int height, int channels);
// Uniformly random bytes, the same for the same seed.
Image Noise(int width, int height, int channels, uint32_t seed);

struct JpegOptions {
  int quality = 90;
  bool progressive = false;
  // Progressive with one scan per AC coefficient, each refined bit by bit
  // from this bit down: 1 + components * 63 * (bits + 1) scans in all.
  int per_coefficient_scan_bits = -1;
  bool arithmetic = false;
  int restart_interval = 0;  // MCUs between restart markers; 0 for none
  bool adobe_marker = true;  // 4-channel images: Adobe files store CMYK inverted
  bool ycck = false;         // 4-channel images: store as YCCK (always with the Adobe marker)
  bool sampling422 = false;  // 3-channel images: chroma halved horizontally only, else 4:2:0
  bool optimize = false;     // Huffman tables made for the image
  std::vector<std::vector<uint8_t>> app1;  // APP1 segments' data, after JFIF
  std::vector<uint8_t> icc;                // an ICC profile, after them
};

// Encodes as YCbCr (3 channels), grayscale (1), CMYK (4) or, for any other
// count, components of no colour space. Empty on failure.
std::vector<uint8_t> EncodeJpeg(const Image& image, const JpegOptions& options);

// What plain libjpeg makes of a JPEG file.
struct DecodedJpeg {
  int width = 0;
  int height = 0;
  int components = 0;
  bool progressive = false;
  bool arithmetic = false;
  int h_samp[4] = {};
  int v_samp[4] = {};
  std::vector<uint8_t> icc;  // the profile libjpeg reassembles, if any
  Image rgb;
};

// False when libjpeg reports an error.
bool DecodeJpeg(const std::vector<uint8_t>& jpeg, DecodedJpeg* decoded);

// The segments before the first scan, after SOI: marker (0xE1 for APP1) and
// data without the length field, read by walking the bytes.
struct Segment {
  int marker = 0;
  std::vector<uint8_t> data;
};
std::vector<Segment> SegmentsBeforeScan(const std::vector<uint8_t>& jpeg);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// A binary (P6) 8-bit PPM as RGB; an empty image on failure.
Image ReadPpm(const std::string& path);

}  // namespace test_images
