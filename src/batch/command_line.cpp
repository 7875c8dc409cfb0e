#include "batch/command_line.h"

#include <cstring>

void CaptureArguments(BatchInput& input, std::string_view argumentText) {
  input.CommandLineBuffer.clear();
  for (char c : argumentText) {
    if (c != '"')
      input.CommandLineBuffer.push_back(c);
  }
  input.commandLineLength = input.CommandLineBuffer.size();
  // The terminator and two more zero bytes: the split looks three ahead.
  input.CommandLineBuffer.insert(input.CommandLineBuffer.end(), 3, '\0');
}

namespace {

// Where the path after the one at `start` begins: the next repetition of the
// split prefix, or the end. The path at start runs at least one character.
size_t FindNextStart(const BatchInput& input, size_t start) {
  const size_t length = input.commandLineLength;
  if (start + 1 >= length)
    return start + 1;
  for (size_t i = start + 1; i < length; ++i) {
    if (std::memcmp(input.CommandLineBuffer.data() + i, input.SplitPrefix.data(),
                    input.SplitPrefix.size()) == 0) {
      return i;
    }
  }
  return length;
}

}  // namespace

const char* SplitCurrentPath(BatchInput& input) {
  char* text = input.CommandLineBuffer.data();
  const size_t start = input.currentFile;
  input.nextStart = FindNextStart(input, start);
  if (input.nextStart < input.commandLineLength)
    text[input.nextStart - 1] = '\0';
  return text + start;
}

size_t CountPathsFrom(const BatchInput& input, size_t start) {
  size_t count = 0;
  for (size_t s = start; s < input.commandLineLength; s = FindNextStart(input, s))
    ++count;
  return count;
}
