#include "convert/output_block.h"

#include <algorithm>
#include <utility>

namespace {

// The page allocator's granularity on Windows: smaller regions save nothing.
constexpr uint64_t kGranularity = uint64_t{64} * 1024;

}  // namespace

bool OutputBlock::Prepare(uint64_t most) {
  const uint64_t region =
      std::min(kRegionBytes, (most + kGranularity - 1) / kGranularity * kGranularity);
  if (region != regionBytes_)
    Release();
  if (most == 0)
    return true;  // nothing can be encoded: nothing to hold
  regionBytes_ = region;
  next_ = 0;
  // reserve never lowers the capacity: regions kept beyond this photo's
  // bound are room it need not use.
  blocks_.reserve(static_cast<size_t>((most + regionBytes_ - 1) / regionBytes_));
  std::span<uint8_t> first;
  return NextRegion(first) == CODEC_OK;
}

void OutputBlock::Release() {
  blocks_ = std::vector<PageBlock>();
  next_ = 0;
  regionBytes_ = 0;
}

int OutputBlock::NextRegion(std::span<uint8_t>& region) noexcept {
  region = {};
  if (next_ == blocks_.size()) {
    if (blocks_.size() == blocks_.capacity())
      return CODEC_OUTPUT_FULL;  // past the bound: nothing more is due
    PageBlock block;
    if (!block.Allocate(regionBytes_))
      return CODEC_NO_MEMORY;
    blocks_.push_back(std::move(block));
  }
  region = blocks_[next_++].bytes();
  return CODEC_OK;
}

std::vector<std::span<const uint8_t>> OutputBlock::Pieces(uint64_t length) const {
  std::vector<std::span<const uint8_t>> pieces;
  for (const PageBlock& block : blocks_) {
    if (length == 0)
      break;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(length, block.size()));
    pieces.push_back(block.bytes().first(take));
    length -= take;
  }
  return pieces;
}
