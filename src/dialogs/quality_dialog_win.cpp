#include <windows.h>

#include <array>
#include <string>

#include "dialogs/dialogs_win.h"
#include "dialogs/long_work_win.h"
#include "dialogs/quality_dialog.h"
#include "resources/resource.h"
#include "shell/platform_win.h"
#include "shell/taskbar_win.h"

namespace {

// Posted by WM_INITDIALOG: the encoding runs once the dialog is on screen.
constexpr UINT kEncode = WM_APP;

// The opening's encoding, or its search within the limit.
void Encode(HWND dialog, DialogSubject& subject) {
  ShowWindow(dialog, SW_SHOWNORMAL);
  SetForegroundWindow(dialog);
  UpdateWindow(dialog);
  {
    LongWork work(dialog);
    // Only now, with every control but Cancel disabled, is the dialog
    // itself enabled: nothing can be saved before the size is shown.
    EnableWindow(dialog, TRUE);
    EncodeForDialog(subject.photo, subject.choices, &work);
  }
  PhotoWork& photo = subject.photo;
  if (photo.encodeStatus == CODEC_CANCELLED) {
    EndDialog(dialog, QUALITY_SKIP);
    return;
  }
  if (photo.limitMissed) {
    // Like the program's other messages: owned by the host window.
    ShowMessage(GetWindow(dialog, GW_OWNER), LimitMissedText(*photo.shownLimit).c_str());
  }
  const QualityTexts texts = QualityDialogTexts(photo, subject.choices);
  SetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), texts.quality.c_str());
  SetWindowTextA(GetDlgItem(dialog, IDC_OUTPUT_SIZE), texts.outputSize.c_str());
  SetFocus(GetDlgItem(dialog, IDC_QUALITY));
}

// A field's text, at most its first 9 characters counting.
std::array<char, 10> FieldText(HWND dialog, int id) {
  std::array<char, 10> text{};
  GetWindowTextA(GetDlgItem(dialog, id), text.data(), static_cast<int>(text.size()));
  return text;
}

}  // namespace

INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      ShowOnTaskbar(dialog);
      const DialogSubject& subject = *reinterpret_cast<DialogSubject*>(lParam);
      const QualityTexts texts = QualityDialogTexts(subject.photo, subject.choices);
      SetWindowTextA(GetDlgItem(dialog, IDC_RESOLUTION), texts.resolution.c_str());
      // The quality typed; with a limit, the one found replaces it.
      SetWindowTextA(GetDlgItem(dialog, IDC_QUALITY),
                     std::to_string(subject.choices.quality).c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_INPUT_SIZE), texts.inputSize.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_AT_MOST_KB), texts.atMost.c_str());
      SendDlgItemMessageA(dialog, IDC_AT_MOST_KB, EM_SETLIMITTEXT, 9, 0);
      SetWindowTextA(GetDlgItem(dialog, IDC_NEW_NAME), subject.photo.names.DisplayName.data());
      // Offered only when another photo follows; kept over the retries of one.
      ShowWindow(GetDlgItem(dialog, IDC_SAME_FOR_REST),
                 subject.photo.morePhotosFollow ? SW_SHOW : SW_HIDE);
      CheckDlgButton(dialog, IDC_SAME_FOR_REST,
                     subject.choices.sameForRest ? BST_CHECKED : BST_UNCHECKED);
      // Disabled until the size is shown, so that nothing is saved before.
      EnableWindow(dialog, FALSE);
      PostMessageA(dialog, kEncode, 0, 0);
      SetFocus(GetDlgItem(dialog, IDC_QUALITY));
      return 0;  // the focus stays on the quality field
    }
    case kEncode:
      Encode(dialog, *SubjectOf(dialog));
      return 1;
    case WM_COMMAND: {
      DialogSubject* subject = SubjectOf(dialog);
      if (LongWork::Intercept(wParam) || subject == nullptr)
        return 0;
      switch (LOWORD(wParam)) {
        case IDOK: {
          const bool sameForRest = IsDlgButtonChecked(dialog, IDC_SAME_FOR_REST) == BST_CHECKED;
          EndDialog(dialog, DecideQuality(subject->choices, subject->photo,
                                          FieldText(dialog, IDC_QUALITY).data(),
                                          FieldText(dialog, IDC_AT_MOST_KB).data(), sameForRest));
          return 1;
        }
        case IDCANCEL:
          EndDialog(dialog, QUALITY_SKIP);
          return QUALITY_SKIP;
      }
      return 0;
    }
  }
  return 0;
}
