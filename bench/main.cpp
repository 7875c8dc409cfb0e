// tbm_bench: times the program's conversion path against a minimal
// libjpeg-turbo loop and the command-line tools people use instead, on the
// same photos and settings, and writes the report. scripts/bench runs it.
//
//   tbm_bench --photos LIST --work DIR --report FILE --chart-data FILE
//             --chart FILE --versions FILE [--runs N] [--peer-runs N]
//             [--small-runs N] [--callgrind LABEL,...] [--win32-memory FILE]
//
// LIST has one photo a line: label, kind (real, test or made), source and
// path, separated by tabs. Each measurement runs in a fresh process: this one
// re-executed as `tbm_bench --child KIND ...` for the in-process tools, the
// tools themselves for the peers. --callgrind names photos whose conversions
// by the program and the reference also get their instructions counted.
// FILE for --win32-memory, when it exists, is a markdown section on the
// 32-bit program's memory under Wine, taken into the report as it is.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "batch/output_naming.h"
#include "measure.h"
#include "results.h"
#include "spawn.h"

namespace {

constexpr uint64_t kSmallPhotoPixels = 1'000'000;

// The in-process tools' names as children, by Tool; the peers have none.
constexpr const char* kChildKinds[kToolCount] = {
    "program",        "program-twice",      "program-twice-warm",     "reference",
    "reference-warm", "reference-standard", "reference-standard-warm"};

std::string SelfPath() {
  std::vector<char> path(4096);
  const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  return n > 0 ? std::string(path.data(), static_cast<size_t>(n)) : std::string("tbm_bench");
}

// The child's one line: ok, the phases in ns, output bytes, page faults,
// peak bytes.
void PrintPhases(const Phases& p) {
  std::printf("%d %lld %lld %lld %lld %lld %lld %lld %lld %llu %llu %llu\n", p.ok ? 1 : 0,
              static_cast<long long>(p.read), static_cast<long long>(p.params),
              static_cast<long long>(p.decode), static_cast<long long>(p.encode),
              static_cast<long long>(p.reencode), static_cast<long long>(p.standardEncode),
              static_cast<long long>(p.write), static_cast<long long>(p.total),
              static_cast<unsigned long long>(p.outputBytes),
              static_cast<unsigned long long>(p.pageFaults),
              static_cast<unsigned long long>(PeakResidentBytes()));
}

// passes: 2 to time a conversion after a warm-up one, 1 for callgrind.
int RunChild(const std::vector<std::string>& args, int passes) {
  const std::string& kind = args.at(0);
  // Warm: the timed conversion reuses the pages the warm-up touched. Else
  // every large buffer comes fresh from the kernel, as the program's page
  // blocks do, in the timed conversion as in the warm-up.
  if (kind.ends_with("-warm")) {
    ReuseHeapMemory();
  } else {
    UseFreshLargeBuffers();
  }
  if (kind == "probe") {
    // Once, under callgrind, is the header read alone.
    const PhotoInfo info = ProbePhoto(args.at(1), passes > 1 ? 21 : 0);
    std::printf("%d %d %d %d %d %s %lld %u %u %s\n", info.readable ? 1 : 0, info.width, info.height,
                info.progressive ? 1 : 0, info.components,
                info.sampling.empty() ? "-" : info.sampling.c_str(),
                static_cast<long long>(info.headerReadNs), info.orientation, info.iccBytes,
                info.iccSpace.c_str());
    return 0;
  }
  if (kind == "page-touch") {
    std::printf("%lld\n", static_cast<long long>(FirstTouchNsPerPage(64 << 20)));
    return 0;
  }
  const std::string& photo = args.at(1);
  const int denominator = std::stoi(args.at(2));
  Phases phases;
  // The warm-up conversion brings code, the heap and the photo into memory,
  // as in a program that has converted a photo before.
  // The standard-table encode beside the second opening is timed once, in
  // the timed conversion: it leaves the heap warm.
  for (int pass = 0; pass < passes; ++pass) {
    if (kind.starts_with("program")) {
      const bool twice = kind.starts_with("program-twice");
      phases = RunProgram(photo, denominator, twice, twice && pass == passes - 1);
    } else {
      phases =
          RunReference(photo, args.at(3), denominator, kind.find("standard") == std::string::npos);
    }
    if (!phases.ok)
      break;
  }
  PrintPhases(phases);
  return phases.ok ? 0 : 1;
}

std::vector<Photo> ReadPhotoList(const std::string& path) {
  std::vector<Photo> photos;
  std::ifstream list(path);
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    Photo photo;
    if (std::getline(fields, photo.label, '\t') && std::getline(fields, photo.kind, '\t') &&
        std::getline(fields, photo.source, '\t') && std::getline(fields, photo.path)) {
      photos.push_back(photo);
    }
  }
  return photos;
}

