// One photo in flight, from its JPEG bytes to its copy in memory: read the
// headers, decode at the chosen size, encode at a quality. The object owns
// everything the photo takes (its bytes, its pixels, the codec's large blocks
// and the copy) and knows nothing of files or windows: the caller fills the
// input and writes the copy. One object per photo in flight, so photos can
// be converted on several threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/codec.h"
#include "codec/large_blocks.h"
#include "convert/output_block.h"
#include "convert/page_block.h"
#include "convert/quality_search.h"

enum SizeChoice : int32_t {
  SIZE_FULL = 0,
  SIZE_HALF = 1,
  SIZE_QUARTER = 2,
};

// Bytes that end each pixel row so that a row of 3-byte pixels fills a
// multiple of 4 bytes: 0 to 3.
int32_t RowPad(int32_t width);

// (width + row pad) x height x 3, in 64 bits: what the pixel buffer needs.
// Images larger than a 32-bit process can hold give sizes above
// kMaxBlockBytes, which PageBlock refuses.
uint64_t BlockSize(int32_t width, int32_t height);

// The most an encoding of the image with its metadata can take: what the
// output buffer must be able to hold, though it commits only what is written.
uint64_t OutputBound(int32_t width, int32_t height, const CodecMetadata& metadata);

class Conversion {
 public:
  // When the blocks go. kEach: each as soon as the photo is done with it, so
  // that one photo's peak is as low as it can be. kWarm: all stay, at their
  // largest, for the next photo of the same object, which then finds its
  // pages touched already; they go with Release or the object.
  enum class Blocks { kEach, kWarm };

  explicit Conversion(Blocks blocks = Blocks::kEach) : blocks_(blocks) {}
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  // Room for the input's `bytes` bytes, which the caller fills (Input) before
  // ReadHeader. False when the memory cannot be had.
  bool PrepareInput(uint64_t bytes);
  std::span<uint8_t> Input() const { return input_.bytes(); }
  // The input's size in bytes, also once its block is gone.
  uint32_t InputBytes() const { return inputBytes_; }
  // The input begins as every JPEG does: FF D8 FF.
  bool HasJpegSignature() const;

  // Reads the input's headers. False when the codec cannot read them.
  bool ReadHeader();
  int32_t InputWidth() const { return inputWidth_; }
  int32_t InputHeight() const { return inputHeight_; }

  // The most memory the photo takes at `choice`, from its headers: its bytes,
  // its pixels, the decoder's and the encoder's whole-image coefficients and
  // the copy's bound.
  uint64_t MemoryNeed(SizeChoice choice) const;

  // Decodes the input at the chosen size into the pixels, with what the copy
  // carries of the input's metadata. CODEC_OK, or the failure: CODEC_NO_MEMORY,
  // CODEC_UNREADABLE, CODEC_CANCELLED (the progress hook said stop).
  int Decode(SizeChoice choice, CodecProgress* progress);
  // The copy's size in pixels, once decoded.
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }

  // Takes the copy's first region, so that a photo for which not even that
  // is there fails before anything is shown. False when it cannot be had.
  bool PrepareCopy() { return copy_.Prepare(OutputBound(width_, height_, metadata_)); }
  // Encodes the pixels at `quality` into the copy, in place of any copy
  // before. CODEC_OK, or the codec's failure; see CodecProps::failWhenShort.
  int Encode(int32_t quality, CodecProgress* progress, bool failWhenShort = false);
  // "At most N KB": the copy at the highest quality up to `ceiling` whose
  // copy takes at most `limitBytes`, found by FindQualityWithin; `found` says
  // which, and the copy is that quality's (quality 1's when none fits).
  // Holds two encodings at a time, the best so far and the one being made,
  // so that the answer needs no encoding again. One progress runs over the
  // whole search. CODEC_OK, or the failure that stopped the search.
  int EncodeWithin(uint64_t limitBytes, int32_t ceiling, CodecProgress* progress,
                   QualitySearch& found, bool failWhenShort = false);
  // The copy's length; 0 when there is no usable copy.
  uint32_t CopyBytes() const { return copyBytes_; }
  // The copy, region by region; valid until the next Encode or Release.
  std::vector<std::span<const uint8_t>> CopyPieces() const { return copy_.Pieces(copyBytes_); }

  // Gives back every block but the input's, which the photo still needs.
  void ReleaseWork();
  // Gives back every block.
  void Release();

 private:
  const Blocks blocks_;
  PageBlock input_;
  uint32_t inputBytes_ = 0;
  int32_t inputWidth_ = 0;
  int32_t inputHeight_ = 0;
  uint64_t coefficientBytes_ = 0;  // what a decode holds of the whole image
  PageBlock pixels_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  CodecMetadata metadata_;
  // The codec's large blocks: kept warm from one encode of a photo to the
  // next, and as large as the program's other blocks may be.
  LargeBlocks largeBlocks_{kMaxBlockBytes};
  OutputBlock copy_;
  uint32_t copyBytes_ = 0;
  OutputBlock spare_;  // a search's encoding in the making

  // Encodes `height` rows of `pixels` into `out`; the length in `bytes`, 0
  // on failure.
  int EncodeInto(OutputBlock& out, const uint8_t* pixels, int32_t height, int32_t quality,
                 CodecMetadata* metadata, CodecProgress* progress, bool failWhenShort,
                 uint32_t& bytes);
  // What only a search holds.
  void ReleaseSearch();

  // A search's guesses: every kSampleEvery-th band of the pixels' rows
  // encoded alone, which takes a fraction of the photo's time.
  friend class SearchProbe;
  bool SampleGuesses();
  PageBlock sample_;
  int32_t sampleHeight_ = 0;
  OutputBlock sampleCopy_;
  std::array<uint32_t, 101> sampleBytes_{};  // by quality; 0: not yet encoded
};
