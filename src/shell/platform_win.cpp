#include "shell/platform_win.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <bit>
#include <string>
#include <system_error>
#include <thread>

#include "batch/pipeline.h"
#include "dialogs/dialogs_win.h"
#include "dialogs/quality_dialog.h"
#include "dialogs/size_dialog.h"
#include "shell/program_state.h"
#include "shell/taskbar_win.h"
#include "shell/wide_path_win.h"

namespace {

// Filter "*.jpg" described as "*.jpg"; the literal's own terminator makes the
// second zero byte that ends the list.
constexpr char kFilter[] = "*.jpg\0*.jpg\0";

}  // namespace

FileChoice WindowsPlatform::ChooseFiles(BatchInput& input) {
  std::fill(input.SelectionBuffer.begin(), input.SelectionBuffer.end(), '\0');
  OPENFILENAMEA request{};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = host_;
  request.hInstance = instance_;
  request.lpstrFilter = kFilter;
  request.lpstrFile = input.SelectionBuffer.data();
  request.nMaxFile = static_cast<DWORD>(input.SelectionBuffer.size());
  request.lpstrInitialDir = "";
  request.lpstrTitle = "Select file[s]";
  request.Flags = OFN_EXPLORER | OFN_CREATEPROMPT | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
  // Without a dot: the dialog appends a dot and the first three characters.
  request.lpstrDefExt = "jpg";
  const TaskbarButtons buttons;
  if (GetOpenFileNameA(&request))
    return FileChoice::kChosen;
  return CommDlgExtendedError() == FNERR_BUFFERTOOSMALL ? FileChoice::kTooMany
                                                        : FileChoice::kCancelled;
}

namespace {

class WindowsInputFile final : public InputFile {
 public:
  explicit WindowsInputFile(HANDLE file) : file_(file) {}

  SystemError SizeAndTime(uint64_t& bytes, uint64_t& lastWriteTime) override {
    LARGE_INTEGER size{};
    FILETIME written{};
    if (!GetFileSizeEx(file_.get(), &size) || !GetFileTime(file_.get(), nullptr, nullptr, &written))
      return GetLastError();
    bytes = static_cast<uint64_t>(size.QuadPart);
    lastWriteTime = uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime;
    return kNoError;
  }

  SystemError Read(std::span<uint8_t> into) override {
    while (!into.empty()) {
      const DWORD request = static_cast<DWORD>(std::min<size_t>(into.size(), 1u << 30));
      DWORD got = 0;
      if (!ReadFile(file_.get(), into.data(), request, &got, nullptr))
        return GetLastError();
      if (got == 0)
        return ERROR_HANDLE_EOF;  // the file shrank since its size was taken
      into = into.subspan(got);
    }
    return kNoError;
  }

 private:
  UniqueHandle file_;
};

// Photos a worker may take on, at least: fewer workers than this budget
// holds of them would leave photos waiting for memory rather than a core.
constexpr uint64_t kPhotoBytesAtLeast = uint64_t{64} << 20;

}  // namespace

std::unique_ptr<InputFile> WindowsPlatform::OpenInput(const char* path, SystemError& error) {
  // Read access only: the program never writes its input, so photos on
  // read-only media open too. Shared with readers, so that a photo a viewer
  // shows opens too; a program that writes it keeps it from us.
  // In the long path form, a photo deep in a folder opens too; its X-name
  // is refused later, as a path too long for a copy.
  std::wstring wide;
  if (error = WidePath(path, wide); error != kNoError)
    return nullptr;
  HANDLE file =
      CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  error = kNoError;
  return std::make_unique<WindowsInputFile>(file);
}

int WindowsPlatform::ShowSizeDialog(PhotoWork& photo, UserChoices& choices) {
  DialogSubject subject{photo, choices};
  const INT_PTR result =
      DialogBoxParamA(instance_, "SIZE", nullptr, SizeDlgProc, reinterpret_cast<LPARAM>(&subject));
  return result == -1 ? SIZE_CANCELLED : static_cast<int>(result);
}

int WindowsPlatform::ShowQualityDialog(PhotoWork& photo, UserChoices& choices) {
  DialogSubject subject{photo, choices};
  const INT_PTR result = DialogBoxParamA(instance_, "QUALITY", host_, QualityDlgProc,
                                         reinterpret_cast<LPARAM>(&subject));
  return result == -1 ? QUALITY_SKIP : static_cast<int>(result);
}

void WindowsPlatform::KeepAnswering() noexcept {
  pump_.Pump();
}

SystemError WindowsPlatform::Answering(const std::function<SystemError()>& work) {
  const UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SystemError result = kNoError;
  std::thread worker;
  if (done.valid()) {
    try {
      worker = std::thread([&] {
        result = work();
        SetEvent(done.get());
      });
    } catch (const std::system_error&) {
      // No thread to be had: the work runs here, the windows waiting.
    }
  }
  if (!worker.joinable())
    return work();
  const HANDLE waitFor = done.get();
  while (MsgWaitForMultipleObjects(1, &waitFor, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
    pump_.Pump(true);
  worker.join();
  return result;
}

RestLimits WindowsPlatform::RestOfBatchLimits() {
  // One worker per processor the program may run on.
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  size_t processors = 1;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
    processors = static_cast<size_t>(std::popcount(static_cast<uint64_t>(process)));
  // The photos in flight may hold three quarters of the address space and of
  // the commit charge still free; the rest is the system's and the program's
  // own.
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  uint64_t budget = uint64_t{1} << 30;
  if (GlobalMemoryStatusEx(&memory))
    budget = std::min(memory.ullAvailVirtual, memory.ullAvailPageFile) / 4 * 3;
  const size_t most = static_cast<size_t>(std::max<uint64_t>(1, budget / kPhotoBytesAtLeast));
  return {std::min(processors, most), budget};
}

void WindowsPlatform::ShowMessage(const char* text) {
  ::ShowMessage(host_, text);
}

void WindowsPlatform::ShowSystemError(SystemError error) {
  ::ShowSystemError(host_, error);
}

void WindowsPlatform::ShowBatchPhoto(size_t number, size_t total, const char* newName) {
  batch_.ShowPhoto(number, total, newName);
}

bool WindowsPlatform::ReportBatchProgress(double done) noexcept {
  return batch_.Report(done) && !SessionEnding;
}

bool WindowsPlatform::SessionEnds() const {
  return SessionEnding;
}

void WindowsPlatform::CloseBatchProgress() {
  batch_.Close();
}

LeadByteRule WindowsPlatform::LeadBytes() const {
  return SystemLeadBytes;
}

bool SystemLeadBytes(uint8_t lead) {
  return IsDBCSLeadByte(lead) != 0;
}

void ShowSystemError(HWND owner, SystemError error) {
  std::array<char, 200> text{};
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text.data(),
                      static_cast<DWORD>(text.size()), nullptr)) {
    const std::string fallback = "Error " + std::to_string(error) + ".";
    std::copy_n(fallback.c_str(), std::min(fallback.size() + 1, text.size() - 1), text.data());
  }
  ShowMessage(owner, text.data());
}

void ShowMessage(HWND owner, const char* text) {
  const TaskbarButtons buttons;
  MessageBoxA(owner, text, nullptr, MB_OK | MB_SETFOREGROUND);
}

void RunBatch(HWND host, HINSTANCE instance) {
  WindowsPlatform platform(host, instance);
  switch (RunBatch(Job, platform)) {
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
