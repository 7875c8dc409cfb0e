// tbm_bench: with Google Benchmark, what needs no fresh process: the reference
// in memory touched before, the second "Output Quality" opening, the header
// read, a photo padded with empty segments, twenty photos in a row, the rest
// of a batch on worker threads (with "at most N KB" too), the search behind
// that limit (bench/search.cpp), and the first touch of a page.
//
//   tbm_bench --memory fresh|warm --photos LIST --work DIR --repetitions N
//             [--padded PHOTO --segments N,...] [--batch LIST] [--rest LIST]
//             [--within-kb N] [--search LIST --search-percents P,...]
//
// Fresh and warm memory (UseHeap) cannot share a process. LIST has a label, a
// tab and a path a line; the batch's and the rest's LIST a path a line.
// bench/rest.py runs each Rest and Within benchmark in a process of its own,
// so that the process's peak memory is that run's.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include <benchmark/benchmark.h>

#include "conversion.h"
#include "convert/conversion.h"
#include "search.h"
#include "timed.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

void SetMs(benchmark::State& state, const char* name, int64_t ns) {
  state.counters[name] = static_cast<double>(ns) / 1e6;
}

// The two openings of "Output Quality": the user types 80 in the first and
// saves in the second, which finds the first one's blocks. Then the standard
// tables encode the same pixels twice in warm memory, the second timed, so
// that the second opening is compared with an encode of the same moment.
void Openings(benchmark::State& state, const std::string& photo, SizeChoice size, bool warm) {
  int64_t standard = 0;
  const int denominator = size == SIZE_FULL ? 1 : size == SIZE_HALF ? 2 : 4;
  UserAnswers answers{size, {"80"}, [&] {
                        UseHeap(true);
                        StandardTablesEncode(photo, denominator, 80);
                        standard = StandardTablesEncode(photo, denominator, 80);
                        UseHeap(warm);
                      }};
  for (auto _ : state) {
    const Phases p = RunProgram(photo, answers);
    const std::vector<int64_t>& openings = p.openings;
    if (!p.ok || openings.size() != 2)
      return state.SkipWithError("the program failed");
    SetTime(state, openings[1]);
    SetMs(state, "first_ms", openings[0]);
    SetMs(state, "standard_ms", standard);
    state.counters["over_standard"] =
        static_cast<double>(openings[1]) / static_cast<double>(standard);
  }
}

// The photo's bytes in a conversion, as a photo's first steps read them,
// after `segments` empty APP1 segments inserted right after its SOI.
bool LoadPhoto(Conversion& conversion, const std::string& path, int segments = 0) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), {}};
  if (bytes.size() < 4)
    return false;
  std::string padding;
  for (int i = 0; i < segments; ++i)
    padding.append("\xFF\xE1\x00\x02", 4);
  bytes.insert(2, padding);
  if (!conversion.PrepareInput(bytes.size()))
    return false;
  std::memcpy(conversion.Input().data(), bytes.data(), bytes.size());
  return true;
}

// The header read behind "Output Size", again and again on the same bytes.
void HeaderRead(benchmark::State& state, const std::string& path) {
  Conversion conversion;
  if (!LoadPhoto(conversion, path))
    return state.SkipWithError("cannot read the photo");
  for (auto _ : state) {
    if (!conversion.ReadHeader())
      return state.SkipWithError("the header read failed");
  }
}

// The decode behind "Output Size"'s OK at full size as the program does it,
// of the photo padded with `segments` empty segments.
void PaddedDecode(benchmark::State& state, const std::string& path, int segments) {
  for (auto _ : state) {
    Conversion conversion;
    if (!LoadPhoto(conversion, path, segments))
      return state.SkipWithError("cannot read the photo");
    state.counters["file_bytes"] = conversion.InputBytes();
    const int64_t start = NowNs();
    const bool ok = conversion.ReadHeader() && conversion.Decode(SIZE_FULL, nullptr) == CODEC_OK;
    SetTime(state, NowNs() - start);
    if (!ok)
      return state.SkipWithError("the decode failed");
  }
}

// The batch as the program runs it: the first photo's dialogs choose Half
// and save at 90 with "Same for the rest" checked, and the copies of the
// others are made without dialogs, each photo taking over the blocks of the
// one before.
std::optional<int64_t> BatchWithKeptBlocks(const std::vector<std::string>& photos) {
  const auto took = RunBatchProgram(photos, {SIZE_HALF, {}, {}, true});
  return took ? std::optional(took->total) : std::nullopt;
}

// The same batch at `size` with the rest on `workers` worker threads, timed
// per photo over the whole batch as Batch:kept-blocks is (so that it compares
// with that of a program without workers), and per photo of the rest alone,
// the photos the workers share. With `atMost`, the limit typed in the first
// photo's "Output Quality", each photo of the rest searches for its quality.
void RestOfBatch(benchmark::State& state, const std::vector<std::string>& photos, SizeChoice size,
                 size_t workers, const std::string& atMost) {
  for (auto _ : state) {
    const auto took = RunBatchProgram(photos, {size, {}, {}, true, atMost}, workers);
    if (!took || took->rest == 0)
      return state.SkipWithError("a copy failed");
    const auto count = static_cast<int64_t>(photos.size());
    SetTime(state, took->total / count);
    SetMs(state, "rest_ms", took->rest / (count - 1));
  }
}

