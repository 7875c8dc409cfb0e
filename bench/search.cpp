// The search behind "at most N KB" against one encode at 90 of the same
// pixels: Encode:LABEL:D, then Search:LABEL:D:PERCENT for each limit, run
// one after another on one decode of the photo. Each is timed as the best of
// its repetitions. The conversion is the dialog's: the search's sample and
// second copy come fresh from the kernel each time, as the program gives
// them back after every search; the copy and the codec's blocks stay warm
// from one encode to the next, as they do from one opening to the next.
#include "search.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>

#include <benchmark/benchmark.h>

#include "conversion.h"
#include "convert/conversion.h"
#include "timed.h"

namespace {

constexpr int kCeiling = 90;

// The photo at one size, decoded once for the benchmarks that follow; one
// photo's pixels at a time.
struct Decoded {
  std::string key;
  std::unique_ptr<Conversion> conversion;
  std::map<int, bool> exact;  // by percent, checked once
};

Decoded& Current() {
  static Decoded decoded;
  return decoded;
}

Conversion* DecodedPhoto(const std::string& path, SizeChoice size) {
  Decoded& decoded = Current();
  const std::string key = path + ":" + std::to_string(size);
  if (decoded.key == key)
    return decoded.conversion.get();
  decoded = {};
  auto conversion = std::make_unique<Conversion>();
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (bytes.empty() || !conversion->PrepareInput(bytes.size()))
    return nullptr;
  std::memcpy(conversion->Input().data(), bytes.data(), bytes.size());
  if (!conversion->ReadHeader() || conversion->Decode(size, nullptr) != CODEC_OK ||
      !conversion->PrepareCopy())
    return nullptr;
  decoded = {key, std::move(conversion), {}};
  return decoded.conversion.get();
}

void EncodeAtCeiling(benchmark::State& state, const std::string& path, SizeChoice size) {
  Conversion* conversion = DecodedPhoto(path, size);
  if (conversion == nullptr)
    return state.SkipWithError("cannot decode the photo");
  for (auto _ : state) {
    const int64_t start = NowNs();
    const int status = conversion->Encode(kCeiling, nullptr);
    SetTime(state, NowNs() - start);
    if (status != CODEC_OK)
      return state.SkipWithError("the encode failed");
  }
  state.counters["bytes"] = conversion->CopyBytes();
  state.counters["pixels"] = static_cast<double>(conversion->Width()) * conversion->Height();
}

// Whether the search's answer is what it says: its copy measured at the
// size it told, within the limit, and the quality above it (up to the
// ceiling) measured over it; quality 1 over it when none fits. Two encodes
// more, untimed.
bool Exact(Conversion& conversion, const QualitySearch& found, uint64_t limit) {
  if (conversion.CopyBytes() != found.bytes)
    return false;
  if (found.outcome == QualitySearch::kNoneFits)
    return found.quality == 1 && found.bytes > limit;
  if (found.outcome != QualitySearch::kFound || found.bytes > limit)
    return false;
  if (found.quality >= kCeiling)
    return true;
  return conversion.Encode(found.quality + 1, nullptr) == CODEC_OK &&
         conversion.CopyBytes() > limit;
}

void Search(benchmark::State& state, const std::string& path, SizeChoice size, int percent) {
  Conversion* conversion = DecodedPhoto(path, size);
  if (conversion == nullptr)
    return state.SkipWithError("cannot decode the photo");
  const uint64_t limit = uint64_t{conversion->InputBytes()} * percent / 100;
  QualitySearch found;
  for (auto _ : state) {
    const int64_t start = NowNs();
    const int status = conversion->EncodeWithin(limit, kCeiling, nullptr, found);
    SetTime(state, NowNs() - start);
    if (status != CODEC_OK)
      return state.SkipWithError("the search failed");
  }
  std::map<int, bool>& exact = Current().exact;
  if (!exact.contains(percent))
    exact[percent] = Exact(*conversion, found, limit);
  state.counters["encodes"] = found.encodes;
  state.counters["quality"] = found.quality;
  state.counters["bytes"] = static_cast<double>(found.bytes);
  state.counters["limit"] = static_cast<double>(limit);
  state.counters["none_fits"] = found.outcome == QualitySearch::kNoneFits;
  state.counters["exact"] = exact[percent];
}

}  // namespace

void RegisterSearches(const std::vector<std::string>& photos, const std::vector<int>& percents,
                      int repetitions) {
  for (const std::string& line : photos) {
    const std::string label = line.substr(0, line.find('\t'));
    const std::string path = line.substr(line.find('\t') + 1);
    for (const SizeChoice size : {SIZE_FULL, SIZE_HALF}) {
      const std::string at = label + ":" + (size == SIZE_FULL ? "1" : "2");
      Timed("Encode:" + at, repetitions,
            [=](benchmark::State& state) { EncodeAtCeiling(state, path, size); });
      for (const int percent : percents) {
        Timed("Search:" + at + ":" + std::to_string(percent), repetitions,
              [=](benchmark::State& state) { Search(state, path, size, percent); });
      }
    }
  }
}
