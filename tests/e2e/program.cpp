#include "program.h"

#include <thread>

#include "files.h"

namespace e2e {

namespace {

constexpr int kFileNameBox = 0x47C;  // the open dialog's file name combo box
constexpr Millis kPoll{15};

std::vector<std::string> Texts(HWND dialog, std::initializer_list<int> ids) {
  std::vector<std::string> texts;
  for (int id : ids)
    texts.push_back(ControlText(dialog, id));
  return texts;
}

HWND VisibleWindow(DWORD processId, const std::string& title) {
  for (const TopWindow& w : WindowsOf(processId)) {
    if (w.visible && w.title == title)
      return w.hwnd;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> SizeDialog::OptionTexts() const {
  return Texts(window_, {kFull, kHalf, kQuarter});
}

int SizeDialog::Checked() const {
  for (int id : {kFull, kHalf, kQuarter}) {
    if (IsChecked(window_, id))
      return id;
  }
  return 0;
}

void SizeDialog::Choose(int radioId) {
  // Sent, so that the choice is made before the OK that follows.
  if (!SendClick(window_, radioId))
    throw Unexpected("cannot click radio button " + std::to_string(radioId));
}

void SizeDialog::Press(int id) {
  if (!PostClick(window_, id))
    throw Unexpected("cannot click button " + std::to_string(id) + " of " + kSizeTitle);
  if (!WaitGone(window_))
    throw Unexpected(std::string(kSizeTitle) + " stays open: " + program_.Describe());
}

void SizeDialog::Ok() {
  Press(IDOK);
}
void SizeDialog::Cancel() {
  Press(IDCANCEL);
}

std::string QualityDialog::Quality() const {
  return ControlText(window_, kQuality);
}
std::string QualityDialog::InputSize() const {
  return ControlText(window_, kInputSize);
}
std::string QualityDialog::OutputSize() const {
  return ControlText(window_, kOutputSize);
}
std::string QualityDialog::Resolution() const {
  return ControlText(window_, kResolution);
}
std::string QualityDialog::NewName() const {
  return ControlText(window_, kNewName);
}

bool QualityDialog::SameForRestShown() const {
  return IsWindowVisible(GetDlgItem(window_, kSameForRest)) != 0;
}
bool QualityDialog::SameForRestChecked() const {
  return IsChecked(window_, kSameForRest);
}
void QualityDialog::CheckSameForRest() {
  if (!SendClick(window_, kSameForRest) || !SameForRestChecked())
    throw Unexpected("cannot check \"Same for the rest\"");
}

void QualityDialog::Press(int id) {
  if (!PostClick(window_, id))
    throw Unexpected("cannot click button " + std::to_string(id) + " of " + kQualityTitle);
  if (!WaitGone(window_))
    throw Unexpected(std::string(kQualityTitle) + " stays open: " + program_.Describe());
}

QualityDialog QualityDialog::Retry(const std::string& quality) {
  if (!SetControlText(window_, kQuality, quality))
    throw Unexpected("cannot type the quality");
  Press(IDOK);
  return program_.AwaitQuality();
}

std::string QualityDialog::AtMost() const {
  return ControlText(window_, kAtMostKb);
}

QualityDialog QualityDialog::RetryWithin(const std::string& quality, const std::string& atMostKb) {
  if (!SetControlText(window_, kAtMostKb, atMostKb))
    throw Unexpected("cannot type the limit");
  return Retry(quality);
}

void QualityDialog::Save() {
  Press(IDOK);
}
void QualityDialog::Cancel() {
  Press(IDCANCEL);
}

Program::Program(const std::string& arguments, const std::string& directory, DWORD_PTR affinity)
    : process_(Env("TBM_EXE"), arguments, directory, affinity) {
  if (!process_.Started()) {
    throw Unexpected("cannot start \"" + Env("TBM_EXE") +
                     "\": " + SystemText(process_.StartError()));
  }
}

std::string Program::Describe() {
  if (const auto code = process_.WaitExit(Millis{0})) {
    return "the program has ended with exit code " + std::to_string(*code);
  }
  std::string shown = "the program shows " + DescribeWindows(process_.Id());
  // A message says why the program went another way than expected.
  if (const HWND box = VisibleWindow(process_.Id(), kMessageTitle)) {
    shown += "; the message says \"" + ControlText(box, kMessageText) + "\"";
  }
  return shown;
}

HWND Program::Await(const std::string& title) {
  const auto deadline = std::chrono::steady_clock::now() + WindowTimeout();
  for (;;) {
    // A dialog is on screen, its OK or Save disabled, while it works.
    if (const HWND found = VisibleWindow(process_.Id(), title); found && TakesInput(found)) {
      // Every window that waits for the user can be found from the taskbar.
      if (title != kHostTitle && !HasTaskbarButton(found))
        throw Unexpected("\"" + title + "\" has no taskbar button");
      return found;
    }
    if (title != kMessageTitle && VisibleWindow(process_.Id(), kMessageTitle)) {
      throw Unexpected("waiting for \"" + title + "\", but " + Describe());
    }
    if (!process_.Running() || std::chrono::steady_clock::now() >= deadline) {
      throw Unexpected("no \"" + title + "\" window: " + Describe());
    }
    std::this_thread::sleep_for(kPoll);
  }
}

SizeDialog Program::AwaitSize() {
  return SizeDialog(*this, Await(kSizeTitle));
}
QualityDialog Program::AwaitQuality() {
  return QualityDialog(*this, Await(kQualityTitle));
}

void Program::Choose(const std::string& folder, const std::vector<std::string>& names) {
  const HWND dialog = Await(kOpenTitle);
  // Typing a folder and pressing Open browses there and keeps the dialog
  // open; sent, so that the names below are typed in the new folder.
  if (!SetControlText(dialog, kFileNameBox, folder) || !SendClick(dialog, IDOK)) {
    throw Unexpected("cannot browse to " + folder);
  }
  std::string typed;
  if (names.size() == 1) {
    typed = names[0];
  } else {
    for (const std::string& name : names)
      typed += (typed.empty() ? "\"" : " \"") + name + "\"";
  }
  if (!SetControlText(dialog, kFileNameBox, typed) || !PostClick(dialog, IDOK)) {
    throw Unexpected("cannot type the file names");
  }
  if (!WaitGone(dialog))
    throw Unexpected("the open dialog stays open: " + Describe());
}

void Program::CancelChoice() {
  const HWND dialog = Await(kOpenTitle);
  if (!PostClick(dialog, IDCANCEL) || !WaitGone(dialog)) {
    throw Unexpected("cannot cancel the open dialog: " + Describe());
  }
}

std::string Program::DismissMessage() {
  const HWND box = Await(kMessageTitle);
  const std::string text = ControlText(box, kMessageText);
  const HWND owner = Owner(box);
  if (!owner || WindowText(owner) != kHostTitle) {
    throw Unexpected("the message \"" + text + "\" is not owned by the host window");
  }
  if (ControlText(box, IDOK) != "OK" || GetDlgItem(box, IDCANCEL)) {
    throw Unexpected("the message \"" + text + "\" does not have a single OK button");
  }
  if (!PostClick(box, IDOK) || !WaitGone(box)) {
    throw Unexpected("the message \"" + text + "\" does not go: " + Describe());
  }
  return text;
}

void Program::CloseHostWindow() {
  const HWND host = Await(kHostTitle);
  // Created empty; the system raises a captioned window to its smallest
  // tracking size (Wine: 116 by 27).
  RECT rect{};
  GetWindowRect(host, &rect);
  if (rect.left != 0 || rect.top != 0 || rect.right > GetSystemMetrics(SM_CXMINTRACK) ||
      rect.bottom > GetSystemMetrics(SM_CYMINTRACK)) {
    throw Unexpected("the host window is at " + std::to_string(rect.left) + "," +
                     std::to_string(rect.top) + " to " + std::to_string(rect.right) + "," +
                     std::to_string(rect.bottom) + ", not as small as can be at 0,0");
  }
  // Visible, the program must wait for the user; a program that ends on
  // its own here would take the window away before anyone saw it.
  if (process_.WaitExit(Millis{300})) {
    throw Unexpected("the program ended with the host window shown");
  }
  if (!PostClose(host))
    throw Unexpected("cannot close the host window");
}

DWORD Program::ExitCode() {
  const auto deadline = std::chrono::steady_clock::now() + ExitTimeout();
  for (;;) {
    if (const auto code = process_.WaitExit(Millis{0}))
      return *code;
    // The host window may flash up on the way out, so only a message fails
    // at once.
    if (VisibleWindow(process_.Id(), kMessageTitle)) {
      throw Unexpected("waiting for the program to end, but " + Describe());
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw Unexpected("the program does not end: " + Describe());
    }
    std::this_thread::sleep_for(kPoll);
  }
}

}  // namespace e2e