// The batch's time per photo, at half size: the reference (in warm memory),
// the program one photo at a time through ProcessFile, each photo's blocks
// fresh, or the program keeping its blocks.
void Batch(benchmark::State& state, const std::vector<std::string>& photos, const std::string& how,
           const std::string& work) {
  for (auto _ : state) {
    std::optional<int64_t> took = 0;
    if (how == "kept-blocks")
      took = BatchWithKeptBlocks(photos);
    for (size_t i = 0; how != "kept-blocks" && took && i < photos.size(); ++i) {
      const Phases p = how == "program" ? RunProgram(photos[i], {SIZE_HALF, {}, {}})
                                        : RunReference(photos[i], work + "/batch.jpg", 2, true);
      took = p.ok ? std::optional(*took + p.total) : std::nullopt;
    }
    if (!took)
      return state.SkipWithError(how == "kept-blocks" ? "not built yet" : "a conversion failed");
    SetTime(state, *took / static_cast<int64_t>(photos.size()));
  }
}

// The first write to each page of a fresh 64 MiB mapping: the kernel's page
// fault, which every conversion into fresh memory pays per 4 KiB page.
void FirstTouch(benchmark::State& state) {
  const size_t bytes = size_t{64} << 20;
  for (auto _ : state) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
      return state.SkipWithError("mmap failed");
    const int64_t start = NowNs();
    for (size_t i = 0; i < bytes; i += 4096)
      static_cast<volatile uint8_t*>(p)[i] = 1;
    SetTime(state, NowNs() - start);
    munmap(p, bytes);
  }
  state.counters["pages"] = static_cast<double>(bytes / 4096);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::map<std::string, std::string> opts = {{"--memory", "fresh"}, {"--repetitions", "5"}};
  for (int i = 1; i + 1 < argc; i += 2)
    opts[argv[i]] = argv[i + 1];
  const bool warm = opts["--memory"] == "warm";
  const int repetitions = std::stoi(opts["--repetitions"]);
  const std::string work = opts["--work"];
  UseHeap(warm);

  for (const std::string& line : Lines(opts["--photos"])) {
    const std::string label = line.substr(0, line.find('\t'));
    const std::string path = line.substr(line.find('\t') + 1);
    // Warm memory: what the largest conversion of the photo needs is touched
    // once before anything is timed, and stays in the heap.
    if (warm) {
      RunReference(path, work + "/warm-up.jpg", 1, true);
      RunProgram(path, {SIZE_FULL, {"80"}, {}});
    }
    for (const SizeChoice size : {SIZE_FULL, SIZE_HALF, SIZE_QUARTER}) {
      const int d = size == SIZE_FULL ? 1 : size == SIZE_HALF ? 2 : 4;
      const std::string at = label + ":" + std::to_string(d);
      Timed("Openings:" + at, repetitions,
            [=](benchmark::State& state) { Openings(state, path, size, warm); });
      for (const std::string tables : {"optimized", "standard"}) {
        if (!warm)
          break;
        Timed("Reference:" + at + ":" + tables, repetitions, [=](benchmark::State& state) {
          for (auto _ : state) {
            const Phases p = RunReference(path, work + "/warm.jpg", d, tables == "optimized");
            if (!p.ok)
              return state.SkipWithError("the reference failed");
            SetTime(state, p.total);
            SetMs(state, "encode_ms", p.encode);
          }
        });
      }
    }
    if (!warm) {
      benchmark::RegisterBenchmark(("HeaderRead:" + label).c_str(), HeaderRead, path)
          ->Repetitions(repetitions)
          ->ReportAggregatesOnly(true)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  std::istringstream segments(warm || opts["--padded"].empty() ? "" : "0," + opts["--segments"]);
  for (std::string n; std::getline(segments, n, ',');) {
    auto* b = benchmark::RegisterBenchmark(("Padded:" + n).c_str(), PaddedDecode, opts["--padded"],
                                           std::stoi(n));
    b->UseManualTime()->Unit(benchmark::kMillisecond);
    if (n != "0")
      b->Iterations(1);  // seconds to minutes each while the decode is quadratic
  }
  const std::vector<std::string> batch = Lines(opts["--batch"]);
  for (const char* how :
       warm ? std::vector{"reference-warm"} : std::vector{"program", "kept-blocks"}) {
    if (!batch.empty())
      Timed(std::string("Batch:") + how, repetitions,
            [=](benchmark::State& state) { Batch(state, batch, how, work); });
  }
  const std::vector<std::string> rest = Lines(opts["--rest"]);
  const std::string atMost = opts["--within-kb"];
  for (const SizeChoice size : {SIZE_FULL, SIZE_HALF}) {
    for (const size_t workers : {1, 2, 4}) {
      if (rest.size() < 2)
        break;
      const std::string at =
          std::to_string(size == SIZE_FULL ? 1 : 2) + ":" + std::to_string(workers);
      Timed("Rest:" + at, repetitions,
            [=](benchmark::State& state) { RestOfBatch(state, rest, size, workers, {}); });
      if (!atMost.empty())
        Timed("Within:" + at, repetitions,
              [=](benchmark::State& state) { RestOfBatch(state, rest, size, workers, atMost); });
    }
  }
  std::vector<int> percents;
  std::istringstream percentList(opts["--search-percents"]);
  for (std::string n; std::getline(percentList, n, ',');)
    percents.push_back(std::stoi(n));
  RegisterSearches(Lines(opts["--search"]), percents, repetitions);
  if (!warm)
    Timed("FirstTouch", repetitions, FirstTouch);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
