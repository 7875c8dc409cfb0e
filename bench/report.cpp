#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "batch/job_state.h"
#include "results.h"

namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr uint64_t kMemorySlack = 8 * 1024 * 1024;
constexpr uint64_t kLargePhotoPixels = 1'000'000;
const char* const kScaleNames[] = {"Full", "Half", "Quarter"};

using PhaseOf = std::function<int64_t(const Phases&)>;

int64_t TotalOf(const Phases& p) {
  return p.total;
}

struct Stats {
  bool ok = false;
  int64_t min = 0;
  int64_t median = 0;
};

Stats StatsOf(const std::vector<Measurement>& runs, const PhaseOf& phase = TotalOf) {
  std::vector<int64_t> values;
  for (const Measurement& m : runs) {
    if (!m.ok)
      return {};
    values.push_back(phase(m.phases));
  }
  if (values.empty())
    return {};
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const int64_t median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {true, values.front(), median};
}

uint64_t PeakOf(const std::vector<Measurement>& runs) {
  uint64_t peak = 0;
  for (const Measurement& m : runs)
    peak = std::max(peak, m.peakRss);
  return peak;
}

uint64_t BytesOf(const std::vector<Measurement>& runs) {
  return runs.empty() ? 0 : runs.back().outputBytes;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string Ms(int64_t ns) {
  const double ms = static_cast<double>(ns) / 1e6;
  return Fixed(ms, ms < 1 ? 3 : ms < 100 ? 1 : 0);
}

std::string Us(int64_t ns) {
  const double us = static_cast<double>(ns) / 1e3;
  return Fixed(us, us < 100 ? 1 : 0);
}

std::string MiB(uint64_t bytes) {
  return Fixed(static_cast<double>(bytes) / kMiB, 1);
}

// A table cell's text: a bar would end the cell.
std::string TableCell(const std::string& text) {
  std::string cell;
  for (const char c : text) {
    if (c == '|')
      cell += '\\';
    cell += c;
  }
  return cell;
}

std::string Ratio(double r) {
  return Fixed(r, r < 10 ? 2 : 1);
}

double RatioOf(int64_t a, int64_t b) {
  return static_cast<double>(a) / static_cast<double>(b);
}

std::string Percent(double fraction) {
  return Fixed(fraction * 100.0, 1) + " %";
}

std::string Thousands(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) {
    digits.insert(static_cast<size_t>(i), " ");
  }
  return digits;
}

double GeoMean(const std::vector<double>& values) {
  if (values.empty())
    return 0;
  double logs = 0;
  for (const double v : values)
    logs += std::log(v);
  return std::exp(logs / static_cast<double>(values.size()));
}

std::string Megapixels(const Photo& p) {
  return Fixed(static_cast<double>(p.info.width) * p.info.height / 1e6, 1);
}

uint64_t Pixels(const Photo& p) {
  return static_cast<uint64_t>(p.info.width) * p.info.height;
}

int32_t Scaled(int32_t n, size_t scale) {
  return n / kDenominators[scale];
}

// What the three blocks of the program's path take at this scale, plus the
// allowance for code, stacks and the codec's own working memory.
uint64_t MemoryLimit(const Photo& p, size_t scale) {
  const int32_t w = Scaled(p.info.width, scale);
  const int32_t h = Scaled(p.info.height, scale);
  return p.bytes + BlockSize(w, h) + OutputBound(w, h, CodecMetadata{}) + kMemorySlack;
}

// libjpeg keeps a multi-scan JPEG's quantized coefficients, two bytes each,
// for the whole image until its last scan.
uint64_t CoefficientBytes(const Photo& p) {
  const uint64_t lumaBlocks = ((static_cast<uint64_t>(p.info.width) + 7) / 8) *
                              ((static_cast<uint64_t>(p.info.height) + 7) / 8);
  const uint64_t chromaDivisor = p.info.sampling == "4:2:0"   ? 4
                                 : p.info.sampling == "4:2:2" ? 2
                                                              : 1;
  const uint64_t blocks = lumaBlocks + (p.info.components - 1) * lumaBlocks / chromaDivisor;
  return blocks * 64 * 2;
}

std::string FirstLineValue(const char* path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) {
      std::string value = line.substr(line.find_first_of(":=") + 1);
      value.erase(0, value.find_first_not_of(" \t\""));
      if (!value.empty() && value.back() == '"')
        value.pop_back();
      return value;
    }
  }
  return "unknown";
}