uint64_t FileBytes(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Probe(const std::string& self, Photo& photo) {
  const ProcessRun run = RunPipeline({{self, "--child", "probe", photo.path}}, "");
  std::istringstream out(run.output);
  int readable = 0, progressive = 0;
  out >> readable >> photo.info.width >> photo.info.height >> progressive >>
      photo.info.components >> photo.info.sampling >> photo.info.headerReadNs >>
      photo.info.orientation >> photo.info.iccBytes >> photo.info.iccSpace;
  photo.info.readable = run.ok && readable == 1;
  photo.info.progressive = progressive == 1;
  photo.bytes = FileBytes(photo.path);
  return photo.info.readable;
}

Measurement FromChild(const ProcessRun& run) {
  Measurement m;
  std::istringstream out(run.output);
  int ok = 0;
  Phases& p = m.phases;
  out >> ok >> p.read >> p.params >> p.decode >> p.encode >> p.reencode >> p.standardEncode >>
      p.write >> p.total >> p.outputBytes >> p.pageFaults >> m.peakRss;
  m.ok = run.ok && ok == 1 && !out.fail();
  m.outputBytes = p.outputBytes;
  return m;
}

Measurement FromPeer(const ProcessRun& run, const std::string& output) {
  Measurement m;
  m.ok = run.ok;
  m.phases.total = run.wallNs;
  m.peakRss = run.peakRss;
  m.outputBytes = FileBytes(output);
  m.ok = m.ok && m.outputBytes > 0;
  return m;
}

class Bench {
 public:
  Bench(std::string self, std::string work) : self_(std::move(self)), work_(std::move(work)) {}

  Measurement Measure(Tool tool, const Photo& photo, int denominator) {
    const std::string d = std::to_string(denominator);
    const std::string out = OutputPath(tool, photo, denominator);
    std::remove(out.c_str());
    switch (tool) {
      case kProgram:
      case kProgramTwice:
      case kProgramTwiceWarm:
        return FromChild(RunPipeline({{self_, "--child", kChildKinds[tool], photo.path, d}}, ""));
      case kReference:
      case kReferenceWarm:
      case kReferenceStandard:
      case kReferenceStandardWarm:
        return FromChild(
            RunPipeline({{self_, "--child", kChildKinds[tool], photo.path, d, out}}, ""));
      case kDjpegCjpeg:
        return FromPeer(RunPipeline({{"djpeg", "-scale", "1/" + d, photo.path},
                                     {"cjpeg", "-quality", "90", "-sample", "2x1"}},
                                    out),
                        out);
      case kConvert: {
        Command convert = {"convert", photo.path};
        if (denominator > 1)
          convert.insert(convert.end(), {"-resize", ForcedSize(photo, d)});
        convert.insert(convert.end(), {"-quality", "90", "-sampling-factor", "2x1", out});
        return FromPeer(RunPipeline({convert}, ""), out);
      }
      case kVips:
        return FromPeer(RunPipeline({{"vipsthumbnail", photo.path, "-s", ForcedSize(photo, d), "-o",
                                      out + "[Q=90,subsample-mode=on]"}},
                                    ""),
                        out);
      case kToolCount:
        break;
    }
    return {};
  }

  // Instructions of one conversion by the program or the reference, counted
  // by callgrind inside the conversion functions only; 0 on failure.
  uint64_t Instructions(Tool tool, const Photo& photo, int denominator) {
    const std::string d = std::to_string(denominator);
    Command child = {self_, "--child-once", kChildKinds[tool], photo.path, d};
    if (tool != kProgram)
      child.push_back(OutputPath(tool, photo, denominator));
    return Callgrind({"RunProgram*", "RunReference*"}, child);
  }

  // Instructions of the program's header read alone.
  uint64_t HeaderReadInstructions(const Photo& photo) {
    return Callgrind({"ReadImageSize*"}, {self_, "--child-once", "probe", photo.path});
  }

  // The program's copy just written against the reference's file at full
  // scale, once the reference has written one.
  void CompareCopy(PhotoResults& r) const {
    const std::string reference = ReadText(OutputPath(kReference, r.photo, 1));
    if (reference.empty())
      return;
    ++r.copiesCompared;
    if (ReadText(OutputPath(kProgram, r.photo, 1)) == reference)
      ++r.copiesSame;
  }

  int64_t FirstTouchNs() {
    const ProcessRun run = RunPipeline({{self_, "--child", "page-touch"}}, "");
    return run.ok ? std::stoll(run.output) : 0;
  }

 private:
  uint64_t Callgrind(const std::vector<std::string>& functions, const Command& child) {
    const std::string log = work_ + "/callgrind.log";
    Command command = {"valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                       "--log-file=" + log};
    for (const std::string& f : functions)
      command.push_back("--toggle-collect=" + f);
    command.insert(command.end(), child.begin(), child.end());
    if (!RunPipeline({command}, "").ok)
      return 0;
    const std::string text = ReadText(log);
    const size_t at = text.find("Collected : ");
    if (at == std::string::npos)
      return 0;
    std::string digits;
    for (size_t i = at + 12; i < text.size() && (std::isdigit(text[i]) || text[i] == ','); ++i) {
      if (text[i] != ',')
        digits += text[i];
    }
    return digits.empty() ? 0 : std::stoull(digits);
  }

  static std::string ForcedSize(const Photo& photo, const std::string& d) {
    const int denominator = std::stoi(d);
    return std::to_string(photo.info.width / denominator) + "x" +
           std::to_string(photo.info.height / denominator) + "!";
  }

  // The program writes its X-named copy beside the photo; the others write
  // into the work folder.
  std::string OutputPath(Tool tool, const Photo& photo, int denominator) const {
    if (tool <= kProgramTwiceWarm) {
      JobState job;
      BuildOutputPath(job, photo.path);
      return job.OutputPath.data();
    }
    std::string name = ToolName(tool);
    for (char& c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)))
        c = '-';
    }
    return work_ + "/" + name + "-" + photo.label + "-1_" + std::to_string(denominator) + ".jpg";
  }

  std::string self_;
  std::string work_;
};

