// tbm_convert: the fresh processes of the benchmark; bench/run.py runs them.
// It links nothing but the conversions, so that it starts and ends quickly.
//
//   tbm_convert convert TOOL PHOTO DENOMINATOR LOG [OUTPUT]
//     One conversion, the only one of this process, which hyperfine times
//     from start to exit. TOOL is program (which writes its X-named copy
//     beside the photo), reference or reference-standard (which write
//     OUTPUT). The process appends its own phase times, page faults and peak
//     memory to LOG as one line of JSON.
//   tbm_convert probe PHOTO
//     The photo as the program and libjpeg read it, as JSON.
#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "conversion.h"

namespace {

int Convert(const std::string& tool, const std::string& photo, int denominator,
            const std::string& log, const std::string& output) {
  UseHeap(false);
  const SizeChoice choice = denominator == 2   ? SIZE_HALF
                            : denominator == 4 ? SIZE_QUARTER
                                               : SIZE_FULL;
  const Phases p = tool == "program"
                       ? RunProgram(photo, {choice, {}, {}})
                       : RunReference(photo, output, denominator, tool == "reference");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::ofstream(log, std::ios::app)
      << "{\"tool\": \"" << tool << "\", \"photo\": \"" << photo << "\", \"d\": " << denominator
      << ", \"ok\": " << (p.ok ? "true" : "false") << ", \"read\": " << p.read
      << ", \"params\": " << p.params << ", \"decode\": " << p.decode
      << ", \"encode\": " << p.encode << ", \"write\": " << p.write << ", \"total\": " << p.total
      << ", \"bytes\": " << p.outputBytes << ", \"faults\": " << p.pageFaults
      << ", \"peak\": " << usage.ru_maxrss * 1024 << "}\n";
  return p.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "convert" && argc >= 6)
    return Convert(argv[2], argv[3], std::stoi(argv[4]), argv[5], argc > 6 ? argv[6] : "");
  if (command == "probe" && argc == 3) {
    const std::string json = ProbePhoto(argv[2]);
    std::puts(json.c_str());
    return json.empty() ? 1 : 0;
  }
  std::fputs("usage: tbm_convert convert TOOL PHOTO DENOMINATOR LOG [OUTPUT] | probe PHOTO\n",
             stderr);
  return 2;
}