void WriteMachine(std::ostream& out, const ReportInputs& in) {
  utsname names{};
  uname(&names);
  const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
                        static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * kMiB);
  const std::time_t now = std::time(nullptr);
  char date[32];
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  out << "## Machine\n\n"
      << "- CPU: " << FirstLineValue("/proc/cpuinfo", "model name") << ", "
      << sysconf(_SC_NPROCESSORS_ONLN) << " cores online; memory " << Fixed(memory, 1) << " GiB\n"
      << "- System: " << FirstLineValue("/etc/os-release", "PRETTY_NAME") << ", Linux "
      << names.release << " " << names.machine << "\n"
      << "- First touch of a fresh 4 KiB page (the kernel's page fault): "
      << Fixed(static_cast<double>(in.firstTouchNs) / 1e3, 1) << " µs, so "
      << Fixed(static_cast<double>(in.firstTouchNs) * 256 / 1e6, 1)
      << " ms per MiB a conversion writes into fresh memory\n"
      << "- Run: " << date << ", " << Fixed(static_cast<double>(in.elapsedNs) / 60e9, 1)
      << " minutes of measuring\n"
      << "- Packages:\n";
  std::istringstream versions(in.versions);
  std::string line;
  while (std::getline(versions, line)) {
    if (!line.empty())
      out << "  - " << line << "\n";
  }
  out << "\n";
}

void WriteMethod(std::ostream& out, const ReportInputs& in) {
  out << "## What is measured\n\n"
      << "Every photo is converted at full, half and quarter scale to a quality-90 JPEG by each "
         "of these, in a fresh process per measurement:\n\n"
      << "- **program**: the program's own path, through the batch's `ProcessFile` with the "
         "dialogs answering as a user would: the file read into a page block, the header read "
         "behind the \"Output Size\" dialog (`ReadImageSize`, `CodecRead` mode 1), the scaled "
         "decode (`ConfirmSize`, `CodecRead` mode 3/15/17 into a block of `BlockSize`), the "
         "encode behind the \"Output Quality\" dialog (`EncodeAtQuality`, `CodecWrite` mode 9 "
         "into a block of `OutputCapacity`), the file written. Baseline 4:2:2.\n"
      << "- **reference**: the limit, a minimal libjpeg-turbo loop in the benchmark: the file "
         "read into memory, `scale_denom` 1/2/4 decode to BGR in one buffer, 4:2:2 quality-90 "
         "encode into one preallocated buffer, the file written. Its scaled sizes are "
         "libjpeg's, rounded up; the program's are rounded down.\n"
      << "- **reference, warm memory**: the same, converting into memory its process touched "
         "in the conversion before (glibc's heap, nothing returned to the kernel): what the "
         "work costs without first touches of fresh pages.\n"
      << "- **reference+huffman**: the reference with `optimize_coding` on (for the decision "
         "below).\n"
      << "- **djpeg|cjpeg**: `djpeg -scale 1/N photo | cjpeg -quality 90 -sample 2x1 > out` "
         "(libjpeg-turbo-progs), both processes.\n"
      << "- **convert**: ImageMagick `convert photo -resize WxH! -quality 90 -sampling-factor "
         "2x1 out` (no `-resize` at full scale).\n"
      << "- **vipsthumbnail**: `vipsthumbnail photo -s WxH! -o out[Q=90,subsample-mode=on]` "
         "(libvips has no 4:2:2; 4:2:0 is the nearest and the less work).\n\n"
      << "Each measurement is its own process. The in-process tools convert the photo twice "
         "and time the second conversion: code, heap and page cache are warm, as in a program "
         "that has converted a photo before, and every buffer of 128 KiB or more comes fresh "
         "from the kernel, as the program's page blocks do (except for \"reference, warm "
         "memory\"). Their peak memory is that process's VmHWM. The peers are timed from start to "
         "exit, and their "
         "peak memory is `ru_maxrss` (summed over both processes of the pipe; it includes at "
         "least the "
      << MiB(in.orchestratorPeak)
      << " MiB the benchmark itself held when it started them). Runs go round all photos, "
         "scales and tools, each round in another order, before the next starts: "
      << in.runs << " runs per photo and scale for the program, the reference (" << in.smallRuns
      << " on photos under 1 MP) and djpeg|cjpeg, " << in.peerRuns
      << " for convert, vipsthumbnail and, on the real photos only, reference+huffman. Times are "
         "milliseconds; \"× ref\" is a tool's median time divided by the "
         "reference's, \"× ref (min)\" the same for the shortest times, on the same photo and "
         "scale (below 1 is faster). "
         "The program's memory limit is input bytes + pixel block + output block + 8 MiB.\n\n";
}

void WritePhotos(std::ostream& out, const ReportInputs& in) {
  out << "## Photos\n\n"
      << "| Photo | Kind | Source | Size | MP | Bytes | Coding | Sampling |\n"
      << "|---|---|---|---|---:|---:|---|---|\n";
  for (const PhotoResults& r : in.photos) {
    const Photo& p = r.photo;
    out << "| " << p.label << " | " << p.kind << " | " << p.source << " | " << p.info.width << "x"
        << p.info.height << " | " << Megapixels(p) << " | " << Thousands(p.bytes) << " | "
        << (p.info.progressive ? "progressive" : "baseline") << " | " << p.info.sampling << " |\n";
  }
  for (const Photo& p : in.skipped) {
    out << "| " << p.label << " | " << p.kind << " | " << p.source << " | - | - | "
        << Thousands(p.bytes) << " | not measured: the codec cannot read it | - |\n";
  }
  out << "\n";
}

