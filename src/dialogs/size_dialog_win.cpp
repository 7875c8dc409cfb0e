#include <windows.h>

#include "dialogs/dialogs_win.h"
#include "dialogs/long_work_win.h"
#include "dialogs/size_dialog.h"
#include "resources/resource.h"
#include "shell/taskbar_win.h"

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

INT_PTR CALLBACK SizeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      ShowOnTaskbar(dialog);
      const DialogSubject& subject = *reinterpret_cast<DialogSubject*>(lParam);
      Conversion& conversion = subject.photo.conversion;
      if (!conversion.ReadHeader()) {
        // Nothing to offer for a photo whose headers do not read.
        EndDialog(dialog, SIZE_UNREADABLE);
        return 0;
      }
      const auto texts = SizeOptionTexts(conversion.InputWidth(), conversion.InputHeight());
      SetWindowTextA(GetDlgItem(dialog, IDC_FULL), texts[0].c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_HALF), texts[1].c_str());
      SetWindowTextA(GetDlgItem(dialog, IDC_QUARTER), texts[2].c_str());
      CheckRadioButton(dialog, IDC_FULL, IDC_QUARTER, ButtonOf(subject.choices.sizeChoice));
      // It has no owner: brought forward, it is found where the user is.
      SetForegroundWindow(dialog);
      return 0;
    }
    case WM_COMMAND: {
      DialogSubject* subject = SubjectOf(dialog);
      if (LongWork::Intercept(wParam) || subject == nullptr)
        return 0;
      switch (LOWORD(wParam)) {
        case IDC_FULL:
          subject->choices.sizeChoice = SIZE_FULL;
          return 0;
        case IDC_HALF:
          subject->choices.sizeChoice = SIZE_HALF;
          return 0;
        case IDC_QUARTER:
          subject->choices.sizeChoice = SIZE_QUARTER;
          return 0;
        case IDCANCEL:
          EndDialog(dialog, SIZE_CANCELLED);
          return 0;
        case IDOK: {
          SizeResult result;
          {
            // The dialog stays on screen while the photo decodes.
            LongWork work(dialog);
            result = ConfirmSize(subject->photo, subject->choices.sizeChoice, &work);
          }
          EndDialog(dialog, result);
          return 1;
        }
      }
      return 0;
    }
  }
  return 0;
}
