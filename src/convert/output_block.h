// The output JPEG buffer: page blocks taken one after another as the encoder
// fills them, so that a copy commits about what it takes instead of the
// encoder's worst case, which for a 200 MP photo is some 800 MB of address
// space and commit charge. The blocks stay for every re-encoding of the same
// photo, warm for the next, until Release; and for the next photo, if it is
// prepared for without a Release between.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "codec/codec.h"
#include "convert/page_block.h"

class OutputBlock final : public CodecOutput {
 public:
  // The largest region handed out: small enough that the last one, partly
  // written, wastes little; large enough that a big copy takes few.
  static constexpr uint64_t kRegionBytes = uint64_t{1} << 20;

  // Gets ready for encodings of at most `most` bytes (the encoder's bound)
  // and takes the first region, so that a photo for which not even that is
  // there fails before anything is shown. False when it cannot be had. A
  // bound of 0 (an empty image) takes nothing. Regions held from before are
  // kept when they are of the size this bound gives.
  bool Prepare(uint64_t most);
  void Release();

  void Rewind() noexcept override { next_ = 0; }
  // Past the bound Prepare was given, CODEC_OUTPUT_FULL.
  int NextRegion(std::span<uint8_t>& region) noexcept override;

  // The first `length` bytes written since the last Rewind, region by region.
  std::vector<std::span<const uint8_t>> Pieces(uint64_t length) const;

 private:
  std::vector<PageBlock> blocks_;  // capacity reserved by Prepare: taking one never throws
  size_t next_ = 0;
  uint64_t regionBytes_ = 0;
};