// A tool's time against another's on one photo and scale.
struct Comparison {
  bool ok = false;
  double ratio = 0;     // of the medians
  double minRatio = 0;  // of the minimums
};

Comparison Compare(const PhotoResults& r, size_t scale, Tool tool, Tool base) {
  const Stats a = StatsOf(r.runs[scale][tool]);
  const Stats b = StatsOf(r.runs[scale][base]);
  if (!a.ok || !b.ok)
    return {};
  return {true, RatioOf(a.median, b.median), RatioOf(a.min, b.min)};
}

void WriteScaleTable(std::ostream& out, const ReportInputs& in, size_t scale) {
  out << "### " << kScaleNames[scale] << " scale (1/" << kDenominators[scale] << ")\n\n"
      << "| Photo | Output size | Tool | × ref | × ref (min) | median ms | min ms | peak MiB | "
         "output bytes |\n"
      << "|---|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    const Photo& p = r.photo;
    for (int t = 0; t < kToolCount; ++t) {
      const Tool tool = static_cast<Tool>(t);
      const auto& runs = r.runs[scale][t];
      if (runs.empty())
        continue;
      const Stats s = StatsOf(runs);
      out << "| " << (t == 0 ? p.label : "") << " | "
          << (t == 0 ? std::to_string(Scaled(p.info.width, scale)) + "x" +
                           std::to_string(Scaled(p.info.height, scale))
                     : "")
          << " | " << TableCell(ToolName(tool)) << " | ";
      if (!s.ok) {
        out << "failed | | | | | |\n";
        continue;
      }
      const Comparison c = Compare(r, scale, tool, kReference);
      out << (c.ok ? Ratio(c.ratio) : "-") << " | " << (c.ok ? Ratio(c.minRatio) : "-") << " | "
          << Ms(s.median) << " | " << Ms(s.min) << " | " << MiB(PeakOf(runs));
      if (tool == kProgram)
        out << " (limit " << MiB(MemoryLimit(p, scale)) << ")";
      out << " | " << Thousands(BytesOf(runs)) << " |\n";
    }
  }
  out << "\n";
}

std::string MedianMs(const std::vector<Measurement>& runs, const PhaseOf& phase) {
  return Ms(StatsOf(runs, phase).median);
}

void WritePhaseTable(std::ostream& out, const ReportInputs& in) {
  out << "## The program's path, phase by phase\n\n"
      << "Median milliseconds of each phase of the program's path; \"other\" is what the "
         "batch does between them (closing the input, releasing and mapping page blocks). "
         "Page faults are those of one conversion, each the first touch of a fresh page.\n\n"
      << "| Photo | Scale | read | header read | decode | encode | write | other | total | "
         "page faults | reference decode | reference encode | reference page faults |\n"
      << "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& runs = r.runs[s][kProgram];
      const auto& ref = r.runs[s][kReference];
      if (!StatsOf(runs).ok || !StatsOf(ref).ok)
        continue;
      auto field = [](int64_t Phases::*f) { return [f](const Phases& p) { return p.*f; }; };
      auto other = [](const Phases& p) {
        return p.total - p.read - p.params - p.decode - p.encode - p.write;
      };
      out << "| " << (s == 0 ? r.photo.label : "") << " | 1/" << kDenominators[s] << " | "
          << MedianMs(runs, field(&Phases::read)) << " | " << MedianMs(runs, field(&Phases::params))
          << " | " << MedianMs(runs, field(&Phases::decode)) << " | "
          << MedianMs(runs, field(&Phases::encode)) << " | "
          << MedianMs(runs, field(&Phases::write)) << " | " << MedianMs(runs, other) << " | "
          << MedianMs(runs, field(&Phases::total)) << " | "
          << Thousands(runs.back().phases.pageFaults) << " | "
          << MedianMs(ref, field(&Phases::decode)) << " | " << MedianMs(ref, field(&Phases::encode))
          << " | " << Thousands(ref.back().phases.pageFaults) << " |\n";
    }
  }
  out << "\n";
}

