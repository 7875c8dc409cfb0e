// Resource identifiers shared by the resource script and the procedures.
//
//    1         the application manifest and the version information (each
//              the only one of its type, under the id Windows looks for)
//    1 -    2  the system's IDOK and IDCANCEL
//  100 -  199  icons
// 1000 - 1099  dialog controls
//   -1         labels (no identifier; 65535 in the templates)
//
// The dialog templates are named "SIZE", "QUALITY" and "BATCH".
#pragma once

// The program's icon, as Explorer shows the exe: the lowest icon id is the
// file's icon. The host window keeps the system's stock icon.
#define IDI_TILLERBROOKMINT 100

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
#define IDC_SAME_FOR_REST 1009
// "at most N KB": a limit on the copy's size.
#define IDC_AT_MOST_KB 1014

// "Saving copies": the photos made without dialogs after "Same for the rest".
#define IDC_BATCH_PHOTO 1010
#define IDC_BATCH_NAME 1011
#define IDC_BATCH_BAR 1012

// The progress bar a dialog shows between its buttons while its own work
// takes long; made at run time.
#define IDC_WORK_BAR 1013

#define IDC_STATIC -1
