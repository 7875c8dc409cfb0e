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
#include "batch/output_block.h"
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

std::string BytesText(uint64_t n) {
  return n ? Thousands(n) : "-";
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

uint64_t RoundUp(uint64_t n, uint64_t unit) {
  return (n + unit - 1) / unit * unit;
}

// A whole image's quantized coefficients as libjpeg holds them, for an
// optimized encode or a progressive decode: per component, its 8x8 blocks
// padded to whole MCUs, 64 coefficients of two bytes each. `luma` is the
// first component's sampling factors; the others' are 1x1.
uint64_t CoefficientBytes(int32_t width, int32_t height, int components, int lumaH, int lumaV) {
  uint64_t bytes = 0;
  for (int c = 0; c < components; ++c) {
    const uint64_t h = c == 0 ? lumaH : 1;
    const uint64_t v = c == 0 ? lumaV : 1;
    const uint64_t across = RoundUp(static_cast<uint64_t>(width) * h, lumaH * 8) / (lumaH * 8);
    const uint64_t down = RoundUp(static_cast<uint64_t>(height) * v, lumaV * 8) / (lumaV * 8);
    bytes += RoundUp(across, h) * RoundUp(down, v) * 64 * 2;
  }
  return bytes;
}

// The encoder's, for the program's 4:2:2 copy at this scale.
uint64_t EncoderCoefficientBytes(const Photo& p, size_t scale) {
  return CoefficientBytes(Scaled(p.info.width, scale), Scaled(p.info.height, scale), 3, 2, 1);
}

// The decoder's, for the photo as stored.
uint64_t DecoderCoefficientBytes(const Photo& p) {
  int h = 1, v = 1;
  if (p.info.sampling == "4:2:2" || p.info.sampling == "4:2:0")
    h = 2;
  if (p.info.sampling == "4:2:0")
    v = 2;
  if (p.info.sampling.find('x') != std::string::npos)
    std::sscanf(p.info.sampling.c_str(), "%dx%d", &h, &v);
  return CoefficientBytes(p.info.width, p.info.height, p.info.components, h, v);
}

// What the program holds at this scale: the input, the pixel block, the copy
// in output blocks as written, the encoder's coefficients and, for a
// progressive photo, the decoder's (libjpeg keeps every coefficient until the
// last scan, whatever the output scale), plus the allowance for code, stacks
// and the codec's own working memory.
uint64_t MemoryLimit(const Photo& p, size_t scale, uint64_t outputBytes) {
  const int32_t w = Scaled(p.info.width, scale);
  const int32_t h = Scaled(p.info.height, scale);
  const uint64_t decoder = p.info.progressive ? DecoderCoefficientBytes(p) : 0;
  return p.bytes + BlockSize(w, h) + RoundUp(outputBytes, OutputBlock::kRegionBytes) +
         EncoderCoefficientBytes(p, scale) + decoder + kMemorySlack;
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
         "encode behind the \"Output Quality\" dialog (`EncodeAtQuality`, `CodecWrite` mode 9), "
         "the file written. Baseline 4:2:2.\n"
      << "- **program, two openings**: the same, but the user types 80 in the first \"Output "
         "Quality\" and saves in the second; each opening's `EncodeAtQuality` is timed on its "
         "own (the dialogs' waits, below).\n"
      << "- **reference**: the limit, a minimal libjpeg-turbo loop in the benchmark: the file "
         "read into memory, `scale_denom` 1/2/4 decode to BGR in one buffer with APP1 and APP2 "
         "saved (`jpeg_save_markers`), 4:2:2 quality-90 encode with `optimize_coding` into one "
         "preallocated buffer, the file written. It carries what the program carries: the "
         "first Exif APP1's orientation (`ExifOrientation`, when 2 to 8) as a minimal Exif "
         "APP1 after JFIF's APP0 (`ExifOrientationSegment`, `jpeg_write_marker`), then the ICC "
         "profile (`jpeg_read_icc_profile`, `jpeg_write_icc_profile`) when its colour space is "
         "RGB. Its scaled sizes are libjpeg's, rounded up; the program's are rounded down.\n"
      << "- **reference, standard tables**: the same with libjpeg's standard Huffman tables, "
         "for what the optimization costs.\n"
      << "- **..., warm memory**: the same, converting into memory its process touched in the "
         "conversion before (glibc's heap, nothing returned to the kernel): what the work costs "
         "without first touches of fresh pages.\n"
      << "- **djpeg|cjpeg**: `djpeg -scale 1/N photo | cjpeg -quality 90 -sample 2x1 > out` "
         "(libjpeg-turbo-progs), both processes.\n"
      << "- **convert**: ImageMagick `convert photo -resize WxH! -quality 90 -sampling-factor "
         "2x1 out` (no `-resize` at full scale); it keeps all of the photo's metadata.\n"
      << "- **vipsthumbnail**: `vipsthumbnail photo -s WxH! -o out[Q=90,subsample-mode=on]` "
         "(libvips has no 4:2:2; 4:2:0 is the nearest and the less work); it keeps the "
         "metadata and turns the pixels by the Exif orientation.\n\n"
      << "Each measurement is its own process. The in-process tools convert the photo twice "
         "and time the second conversion: code, heap and page cache are warm, as in a program "
         "that has converted a photo before, and every buffer of 128 KiB or more comes fresh "
         "from the kernel, as the program's page blocks do (except for the warm ones). Their "
         "peak memory is that process's VmHWM. The peers are timed from start to exit, and "
         "their peak memory is `ru_maxrss` (summed over both processes of the pipe; it includes "
         "at least the "
      << MiB(in.orchestratorPeak)
      << " MiB the benchmark itself held when it started them). Runs go round all photos, "
         "scales and tools, each round in another order, before the next starts: "
      << in.runs
      << " runs per photo and scale for the program (one and two openings), the reference and "
         "djpeg|cjpeg, "
      << in.peerRuns << " for the other references, convert and vipsthumbnail (" << in.smallRuns
      << " for the in-process tools on photos under 1 MP). Times are milliseconds; "
         "\"× ref\" is a tool's median time divided by the reference's, \"× ref (min)\" the "
         "same for the shortest times, on the same photo and scale (below 1 is faster).\n\n"
      << "The program's memory limit is the input's bytes + the pixel block + the copy's bytes "
         "rounded up to whole "
      << OutputBlock::kRegionBytes / (1024 * 1024)
      << " MiB output blocks + the encoder's coefficient buffer (+ the decoder's, for a "
         "progressive photo) + "
      << kMemorySlack / (1024 * 1024)
      << " MiB. The encoder's coefficient buffer holds the whole image for the optimized "
         "tables: per component, ceil(w/8) x ceil(h/8) blocks of its own size, padded to whole "
         "16x8 MCUs, of 128 bytes each, about 4 bytes per pixel at 4:2:2. A progressive "
         "photo's decoder keeps all of its coefficients, at the photo's own size, until the "
         "last scan is read.\n\n";
}

// "6 (carried)", "RGB , 3 144 bytes (carried)": what a photo holds of what
// the copies keep.
std::string Orientation(const PhotoInfo& info) {
  if (info.orientation == 0)
    return "-";
  const bool carried = info.orientation >= 2 && info.orientation <= 8;
  return std::to_string(info.orientation) + (carried ? " (carried)" : " (not carried)");
}

std::string IccProfile(const PhotoInfo& info) {
  if (info.iccBytes == 0)
    return "-";
  return info.iccSpace + ", " + Thousands(info.iccBytes) + " bytes" +
         (info.iccSpace == "RGB" ? " (carried)" : " (not carried)");
}

void WritePhotos(std::ostream& out, const ReportInputs& in) {
  out << "## Photos\n\n"
      << "| Photo | Kind | Source | Size | MP | Bytes | Coding | Sampling | Exif orientation | "
         "ICC profile |\n"
      << "|---|---|---|---|---:|---:|---|---|---|---|\n";
  for (const PhotoResults& r : in.photos) {
    const Photo& p = r.photo;
    out << "| " << p.label << " | " << p.kind << " | " << p.source << " | " << p.info.width << "x"
        << p.info.height << " | " << Megapixels(p) << " | " << Thousands(p.bytes) << " | "
        << (p.info.progressive ? "progressive" : "baseline") << " | " << p.info.sampling << " | "
        << Orientation(p.info) << " | " << IccProfile(p.info) << " |\n";
  }
  for (const Photo& p : in.skipped) {
    out << "| " << p.label << " | " << p.kind << " | " << p.source << " | - | - | "
        << Thousands(p.bytes) << " | not measured: the codec cannot read it | - | - | - |\n";
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
      // Two openings are two encodes: the dialogs' waits show them.
      if (runs.empty() || tool == kProgramTwice || tool == kProgramTwiceWarm)
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
        out << " (limit " << MiB(MemoryLimit(p, scale, BytesOf(runs))) << ")";
      out << " | " << Thousands(BytesOf(runs)) << " |\n";
    }
  }
  out << "\n";
}

