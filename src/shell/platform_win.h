// The batch's platform on Windows: the system's open dialog, files, the two
// dialogs and message boxes, all owned by the host window.
#pragma once

#include <windows.h>

#include <functional>

#include "batch/platform.h"
#include "dialogs/batch_progress_win.h"
#include "shell/message_pump_win.h"
#include "shell/unique_handle_win.h"

class WindowsPlatform : public Platform {
 public:
  WindowsPlatform(HWND host, HINSTANCE instance)
      : host_(host), instance_(instance), batch_(instance, host) {}

  FileChoice ChooseFiles(BatchInput& input) override;
  bool IsFolder(const char* path) override;
  uint32_t List(const std::string& folder, std::vector<FolderEntry>& entries) override;
  bool Listed(size_t folders, size_t photos) override;
  void EndFolderSearch() override;
  std::unique_ptr<InputFile> OpenInput(const char* path, SystemError& error) override;
  int ShowSizeDialog(PhotoWork& photo, UserChoices& choices) override;
  int ShowQualityDialog(PhotoWork& photo, UserChoices& choices) override;
  void ShowMessage(const char* text) override;
  void ShowSystemError(SystemError error) override;
  void KeepAnswering() noexcept override;
  void ShowBatchPhoto(size_t number, size_t total, const char* newName) override;
  bool ReportBatchProgress(double done) noexcept override;
  void CloseBatchProgress() override;
  RestLimits RestOfBatchLimits() override;
  bool SessionEnds() const override;
  SystemError SaveOutput(const char* path, std::span<const std::span<const uint8_t>> pieces,
                         uint64_t lastWriteTime) override;
  LeadByteRule LeadBytes() const override;

 private:
  // Runs `work` on a thread of its own while the program's thread keeps the
  // windows answering; what `work` returns.
  SystemError Answering(const std::function<SystemError()>& work);

  HWND host_;
  HINSTANCE instance_;
  MessagePump pump_;
  BatchProgressWindow batch_;
  ULONGLONG searchStart_ = 0;  // when the folder being walked began to be listed
};

// The batch, run from the host window's WM_CREATE with the handle that came
// with it; ends the program the way the batch decides.
void RunBatch(HWND host, HINSTANCE instance);

// A message box with the system's text for `error`, owned by `owner`.
void ShowSystemError(HWND owner, SystemError error);
// A message box as the program's others are: owned by `owner`, the system's
// caption, one OK button, no icon, with its own taskbar button.
void ShowMessage(HWND owner, const char* text);

// The system's rule for the program's ANSI code page (IsDBCSLeadByte): no
// byte at all under UTF-8, the first bytes of double-byte characters under
// code pages such as 932 on a Windows that ignores the UTF-8 setting.
bool SystemLeadBytes(uint8_t lead);
