#include <windows.h>

#include "batch/program_state.h"
#include "dialogs/dialogs_win.h"
#include "dialogs/long_work_win.h"
#include "dialogs/size_dialog.h"
#include "resources/resource.h"

namespace {

int ButtonOf(SizeChoice choice) {
  switch (choice) {
    case SIZE_HALF:
      return IDC_HALF;
    case SIZE_QUARTER:
      return IDC_QUARTER;
    case SIZE_FULL:
      break;
  }
  return IDC_FULL;
}

}  // namespace

INT_PTR CALLBACK SizeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      Job.waitCursor = LoadCursorA(nullptr, IDC_WAIT);
      if (!ReadImageSize(Job, Codec)) {
        // Nothing to offer for a photo whose headers do not read.
        EndDialog(dialog, SIZE_UNREADABLE);
        return 0;
      }
      const auto texts = SizeOptionTexts(Job.width, Job.height);
      SetWindowTextA(GetDlgItem(dialog, IDC_FULL), texts[0].c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_HALF), texts[1].c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_QUARTER), texts[2].c_str());
      CheckRadioButton(dialog, IDC_FULL, IDC_QUARTER, ButtonOf(Job.sizeChoice));
      return 0;
    }
    case WM_COMMAND:
      if (LongWork::Busy())
        return 0;
      switch (LOWORD(wParam)) {
        case IDC_FULL:
          Job.sizeChoice = SIZE_FULL;
          return 0;
        case IDC_HALF:
          Job.sizeChoice = SIZE_HALF;
          return 0;
        case IDC_QUARTER:
          Job.sizeChoice = SIZE_QUARTER;
          return 0;
        case IDCANCEL:
          EndDialog(dialog, SIZE_CANCELLED);
          return 0;
        case IDOK: {
          Job.restoreCursor = SetCursor(static_cast<HCURSOR>(Job.waitCursor));
          SizeResult result;
          {
            // The dialog stays on screen while the photo decodes.
            LongWork work(dialog);
            result = ConfirmSize(Job, Codec, &work);
          }
          SetCursor(static_cast<HCURSOR>(Job.restoreCursor));
          EndDialog(dialog, result);
          return 1;
        }
      }
      return 0;
  }
  return 0;
}
