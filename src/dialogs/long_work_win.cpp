#include "dialogs/long_work_win.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "shell/program_state.h"

namespace {

constexpr ULONGLONG kQuietMs = 500;  // work shorter than this shows no bar
constexpr int kBarSteps = 1000;

RECT ClientRectOf(HWND dialog, int id) {
  RECT rect{};
  GetWindowRect(GetDlgItem(dialog, id), &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

// Whether a control can change what the dialog does: its buttons and the
// fields that can be typed in. Labels and read-only fields stay as they are,
// which spares their redrawing twice a work.
bool TakesInput(HWND control) {
  char name[16] = {};
  GetClassNameA(control, name, sizeof name);
  if (lstrcmpiA(name, "Button") == 0)
    return true;
  return lstrcmpiA(name, "Edit") == 0 && (GetWindowLongPtrA(control, GWL_STYLE) & ES_READONLY) == 0;
}

}  // namespace

LongWork::LongWork(HWND dialog)
    : dialog_(dialog),
      wait_(LoadCursorA(nullptr, IDC_WAIT)),
      restore_(SetCursor(wait_)),
      start_(GetTickCount64()),
      pump_(dialog) {
  current_ = this;
  for (HWND control = GetWindow(dialog_, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    if (TakesInput(control) && GetDlgCtrlID(control) != IDCANCEL && IsWindowEnabled(control)) {
      EnableWindow(control, FALSE);
      disabled_.push_back(control);
    }
  }
  // The keys go to the dialog itself: Escape cancels, Enter finds no
  // button to press.
  SetFocus(dialog_);
}

LongWork::~LongWork() {
  if (bar_ != nullptr)
    DestroyWindow(bar_);
  for (HWND control : disabled_)
    EnableWindow(control, TRUE);
  SetCursor(restore_);
  current_ = nullptr;
}

void LongWork::ShowBar() {
  // In the free space between the OK (or Save) and Cancel buttons, half
  // their height.
  const RECT ok = ClientRectOf(dialog_, IDOK);
  const RECT cancel = ClientRectOf(dialog_, IDCANCEL);
  const int gap = (cancel.left - ok.right) / 10;
  const int height = (ok.bottom - ok.top) / 2;
  bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, ok.right + gap,
                         ok.top + height / 2, cancel.left - ok.right - 2 * gap, height, dialog_,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_WORK_BAR)),
                         reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog_, GWLP_HINSTANCE)),
                         nullptr);
  SendMessageA(bar_, PBM_SETRANGE32, 0, kBarSteps);
}

bool LongWork::Report(double done) noexcept {
  if (!pump_.Pump())
    return !cancelled_ && !SessionEnding;
  if (bar_ == nullptr && GetTickCount64() - start_ >= kQuietMs)
    ShowBar();
  if (bar_ != nullptr)
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(done * kBarSteps), 0);
  // What the pump dispatched may have set another cursor.
  SetCursor(wait_);
  return !cancelled_ && !SessionEnding;
}
