#include "batch/selection.h"

#include <cstring>

bool ParseSelection(JobState& job) {
  const auto& result = job.SelectionBuffer;
  job.nameOffsets.clear();
  job.directoryLength = 0;
  job.inputPath.fill('\0');
  job.fileCount = 0;
  size_t count = 0;
  for (size_t p = 0; p + 1 < result.size(); ++p) {
    if (result[p] == '\0' && result[p + 1] == '\0') {
      job.fileCount = count == 0 ? 1 : static_cast<int32_t>(count);
      return true;
    }
    if (count == 0 && p < job.inputPath.size() - 1)
      job.inputPath[p] = result[p];
    if (result[p] == '\0') {
      if (count == 0)
        job.directoryLength = p;
      job.nameOffsets.push_back(p + 1);
      ++count;
    }
  }
  // Cut: the last name may be a fragment of a longer one.
  job.nameOffsets.clear();
  job.directoryLength = 0;
  job.inputPath.fill('\0');
  return false;
}

bool BuildSelectedPath(JobState& job, size_t index) {
  if (job.nameOffsets.empty()) {
    // A single full path, told by having no names since a folder may be
    // empty: already in inputPath, unless it was too long.
    if (strnlen(job.SelectionBuffer.data(), job.inputPath.size()) < job.inputPath.size()) {
      return true;
    }
    job.inputPath.fill('\0');
    return false;
  }
  const size_t offset = job.nameOffsets.at(index);
  const char* name = job.SelectionBuffer.data() + offset;
  const size_t room = job.SelectionBuffer.size() - offset;
  const size_t nameLength = strnlen(name, room);
  if (nameLength == room || job.directoryLength + 1 + nameLength >= job.inputPath.size()) {
    job.inputPath.fill('\0');
    return false;
  }
  // The folder comes from the result itself: a failed build before this one
  // may have cleared inputPath.
  std::memcpy(job.inputPath.data(), job.SelectionBuffer.data(), job.directoryLength);
  job.inputPath[job.directoryLength] = '\\';
  std::memcpy(job.inputPath.data() + job.directoryLength + 1, name, nameLength + 1);
  return true;
}
