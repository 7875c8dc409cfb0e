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

  // A dialog's command, while its work is under way: Cancel (also Escape
  // and the close box) stops the work, after which the dialog ends as its
  // Cancel ends it; every other command is ignored. True when the command
  // was taken here, and the procedure has nothing more to do with it.
  static bool Intercept(WPARAM command) {
    if (current_ == nullptr)
      return false;
    if (LOWORD(command) == IDCANCEL)
      current_->cancelled_ = true;
    return true;
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
