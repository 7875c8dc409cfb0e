// Every window that waits for the user gets a button on the taskbar, with the
// program's icon. The windows are owned by the hidden host window, and
// Windows gives no button to a window whose owner is hidden, so a user who
// clicked elsewhere during a long batch would have nothing to bring
// "Output Size" back with. A hook on the program's thread marks each of its
// dialog boxes (the open dialog, the program's own, the message boxes) as an
// application window with the program's icon as the box is set up, before
// it shows.
#pragma once

#include <windows.h>

class TaskbarButtons {
 public:
  // For the dialog boxes the program's thread creates from now on.
  explicit TaskbarButtons(HINSTANCE instance);
  ~TaskbarButtons();
  TaskbarButtons(const TaskbarButtons&) = delete;
  TaskbarButtons& operator=(const TaskbarButtons&) = delete;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);

  static inline HHOOK hook_ = nullptr;
  static inline HICON big_ = nullptr;
  static inline HICON small_ = nullptr;
};
