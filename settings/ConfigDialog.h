// ConfigurationDlg's two faces: the about box and the modal settings dialog (template 101).
#pragma once

#include <windows.h>

// The dialog's private message, sent to itself: make the colour in wParam current (lParam 0).
constexpr UINT SelectColorMessage = WM_USER + 1;

// 0 when the about box was shown, 8 when it could not be.
int ShowAboutBox(HWND parent);

// Runs the settings dialog of `instance` until OK or Cancel; 8 when it could not be created
// or ended with -1 (the settings key could not be opened for writing), otherwise 0.
int RunConfigurationDialog(HINSTANCE instance, HWND parent);

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
