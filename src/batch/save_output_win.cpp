// The save: a copy written whole under a temporary name beside the output,
// then given the output's name in one step. The wide-character calls and
// the long path form take every path the program accepts, however long its
// folder, where the ANSI calls stop at MAX_PATH.
#include <windows.h>

#include <string>

#include "batch/long_path.h"
#include "batch/output_naming.h"
#include "batch/platform_win.h"
#include "batch/wide_path_win.h"

namespace {

// The temporary names tried before giving up: as many as four hexadecimal
// digits tell apart.
constexpr uint32_t kAttempts = 0x10000;

// Creates a file of a name not yet taken beside the output, for writing.
SystemError CreateTemporary(const char* outputPath, std::wstring& temporary, UniqueHandle& file) {
  for (uint32_t attempt = 0; attempt < kAttempts; ++attempt) {
    const std::string name = TemporaryPath(outputPath, attempt, SystemLeadBytes);
    if (const SystemError error = WidePath(name.c_str(), temporary); error != kNoError)
      return error;
    file.Reset(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (file.valid())
      return kNoError;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      return error;
  }
  return ERROR_FILE_EXISTS;
}

SystemError WritePieces(HANDLE file, std::span<const std::span<const uint8_t>> pieces) {
  for (const auto piece : pieces) {
    // Pieces are the output buffer's regions, far below 4 GiB each.
    DWORD written = 0;
    if (!WriteFile(file, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr))
      return GetLastError();
    if (written != piece.size())
      return ERROR_HANDLE_DISK_FULL;  // a short write is a failed write
  }
  return kNoError;
}

}  // namespace

SystemError WindowsPlatform::SaveOutput(const char* path,
                                        std::span<const std::span<const uint8_t>> pieces,
                                        uint64_t lastWriteTime) {
  // A file already of the output's name is replaced only by a complete copy,
  // and stays as it was on any failure.
  std::wstring target;
  if (const SystemError error = WidePath(path, target); error != kNoError)
    return error;
  std::wstring temporary;
  UniqueHandle file;
  if (const SystemError error = CreateTemporary(path, temporary, file); error != kNoError)
    return error;
  SystemError error = WritePieces(file.get(), pieces);
  if (error == kNoError) {
    // The original's time, before the copy takes its name. A file system
    // that keeps no such time still gets the copy: the result is not checked.
    const FILETIME written{static_cast<DWORD>(lastWriteTime),
                           static_cast<DWORD>(lastWriteTime >> 32)};
    SetFileTime(file.get(), nullptr, nullptr, &written);
    if (!FlushFileBuffers(file.get()))
      error = GetLastError();
  }
  if (!file.Reset() && error == kNoError)
    error = GetLastError();
  if (error == kNoError && !MoveFileExW(temporary.c_str(), target.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != kNoError)
    DeleteFileW(temporary.c_str());
  return error;
}
