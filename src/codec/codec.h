// The JPEG codec binding: one properties record and four operations, on top of
// libjpeg-turbo. Every operation reports its outcome as a status; nothing in
// here exits, aborts or throws, whatever bytes it is given.
#pragma once

#include <cstdint>

enum CodecStatus : int {
  CODEC_OK = 0,
  CODEC_BAD_REQUEST = -1,  // the record asks for something the binding does not do
  CODEC_UNREADABLE = -2,   // the JPEG data cannot be decoded
  CODEC_OUTPUT_FULL = -3,  // the encoding does not fit the JPEG buffer
  CODEC_FAILED = -4,       // the codec failed for another reason (memory, encoder error)
};

// Mode codes of CodecRead and CodecWrite.
enum CodecMode : int {
  CODEC_READ_PARAMS = 1,      // width and height only
  CODEC_DECODE_FULL = 3,      // the whole image
  CODEC_DECODE_HALF = 15,     // one half of width and height
  CODEC_DECODE_QUARTER = 17,  // one quarter of width and height
  CODEC_ENCODE_BUFFER = 9,    // into the JPEG buffer
};

enum : int32_t {
  CODEC_PIXEL_BGR = 2,      // pixel colour code: blue, green, red bytes
  CODEC_JPEG_YCBCR = 3,     // JPEG colour code for encoding
  CODEC_SUBSAMPLE_422 = 2,  // chroma halved horizontally only
};

// The record the program and the codec exchange. Pixel rows are pixelWidth
// pixels of pixelChannels bytes followed by pixelRowPad bytes; the binding
// writes and reads exactly pixelHeight such rows and nothing else.
struct CodecProps {
  uint8_t* pixelBuffer;
  int32_t pixelWidth;
  int32_t pixelHeight;
  int32_t pixelRowPad;
  int32_t pixelChannels;
  int32_t pixelColor;

  const char* jpegFileName;  // always null: the JPEG is in memory
  uint8_t* jpegBuffer;       // the input's bytes, or where the encoding goes
  uint32_t jpegSize;         // bytes available; after encoding, bytes written
  int32_t jpegWidth;         // read by CODEC_READ_PARAMS; set for encoding
  int32_t jpegHeight;
  int32_t jpegColor;
  int32_t jpegSubsampling;
  int32_t quality;
};

// Clears the record. The binding holds nothing between calls, so CodecFree
// only clears it again; both exist so that callers keep the codec's lifetime
// explicit.
int CodecInit(CodecProps& props);
int CodecFree(CodecProps& props);

// CODEC_READ_PARAMS sets jpegWidth and jpegHeight from the headers alone.
// The decode modes write pixelHeight rows of pixelWidth BGR pixels into
// pixelBuffer, from the image scaled by 1, 1/2 or 1/4; a scaled size the
// codec rounds up is cropped to the record's size, which may not exceed it.
// Damaged or truncated data decodes as far as it goes; data the codec cannot
// read at all gives CODEC_UNREADABLE.
int CodecRead(CodecProps& props, int mode);

// A JPEG buffer size for CODEC_ENCODE_BUFFER at any quality: four bytes per
// pixel of the image padded to whole 16x8 blocks, plus 2048 bytes of headers.
// It is the bound libjpeg-turbo itself uses for 4:2:2 (tjBufSize); random
// pixels of the eight saturated colours at quality 100, the worst case we
// know, take about three quarters of it. An encoding that still did not fit would give
// CODEC_OUTPUT_FULL, never an overrun.
uint64_t CodecEncodedSizeBound(int32_t width, int32_t height);

// CODEC_ENCODE_BUFFER encodes the pixel rows as a baseline YCbCr 4:2:2 JPEG
// at the record's quality (values outside 1..100 are clamped) into jpegBuffer,
// writing at most jpegSize bytes, and sets jpegSize to the length written
// (0 when the encoding failed or did not fit).
int CodecWrite(CodecProps& props, int mode);
