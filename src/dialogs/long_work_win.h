// A dialog's own long work: the decode behind "Output Size"'s OK, each
// encode of "Output Quality". The dialog stays on screen, disabled so that it
// cannot be confirmed twice, and keeps answering; once the work has taken
// half a second, a progress bar between its two buttons shows how far it
// has come. The wait cursor shows meanwhile.
#pragma once

#include <windows.h>

#include "codec/codec.h"
#include "shell/message_pump_win.h"

class LongWork final : public CodecProgress {
 public:
  explicit LongWork(HWND dialog);
  // Removes the bar and enables the dialog again.
  ~LongWork();
  LongWork(const LongWork&) = delete;
  LongWork& operator=(const LongWork&) = delete;

  bool Report(double done) noexcept override;

  // Whether a dialog's work is under way: its procedure then ignores
  // commands, which a disabled dialog can still be sent (the taskbar's
  // Close, say).
  static bool Busy() { return busy_; }

 private:
  void ShowBar();

  HWND dialog_;
  HWND bar_ = nullptr;
  HCURSOR wait_;
  HCURSOR restore_;
  ULONGLONG start_;
  MessagePump pump_;
  static inline bool busy_ = false;
};
