#include "batch/platform_win.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <string>

#include "batch/pipeline.h"
#include "batch/program_state.h"
#include "dialogs/dialogs_win.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"

namespace {

// Filter "*.jpg" described as "*.jpg"; the literal's own terminator makes the
// second zero byte that ends the list.
constexpr char kFilter[] = "*.jpg\0*.jpg\0";

// Where a new file may be made beside `path`: its folder, or the current one.
std::string FolderOf(const char* path) {
  const std::string p(path);
  const size_t last = p.find_last_of("\\/");
  if (last == std::string::npos)
    return ".";
  return p.substr(0, last + 1);
}

}  // namespace

FileChoice WindowsPlatform::ChooseFiles(JobState& job) {
  std::fill(job.SelectionBuffer.begin(), job.SelectionBuffer.end(), '\0');
  OPENFILENAMEA request{};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = host_;
  request.hInstance = instance_;
  request.lpstrFilter = kFilter;
  request.lpstrFile = job.SelectionBuffer.data();
  request.nMaxFile = static_cast<DWORD>(job.SelectionBuffer.size());
  request.lpstrInitialDir = "";
  request.lpstrTitle = "Select file[s]";
  request.Flags = OFN_EXPLORER | OFN_CREATEPROMPT | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
  // Without a dot: the dialog appends a dot and the first three characters.
  request.lpstrDefExt = "jpg";
  if (GetOpenFileNameA(&request))
    return FileChoice::kChosen;
  return CommDlgExtendedError() == FNERR_BUFFERTOOSMALL ? FileChoice::kTooMany
                                                        : FileChoice::kCancelled;
}

SystemError WindowsPlatform::OpenInput(const char* path) {
  // Read access only: the program never writes its input, so photos on
  // read-only media open too.
  input_.Reset(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  return input_.valid() ? kNoError : GetLastError();
}

SystemError WindowsPlatform::InputSize(uint64_t& bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(input_.get(), &size))
    return GetLastError();
  bytes = static_cast<uint64_t>(size.QuadPart);
  return kNoError;
}

SystemError WindowsPlatform::ReadInput(std::span<uint8_t> into) {
  while (!into.empty()) {
    const DWORD request = static_cast<DWORD>(std::min<size_t>(into.size(), 1u << 30));
    DWORD got = 0;
    if (!ReadFile(input_.get(), into.data(), request, &got, nullptr))
      return GetLastError();
    if (got == 0)
      return ERROR_HANDLE_EOF;  // the file shrank since its size was taken
    into = into.subspan(got);
  }
  return kNoError;
}

void WindowsPlatform::CloseInput() {
  input_.Reset();
}

int WindowsPlatform::ShowSizeDialog(JobState&) {
  const INT_PTR result = DialogBoxParamA(instance_, "SIZE", nullptr, SizeDlgProc, 0);
  return result == -1 ? SIZE_CANCELLED : static_cast<int>(result);
}

int WindowsPlatform::ShowQualityDialog(JobState&) {
  const INT_PTR result = DialogBoxParamA(instance_, "QUALITY", host_, QualityDlgProc, 0);
  return result == -1 ? QUALITY_SKIP : static_cast<int>(result);
}

void WindowsPlatform::ShowMessage(const char* text) {
  MessageBoxA(host_, text, nullptr, MB_OK);
}

void WindowsPlatform::ShowSystemError(SystemError error) {
  ::ShowSystemError(host_, error);
}

SystemError WindowsPlatform::SaveOutput(const char* path,
                                        std::span<const std::span<const uint8_t>> pieces) {
  // The new file is written whole beside the output, then takes the output's
  // name in one step: a file already of that name is replaced only by a
  // complete one, and stays as it was on any failure.
  std::array<char, MAX_PATH> temp{};
  if (!GetTempFileNameA(FolderOf(path).c_str(), "tbm", 0, temp.data()))
    return GetLastError();
  SystemError error = kNoError;
  {
    UniqueHandle file(
        CreateFileA(temp.data(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file.valid()) {
      error = GetLastError();
    } else {
      for (const auto piece : pieces) {
        // Pieces are the output buffer's regions, far below 4 GiB each.
        DWORD written = 0;
        if (!WriteFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &written,
                       nullptr)) {
          error = GetLastError();
        } else if (written != piece.size()) {
          error = ERROR_HANDLE_DISK_FULL;  // a short write is a failed write
        }
        if (error != kNoError)
          break;
      }
      if (error == kNoError && !FlushFileBuffers(file.get()))
        error = GetLastError();
      if (!file.Reset() && error == kNoError)
        error = GetLastError();
    }
  }
  if (error == kNoError &&
      !MoveFileExA(temp.data(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != kNoError)
    DeleteFileA(temp.data());
  return error;
}

void ShowSystemError(HWND owner, SystemError error) {
  std::array<char, 200> text{};
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text.data(),
                      static_cast<DWORD>(text.size()), nullptr)) {
    const std::string fallback = "Error " + std::to_string(error) + ".";
    std::copy_n(fallback.c_str(), std::min(fallback.size() + 1, text.size() - 1), text.data());
  }
  MessageBoxA(owner, text.data(), nullptr, MB_OK);
}

void RunBatch(HWND host) {
  WindowsPlatform platform(host, static_cast<HINSTANCE>(Job.instance));
  switch (RunBatch(Job, Codec, platform)) {
    case BatchEnding::kDestroyHost:
      DestroyWindow(host);
      break;
    case BatchEnding::kSendDestroy:
      SendMessageA(host, WM_DESTROY, 0, 0);
      break;
    case BatchEnding::kLeaveHostOpen:
      break;
  }
}
