// "Saving copies": the window over the photos made without dialogs after a
// Save with "Same for the rest". It names the photo in hand and shows how far
// the run has come; its Cancel stops the run at once, every copy written so
// far whole. The same window, as "Finding photos", shows a long walk through
// a folder, and its Cancel stops the batch.
#pragma once

#include <windows.h>

#include <memory>

#include "shell/message_pump_win.h"

class BatchProgressWindow {
 public:
  BatchProgressWindow(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {}
  ~BatchProgressWindow() { Close(); }
  BatchProgressWindow(const BatchProgressWindow&) = delete;
  BatchProgressWindow& operator=(const BatchProgressWindow&) = delete;

  // Opens the window on the first photo.
  void ShowPhoto(size_t number, size_t total, const char* newName);
  // The window over a long walk through a folder: the folders listed and
  // the photos found so far.
  void ShowSearch(size_t folders, size_t photos);
  // Keeps the program's windows answering; false once Cancel was pressed.
  bool Report(double done) noexcept;
  void Close();

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  // Creates the window if it is not there; false when it cannot be.
  bool Open();

  HINSTANCE instance_;
  HWND owner_;
  HWND window_ = nullptr;
  std::unique_ptr<MessagePump> pump_;
  bool cancelled_ = false;
};