std::string MedianMs(const std::vector<Measurement>& runs, const PhaseOf& phase) {
  const Stats s = StatsOf(runs, phase);
  return s.ok ? Ms(s.median) : "-";
}

int64_t EncodeOf(const Phases& p) {
  return p.encode;
}

int64_t ReencodeOf(const Phases& p) {
  return p.reencode;
}

// The second "Output Quality" opening's encode over standard tables' on the
// same pixels, warm, in the same process; 0 when not measured.
double SecondOpeningRatio(const PhotoResults& r, size_t scale, Tool tool) {
  const Stats again = StatsOf(r.runs[scale][tool], ReencodeOf);
  const Stats standard =
      StatsOf(r.runs[scale][tool], [](const Phases& p) { return p.standardEncode; });
  return again.ok && standard.ok ? RatioOf(again.median, standard.median) : 0.0;
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
// the header read) and before each "Output Quality" (one encoding each).
void WriteDialogWaits(std::ostream& out, const ReportInputs& in) {
  out << "## The dialogs' waits\n\n"
      << "Median milliseconds before each dialog of the program appears: \"Output Size\" after "
         "the file is read and its header read (over all scales); \"Output Quality\" after one "
         "encoding at the chosen scale, once per quality tried. \"First\" is the program's one "
         "opening, at 90. With two openings the user types 80 there, and \"again\" is the "
         "second opening, at 80, the first opening's memory fresh from the kernel or "
         "(\"warm\") touched in the conversion before. \"Standard, warm\" is libjpeg's "
         "standard tables on the same pixels at 80, in the same process, into memory an encode "
         "of them touched just before: what an encode costs without the optimization's second "
         "pass and without fresh memory, the fair measure for a second opening, which finds "
         "the first one's large blocks warm. \"Again ÷ standard\" divides the two, first "
         "opening fresh / warm.\n\n"
      << "| Photo | Scale | Output Size | Output Quality, first | again | first, warm | again, "
         "warm | standard, warm | again ÷ standard |\n"
      << "|---|---|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    std::vector<Measurement> all;
    for (const auto& scale : r.runs)
      all.insert(all.end(), scale[kProgram].begin(), scale[kProgram].end());
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& twice = r.runs[s][kProgramTwice];
      const auto& warm = r.runs[s][kProgramTwiceWarm];
      const double fresh = SecondOpeningRatio(r, s, kProgramTwice);
      const double warmed = SecondOpeningRatio(r, s, kProgramTwiceWarm);
      out << "| " << (s == 0 ? r.photo.label : "") << " | 1/" << kDenominators[s] << " | "
          << (s == 0 ? MedianMs(all, [](const Phases& p) { return p.read + p.params; }) : "")
          << " | " << MedianMs(r.runs[s][kProgram], EncodeOf) << " | "
          << MedianMs(twice, ReencodeOf) << " | " << MedianMs(warm, EncodeOf) << " | "
          << MedianMs(warm, ReencodeOf) << " | "
          << MedianMs(twice, [](const Phases& p) { return p.standardEncode; }) << " | "
          << (fresh > 0 ? Ratio(fresh) : "-") << " / " << (warmed > 0 ? Ratio(warmed) : "-")
          << " |\n";
    }
  }
  out << "\n";
}

