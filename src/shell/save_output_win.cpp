// The save: a copy written whole under a temporary name beside the output,
// then given the output's name in one step. The wide-character calls and
// the long path form take every path the program accepts, however long its
// folder, where the ANSI calls stop at MAX_PATH.
#include <windows.h>

#include <string>

#include "batch/output_naming.h"
#include "shell/platform_win.h"
#include "shell/wide_path_win.h"

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
    // DELETE: the file goes when its handle closes until it is whole.
    file.Reset(
        CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, 0, nullptr));
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

// Marks the file to go when its last handle closes, or takes the mark off.
// Marked, it cannot outlive the program: should the program end before the
// copy is whole (the user logging off, the process killed), the system
// removes it.
bool MarkForDeletion(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
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
  // A file system without the mark still gets the copy, as before.
  const bool marked = MarkForDeletion(file.get(), true);
  // Writing and flushing to a slow disk or a network folder can take
  // seconds, which the windows spend answering.
  SystemError error = Answering([&] {
    SystemError written = WritePieces(file.get(), pieces);
    if (written == kNoError) {
      // The original's time, before the copy takes its name. A file system
      // that keeps no such time still gets the copy: the result is not
      // checked.
      const FILETIME time{static_cast<DWORD>(lastWriteTime),
                          static_cast<DWORD>(lastWriteTime >> 32)};
      SetFileTime(file.get(), nullptr, nullptr, &time);
      if (!FlushFileBuffers(file.get()))
        written = GetLastError();
    }
    return written;
  });
  if (error == kNoError && marked && !MarkForDeletion(file.get(), false))
    error = GetLastError();
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
