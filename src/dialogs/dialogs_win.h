// The procedures of the "SIZE" and "QUALITY" dialogs. Both work on the
// program's Job and Codec and take no creation parameter.
#pragma once

#include <windows.h>

INT_PTR CALLBACK SizeDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK QualityDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
