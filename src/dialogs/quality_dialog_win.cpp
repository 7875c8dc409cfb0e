#include <windows.h>

#include <array>

#include "batch/program_state.h"
#include "dialogs/dialogs_win.h"
#include "dialogs/long_work_win.h"
#include "dialogs/quality_dialog.h"
#include "resources/resource.h"

namespace {

// Posted by WM_INITDIALOG: the encoding runs once the dialog is on screen.
constexpr UINT kEncode = WM_APP;

void Encode(HWND dialog) {
  ShowWindow(dialog, SW_SHOWNORMAL);
  UpdateWindow(dialog);
  Job.restoreCursor = SetCursor(static_cast<HCURSOR>(Job.waitCursor));
  {
    LongWork work(dialog);
    EncodeAtQuality(Job, Codec, &work);
  }
  SetCursor(static_cast<HCURSOR>(Job.restoreCursor));
  SetWindowTextA(GetDlgItem(dialog, IDC_OUTPUT_SIZE), QualityDialogTexts(Job).outputSize.c_str());
  SetFocus(GetDlgItem(dialog, IDC_QUALITY));
}

}  // namespace

INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      const QualityTexts texts = QualityDialogTexts(Job);
      SetWindowTextA(GetDlgItem(dialog, IDC_RESOLUTION), texts.resolution.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), texts.quality.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_INPUT_SIZE), texts.inputSize.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_NEW_NAME), Job.DisplayName.data());
      // Offered only when another photo follows; kept over the retries of one.
      ShowWindow(GetDlgItem(dialog, IDC_SAME_FOR_REST), Job.morePhotosFollow ? SW_SHOW : SW_HIDE);
      CheckDlgButton(dialog, IDC_SAME_FOR_REST, Job.sameForRest ? BST_CHECKED : BST_UNCHECKED);
      // Disabled until the size is shown, so that nothing is saved before.
      EnableWindow(dialog, FALSE);
      PostMessageA(dialog, kEncode, 0, 0);
      SetFocus(GetDlgItem(dialog, IDC_QUALITY));
      return 0;  // the focus stays on the quality field
    }
    case kEncode:
      Encode(dialog);
      return 1;
    case WM_COMMAND:
      if (LongWork::Busy())
        return 0;
      switch (LOWORD(wParam)) {
        case IDOK: {
          std::array<char, 10> typed{};  // at most 9 characters count
          GetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), typed.data(),
                         static_cast<int>(typed.size()));
          const bool sameForRest = IsDlgButtonChecked(dialog, IDC_SAME_FOR_REST) == BST_CHECKED;
          EndDialog(dialog, DecideQuality(Job, typed.data(), sameForRest));
          return 1;
        }
        case IDCANCEL:
          EndDialog(dialog, QUALITY_SKIP);
          return QUALITY_SKIP;
      }
      return 0;
  }
  return 0;
}
