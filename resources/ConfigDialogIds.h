// Ids of the settings dialog's template and controls, shared by the resource script and the code.
#pragma once

#define IDD_CONFIG 101

#define IDC_REMOVE_ALPHA 1002
#define IDC_COMPOSITE 1003
#define IDC_CHOOSE_COLOR 1004
// History swatches 1005 to 1012: slot 1 (most recent) to slot 8.
#define IDC_HISTORY_FIRST 1005
#define IDC_HISTORY_LAST 1012
#define IDC_CURRENT_COLOR 1016
#define IDC_USE_EXIF 1018
