// Drives another Windows process from outside, as a user would: starts it,
// finds its top-level windows by title, reads and sets control texts, clicks
// buttons and waits for it to end. Every wait has a time limit. Texts,
// paths and command lines are UTF-8.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using Millis = std::chrono::milliseconds;
inline constexpr Millis kWindowTimeout{15000};
inline constexpr Millis kExitTimeout{15000};

// How many times longer than usual the program may take for each step:
// TBM_SLOWDOWN, which scripts/e2e sets where the program runs through an
// emulator (the 32-bit exe under qemu: about a minute per start, and every
// decode many times slower); 1 when unset.
int Slowdown();
// The limits above, times the slowdown: for waits on the program under test.
Millis WindowTimeout();
Millis ExitTimeout();

// A started process. It is killed when the object goes while it still runs,
// so a failed test never leaves one behind.
class Process {
 public:
  // Starts `exe` with `arguments` after its quoted name, in `directory`
  // (empty: the caller's), on the processors of `affinity` (0: all), as
  // "start /affinity" does. Fails the process on a bad start: check Started().
  Process(const std::string& exe, const std::string& arguments, const std::string& directory = {},
          DWORD_PTR affinity = 0);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD StartError() const { return startError_; }
  DWORD Id() const { return info_.dwProcessId; }
  // For calls of one's own on the process (VirtualAllocEx, say).
  HANDLE Handle() const { return info_.hProcess; }
  bool Running() const;

  // The exit code once it has ended within `timeout`; empty if it still runs.
  std::optional<DWORD> WaitExit(Millis timeout = ExitTimeout());
  // The most memory the process has had in use at once so far, in bytes (its
  // peak working set; under Wine the peak resident size of the Linux
  // process). Empty once it has ended.
  std::optional<size_t> PeakWorkingSet() const;
  // All of GetProcessMemoryInfo's counters; empty once it has ended. Under
  // Wine PagefileUsage is the Linux process's resident anonymous memory
  // (pages committed and touched, not those only committed), and
  // PeakPagefileUsage is the same figure, not a peak.
  std::optional<PROCESS_MEMORY_COUNTERS> Memory() const;
  // The private memory committed in the process now, summed over its regions
  // (VirtualQueryEx): what Windows charges, touched or not.
  std::optional<size_t> CommittedPrivate() const;
  void Kill();

 private:
  PROCESS_INFORMATION info_{};
  DWORD startError_ = 0;
};

struct TopWindow {
  HWND hwnd;
  std::string title;
  std::string className;
  bool visible;
};

// The process's top-level windows, hidden ones included.
std::vector<TopWindow> WindowsOf(DWORD processId);
// "title" (class), ...: for failure reports.
std::string DescribeWindows(DWORD processId);

// Waits until `process` has a top-level window titled exactly `title` (and
// visible when asked). Empty when the time ran out or the process ended.
HWND WaitWindow(const Process& process, const std::string& title, bool mustBeVisible = true,
                Millis timeout = WindowTimeout());
// Waits until the window is destroyed.
bool WaitGone(HWND window, Millis timeout = WindowTimeout());

std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool SetControlText(HWND dialog, int id, const std::string& text);
bool IsChecked(HWND dialog, int id);
HWND Owner(HWND window);

// Posted, so that a click that opens a modal window does not block us; the
// window acts on it after anything sent to it before.
bool PostClick(HWND dialog, int id);
// Sent: returns once the window has acted on it. Only for clicks that open
// no modal window.
bool SendClick(HWND dialog, int id);
bool PostClose(HWND window);

// The window as it is on screen, as a 24-bit BMP file. Waits until two
// captures in a row agree, so that the window has finished painting; a
// window that keeps changing (a progress bar) is taken as it is once it has
// answered.
bool CaptureWindow(HWND window, const std::string& bmpPath, bool stillPicture = true);

}  // namespace e2e