const PhotoResults* Largest(const ReportInputs& in) {
  const PhotoResults* largest = nullptr;
  for (const PhotoResults& r : in.photos) {
    if (!largest || Pixels(r.photo) > Pixels(largest->photo))
      largest = &r;
  }
  return largest;
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
  }
  check.large = Largest(in);
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
      << "| Photo | Scale | program | reference | program ÷ reference | reference, standard "
         "tables | reference ÷ standard tables |\n"
      << "|---|---|---:|---:|---:|---:|---:|\n";
  for (const InstructionCount& c : in.instructions) {
    out << "| " << c.photo->photo.label << " | 1/" << kDenominators[c.scale] << " | "
        << Thousands(c.program) << " | " << Thousands(c.reference) << " | "
        << InstructionRatio(c.program, c.reference) << " | " << Thousands(c.referenceStandard)
        << " | " << InstructionRatio(c.reference, c.referenceStandard) << " |\n";
  }
  out << "\n";
}

// Optimized tables against standard ones at one scale, over the photos of
// 1 MP and more: geometric means of the median times' ratios, means of the
// rest.
struct TablesCost {
  double encodeFresh = 0;
  double encodeWarm = 0;
  double totalFresh = 0;
  double totalWarm = 0;
  double saved = 0;      // fraction of the standard tables' bytes
  double peakAdded = 0;  // bytes, fresh memory
};

