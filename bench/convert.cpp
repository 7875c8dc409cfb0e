// tbm_convert: the fresh processes hyperfine times (bench/run.py runs them).
//
//   tbm_convert convert TOOL PHOTO DENOMINATOR LOG [OUTPUT]
//     One conversion, the only one of this process: TOOL is program (which
//     writes its X-named copy beside the photo), reference or
//     reference-standard (which write OUTPUT). Appends its phase times, page
//     faults and peak memory to LOG as a line of JSON.
//   tbm_convert probe PHOTO
//     What ProbePhoto says of the photo.
#include <sys/resource.h>

#include <cstdio>
#include <fstream>

#include "conversion.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "probe" && argc == 3) {
    const std::string facts = ProbePhoto(argv[2]);
    std::puts(facts.c_str());
    return facts.empty() ? 1 : 0;
  }
  if (command != "convert" || argc < 6) {
    std::fputs("usage: tbm_convert convert TOOL PHOTO DENOMINATOR LOG [OUTPUT] | probe PHOTO\n",
               stderr);
    return 2;
  }
  const std::string tool = argv[2];
  const int d = std::stoi(argv[4]);
  UseHeap(false);
  const Phases p = tool == "program"
                       ? RunProgram(argv[3], {d == 2   ? SIZE_HALF
                                              : d == 4 ? SIZE_QUARTER
                                                       : SIZE_FULL,
                                              {},
                                              {}})
                       : RunReference(argv[3], argc > 6 ? argv[6] : "", d, tool == "reference");
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::ofstream(argv[5], std::ios::app)
      << "{\"tool\": \"" << tool << "\", \"ok\": " << (p.ok ? "true" : "false")
      << ", \"read\": " << p.read << ", \"params\": " << p.params << ", \"decode\": " << p.decode
      << ", \"encode\": " << p.encode << ", \"write\": " << p.write << ", \"total\": " << p.total
      << ", \"bytes\": " << p.outputBytes << ", \"faults\": " << p.pageFaults
      << ", \"peak\": " << usage.ru_maxrss * 1024 << "}\n";
  return p.ok ? 0 : 1;
}