// The waits a user sees: before the "Output Size" dialog (the file read and
// the header read) and before each "Output Quality" dialog (one encoding).
void WriteDialogWaits(std::ostream& out, const ReportInputs& in) {
  out << "## The dialogs' waits\n\n"
      << "Median milliseconds before each dialog of the program appears: \"Output Size\" after "
         "the file is read and its header read; \"Output Quality\" after one encoding at the "
         "chosen scale (once per quality tried).\n\n"
      << "| Photo | MP | Output Size | Output Quality, full | half | quarter |\n"
      << "|---|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    std::vector<Measurement> all;
    for (const auto& scale : r.runs) {
      all.insert(all.end(), scale[kProgram].begin(), scale[kProgram].end());
    }
    if (!StatsOf(all).ok)
      continue;
    out << "| " << r.photo.label << " | " << Megapixels(r.photo) << " | "
        << MedianMs(all, [](const Phases& p) { return p.read + p.params; });
    for (const auto& scale : r.runs) {
      out << " | " << MedianMs(scale[kProgram], [](const Phases& p) { return p.encode; });
    }
    out << " |\n";
  }
  out << "\n";
}

// The photo nearest to 3 MP and the largest: the header read must cost the
// same on both.
struct HeaderReadCheck {
  const PhotoResults* small = nullptr;
  const PhotoResults* large = nullptr;
  Stats smallStats;
  Stats largeStats;
  double ratio = 0;
};

HeaderReadCheck CheckHeaderRead(const ReportInputs& in) {
  HeaderReadCheck check;
  auto distance = [](const PhotoResults& r) {
    return std::abs(static_cast<double>(Pixels(r.photo)) - 3e6);
  };
  for (const PhotoResults& r : in.photos) {
    if (!check.small || distance(r) < distance(*check.small))
      check.small = &r;
    if (!check.large || Pixels(r.photo) > Pixels(check.large->photo))
      check.large = &r;
  }
  if (!check.small)
    return check;
  // Every scale reads the same headers: all its runs count.
  auto stats = [](const PhotoResults& r) {
    std::vector<Measurement> all;
    for (const auto& scale : r.runs)
      all.insert(all.end(), scale[kProgram].begin(), scale[kProgram].end());
    return StatsOf(all, [](const Phases& p) { return p.params; });
  };
  check.smallStats = stats(*check.small);
  check.largeStats = stats(*check.large);
  if (check.smallStats.ok && check.largeStats.ok) {
    check.ratio = RatioOf(check.largeStats.median, check.smallStats.median);
  }
  return check;
}

void WriteHeaderRead(std::ostream& out, const ReportInputs& in) {
  out << "## The header read behind the \"Output Size\" dialog\n\n"
      << "Microseconds for `ReadImageSize` (`CodecRead` mode 1) in the program's path, over "
         "the runs of all three scales: the first access to the bytes just read and to the "
         "codec's memory is part of it. \"Repeated\" is the median of 21 more header reads of "
         "the same bytes, the header read's own cost; its instructions are callgrind's count. "
         "It walks the markers up to the first scan, so it grows with the metadata in front of "
         "the pixels, never with the pixels.\n\n"
      << "| Photo | MP | Bytes | min µs | median µs | repeated µs | instructions |\n"
      << "|---|---:|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    std::vector<Measurement> all;
    for (const auto& scale : r.runs)
      all.insert(all.end(), scale[kProgram].begin(), scale[kProgram].end());
    const Stats s = StatsOf(all, [](const Phases& p) { return p.params; });
    if (!s.ok)
      continue;
    out << "| " << r.photo.label << " | " << Megapixels(r.photo) << " | "
        << Thousands(r.photo.bytes) << " | " << Us(s.min) << " | " << Us(s.median) << " | "
        << Us(r.photo.info.headerReadNs) << " | " << Thousands(r.headerReadInstructions) << " |\n";
  }
  out << "\n";
}

std::string InstructionRatio(uint64_t a, uint64_t b) {
  return a && b ? Fixed(static_cast<double>(a) / static_cast<double>(b), 4) : "-";
}

void WriteInstructions(std::ostream& out, const ReportInputs& in) {
  if (in.instructions.empty())
    return;
  out << "## Instructions (callgrind)\n\n"
      << "Instructions executed in one conversion, counted by `valgrind --tool=callgrind` inside "
         "the conversion functions (file read to file written): the same every run, whatever "
         "the machine's load.\n\n"
      << "| Photo | Scale | program | reference | program ÷ reference | reference+huffman | "
         "reference+huffman ÷ reference |\n"
      << "|---|---|---:|---:|---:|---:|---:|\n";
  for (const InstructionCount& c : in.instructions) {
    out << "| " << c.photo->photo.label << " | 1/" << kDenominators[c.scale] << " | "
        << Thousands(c.program) << " | " << Thousands(c.reference) << " | "
        << InstructionRatio(c.program, c.reference) << " | "
        << (c.referenceHuffman ? Thousands(c.referenceHuffman) : "-") << " | "
        << InstructionRatio(c.referenceHuffman, c.reference) << " |\n";
  }
  out << "\n";
}

