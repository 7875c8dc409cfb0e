#include <windows.h>

#include <array>

#include "dialogs/dialogs_win.h"
#include "dialogs/long_work_win.h"
#include "dialogs/quality_dialog.h"
#include "resources/resource.h"

namespace {

// Posted by WM_INITDIALOG: the encoding runs once the dialog is on screen.
constexpr UINT kEncode = WM_APP;

void Encode(HWND dialog, DialogSubject& subject) {
  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  {
    LongWork work(dialog);
    EncodeAtQuality(subject.photo, subject.choices.quality, &work);
  }
  const QualityTexts texts = QualityDialogTexts(subject.photo, subject.choices);
  SetWindowTextA(GetDlgItem(dialog, IDC_OUTPUT_SIZE), texts.outputSize.c_str());
  SetFocus(GetDlgItem(dialog, IDC_QUALITY));
}

}  // namespace

INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      const DialogSubject& subject = *reinterpret_cast<DialogSubject*>(lParam);
      const QualityTexts texts = QualityDialogTexts(subject.photo, subject.choices);
      SetWindowTextA(GetDlgItem(dialog, IDC_RESOLUTION), texts.resolution.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), texts.quality.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_INPUT_SIZE), texts.inputSize.c_str());
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
      if (subject == nullptr || LongWork::Busy())
        return 0;
      switch (LOWORD(wParam)) {
        case IDOK: {
          std::array<char, 10> typed{};  // at most 9 characters count
          GetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), typed.data(),
                         static_cast<int>(typed.size()));
          const bool sameForRest = IsDlgButtonChecked(dialog, IDC_SAME_FOR_REST) == BST_CHECKED;
          EndDialog(dialog,
                    DecideQuality(subject->choices, subject->photo, typed.data(), sameForRest));
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
