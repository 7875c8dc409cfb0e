#include "batch/output_naming.h"

#include <algorithm>
#include <cstring>

namespace {

// Where the file name starts: after the last folder separator. Windows takes
// the slash as a separator too, so the X never lands in a folder name
// written with slashes.
size_t FileNameStart(std::string_view path) {
  const size_t last = path.find_last_of("\\/");
  return last == std::string_view::npos ? 0 : last + 1;
}

}  // namespace

bool BuildOutputPath(JobState& job, std::string_view inputPath) {
  auto& out = job.OutputPath;
  out.fill('\0');
  if (inputPath.size() + 1 >= out.size())
    return false;  // the X and the terminator
  const size_t nameStart = FileNameStart(inputPath);
  const size_t dot = inputPath.find('.', nameStart);
  const size_t head = dot == std::string_view::npos ? inputPath.size() : dot;
  char* p = std::copy_n(inputPath.data(), head, out.data());
  *p++ = 'X';
  std::copy(inputPath.begin() + static_cast<std::ptrdiff_t>(head), inputPath.end(), p);
  return true;
}

void BuildDisplayName(JobState& job) {
  const std::string_view path(job.OutputPath.data(), strnlen(job.OutputPath.data(), kPathBytes));
  const std::string_view name = path.substr(FileNameStart(path));
  job.DisplayName.fill('\0');
  std::copy(name.begin(), name.end(), job.DisplayName.begin());
}
