// A dialog's own long work: the decode behind "Output Size"'s OK, each
// encode or search of "Output Quality". The dialog stays on screen and keeps
// answering, every control but Cancel disabled so that nothing is confirmed
// twice; Cancel (its button, Escape, the close box) stops the work. Once the
// work has taken half a second, a progress bar between the two buttons shows
// how far it has come. The wait cursor shows meanwhile.
#pragma once

#include <windows.h>

#include <vector>

#include "codec/codec.h"
#include "shell/message_pump_win.h"

class LongWork final : public CodecProgress {
 public:
  explicit LongWork(HWND dialog);
  // Removes the bar and enables the controls again.
  ~LongWork();
  LongWork(const LongWork&) = delete;
  LongWork& operator=(const LongWork&) = delete;

  // False once Cancel was pressed: the work stops.
  bool Report(double done) noexcept override;

  // Whether a dialog's work is under way: its procedure then takes no
  // command but Cancel, which it passes on here.
  static bool Busy() { return current_ != nullptr; }
  static void Cancel() {
    if (current_ != nullptr)
      current_->cancelled_ = true;
  }

 private:
  void ShowBar();

  HWND dialog_;
  HWND bar_ = nullptr;
  HCURSOR wait_;
  HCURSOR restore_;
  ULONGLONG start_;
  MessagePump pump_;
  std::vector<HWND> disabled_;  // the controls this work disabled
  bool cancelled_ = false;
  static inline LongWork* current_ = nullptr;
};
