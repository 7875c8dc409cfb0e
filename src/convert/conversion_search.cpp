// "At most N KB" on a conversion: the search's encodings, two held at a
// time, and its guesses from a sample of the photo's rows.
#include <algorithm>
#include <cstring>
#include <utility>

#include "codec/step_progress.h"
#include "convert/conversion.h"

namespace {

// One band in this many goes into the sample: a sample encode takes about
// that fraction of the photo's time.
constexpr int32_t kSampleEvery = 8;
// The rows of one band: the copy's blocks are 16 by 8 pixels.
constexpr int32_t kBandRows = 8;
// Photos of fewer bands encode whole quickly enough: no sample.
constexpr int32_t kSampledBandsAtLeast = 8;

// Where the entropy-coded data of an encoding starts: after its headers,
// which do not grow with the rows. Walks the segments from the start, which
// the encoder writes into its first region.
uint64_t HeaderBytes(const std::vector<std::span<const uint8_t>>& pieces) {
  if (pieces.empty())
    return 0;
  const std::span<const uint8_t> first = pieces.front();
  for (size_t at = 2; at + 3 < first.size();) {
    const size_t length = size_t{first[at + 2]} << 8 | first[at + 3];
    if (first[at] != 0xFF)
      return 0;
    if (first[at + 1] == 0xDA)
      return at + 2 + length;
    at += 2 + length;
  }
  return 0;
}

}  // namespace

// The search's encodings into the spare output, kept by swapping it with the
// copy; one progress over them all.
class SearchProbe final : public QualityProbe {
 public:
  SearchProbe(Conversion& conversion, CodecProgress* progress, bool failWhenShort)
      : c_(conversion), progress_(progress), failWhenShort_(failWhenShort) {}

  std::optional<uint64_t> EncodeAt(int quality, int mostAfter) override {
    // This encoding's share of what is left of the bar, with those that may
    // follow: the bar never goes back and fills at the search's end.
    const double to = done_ + (1 - done_) / (mostAfter + 1);
    StepProgress step(progress_, done_, to);
    status_ = c_.EncodeInto(c_.spare_, c_.pixels_.data(), c_.height_, quality, &c_.metadata_, &step,
                            failWhenShort_, spareBytes_);
    done_ = to;
    if (status_ != CODEC_OK)
      return std::nullopt;
    return spareBytes_;
  }

  void KeepLast() override {
    std::swap(c_.copy_, c_.spare_);
    c_.copyBytes_ = spareBytes_;
  }

  std::optional<uint64_t> Estimate(int quality) override {
    if (!c_.SampleGuesses())
      return std::nullopt;
    uint32_t& bytes = c_.sampleBytes_[static_cast<size_t>(std::clamp(quality, 1, 100))];
    if (bytes == 0) {
      // Quick enough to show no progress of its own; it may still be stopped.
      StepProgress step(progress_, done_, done_);
      if (c_.EncodeInto(c_.sampleCopy_, c_.sample_.data(), c_.sampleHeight_, quality, nullptr,
                        &step, failWhenShort_, bytes) != CODEC_OK) {
        return std::nullopt;
      }
    }
    // The sample's entropy-coded data stands for its share of the rows; the
    // headers and what the copy carries come once.
    const uint64_t headers = HeaderBytes(c_.sampleCopy_.Pieces(bytes));
    const uint64_t data = bytes - std::min<uint64_t>(headers, bytes);
    return data * static_cast<uint64_t>(c_.height_) / static_cast<uint64_t>(c_.sampleHeight_) +
           headers + c_.metadata_.SegmentBytes();
  }

  int Status() const { return status_; }

 private:
  Conversion& c_;
  CodecProgress* progress_;
  const bool failWhenShort_;
  double done_ = 0;
  uint32_t spareBytes_ = 0;
  int status_ = CODEC_OK;
};

bool Conversion::SampleGuesses() {
  if (sample_.data() != nullptr)
    return true;
  const int32_t bands = (height_ + kBandRows - 1) / kBandRows;
  if (bands / kSampleEvery < kSampledBandsAtLeast)
    return false;
  // The middle band of every kSampleEvery, so that the sample spans the photo.
  const int32_t sampled = (bands - kSampleEvery / 2 + kSampleEvery - 1) / kSampleEvery;
  if (!sample_.Allocate(BlockSize(width_, sampled * kBandRows)))
    return false;
  const size_t stride = static_cast<size_t>(width_) * 3 + static_cast<size_t>(RowPad(width_));
  sampleHeight_ = 0;
  for (int32_t band = kSampleEvery / 2; band < bands; band += kSampleEvery) {
    const int32_t rows = std::min(kBandRows, height_ - band * kBandRows);
    std::memcpy(sample_.data() + static_cast<size_t>(sampleHeight_) * stride,
                pixels_.data() + static_cast<size_t>(band) * kBandRows * stride,
                static_cast<size_t>(rows) * stride);
    sampleHeight_ += rows;
  }
  return sampleHeight_ > 0;
}

int Conversion::EncodeWithin(uint64_t limitBytes, int32_t ceiling, CodecProgress* progress,
                             QualitySearch& found, bool failWhenShort) {
  copyBytes_ = 0;
  SearchProbe probe(*this, progress, failWhenShort);
  found = FindQualityWithin(limitBytes, ceiling, probe);
  // Once found, the answer's copy is all that is worth keeping.
  if (blocks_ == Blocks::kEach)
    ReleaseSearch();
  if (found.outcome == QualitySearch::kStopped) {
    copyBytes_ = 0;
    return probe.Status() != CODEC_OK ? probe.Status() : CODEC_FAILED;
  }
  return CODEC_OK;
}