// How many runs a tool gets on a photo: those the time targets compare the
// most; the in-process tools more on small photos, whose times are short and
// noisy.
int RunsFor(Tool tool, const Photo& photo, const ReportInputs& in) {
  if (tool > kReference && tool != kDjpegCjpeg)
    return photo.small && tool < kDjpegCjpeg ? in.smallRuns : in.peerRuns;
  return photo.small && tool != kDjpegCjpeg ? in.smallRuns : in.runs;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) {
    if (!part.empty())
      parts.push_back(part);
  }
  return parts;
}

}  // namespace

const char* ToolName(Tool tool) {
  static constexpr const char* kNames[kToolCount] = {"program",
                                                     "program, two openings",
                                                     "program, two openings, warm memory",
                                                     "reference",
                                                     "reference, warm memory",
                                                     "reference, standard tables",
                                                     "reference, standard tables, warm memory",
                                                     "djpeg|cjpeg",
                                                     "convert",
                                                     "vipsthumbnail"};
  return tool >= 0 && tool < kToolCount ? kNames[tool] : "?";
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--child" || args[0] == "--child-once")) {
    return RunChild(std::vector<std::string>(args.begin() + 1, args.end()),
                    args[0] == "--child" ? 2 : 1);
  }
  std::map<std::string, std::string> opts = {{"--runs", "5"},
                                             {"--peer-runs", "3"},
                                             {"--small-runs", "9"},
                                             {"--callgrind", ""},
                                             {"--win32-memory", ""}};
  for (size_t i = 0; i + 1 < args.size(); i += 2)
    opts[args[i]] = args[i + 1];
  for (const char* required :
       {"--photos", "--work", "--report", "--chart-data", "--chart", "--versions"}) {
    if (opts.count(required) == 0) {
      std::cerr << "tbm_bench: " << required << " is missing\n";
      return 2;
    }
  }

  const int64_t start = NowNs();
  const std::string self = SelfPath();
  Bench bench(self, opts["--work"]);
  ReportInputs report;
  report.runs = std::stoi(opts["--runs"]);
  report.peerRuns = std::stoi(opts["--peer-runs"]);
  report.smallRuns = std::stoi(opts["--small-runs"]);
  report.versions = ReadText(opts["--versions"]);
  report.win32Memory = ReadText(opts["--win32-memory"]);
  report.firstTouchNs = bench.FirstTouchNs();
  for (Photo& photo : ReadPhotoList(opts["--photos"])) {
    if (!Probe(self, photo)) {
      std::cerr << "tbm_bench: " << photo.label << ": the program cannot read it, skipped\n";
      report.skipped.push_back(photo);
      continue;
    }
    photo.small = static_cast<uint64_t>(photo.info.width) * photo.info.height < kSmallPhotoPixels;
    report.photos.push_back(PhotoResults{photo, {}});
  }

  int maxRuns = 0;
  for (const PhotoResults& r : report.photos) {
    for (int t = 0; t < kToolCount; ++t) {
      maxRuns = std::max(maxRuns, RunsFor(static_cast<Tool>(t), r.photo, report));
    }
  }
  // Run after run over everything, each run starting the tools at another
  // place in their order, so that the machine's slow moments and what one
  // tool leaves behind fall on every tool alike.
  for (int run = 0; run < maxRuns; ++run) {
    std::cerr << "tbm_bench: run " << run + 1 << " of " << maxRuns << "\n";
    for (PhotoResults& r : report.photos) {
      for (size_t s = 0; s < kDenominators.size(); ++s) {
        for (int i = 0; i < kToolCount; ++i) {
          const Tool tool = static_cast<Tool>((i + run) % kToolCount);
          if (run >= RunsFor(tool, r.photo, report))
            continue;
          const Measurement m = bench.Measure(tool, r.photo, kDenominators[s]);
          if (!m.ok) {
            std::cerr << "tbm_bench: " << ToolName(tool) << " failed on " << r.photo.label
                      << " at 1/" << kDenominators[s] << "\n";
          }
          r.runs[s][tool].push_back(m);
          if (m.ok && tool == kProgram && kDenominators[s] == 1)
            bench.CompareCopy(r);
        }
      }
    }
  }

  std::cerr << "tbm_bench: callgrind on the header reads\n";
  for (PhotoResults& r : report.photos) {
    r.headerReadInstructions = bench.HeaderReadInstructions(r.photo);
  }
  for (const std::string& label : Split(opts["--callgrind"], ',')) {
    for (const PhotoResults& r : report.photos) {
      if (r.photo.label != label)
        continue;
      std::cerr << "tbm_bench: callgrind on " << label << "\n";
      for (size_t s = 0; s < kDenominators.size(); ++s) {
        const int d = kDenominators[s];
        report.instructions.push_back({&r, s, bench.Instructions(kProgram, r.photo, d),
                                       bench.Instructions(kReference, r.photo, d),
                                       bench.Instructions(kReferenceStandard, r.photo, d)});
      }
    }
  }

  report.orchestratorPeak = PeakResidentBytes();
  report.elapsedNs = NowNs() - start;
  if (!WriteReport(report, opts["--report"], opts["--chart-data"], opts["--chart"])) {
    std::cerr << "tbm_bench: cannot write " << opts["--report"] << "\n";
    return 1;
  }
  return 0;
}