struct HuffmanRow {
  const PhotoResults* photo;
  size_t scale;
  uint64_t standardBytes;
  uint64_t optimizedBytes;
  int64_t standardEncode;
  int64_t optimizedEncode;
  int64_t standardTotal;
  int64_t optimizedTotal;
  uint64_t standardPeak;
  uint64_t optimizedPeak;
};

std::vector<HuffmanRow> HuffmanRows(const ReportInputs& in) {
  std::vector<HuffmanRow> rows;
  auto encode = [](const Phases& p) { return p.encode; };
  for (const PhotoResults& r : in.photos) {
    if (r.photo.kind != "real")
      continue;
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& standard = r.runs[s][kReference];
      const auto& optimized = r.runs[s][kReferenceHuffman];
      if (!StatsOf(standard).ok || !StatsOf(optimized).ok)
        continue;
      rows.push_back({&r, s, BytesOf(standard), BytesOf(optimized),
                      StatsOf(standard, encode).median, StatsOf(optimized, encode).median,
                      StatsOf(standard).median, StatsOf(optimized).median, PeakOf(standard),
                      PeakOf(optimized)});
    }
  }
  return rows;
}

// Which tables the program's encoder uses, told by its output: at full scale
// it encodes exactly the pixels the reference encodes.
std::string ProgramTables(const ReportInputs& in) {
  for (const PhotoResults& r : in.photos) {
    const uint64_t program = BytesOf(r.runs[0][kProgram]);
    if (program == 0)
      continue;
    if (program == BytesOf(r.runs[0][kReference]))
      return "standard";
    if (program == BytesOf(r.runs[0][kReferenceHuffman]))
      return "optimized";
  }
  return "unknown";
}

void WriteHuffman(std::ostream& out, const ReportInputs& in) {
  const std::vector<HuffmanRow> rows = HuffmanRows(in);
  out << "## Huffman optimisation\n\n"
      << "`optimize_coding` measured on the real photos: the reference with libjpeg's standard "
         "tables against the same with tables optimized for each image (a second pass over the "
         "whole image's coefficients, which libjpeg keeps in memory for it). Both outputs are "
         "baseline 4:2:2.\n\n"
      << "| Photo | Scale | standard bytes | optimized bytes | saved | encode ms | encode ms "
         "optimized | encode added | total added | peak MiB | peak MiB optimized |\n"
      << "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  std::vector<double> saved[3], encodeAdded[3], totalAdded[3];
  std::vector<double> memoryAdded[3];
  for (const HuffmanRow& row : rows) {
    const double s =
        1.0 - static_cast<double>(row.optimizedBytes) / static_cast<double>(row.standardBytes);
    const double e = RatioOf(row.optimizedEncode, row.standardEncode) - 1.0;
    const double t = RatioOf(row.optimizedTotal, row.standardTotal) - 1.0;
    saved[row.scale].push_back(s);
    encodeAdded[row.scale].push_back(e);
    totalAdded[row.scale].push_back(t);
    memoryAdded[row.scale].push_back(static_cast<double>(row.optimizedPeak) -
                                     static_cast<double>(row.standardPeak));
    out << "| " << row.photo->photo.label << " | 1/" << kDenominators[row.scale] << " | "
        << Thousands(row.standardBytes) << " | " << Thousands(row.optimizedBytes) << " | "
        << Percent(s) << " | " << Ms(row.standardEncode) << " | " << Ms(row.optimizedEncode)
        << " | " << Percent(e) << " | " << Percent(t) << " | " << MiB(row.standardPeak) << " | "
        << MiB(row.optimizedPeak) << " |\n";
  }
  auto mean = [](const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v)
      sum += x;
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
  };
  out << "\nMeans over the real photos:\n\n"
      << "| Scale | bytes saved | encode time added | total time added | peak memory added |\n"
      << "|---|---:|---:|---:|---:|\n";
  for (size_t s = 0; s < kDenominators.size(); ++s) {
    out << "| " << kScaleNames[s] << " | " << Percent(mean(saved[s])) << " | "
        << Percent(mean(encodeAdded[s])) << " | " << Percent(mean(totalAdded[s])) << " | "
        << MiB(static_cast<uint64_t>(std::max(0.0, mean(memoryAdded[s])))) << " MiB |\n";
  }
  // The compute a second pass costs, from the real photos callgrind counted.
  double instructionsAdded[3] = {0, 0, 0};
  std::string counted;
  for (const InstructionCount& c : in.instructions) {
    if (c.photo->photo.kind != "real" || !c.reference || !c.referenceHuffman)
      continue;
    instructionsAdded[c.scale] =
        static_cast<double>(c.referenceHuffman) / static_cast<double>(c.reference) - 1.0;
    counted = c.photo->photo.label;
  }
  const std::string tables = ProgramTables(in);
  out << "\n**Decision: standard tables (`optimize_coding` stays off).** On the real photos "
         "optimized tables make the copies "
      << Percent(mean(saved[0])) << " (full) to " << Percent(mean(saved[2]))
      << " (quarter) smaller. They cost a second pass: ";
  if (!counted.empty()) {
    out << Percent(instructionsAdded[0]) << " (full) to " << Percent(instructionsAdded[2])
        << " (quarter) more instructions for a whole conversion of " << counted
        << " (callgrind), and ";
  }
  out << "the whole image's coefficients held between the passes ("
      << MiB(static_cast<uint64_t>(std::max(0.0, mean(memoryAdded[0]))))
      << " MiB more at full scale), all in fresh memory. Every encoding, so every \"Output "
         "Quality\" dialog, would take "
      << Percent(mean(encodeAdded[0])) << " (full) to " << Percent(mean(encodeAdded[2]))
      << " (quarter) more time here, the whole conversion " << Percent(mean(totalAdded[0]))
      << " to " << Percent(mean(totalAdded[2]))
      << " more, beyond the 5 % the program may take over the reference. A few percent "
         "of bytes do not pay for a slower dialog at every quality tried; the size the dialog "
         "shows is that of the file it writes either way. In this run the program's copies "
         "have the byte counts of the reference's with "
      << tables << " tables, as they should.\n\n";
}

