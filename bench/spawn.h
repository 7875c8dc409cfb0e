// Fresh processes for every measurement, so that each peak resident set
// belongs to one conversion alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Command = std::vector<std::string>;

struct ProcessRun {
  bool ok = false;       // every process exited with 0
  int64_t wallNs = 0;    // from the first start to the last exit
  uint64_t peakRss = 0;  // bytes: the sum of the processes' ru_maxrss
  std::string output;    // standard output when captured, else empty
};

// Runs the commands side by side, each one's standard output piped into the
// next one's input. The first reads /dev/null; the last writes to
// `stdoutFile`, or into ProcessRun::output when that is empty. Standard
// error goes to /dev/null: the peers' warnings are not results.
ProcessRun RunPipeline(const std::vector<Command>& commands, const std::string& stdoutFile);
