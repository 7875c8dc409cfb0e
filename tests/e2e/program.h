// One run of tillerbrookmint.exe, driven through its windows: the open
// dialog, "Output Size", "Output Quality" and the message boxes. A step that
// does not happen as expected throws Unexpected with what the program shows
// instead, and the run is killed when the object goes.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "automation.h"

namespace e2e {

inline constexpr char kHostTitle[] = "Tillerbrookmint";
inline constexpr char kOpenTitle[] = "Select file[s]";
inline constexpr char kSizeTitle[] = "Output Size";
inline constexpr char kQualityTitle[] = "Output Quality";
inline constexpr char kMessageTitle[] = "Error";  // Wine's caption for a null one
inline constexpr char kBatchTitle[] = "Saving copies";

// Control ids, as a user's tools would find them.
inline constexpr int kFull = 1000;  // "Output Size" radio buttons
inline constexpr int kHalf = 1001;
inline constexpr int kQuarter = 1005;
inline constexpr int kQuality = 1002;  // "Output Quality" fields
inline constexpr int kInputSize = 1003;
inline constexpr int kOutputSize = 1004;
inline constexpr int kResolution = 1007;
inline constexpr int kNewName = 1008;
inline constexpr int kSameForRest = 1009;
inline constexpr int kBatchPhoto = 1010;     // "Saving copies": "Photo N of M"
inline constexpr int kBatchName = 1011;      // the photo's new name
inline constexpr int kWorkBar = 1013;        // a dialog's progress bar during long work
inline constexpr int kAtMostKb = 1014;       // "Output Quality": "at most N KB"
inline constexpr int kMessageText = 0xFFFF;  // a message box's static text

// Whether a window takes input: enabled, and so is its OK button if it has
// one, which a dialog disables while it works.
inline bool TakesInput(HWND window) {
  const HWND ok = GetDlgItem(window, IDOK);
  return IsWindowEnabled(window) && (ok == nullptr || IsWindowEnabled(ok));
}

// The rule Windows' taskbar follows (under Xvfb there is no taskbar to
// look at): a visible window gets a button when it is an application window,
// or when it has no owner and is no tool window. The button's icon cannot be
// read from here: Wine answers WM_GETICON only within the window's process.
inline bool HasTaskbarButton(HWND window) {
  const LONG_PTR extended = GetWindowLongPtrW(window, GWL_EXSTYLE);
  return IsWindowVisible(window) && (extended & WS_EX_TOOLWINDOW) == 0 &&
         ((extended & WS_EX_APPWINDOW) != 0 || GetWindow(window, GW_OWNER) == nullptr);
}

struct Unexpected : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Program;

class SizeDialog {
 public:
  SizeDialog(Program& program, HWND window) : program_(program), window_(window) {}
  HWND Window() const { return window_; }
  // The three radio button texts: full, half, quarter.
  std::vector<std::string> OptionTexts() const;
  // The checked radio button's id, 0 when none is.
  int Checked() const;
  void Choose(int radioId);
  void Ok();
  void Cancel();

 private:
  void Press(int id);
  Program& program_;
  HWND window_;
};

class QualityDialog {
 public:
  QualityDialog(Program& program, HWND window) : program_(program), window_(window) {}
  HWND Window() const { return window_; }
  std::string Quality() const;
  std::string InputSize() const;
  std::string OutputSize() const;
  std::string Resolution() const;
  std::string NewName() const;
  // "Same for the rest": whether it is offered, whether it is checked.
  bool SameForRestShown() const;
  bool SameForRestChecked() const;
  void CheckSameForRest();
  // Types a quality and presses Save: the dialog closes and comes back.
  QualityDialog Retry(const std::string& quality);
  // "at most N KB": the field's text, and typing it (with a quality) then Save.
  std::string AtMost() const;
  QualityDialog RetryWithin(const std::string& quality, const std::string& atMostKb);
  void Save();
  void Cancel();

 private:
  void Press(int id);
  Program& program_;
  HWND window_;
};

class Program {
 public:
  // Starts the program with `arguments` (none: selection mode) in `directory`,
  // on the processors of `affinity` (0: all).
  explicit Program(const std::string& arguments, const std::string& directory = {},
                   DWORD_PTR affinity = 0);

  Process& Proc() { return process_; }

  // Waits for a visible window that takes input; a message box or the
  // program's end on the way throws.
  HWND Await(const std::string& title);
  SizeDialog AwaitSize();
  QualityDialog AwaitQuality();

  // The open dialog: browses to `folder`, then chooses `names` there.
  void Choose(const std::string& folder, const std::vector<std::string>& names);
  void CancelChoice();

  // The message box's text, after checking that it is the program's (owned
  // by the host window, one OK button), and presses OK.
  std::string DismissMessage();

  // The host window shown after an input failed to open: checks that it is
  // visible, as small as can be at 0,0, and that the program waits for it,
  // then closes it.
  void CloseHostWindow();

  // The program's end, within the time limit, with its exit code. Throws if
  // it shows a message instead.
  DWORD ExitCode();

  std::string Describe();

 private:
  Process process_;
};

}  // namespace e2e
