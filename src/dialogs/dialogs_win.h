// The procedures of the "SIZE" and "QUALITY" dialogs. Each is given the photo
// in hand and the user's choices as its creation parameter.
#pragma once

#include <windows.h>

#include "batch/job_state.h"

struct DialogSubject {
  PhotoWork& photo;
  UserChoices& choices;
};

// The subject a dialog was created with; null before its WM_INITDIALOG.
inline DialogSubject* SubjectOf(HWND dialog) {
  return reinterpret_cast<DialogSubject*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

INT_PTR CALLBACK SizeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
