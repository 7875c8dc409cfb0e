#include "shell/taskbar_win.h"

#include <cstring>

#include "resources/resource.h"

namespace {

// The program's icon at a size the system asks for (SM_CXICON and so on).
HICON Icon(int width, int height) {
  return static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TILLERBROOKMINT), IMAGE_ICON,
                 GetSystemMetrics(width), GetSystemMetrics(height), LR_DEFAULTCOLOR | LR_SHARED));
}

// The system's dialog box class, top-level: the open dialog holds dialogs of
// its own, as children.
bool IsTopLevelDialog(HWND window) {
  char name[16] = {};
  return (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) == 0 &&
         GetClassNameA(window, name, sizeof name) != 0 && std::strcmp(name, "#32770") == 0;
}

}  // namespace

void ShowOnTaskbar(HWND dialog) {
  SetWindowLongPtrA(dialog, GWL_EXSTYLE, GetWindowLongPtrA(dialog, GWL_EXSTYLE) | WS_EX_APPWINDOW);
  // Shared icons of the program's own resources: never destroyed.
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Icon(SM_CXICON, SM_CYICON)));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(Icon(SM_CXSMICON, SM_CYSMICON)));
}

TaskbarButtons::TaskbarButtons()
    : hook_(SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId())) {
  current_ = hook_;
}

TaskbarButtons::~TaskbarButtons() {
  if (hook_ != nullptr)
    UnhookWindowsHookEx(hook_);
  current_ = nullptr;
}

LRESULT CALLBACK TaskbarButtons::Hook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_INITDIALOG && IsTopLevelDialog(sent->hwnd))
    ShowOnTaskbar(sent->hwnd);
  return CallNextHookEx(current_, code, wParam, lParam);
}