struct TargetRow {
  std::string target;
  std::string measured;
  bool held;
};

enum class Which { kAll, kLarge, kSmall };

bool Included(const Photo& p, Which which) {
  return which == Which::kAll || (which == Which::kSmall) == p.small;
}

// Worst (largest) ratio of `tool` over `base` at one scale.
struct Worst {
  bool any = false;
  double ratio = 0;
  const PhotoResults* photo = nullptr;
  double geoMean = 0;
};

Worst WorstRatio(const ReportInputs& in, size_t scale, Tool tool, Tool base, Which which) {
  Worst worst;
  std::vector<double> all;
  for (const PhotoResults& r : in.photos) {
    if (!Included(r.photo, which))
      continue;
    const Comparison c = Compare(r, scale, tool, base);
    if (!c.ok)
      continue;
    all.push_back(c.ratio);
    if (!worst.any || c.ratio > worst.ratio)
      worst = {true, c.ratio, &r, 0};
  }
  worst.geoMean = GeoMean(all);
  return worst;
}

int64_t MedianTotal(const PhotoResults& r, size_t scale, Tool tool) {
  return StatsOf(r.runs[scale][tool]).median;
}

std::string At(const PhotoResults& r, size_t scale) {
  return r.photo.label + " at 1/" + std::to_string(kDenominators[scale]);
}

