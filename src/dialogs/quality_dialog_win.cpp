#include <windows.h>

#include <array>

#include "batch/program_state.h"
#include "dialogs/dialogs_win.h"
#include "dialogs/quality_dialog.h"
#include "resources/resource.h"

INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      Job.restoreCursor = SetCursor(static_cast<HCURSOR>(Job.waitCursor));
      EncodeAtQuality(Job, Codec);
      SetCursor(static_cast<HCURSOR>(Job.restoreCursor));
      const QualityTexts texts = QualityDialogTexts(Job);
      SetWindowTextA(GetDlgItem(dialog, IDC_RESOLUTION), texts.resolution.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), texts.quality.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_INPUT_SIZE), texts.inputSize.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_OUTPUT_SIZE), texts.outputSize.c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_NEW_NAME), Job.DisplayName.data());
      SetFocus(GetDlgItem(dialog, IDC_QUALITY));
      return 0;  // the focus stays on the quality field
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          std::array<char, 10> typed{};  // at most 9 characters count
          GetWindowTextA(GetDlgItem(dialog, IDC_QUALITY), typed.data(),
                         static_cast<int>(typed.size()));
          EndDialog(dialog, DecideQuality(Job, typed.data()));
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
