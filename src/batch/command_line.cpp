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

namespace {

// Where the path after the one at `start` begins: the next repetition of the
// split prefix, or the end. The path at start runs at least one character.
size_t FindNextStart(const JobState& job, size_t start) {
  const size_t length = job.commandLineLength;
  if (start + 1 >= length)
    return start + 1;
  for (size_t i = start + 1; i < length; ++i) {
    if (std::memcmp(job.CommandLineBuffer.data() + i, job.SplitPrefix.data(),
                    job.SplitPrefix.size()) == 0) {
      return i;
    }
  }
  return length;
}

}  // namespace

const char* SplitCurrentPath(JobState& job) {
  char* text = job.CommandLineBuffer.data();
  const size_t start = job.currentFile;
  job.nextStart = FindNextStart(job, start);
  if (job.nextStart < job.commandLineLength)
    text[job.nextStart - 1] = '\0';
  return text + start;
}

size_t CountPathsFrom(const JobState& job, size_t start) {
  size_t count = 0;
  for (size_t s = start; s < job.commandLineLength; s = FindNextStart(job, s))
    ++count;
  return count;
}
