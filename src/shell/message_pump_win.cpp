#include "shell/message_pump_win.h"

namespace {

// Windows calls a window hung after five seconds without a message taken;
// a user sees a click answered within this.
constexpr ULONGLONG kPumpEveryMs = 30;

}  // namespace

MessagePump::~MessagePump() {
  if (quit_)
    PostQuitMessage(static_cast<int>(quitCode_));
}

bool MessagePump::Pump(bool now) {
  const ULONGLONG tick = GetTickCount64();
  if (!now && tick - last_ < kPumpEveryMs)
    return false;
  last_ = tick;
  MSG message;
  while (!quit_ && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit_ = true;
      quitCode_ = message.wParam;
      break;
    }
    if (modeless_ != nullptr && IsDialogMessageA(modeless_, &message))
      continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}
