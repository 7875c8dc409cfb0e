#include "automation.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <thread>

#include "files.h"

namespace e2e {

namespace {

constexpr Millis kPollInterval{15};
constexpr UINT kSendTimeoutMs = 5000;

template <typename Condition>
bool PollUntil(Millis timeout, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition())
      return true;
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

// Sent as a W-message: texts cross as UTF-16, whatever either side's code
// page.
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG,
                             kSendTimeoutMs * static_cast<UINT>(Slowdown()),
                             result ? result : &ignored) != 0;
}

}  // namespace

int Slowdown() {
  static const int factor = [] {
    const int value = std::atoi(Env("TBM_SLOWDOWN").c_str());
    return value >= 1 ? value : 1;
  }();
  return factor;
}

Millis WindowTimeout() {
  return kWindowTimeout * Slowdown();
}

Millis ExitTimeout() {
  return kExitTimeout * Slowdown();
}

Process::Process(const std::string& exe, const std::string& arguments, const std::string& directory,
                 DWORD_PTR affinity) {
  std::wstring commandLine = Wide("\"" + exe + "\"");
  if (!arguments.empty())
    commandLine += L" " + Wide(arguments);
  const std::wstring folder = Wide(directory);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(Wide(exe).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      affinity != 0 ? CREATE_SUSPENDED : 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info_)) {
    startError_ = GetLastError();
    info_ = {};
    return;
  }
  if (affinity != 0) {
    if (!SetProcessAffinityMask(info_.hProcess, affinity))
      startError_ = GetLastError();
    ResumeThread(info_.hThread);
  }
  CloseHandle(info_.hThread);
  info_.hThread = nullptr;
}

Process::~Process() {
  Kill();
  if (info_.hProcess)
    CloseHandle(info_.hProcess);
}

bool Process::Running() const {
  return info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::WaitExit(Millis timeout) {
  if (!info_.hProcess)
    return std::nullopt;
  if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(info_.hProcess, &code))
    return std::nullopt;
  return code;
}

std::optional<size_t> Process::PeakWorkingSet() const {
  const auto counters = Memory();
  if (!counters)
    return std::nullopt;
  return counters->PeakWorkingSetSize;
}

std::optional<PROCESS_MEMORY_COUNTERS> Process::Memory() const {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!Running() || !GetProcessMemoryInfo(info_.hProcess, &counters, sizeof counters))
    return std::nullopt;
  return counters;
}

std::optional<size_t> Process::CommittedPrivate() const {
  if (!Running())
    return std::nullopt;
  size_t committed = 0;
  uintptr_t at = 0;
  MEMORY_BASIC_INFORMATION region{};
  while (VirtualQueryEx(info_.hProcess, reinterpret_cast<void*>(at), &region, sizeof region) ==
         sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      committed += region.RegionSize;
    const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
    if (next <= at)
      break;
    at = next;
  }
  return committed;
}

void Process::Kill() {
  if (!Running())
    return;
  TerminateProcess(info_.hProcess, 0xDEAD);
  WaitForSingleObject(info_.hProcess, static_cast<DWORD>(ExitTimeout().count()));
}

namespace {

struct WindowSearch {
  DWORD processId;
  std::vector<TopWindow> found;
};

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  auto& search = *reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  if (owner == search.processId) {
    char className[256] = {};
    GetClassNameA(hwnd, className, sizeof className);
    search.found.push_back({hwnd, WindowText(hwnd), className, IsWindowVisible(hwnd) != FALSE});
  }
  return TRUE;
}

}  // namespace