TablesCost CostOfTables(const ReportInputs& in, size_t scale) {
  std::vector<double> encodeFresh, encodeWarm, totalFresh, totalWarm;
  double saved = 0, peakAdded = 0;
  int photos = 0;
  for (const PhotoResults& r : in.photos) {
    if (r.photo.small)
      continue;
    const auto& runs = r.runs[scale];
    auto ratio = [&](Tool a, Tool b, const PhaseOf& phase, std::vector<double>& into) {
      const Stats x = StatsOf(runs[a], phase);
      const Stats y = StatsOf(runs[b], phase);
      if (x.ok && y.ok)
        into.push_back(RatioOf(x.median, y.median));
    };
    ratio(kReference, kReferenceStandard, EncodeOf, encodeFresh);
    ratio(kReferenceWarm, kReferenceStandardWarm, EncodeOf, encodeWarm);
    ratio(kReference, kReferenceStandard, TotalOf, totalFresh);
    ratio(kReferenceWarm, kReferenceStandardWarm, TotalOf, totalWarm);
    const uint64_t standard = BytesOf(runs[kReferenceStandard]);
    const uint64_t optimized = BytesOf(runs[kReference]);
    if (standard == 0 || optimized == 0)
      continue;
    ++photos;
    saved += 1.0 - static_cast<double>(optimized) / static_cast<double>(standard);
    peakAdded += static_cast<double>(PeakOf(runs[kReference])) -
                 static_cast<double>(PeakOf(runs[kReferenceStandard]));
  }
  return {GeoMean(encodeFresh), GeoMean(encodeWarm),           GeoMean(totalFresh),
          GeoMean(totalWarm),   photos ? saved / photos : 0.0, photos ? peakAdded / photos : 0.0};
}

