#include "dialogs/batch_progress_win.h"

#include <commctrl.h>

#include <string>

#include "resources/resource.h"
#include "shell/taskbar_win.h"

namespace {

constexpr int kBarSteps = 1000;

}  // namespace

INT_PTR CALLBACK BatchProgressWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      ShowOnTaskbar(dialog);
      SendDlgItemMessageA(dialog, IDC_BATCH_BAR, PBM_SETRANGE32, 0, kBarSteps);
      return 1;
    case WM_COMMAND:
      // The button, Escape and the close box.
      if (LOWORD(wParam) == IDCANCEL) {
        auto* self = reinterpret_cast<BatchProgressWindow*>(GetWindowLongPtrA(dialog, DWLP_USER));
        self->cancelled_ = true;
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        return 1;
      }
      return 0;
  }
  return 0;
}

bool BatchProgressWindow::Open() {
  if (window_ != nullptr)
    return true;
  window_ =
      CreateDialogParamA(instance_, "BATCH", owner_, DialogProc, reinterpret_cast<LPARAM>(this));
  if (window_ == nullptr)
    return false;  // the work goes on all the same, without the window
  cancelled_ = false;
  pump_ = std::make_unique<MessagePump>(window_);
  ShowWindow(window_, SW_SHOWNORMAL);
  SetForegroundWindow(window_);
  return true;
}

void BatchProgressWindow::ShowPhoto(size_t number, size_t total, const char* newName) {
  if (!Open())
    return;
  const std::string photo = "Photo " + std::to_string(number) + " of " + std::to_string(total);
  SetDlgItemTextA(window_, IDC_BATCH_PHOTO, photo.c_str());
  SetDlgItemTextA(window_, IDC_BATCH_NAME, newName);
  UpdateWindow(window_);
}

void BatchProgressWindow::ShowSearch(size_t folders, size_t photos) {
  const bool opened = window_ != nullptr;
  if (!Open())
    return;
  if (!opened) {
    SetWindowTextA(window_, "Finding photos");
    // How far a walk has come is not known: the bar runs to and fro.
    HWND bar = GetDlgItem(window_, IDC_BATCH_BAR);
    SetWindowLongPtrA(bar, GWL_STYLE, GetWindowLongPtrA(bar, GWL_STYLE) | PBS_MARQUEE);
    SendMessageA(bar, PBM_SETMARQUEE, TRUE, 0);
  }
  const std::string found = std::to_string(photos) + (photos == 1 ? " photo" : " photos") +
                            " found in " + std::to_string(folders) +
                            (folders == 1 ? " folder" : " folders");
  SetDlgItemTextA(window_, IDC_BATCH_PHOTO, found.c_str());
}

bool BatchProgressWindow::Report(double done) noexcept {
  if (pump_ != nullptr && pump_->Pump())
    SendDlgItemMessageA(window_, IDC_BATCH_BAR, PBM_SETPOS, static_cast<WPARAM>(done * kBarSteps),
                        0);
  return !cancelled_;
}

void BatchProgressWindow::Close() {
  // The pump goes first: a quit request it kept is posted again.
  pump_.reset();
  if (window_ != nullptr)
    DestroyWindow(window_);
  window_ = nullptr;
}
