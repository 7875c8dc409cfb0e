// tbm_bench: the measurements where a fresh process is not the point, with
// Google Benchmark: the reference converting into memory it touched before, a second
// "Output Quality" opening, the header read, a photo padded with thousands of
// empty segments, a batch of twenty photos, and the first touch of a page.
//
//   tbm_bench --memory fresh|warm --photos LIST --work DIR [--repetitions N]
//             [--padded PHOTO --segments N,...] [--batch LIST]
//
// All large buffers of the C heap come fresh from the kernel for the whole
// process, as the program's page blocks do, or (warm) are reused from memory
// touched before: the two cannot share a process. LIST has one photo a line:
// label, kind, source and path, separated by tabs; the batch's LIST one path
// a line. Conversions write into DIR.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>

#include <benchmark/benchmark.h>

#include "conversion.h"
#include "dialogs/size_dialog.h"

namespace {

struct Photo {
  std::string label;
  std::string path;
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty())
      lines.push_back(line);
  }
  return lines;
}

double Ms(int64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

SizeChoice ChoiceFor(int denominator) {
  return denominator == 2 ? SIZE_HALF : denominator == 4 ? SIZE_QUARTER : SIZE_FULL;
}

// Whole conversions, timed by their own clock: one per repetition.
benchmark::internal::Benchmark* Conversion(const std::string& name, int repetitions,
                                           std::function<void(benchmark::State&)> body) {
  return benchmark::RegisterBenchmark(name.c_str(), std::move(body))
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(repetitions)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics(
          "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->Unit(benchmark::kMillisecond);
}

// The two openings of "Output Quality": the user types 80 in the first and
// saves in the second, which finds the first one's blocks. In warm memory the
// standard tables encode the same pixels twice after it, the second timed.
void Openings(benchmark::State& state, const Photo& photo, int denominator, bool warm) {
  UserAnswers answers{ChoiceFor(denominator), {"80"}, {}};
  int64_t standard = 0;
  if (warm) {
    answers.onSave = [&standard](const JobState& job) {
      StandardTablesEncode(job);
      standard = StandardTablesEncode(job);
    };
  }
  for (auto _ : state) {
    std::vector<int64_t> openings;
    if (!RunProgram(photo.path, answers, &openings).ok || openings.size() != 2) {
      state.SkipWithError("the program failed");
      return;
    }
    state.SetIterationTime(static_cast<double>(openings[1]) / 1e9);
    state.counters["first_ms"] = Ms(openings[0]);
    if (warm)
      state.counters["standard_ms"] = Ms(standard);
  }
}

// The header read behind "Output Size", again and again on the same bytes.
void HeaderRead(benchmark::State& state, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  JobState job;
  CodecProps codec{};
  if (bytes.empty() || !job.jpegBuffer.Allocate(bytes.size())) {
    state.SkipWithError("cannot read the photo");
    return;
  }
  std::memcpy(job.jpegBuffer.data(), bytes.data(), bytes.size());
  job.fileSize = static_cast<uint32_t>(bytes.size());
  for (auto _ : state) {
    if (!ReadImageSize(job, codec))
      state.SkipWithError("the header read failed");
  }
}

// The decode behind "Output Size"'s OK at full size, as the program does it
// (ReadImageSize, then ConfirmSize, which points the codec at the job's
// metadata), of the photo with `segments` empty APP1 segments right after
// its SOI.
void PaddedDecode(benchmark::State& state, const std::string& path, int segments) {
  std::ifstream in(path, std::ios::binary);
  const std::string photo{std::istreambuf_iterator<char>(in), {}};
  std::string padded = photo.substr(0, 2);
  for (int i = 0; i < segments; ++i)
    padded += std::string("\xFF\xE1\x00\x02", 4);
  padded += photo.substr(std::min<size_t>(2, photo.size()));
  state.counters["file_bytes"] = static_cast<double>(padded.size());
  for (auto _ : state) {
    JobState job;
    CodecProps codec{};
    if (photo.size() < 4 || !job.jpegBuffer.Allocate(padded.size())) {
      state.SkipWithError("cannot read the photo");
      return;
    }
    std::memcpy(job.jpegBuffer.data(), padded.data(), padded.size());
    job.fileSize = static_cast<uint32_t>(padded.size());
    job.sizeChoice = SIZE_FULL;
    const int64_t start = NowNs();
    const bool ok = ReadImageSize(job, codec) && ConfirmSize(job, codec) == SIZE_CONFIRMED;
    state.SetIterationTime(static_cast<double>(NowNs() - start) / 1e9);
    if (!ok)
      state.SkipWithError("the decode failed");
  }
}

// Not built yet: the batch that makes the copies of the photos after the
// first without dialogs, reusing the previous photo's blocks. When it is, this
// runs RunBatch over `photos` on the command line, the fake dialogs choosing
// Half and saving at 90 with "Same for the rest" checked for the first photo,
// and returns the run's nanoseconds. Nothing until then.
std::optional<int64_t> BatchWithKeptBlocks(const std::vector<std::string>& photos) {
  (void)photos;
  return std::nullopt;
}

// The batch's time per photo, at half size: the reference in warm memory,
// the program one photo at a time through ProcessFile (each photo's blocks
// fresh), or with the blocks kept.
void Batch(benchmark::State& state, const std::vector<std::string>& photos, const std::string& how,
           const std::string& work) {
  auto run = [&]() -> std::optional<int64_t> {
    if (how == "kept-blocks")
      return BatchWithKeptBlocks(photos);
    int64_t total = 0;
    for (size_t i = 0; i < photos.size(); ++i) {
      const Phases p = how == "program" ? RunProgram(photos[i], {SIZE_HALF, {}, {}})
                                        : RunReference(photos[i], work + "/batch.jpg", 2, true);
      if (!p.ok)
        return std::nullopt;
      total += p.total;
    }
    return total;
  };
  if (how == "reference-warm")
    run();  // the memory the timed runs reuse
  for (auto _ : state) {
    const std::optional<int64_t> took = run();
    if (!took) {
      state.SkipWithError(how == "kept-blocks" ? "not built yet" : "a conversion failed");
      return;
    }
    state.SetIterationTime(static_cast<double>(*took) / 1e9 / static_cast<double>(photos.size()));
  }
}

// The first write to each page of a fresh 64 MiB mapping: the kernel's page
// fault, which every conversion into fresh memory pays per 4 KiB.
void FirstTouch(benchmark::State& state) {
  const size_t bytes = size_t{64} << 20;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  for (auto _ : state) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      return;
    }
    auto* at = static_cast<volatile uint8_t*>(p);
    const int64_t start = NowNs();
    for (size_t i = 0; i < bytes; i += page)
      at[i] = 1;
    state.SetIterationTime(static_cast<double>(NowNs() - start) / 1e9);
    munmap(p, bytes);
  }
  state.counters["pages"] = static_cast<double>(bytes / page);
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
  if (warm)
    ReuseHeapMemory();
  else
    UseFreshLargeBuffers();

  std::vector<Photo> photos;
  for (const std::string& line : Lines(opts["--photos"])) {
    std::istringstream fields(line);
    std::string label, kind, source, path;
    std::getline(fields, label, '\t');
    std::getline(fields, kind, '\t');
    std::getline(fields, source, '\t');
    std::getline(fields, path);
    photos.push_back({label, path});
  }
  for (const Photo& photo : photos) {
    for (const int d : {1, 2, 4}) {
      const std::string at = photo.label + ":" + std::to_string(d);
      Conversion("Openings:" + at, repetitions,
                 [=, first = std::make_shared<bool>(warm)](benchmark::State& state) {
                   if (std::exchange(*first, false))
                     RunProgram(photo.path, {ChoiceFor(d), {"80"}, {}});
                   Openings(state, photo, d, warm);
                 });
      for (const bool optimized : {true, false}) {
        if (!warm)
          continue;
        const std::string tables = optimized ? "optimized" : "standard";
        const std::string out = work + "/warm-" + photo.label + "-" + tables + ".jpg";
        Conversion("Reference:" + at + ":" + tables, repetitions,
                   [=, first = std::make_shared<bool>(true)](benchmark::State& state) {
                     if (std::exchange(*first, false))
                       RunReference(photo.path, out, d, optimized);
                     for (auto _ : state) {
                       const Phases p = RunReference(photo.path, out, d, optimized);
                       if (!p.ok)
                         state.SkipWithError("the reference failed");
                       state.SetIterationTime(static_cast<double>(p.total) / 1e9);
                       state.counters["encode_ms"] = Ms(p.encode);
                     }
                   });
      }
    }
    if (!warm) {
      benchmark::RegisterBenchmark(("HeaderRead:" + photo.label).c_str(), HeaderRead, photo.path)
          ->Repetitions(repetitions)
          ->ReportAggregatesOnly(true)
          ->Unit(benchmark::kMicrosecond);
    }
  }

  if (!warm && !opts["--padded"].empty()) {
    std::istringstream counts("0," + opts["--segments"]);
    for (std::string n; std::getline(counts, n, ',');) {
      auto* b = benchmark::RegisterBenchmark(("Padded:" + n).c_str(), PaddedDecode,
                                             opts["--padded"], std::stoi(n))
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
      if (n != "0")
        b->Iterations(1);  // seconds to minutes each while the decode is quadratic
    }
  }
  if (!opts["--batch"].empty()) {
    const std::vector<std::string> batch = Lines(opts["--batch"]);
    for (const std::string& how : warm ? std::vector<std::string>{"reference-warm"}
                                       : std::vector<std::string>{"program", "kept-blocks"}) {
      Conversion("Batch:" + how, repetitions,
                 [=](benchmark::State& state) { Batch(state, batch, how, work); });
    }
  }
  if (!warm) {
    Conversion("FirstTouch", repetitions, FirstTouch);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
