// The JPEG codec binding: one properties record and four operations, on top of
// libjpeg-turbo. Every operation reports its outcome as a status; nothing in
// here exits, aborts or throws, whatever bytes it is given.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

class LargeBlocks;

enum CodecStatus : int {
  CODEC_OK = 0,
  CODEC_BAD_REQUEST = -1,  // the record asks for something the binding does not do
  CODEC_UNREADABLE = -2,   // the JPEG data cannot be decoded
  CODEC_OUTPUT_FULL = -3,  // the encoding does not fit the JPEG buffer
  CODEC_FAILED = -4,       // the codec failed for another reason (an encoder error)
  CODEC_NO_MEMORY = -5,    // the memory the work needs cannot be had
  CODEC_CANCELLED = -6,    // the progress hook asked to stop
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

struct FreeWithFree {
  void operator()(void* p) const noexcept { std::free(p); }
};

// What a copy carries from its original besides the pixels, and nothing
// else: the Exif orientation, so that viewers turn it as they turn the
// original, and an RGB colour profile, so that its colours mean what the
// original's do.
struct CodecMetadata {
  uint16_t orientation = 0;  // 2..8; 0 when the original needs no turning
  std::unique_ptr<uint8_t[], FreeWithFree> iccProfile;  // null: none
  uint32_t iccProfileSize = 0;

  void Clear() { *this = CodecMetadata{}; }
  // What the two add to an encoding: their segments, markers included.
  uint64_t SegmentBytes() const;
};

// Room for an encoding beyond the record's JPEG buffer, handed out a region at
// a time as the encoder fills the one before. Called from inside the encoder,
// so it must not throw.
class CodecOutput {
 public:
  // An encoding starts: the next region is the first again.
  virtual void Rewind() noexcept = 0;
  // Sets `region` to the next region, after those handed out since Rewind.
  // CODEC_OK; CODEC_OUTPUT_FULL when no more room is due (the encoding
  // outgrew what the caller allows); CODEC_NO_MEMORY when the memory cannot
  // be had.
  virtual int NextRegion(std::span<uint8_t>& region) noexcept = 0;

 protected:
  ~CodecOutput() = default;
};

// Told, from inside the codec, how far a decode or an encode has come.
class CodecProgress {
 public:
  // `done` runs from 0 to 1 over the whole operation. False stops it: the operation
  // returns CODEC_CANCELLED once it has released what it took. Called often (every
  // few rows): keep it cheap; it must not throw.
  virtual bool Report(double done) noexcept = 0;

 protected:
  ~CodecProgress() = default;
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
  // Read by CODEC_READ_PARAMS: the bytes of the whole-image coefficients a
  // decode of the photo holds (a progressive or multi-scan photo's); 0 when
  // it decodes row by row.
  uint64_t jpegCoefficientBytes;
  int32_t jpegColor;
  int32_t jpegSubsampling;
  int32_t quality;

  // A decode replaces what it points to with the input's metadata; an encode
  // writes it into the copy. Null: nothing is read or written. Not owned.
  CodecMetadata* metadata;
  // Where an encode goes once jpegBuffer (which may be empty) is full. Null:
  // the encoding must fit jpegBuffer. Not owned.
  CodecOutput* jpegMore;
  // Told how far the work has come, and may stop it. Null: no reports. Not owned.
  CodecProgress* progress;
  // Memory short for the second pass of an encode's tables made for the
  // image: false encodes with the standard tables instead (a few percent
  // more bytes of the same pixels), true fails with CODEC_NO_MEMORY, for a
  // caller that would rather retry once memory is free than make other bytes.
  bool failWhenShort;
  // Where libjpeg's large blocks (row buffers, whole-image coefficients) come
  // from and go back to, and how large one may be. Null: the C heap, no
  // limit. Not owned.
  LargeBlocks* largeBlocks;
};

// Clear the record. Between calls the binding holds nothing (what it keeps
// warm is in the record's LargeBlocks, which the caller owns), so CodecFree
// only clears the record again; both exist so that callers keep the codec's
// lifetime explicit.
int CodecInit(CodecProps& props);
int CodecFree(CodecProps& props);

// CODEC_READ_PARAMS sets jpegWidth and jpegHeight from the headers alone.
// The decode modes write pixelHeight rows of pixelWidth BGR pixels into
// pixelBuffer, from the image scaled by 1, 1/2 or 1/4; a scaled size the
// codec rounds up is cropped to the record's size, which may not exceed it.
// Damaged or truncated data decodes as far as it goes; data the codec cannot
// read at all gives CODEC_UNREADABLE. A decode also fills *metadata: the
// orientation from the first Exif segment when it is 2..8, and a complete
// ICC profile whose colour space is RGB. Its cost grows with the input's
// size alone, however many segments the headers hold.
int CodecRead(CodecProps& props, int mode);

// The most CODEC_ENCODE_BUFFER writes at any quality, metadata aside
// (CodecMetadata::SegmentBytes adds it): four bytes per pixel of the image
// padded to whole 16x8 blocks, plus 2048 bytes of headers. It is the bound
// libjpeg-turbo itself uses for 4:2:2 (tjBufSize); random pixels of the eight
// saturated colours at quality 100, the worst case we know, take about three
// quarters of it. An encoding that still did not fit would give
// CODEC_OUTPUT_FULL, never an overrun.
uint64_t CodecEncodedSizeBound(int32_t width, int32_t height);

// CODEC_ENCODE_BUFFER encodes the pixel rows as a baseline YCbCr 4:2:2 JPEG
// at the record's quality (values outside 1..100 are clamped), with Huffman
// tables made for the image, into jpegBuffer and then the regions of
// jpegMore, writing at most jpegSize bytes into jpegBuffer and at most each
// region's size into it, and sets jpegSize to the whole length written (0
// when the encoding failed or did not fit). Where the memory for the tables'
// second pass cannot be had, it encodes with the standard tables instead
// (the same pixels, a few percent more bytes), unless failWhenShort says
// otherwise. An encoding that outgrows jpegMore's room gives
// CODEC_OUTPUT_FULL, never CODEC_NO_MEMORY. The copy carries *metadata.
int CodecWrite(CodecProps& props, int mode);