std::vector<TargetRow> Targets(const ReportInputs& in, std::vector<std::string>& notes) {
  std::vector<TargetRow> rows;
  // Per scale, the geometric mean over the photos; held when every scale's
  // is within the limit. The worst photo is shown beside it.
  auto perScale = [&](const std::string& target, Tool tool, Tool base, double limit, Which which) {
    TargetRow row{target, "", true};
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const Worst w = WorstRatio(in, s, tool, base, which);
      if (!w.any)
        continue;
      row.measured += std::string(s ? "; " : "") + kScaleNames[s] + " " + Ratio(w.geoMean) +
                      " (worst " + Ratio(w.ratio) + ", " + w.photo->photo.label + ")";
      row.held = row.held && w.geoMean <= limit;
      if (w.geoMean <= limit || tool != kProgram || base == kReference)
        continue;
      for (const PhotoResults& r : in.photos) {
        const Comparison c = Compare(r, s, tool, base);
        if (!Included(r.photo, which) || !c.ok || c.ratio <= limit)
          continue;
        notes.push_back(At(r, s) + ": the program takes " + Ms(MedianTotal(r, s, kProgram)) +
                        " ms, " + ToolName(base) + " " + Ms(MedianTotal(r, s, base)) +
                        " ms; the reference " + Ms(MedianTotal(r, s, kReference)) + " ms, and " +
                        Ms(MedianTotal(r, s, kReferenceWarm)) +
                        " ms in memory it has touched before. The program's conversion touches " +
                        Thousands(r.runs[s][kProgram].back().phases.pageFaults) + " fresh pages.");
      }
    }
    rows.push_back(row);
  };
  perScale("program ÷ reference ≤ 1.05 at every scale", kProgram, kReference, 1.05, Which::kLarge);
  perScale("the same on the photos under 1 MP (the codec's test images)", kProgram, kReference,
           1.05, Which::kSmall);
  perScale("faster than djpeg\\|cjpeg at every scale (program ÷ djpeg\\|cjpeg < 1)", kProgram,
           kDjpegCjpeg, 0.9999, Which::kLarge);
  perScale("faster than vipsthumbnail at every scale (program ÷ vipsthumbnail < 1)", kProgram,
           kVips, 0.9999, Which::kLarge);
  {
    const Worst w = WorstRatio(in, 1, kProgram, kConvert, Which::kLarge);
    rows.push_back({"≥ 5× faster than convert at half scale (convert ÷ program)",
                    w.any ? Ratio(1.0 / w.geoMean) + " (least " + Ratio(1.0 / w.ratio) + ", " +
                                w.photo->photo.label + ")"
                          : "-",
                    w.any && 1.0 / w.ratio >= 5.0});
  }

  {
    int within = 0, total = 0;
    double worstShare = 0;
    std::string worstAt;
    for (const PhotoResults& r : in.photos) {
      for (size_t s = 0; s < kDenominators.size(); ++s) {
        const auto& runs = r.runs[s][kProgram];
        if (!StatsOf(runs).ok)
          continue;
        ++total;
        const uint64_t peak = PeakOf(runs);
        const uint64_t limit = MemoryLimit(r.photo, s);
        const double share = static_cast<double>(peak) / static_cast<double>(limit);
        if (peak <= limit) {
          ++within;
        } else {
          std::string note = At(r, s) + ": peak memory " + MiB(peak) + " MiB over the limit of " +
                             MiB(limit) + " MiB; the reference peaks at " +
                             MiB(PeakOf(r.runs[s][kReference])) + " MiB.";
          if (r.photo.info.progressive) {
            note +=
                " The photo is progressive: libjpeg keeps all of its quantized "
                "coefficients, " +
                MiB(CoefficientBytes(r.photo)) +
                " MiB here, until the last scan is read, whatever the output scale; a "
                "progressive JPEG gives no row before its last scan.";
          }
          notes.push_back(note);
        }
        if (share > worstShare) {
          worstShare = share;
          worstAt = At(r, s) + ": " + MiB(peak) + " of " + MiB(limit) + " MiB";
        }
      }
    }
    rows.push_back({"peak memory ≤ input + pixel block + output block + 8 MiB",
                    std::to_string(within) + " of " + std::to_string(total) +
                        " conversions within; highest share " + Percent(worstShare) + " (" +
                        worstAt + ")",
                    within == total});
  }
  {
    const HeaderReadCheck c = CheckHeaderRead(in);
    if (c.small && c.smallStats.ok && c.largeStats.ok) {
      const uint64_t a = c.small->headerReadInstructions;
      const uint64_t b = c.large->headerReadInstructions;
      const double instructionRatio =
          a && b ? static_cast<double>(b) / static_cast<double>(a) : 0.0;
      const double repeatRatio =
          RatioOf(c.large->photo.info.headerReadNs, c.small->photo.info.headerReadNs);
      rows.push_back(
          {"the header read does not grow with pixel count",
           c.small->photo.label + " (" + Megapixels(c.small->photo) + " MP): " + Thousands(a) +
               " instructions, " + Us(c.small->photo.info.headerReadNs) + " µs repeated, median " +
               Us(c.smallStats.median) + " µs in the path; " + c.large->photo.label + " (" +
               Megapixels(c.large->photo) + " MP): " + Thousands(b) + " instructions, " +
               Us(c.large->photo.info.headerReadNs) + " µs repeated, median " +
               Us(c.largeStats.median) + " µs in the path. For " +
               Ratio(static_cast<double>(Pixels(c.large->photo)) /
                     static_cast<double>(Pixels(c.small->photo))) +
               "× the pixels: " + Fixed(instructionRatio, 3) + "× the instructions, " +
               Ratio(repeatRatio) + "× the repeated time, " + Ratio(c.ratio) +
               "× the time in the path",
           instructionRatio > 0.0 && instructionRatio < 1.01 && repeatRatio < 1.5});
    }
  }
  return rows;
}

void WriteTargets(std::ostream& out, const ReportInputs& in) {
  std::vector<std::string> notes;
  out << "## Targets\n\n"
      << "Time targets are judged per scale on the geometric mean of the median-time ratios "
         "over the photos of 1 MP and more (the worst photo beside it); the test images under "
         "1 MP convert in under a millisecond and are shown apart.\n\n"
      << "| Target | Measured | Held |\n|---|---|---|\n";
  for (const TargetRow& row : Targets(in, notes)) {
    out << "| " << row.target << " | " << row.measured << " | " << (row.held ? "yes" : "**no**")
        << " |\n";
  }
  out << "\n";
  if (!notes.empty()) {
    out << "Where a target does not hold:\n\n";
    for (const std::string& note : notes)
      out << "- " << note << "\n";
    out << "\n";
  }
}

