#include "batch/selection.h"

#include <cstring>

bool ParseSelection(BatchInput& input) {
  const auto& result = input.SelectionBuffer;
  input.nameOffsets.clear();
  input.directoryLength = 0;
  input.inputPath.fill('\0');
  input.fileCount = 0;
  size_t count = 0;
  for (size_t p = 0; p + 1 < result.size(); ++p) {
    if (result[p] == '\0' && result[p + 1] == '\0') {
      input.fileCount = count == 0 ? 1 : static_cast<int32_t>(count);
      return true;
    }
    if (count == 0 && p < input.inputPath.size() - 1)
      input.inputPath[p] = result[p];
    if (result[p] == '\0') {
      if (count == 0)
        input.directoryLength = p;
      input.nameOffsets.push_back(p + 1);
      ++count;
    }
  }
  // Cut: the last name may be a fragment of a longer one.
  input.nameOffsets.clear();
  input.directoryLength = 0;
  input.inputPath.fill('\0');
  return false;
}

bool BuildSelectedPath(BatchInput& input, size_t index) {
  if (input.nameOffsets.empty()) {
    // A single full path, told by having no names since a folder may be
    // empty: already in inputPath, unless it was too long.
    if (strnlen(input.SelectionBuffer.data(), input.inputPath.size()) < input.inputPath.size()) {
      return true;
    }
    input.inputPath.fill('\0');
    return false;
  }
  const size_t offset = input.nameOffsets.at(index);
  const char* name = input.SelectionBuffer.data() + offset;
  const size_t room = input.SelectionBuffer.size() - offset;
  const size_t nameLength = strnlen(name, room);
  if (nameLength == room || input.directoryLength + 1 + nameLength >= input.inputPath.size()) {
    input.inputPath.fill('\0');
    return false;
  }
  // The folder comes from the result itself: a failed build before this one
  // may have cleared inputPath.
  std::memcpy(input.inputPath.data(), input.SelectionBuffer.data(), input.directoryLength);
  input.inputPath[input.directoryLength] = '\\';
  std::memcpy(input.inputPath.data() + input.directoryLength + 1, name, nameLength + 1);
  return true;
}
