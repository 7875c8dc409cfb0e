#include "shell/taskbar_win.h"

#include <cstring>

#include "resources/resource.h"

namespace {

// The system's dialog box class: the program's dialogs, the open dialog and
// message boxes. Top-level only: the open dialog holds dialogs of its own.
bool IsTopLevelDialog(HWND window, LONG_PTR style) {
  char name[16] = {};
  return (style & WS_CHILD) == 0 && GetClassNameA(window, name, sizeof name) != 0 &&
         std::strcmp(name, "#32770") == 0;
}

}  // namespace

TaskbarButtons::TaskbarButtons(HINSTANCE instance) {
  big_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_TILLERBROOKMINT), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                       LR_DEFAULTCOLOR));
  small_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_TILLERBROOKMINT),
                                         IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  hook_ = SetWindowsHookExA(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
}

TaskbarButtons::~TaskbarButtons() {
  if (hook_ != nullptr)
    UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
  // The icons of a resource go with the module.
}

LRESULT CALLBACK TaskbarButtons::Hook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  // WM_INITDIALOG: a dialog box is set up, and not yet shown, which is when
  // the taskbar takes note of its style.
  if (code == HC_ACTION && sent->message == WM_INITDIALOG &&
      IsTopLevelDialog(sent->hwnd, GetWindowLongPtrA(sent->hwnd, GWL_STYLE))) {
    SetWindowLongPtrA(sent->hwnd, GWL_EXSTYLE,
                      GetWindowLongPtrA(sent->hwnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
    SendMessageA(sent->hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_));
    SendMessageA(sent->hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_));
  }
  return CallNextHookEx(hook_, code, wParam, lParam);
}
