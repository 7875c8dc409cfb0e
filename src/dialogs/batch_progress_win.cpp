#include "dialogs/batch_progress_win.h"

#include <commctrl.h>

#include <string>

#include "resources/resource.h"

namespace {

constexpr int kBarSteps = 1000;

}  // namespace

INT_PTR CALLBACK BatchProgressWindow::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
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

void BatchProgressWindow::ShowPhoto(size_t number, size_t total, const char* newName) {
  if (window_ == nullptr) {
    window_ =
        CreateDialogParamA(instance_, "BATCH", owner_, DialogProc, reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr)
      return;  // the copies are made all the same, without the window
    pump_ = std::make_unique<MessagePump>(window_);
    ShowWindow(window_, SW_SHOWNORMAL);
  }
  const std::string photo = "Photo " + std::to_string(number) + " of " + std::to_string(total);
  SetDlgItemTextA(window_, IDC_BATCH_PHOTO, photo.c_str());
  SetDlgItemTextA(window_, IDC_BATCH_NAME, newName);
  UpdateWindow(window_);
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
