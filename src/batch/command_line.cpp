#include "batch/command_line.h"

#include <cstring>

void CaptureArguments(JobState& job, std::string_view argumentText) {
  job.CommandLineBuffer.clear();
  for (char c : argumentText) {
    if (c != '"')
      job.CommandLineBuffer.push_back(c);
  }
  job.commandLineLength = job.CommandLineBuffer.size();
  // The terminator and two more zero bytes: the split looks three ahead.
  job.CommandLineBuffer.insert(job.CommandLineBuffer.end(), 3, '\0');
}

const char* SplitCurrentPath(JobState& job) {
  char* text = job.CommandLineBuffer.data();
  const size_t start = job.currentFile;
  const size_t length = job.commandLineLength;
  job.nextStart = start + 1;
  if (start + 1 < length) {
    job.nextStart = length;
    for (size_t i = start + 1; i < length; ++i) {
      if (std::memcmp(text + i, job.SplitPrefix.data(), job.SplitPrefix.size()) == 0) {
        text[i - 1] = '\0';
        job.nextStart = i;
        break;
      }
    }
  }
  return text + start;
}