// What the numbers say about where the program's time goes.
void WriteFindings(std::ostream& out, const ReportInputs& in) {
  double maxInstructions = 0;
  for (const InstructionCount& c : in.instructions) {
    if (c.program && c.reference) {
      maxInstructions = std::max(maxInstructions,
                                 static_cast<double>(c.program) / static_cast<double>(c.reference));
    }
  }
  double maxFaults = 0;
  double freshShare = 0;  // of the reference's time, what warm memory saves it
  uint64_t streamingPeak = 0;
  for (const PhotoResults& r : in.photos) {
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& program = r.runs[s][kProgram];
      const auto& reference = r.runs[s][kReference];
      streamingPeak = std::max(streamingPeak, PeakOf(r.runs[s][kDjpegCjpeg]));
      if (r.photo.small || !StatsOf(program).ok || !StatsOf(reference).ok)
        continue;
      maxFaults = std::max(maxFaults, static_cast<double>(program.back().phases.pageFaults) /
                                          static_cast<double>(reference.back().phases.pageFaults));
      const Stats warm = StatsOf(r.runs[s][kReferenceWarm]);
      if (warm.ok) {
        freshShare = std::max(freshShare, 1.0 - RatioOf(warm.median, StatsOf(reference).median));
      }
    }
  }
  out << "## Findings\n\n"
      << "- The program does what the reference does: at most " << Fixed(maxInstructions, 4)
      << "× its instructions (callgrind, below) and " << Fixed(maxFaults, 4)
      << "× its page faults on the photos of 1 MP and more. Its extra work is the header read "
         "behind the \"Output Size\" dialog (microseconds) and, at odd half and quarter sizes, "
         "the copy of each row out of the decoder's rounded-up row (a few tenths of a percent "
         "of the instructions).\n"
      << "- On this machine the first touch of a fresh page costs "
      << Fixed(static_cast<double>(in.firstTouchNs) / 1e3, 1)
      << " µs (on a bare machine a page fault takes well under one). The reference converting "
         "into memory it has touched before (\"reference, warm memory\") saves up to "
      << Percent(freshShare)
      << " of its time on a photo. The program and the reference must touch the "
         "input, the decoded image and the output once each: the \"Output Quality\" dialog "
         "encodes the decoded image again for every quality typed. djpeg|cjpeg streams rows "
         "through a pipe between two processes, one on each core, and never holds the image "
         "(it peaks at "
      << MiB(streamingPeak)
      << " MiB for both); vipsthumbnail streams too, on both cores. That, not the codec work, "
         "is where they gain.\n"
      << "- Photos under 1 MP convert in under a millisecond; there the program's fixed costs "
         "show: mapping and unmapping its three page blocks per photo (\"other\" in the phase "
         "table), which a minimal loop reusing the C heap does not pay.\n\n";
}

// Per scale, the geometric mean over the photos of at least 1 MP of each
// tool's time relative to the reference.
bool WriteChartData(const ReportInputs& in, const std::string& path) {
  std::ofstream data(path);
  const Tool tools[] = {kProgram, kReference, kReferenceWarm, kDjpegCjpeg, kConvert, kVips};
  data << "scale";
  for (const Tool t : tools)
    data << "\t\"" << ToolName(t) << "\"";
  data << "\n";
  for (size_t s = 0; s < kDenominators.size(); ++s) {
    data << kScaleNames[s];
    for (const Tool t : tools) {
      std::vector<double> ratios;
      for (const PhotoResults& r : in.photos) {
        if (Pixels(r.photo) < kLargePhotoPixels)
          continue;
        const Comparison c = Compare(r, s, t, kReference);
        if (c.ok)
          ratios.push_back(c.ratio);
      }
      data << "\t" << Fixed(GeoMean(ratios), 4);
    }
    data << "\n";
  }
  return static_cast<bool>(data);
}

}  // namespace

bool WriteReport(const ReportInputs& in, const std::string& reportPath,
                 const std::string& chartDataPath, const std::string& chartFile) {
  std::ofstream out(reportPath);
  out << "# Benchmarks\n\n"
      << "The program's conversion against libjpeg-turbo's own limit and the tools people "
         "would use instead, measured side by side in one run. Written by `scripts/bench`; run "
         "it again rather than editing this file.\n\n";
  WriteMachine(out, in);
  WriteTargets(out, in);
  WriteFindings(out, in);
  out << "## Time relative to the reference\n\n![Median time relative to the reference, "
         "geometric mean over the photos of at least 1 MP, by scale](" +
             chartFile + ")\n\n";
  WriteMethod(out, in);
  WritePhotos(out, in);
  out << "## Results by scale\n\n";
  for (size_t s = 0; s < kDenominators.size(); ++s)
    WriteScaleTable(out, in, s);
  WriteDialogWaits(out, in);
  WritePhaseTable(out, in);
  WriteInstructions(out, in);
  WriteHeaderRead(out, in);
  WriteHuffman(out, in);
  return static_cast<bool>(out) && WriteChartData(in, chartDataPath);
}