std::vector<TopWindow> WindowsOf(DWORD processId) {
  WindowSearch search{processId, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string DescribeWindows(DWORD processId) {
  std::string out;
  for (const TopWindow& w : WindowsOf(processId)) {
    if (!out.empty())
      out += ", ";
    out += "\"" + w.title + "\" (" + w.className + (w.visible ? ")" : ", hidden)");
  }
  return out.empty() ? "no windows" : out;
}

HWND WaitWindow(const Process& process, const std::string& title, bool mustBeVisible,
                Millis timeout) {
  HWND found = nullptr;
  PollUntil(timeout, [&] {
    for (const TopWindow& w : WindowsOf(process.Id())) {
      if (w.title == title && (w.visible || !mustBeVisible)) {
        found = w.hwnd;
        return true;
      }
    }
    return !process.Running();
  });
  return found;
}

bool WaitGone(HWND window, Millis timeout) {
  return PollUntil(timeout, [&] { return !IsWindow(window); });
}

std::string WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return Utf8(text);
}

std::string ControlText(HWND dialog, int id) {
  const HWND control = GetDlgItem(dialog, id);
  if (!control)
    return {};
  DWORD_PTR length = 0;
  if (!Send(control, WM_GETTEXTLENGTH, 0, 0, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!Send(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) {
    return {};
  }
  text.resize(std::wcslen(text.c_str()));
  return Utf8(text);
}

bool SetControlText(HWND dialog, int id, const std::string& text) {
  const HWND control = GetDlgItem(dialog, id);
  const std::wstring wide = Wide(text);
  DWORD_PTR result = 0;
  return control && Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), &result) &&
         result != 0;
}

bool IsChecked(HWND dialog, int id) {
  const HWND control = GetDlgItem(dialog, id);
  DWORD_PTR state = 0;
  return control && Send(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

HWND Owner(HWND window) {
  return GetWindow(window, GW_OWNER);
}

bool PostClick(HWND dialog, int id) {
  const HWND control = GetDlgItem(dialog, id);
  return control && PostMessageA(control, BM_CLICK, 0, 0);
}

bool SendClick(HWND dialog, int id) {
  const HWND control = GetDlgItem(dialog, id);
  return control && Send(control, BM_CLICK, 0, 0);
}

bool PostClose(HWND window) {
  return PostMessageA(window, WM_CLOSE, 0, 0) != 0;
}

namespace {

// The screen's pixels under `rect`, bottom-up BGR rows padded to 4 bytes.
std::vector<unsigned char> GrabScreen(const RECT& rect, BITMAPINFOHEADER& header) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  std::vector<unsigned char> pixels(stride * static_cast<size_t>(height));
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ previous = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);
  BITMAPINFO info{};
  info.bmiHeader = header;
  const bool read = copied && GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                        &info, DIB_RGB_COLORS) == height;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!read)
    pixels.clear();
  return pixels;
}

bool OneColour(const std::vector<unsigned char>& pixels, const BITMAPINFOHEADER& header) {
  const size_t stride = (static_cast<size_t>(header.biWidth) * 3 + 3) & ~size_t{3};
  for (size_t row = 0; row < static_cast<size_t>(header.biHeight); ++row) {
    for (size_t x = 0; x < static_cast<size_t>(header.biWidth) * 3; ++x) {
      if (pixels[row * stride + x] != pixels[x % 3])
        return false;
    }
  }
  return true;
}

}  // namespace

bool CaptureWindow(HWND window, const std::string& bmpPath, bool stillPicture) {
  RECT rect{};
  if (!GetWindowRect(window, &rect) || rect.right <= rect.left || rect.bottom <= rect.top) {
    return false;
  }
  // The window's thread has come back to its message loop once this
  // returns; painting follows, so wait for a picture (not one flat colour,
  // as an unpainted window is) that has stopped changing. Themed controls
  // may paint a while after their dialog's frame: the picture has to stay
  // the same for kSettle.
  constexpr Millis kSettle{300};
  if (!Send(window, WM_NULL, 0, 0))
    return false;
  BITMAPINFOHEADER header{};
  std::vector<unsigned char> previous = GrabScreen(rect, header);
  std::vector<unsigned char> current;
  auto unchangedSince = std::chrono::steady_clock::now();
  const bool stable = PollUntil(Millis{5000}, [&] {
    current = GrabScreen(rect, header);
    const auto now = std::chrono::steady_clock::now();
    const bool painted = !current.empty() && !OneColour(current, header);
    if (!painted || (stillPicture && current != previous))
      unchangedSince = now;
    previous = current;
    return now - unchangedSince >= (stillPicture ? kSettle : Millis{0});
  });
  if (!stable)
    return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(current.size());
  FILE* out = _wfopen(Wide(bmpPath).c_str(), L"wb");
  if (!out)
    return false;
  const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                       std::fwrite(&header, sizeof header, 1, out) == 1 &&
                       std::fwrite(current.data(), 1, current.size(), out) == current.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace e2e