void WriteTables(std::ostream& out, const ReportInputs& in) {
  out << "## Huffman tables made for each photo\n\n"
      << "The program's encoder makes Huffman tables for each image (`optimize_coding`): a "
         "first pass gathers the statistics over the whole image's coefficients, which libjpeg "
         "holds for it, a second writes the file with them. The reference with optimized tables "
         "against the same with standard ones, as time factors (geometric means over the "
         "photos of 1 MP and more), in fresh memory and in memory touched before; the "
         "instructions of a whole conversion (callgrind); the peak memory added and the bytes "
         "saved (means):\n\n"
      << "| Scale | encode, fresh | encode, warm | conversion, fresh | conversion, warm | "
         "instructions | peak memory added | bytes saved |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|\n";
  for (size_t s = 0; s < kDenominators.size(); ++s) {
    const TablesCost c = CostOfTables(in, s);
    std::string instructions;
    for (const InstructionCount& i : in.instructions) {
      if (i.scale == s && i.reference && i.referenceStandard) {
        instructions += (instructions.empty() ? "" : ", ") +
                        InstructionRatio(i.reference, i.referenceStandard) + "× (" +
                        i.photo->photo.label + ")";
      }
    }
    out << "| " << kScaleNames[s] << " | " << Ratio(c.encodeFresh) << "× | " << Ratio(c.encodeWarm)
        << "× | " << Ratio(c.totalFresh) << "× | " << Ratio(c.totalWarm) << "× | "
        << (instructions.empty() ? "-" : instructions) << " | " << Fixed(c.peakAdded / kMiB, 1)
        << " MiB | " << Percent(c.saved) << " |\n";
  }
  out << "\nOutput bytes at quality 90: the references' with either tables, the program's "
         "copy and the peers' files (with the metadata they keep).\n\n"
      << "| Photo | Scale | standard tables | optimized tables | saved | program | convert | "
         "vipsthumbnail |\n"
      << "|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const PhotoResults& r : in.photos) {
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& runs = r.runs[s];
      const uint64_t standard = BytesOf(runs[kReferenceStandard]);
      const uint64_t optimized = BytesOf(runs[kReference]);
      out << "| " << (s == 0 ? r.photo.label : "") << " | 1/" << kDenominators[s] << " | "
          << BytesText(standard) << " | " << BytesText(optimized) << " | "
          << (standard
                  ? Percent(1.0 - static_cast<double>(optimized) / static_cast<double>(standard))
                  : "-")
          << " | " << BytesText(BytesOf(runs[kProgram])) << " | "
          << BytesText(BytesOf(runs[kConvert])) << " | " << BytesText(BytesOf(runs[kVips]))
          << " |\n";
    }
  }
  out << "\n";
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
    // At full scale both encode the same pixels: the same settings and
    // metadata give the same bytes.
    int same = 0, total = 0;
    for (const PhotoResults& r : in.photos) {
      if (r.copiesCompared == 0)
        continue;
      ++total;
      if (r.copiesSame == r.copiesCompared) {
        ++same;
        continue;
      }
      notes.push_back(r.photo.label +
                      " at 1/1: " + std::to_string(r.copiesCompared - r.copiesSame) + " of " +
                      std::to_string(r.copiesCompared) +
                      " copies differ from the reference's file; the program's has " +
                      Thousands(BytesOf(r.runs[0][kProgram])) + " bytes, the reference's " +
                      Thousands(BytesOf(r.runs[0][kReference])) + ", with standard tables " +
                      Thousands(BytesOf(r.runs[0][kReferenceStandard])) + ".");
    }
    rows.push_back(
        {"the program's copy is byte for byte the reference's at full scale (optimized "
         "tables, orientation, RGB profile)",
         std::to_string(same) + " of " + std::to_string(total) + " photos",
         total > 0 && same == total});
  }
  {
    const PhotoResults* largest = Largest(in);
    const double fresh = largest ? SecondOpeningRatio(*largest, 0, kProgramTwice) : 0.0;
    const double warm = largest ? SecondOpeningRatio(*largest, 0, kProgramTwiceWarm) : 0.0;
    rows.push_back(
        {"a second \"Output Quality\" opening ≤ 2.5 × the standard-table encode (same pixels "
         "and process, warm), full scale, largest photo, first opening fresh or warm",
         largest ? largest->photo.label + " (" + Megapixels(largest->photo) + " MP): " +
                       Ratio(fresh) + " (first opening fresh), " + Ratio(warm) + " (warm)"
                 : "-",
         fresh > 0 && warm > 0 && fresh <= 2.5 && warm <= 2.5});
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
        const uint64_t limit = MemoryLimit(r.photo, s, BytesOf(runs));
        const double share = static_cast<double>(peak) / static_cast<double>(limit);
        if (peak <= limit) {
          ++within;
        } else {
          notes.push_back(At(r, s) + ": peak memory " + MiB(peak) + " MiB over the limit of " +
                          MiB(limit) + " MiB; the reference peaks at " +
                          MiB(PeakOf(r.runs[s][kReference])) + " MiB.");
        }
        if (share > worstShare) {
          worstShare = share;
          worstAt = At(r, s) + ": " + MiB(peak) + " of " + MiB(limit) + " MiB";
        }
      }
    }
    rows.push_back(
        {"peak memory ≤ input + pixel block + copy in whole output blocks + coefficient "
         "buffers (the encoder's; the decoder's too for a progressive photo) + 8 MiB",
         std::to_string(within) + " of " + std::to_string(total) +
             " conversions within; highest share " + Percent(worstShare) + " (" + worstAt + ")",
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
      << "All measured by `scripts/bench`, which writes this file. Time targets are judged per "
         "scale on the geometric mean of the median-time ratios "
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
  double minInstructions = 0, maxInstructions = 0;
  for (const InstructionCount& c : in.instructions) {
    if (c.program && c.reference) {
      const double r = static_cast<double>(c.program) / static_cast<double>(c.reference);
      minInstructions = minInstructions == 0 ? r : std::min(minInstructions, r);
      maxInstructions = std::max(maxInstructions, r);
    }
  }
  double maxFaults = 0;
  std::string mostFaults;
  double freshShare = 0;  // of the reference's time, what warm memory saves it
  uint64_t streamingPeak = 0;
  for (const PhotoResults& r : in.photos) {
    for (size_t s = 0; s < kDenominators.size(); ++s) {
      const auto& program = r.runs[s][kProgram];
      const auto& reference = r.runs[s][kReference];
      streamingPeak = std::max(streamingPeak, PeakOf(r.runs[s][kDjpegCjpeg]));
      if (r.photo.small || !StatsOf(program).ok || !StatsOf(reference).ok)
        continue;
      const double faults = static_cast<double>(program.back().phases.pageFaults) /
                            static_cast<double>(reference.back().phases.pageFaults);
      if (faults > maxFaults) {
        maxFaults = faults;
        mostFaults = At(r, s);
      }
      const Stats warm = StatsOf(r.runs[s][kReferenceWarm]);
      if (warm.ok) {
        freshShare = std::max(freshShare, 1.0 - RatioOf(warm.median, StatsOf(reference).median));
      }
    }
  }
  out << "## Findings\n\n- ";
  if (maxInstructions > 0) {
    out << "The program executes " << Fixed(minInstructions, 4) << "× to "
        << Fixed(maxInstructions, 4) << "× the reference's instructions (callgrind, below). ";
  }
  out << "It causes at most " << Fixed(maxFaults, 4)
      << "× the reference's page faults on the photos of 1 MP and more (" << mostFaults << "). ";
  if (maxInstructions > 0 && minInstructions >= 0.99 && maxInstructions <= 1.01) {
    out << "It does what the reference does; its extra work is the header read behind the "
           "\"Output Size\" dialog (microseconds) and, at odd half and quarter sizes, the copy "
           "of each row out of the decoder's rounded-up row (a few tenths of a percent of the "
           "instructions).\n";
  } else {
    out << "Its work is not the reference's: see the instructions and the copies' bytes "
           "under Targets.\n";
  }
  const PhotoResults* largest = Largest(in);
  out << "- On this machine the first touch of a fresh page costs "
      << Fixed(static_cast<double>(in.firstTouchNs) / 1e3, 1)
      << " µs (on a bare machine a page fault takes well under one). The reference converting "
         "into memory it has touched before (\"reference, warm memory\") saves up to "
      << Percent(freshShare)
      << " of its time on a photo. The program and the reference must touch the input, the "
         "decoded image, the encoder's coefficient buffer ("
      << (largest ? MiB(EncoderCoefficientBytes(largest->photo, 0)) + " MiB for " +
                        largest->photo.label + " at full scale"
                  : "-")
      << ") and the output once each. djpeg|cjpeg streams rows through a pipe between two "
         "processes, one on each core, and never holds the image (it peaks at "
      << MiB(streamingPeak)
      << " MiB for both); vipsthumbnail streams too, on both cores. That, not the codec work, "
         "is where they gain.\n";
  const TablesCost full = CostOfTables(in, 0);
  const TablesCost quarter = CostOfTables(in, 2);
  out << "- Optimized Huffman tables make the copies " << Percent(full.saved) << " (full) to "
      << Percent(quarter.saved)
      << " (quarter) smaller than standard ones, on the photos of 1 MP and more. At full scale "
         "the reference's encode takes "
      << Ratio(full.encodeFresh) << "× as long with them in fresh memory and "
      << Ratio(full.encodeWarm) << "× in warm memory, the whole conversion "
      << Ratio(full.totalFresh) << "× and " << Ratio(full.totalWarm)
      << "× (quarter scale: " << Ratio(quarter.encodeFresh) << "×, " << Ratio(quarter.encodeWarm)
      << "×, " << Ratio(quarter.totalFresh) << "×, " << Ratio(quarter.totalWarm) << "×).\n";
  if (largest) {
    const auto& twice = largest->runs[0][kProgramTwice];
    const auto& warm = largest->runs[0][kProgramTwiceWarm];
    out << "- A second \"Output Quality\" opening for " << largest->photo.label
        << " at full scale waits " << MedianMs(twice, ReencodeOf) << " ms after a first of "
        << MedianMs(twice, EncodeOf) << " ms in fresh memory, "
        << Ratio(SecondOpeningRatio(*largest, 0, kProgramTwice))
        << "× the standard-table encode of the same pixels, warm; after a first opening in warm "
           "memory ("
        << MedianMs(warm, EncodeOf) << " ms) it waits " << MedianMs(warm, ReencodeOf) << " ms, "
        << Ratio(SecondOpeningRatio(*largest, 0, kProgramTwiceWarm)) << "×.\n";
  }
  out << "- Photos under 1 MP convert in under a millisecond; there the program's fixed costs "
         "show: mapping and unmapping its page blocks per photo (\"other\" in the phase "
         "table), which a minimal loop reusing the C heap does not pay.\n\n";
}

// Per scale, the geometric mean over the photos of at least 1 MP of each
// tool's time relative to the reference.
bool WriteChartData(const ReportInputs& in, const std::string& path) {
  std::ofstream data(path);
  const Tool tools[] = {kProgram,    kReference, kReferenceWarm, kReferenceStandard,
                        kDjpegCjpeg, kConvert,   kVips};
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
  WriteTables(out, in);
  if (!in.win32Memory.empty()) {
    if (in.win32Memory[0] != '#')
      out << "## The 32-bit program's memory under Wine\n\n";
    out << in.win32Memory << (in.win32Memory.back() == '\n' ? "" : "\n");
  }
  return static_cast<bool>(out) && WriteChartData(in, chartDataPath);
}
