// The program's entry: keeps the argument text, creates the hidden host
// window whose creation runs the whole batch, and runs the message loop until
// the batch (or the user, closing the host) ends the program.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "batch/command_line.h"
#include "shell/platform_win.h"
#include "shell/program_state.h"

JobState Job;

namespace {

constexpr char kClassName[] = "Tillerbrookmint";

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      RunBatch(window, reinterpret_cast<const CREATESTRUCTA*>(lParam)->hInstance);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_QUERYENDSESSION:
      // Nothing is lost by ending: a copy takes its name only when whole,
      // and one not yet whole goes with the program.
      return TRUE;
    case WM_ENDSESSION:
      if (wParam)
        SessionEnding = true;
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int showCommand) {
  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWndProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassA(&windowClass))
    return 0;
  // The progress bars of long work and of the batch's window.
  const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  // mingw-w64's start-up code passes GetCommandLineA()'s text: in the ANSI
  // code page, which the manifest makes UTF-8 (Windows 10 1903 and later).
  CaptureArguments(Job.input, argumentText != nullptr ? argumentText : "");

  HWND host = CreateWindowExA(0, kClassName, kClassName, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                              0, 0, 0, nullptr, nullptr, instance, nullptr);
  ShowWindow(host, showCommand);
  UpdateWindow(host);

  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    if (got == -1)
      return 0;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
