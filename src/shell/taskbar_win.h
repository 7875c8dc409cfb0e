// Every window that waits for the user gets a button on the taskbar, with the
// program's icon. The windows are owned by the hidden host window, and
// Windows gives no button to a window whose owner is hidden, so a user who
// clicked elsewhere during a long batch would have nothing to bring
// "Output Size" back with. A window becomes an application window as it is
// set up (WM_INITDIALOG), before it shows.
#pragma once

#include <windows.h>

// For the program's own dialogs, from their WM_INITDIALOG.
void ShowOnTaskbar(HWND dialog);

// For the dialog boxes the system makes (the open dialog, message boxes)
// while the object lives: a hook on the program's thread does it for each.
// Only for as long as one of them shows: a hook is called for every message
// the thread sends, which under Wine costs a call to its server each.
class TaskbarButtons {
 public:
  TaskbarButtons();
  ~TaskbarButtons();
  TaskbarButtons(const TaskbarButtons&) = delete;
  TaskbarButtons& operator=(const TaskbarButtons&) = delete;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

  HHOOK hook_;
  static inline HHOOK current_ = nullptr;
};
