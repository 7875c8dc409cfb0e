// The program's one thread keeps its windows answering while long work runs
// on it: the work calls Pump often, and the messages waiting are dispatched
// as the program's own message loop would.
#pragma once

#include <windows.h>

class MessagePump {
 public:
  // `modeless` (may be null) is a modeless dialog that gets its keys: Tab,
  // Enter and Escape.
  explicit MessagePump(HWND modeless = nullptr) : modeless_(modeless) {}
  // A quit request taken from the queue on the way is posted again, for the
  // program's own loop.
  ~MessagePump();
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;

  // Dispatches what waits in the queue, at most every few tens of
  // milliseconds, so that calling it for every few rows of a photo costs
  // next to nothing; `now`: at once, for a caller that waits for messages
  // itself. True when it was time to: the caller then updates what it shows.
  bool Pump(bool now = false);

 private:
  HWND modeless_;
  ULONGLONG last_ = 0;
  bool quit_ = false;
  WPARAM quitCode_ = 0;
};
