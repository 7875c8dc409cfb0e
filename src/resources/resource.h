// Resource identifiers shared by the resource script and the procedures.
//
//    1 -    2  the system's IDOK and IDCANCEL
// 1000 - 1099  dialog controls
//   -1         labels (no identifier; 65535 in the templates)
//
// The dialog templates are named "SIZE" and "QUALITY".
#pragma once

// "Output Size": the three resolutions. CheckRadioButton runs over
// IDC_FULL .. IDC_QUARTER, which spans 1000 to 1005.
#define IDC_FULL 1000
#define IDC_HALF 1001
#define IDC_QUARTER 1005

// "Output Quality".
#define IDC_QUALITY 1002
#define IDC_INPUT_SIZE 1003
#define IDC_OUTPUT_SIZE 1004
#define IDC_RESOLUTION 1007
#define IDC_NEW_NAME 1008

#define IDC_STATIC -1
