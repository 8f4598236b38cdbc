// Saves a picture of the dialog that a plug-in shows, for documentation and visual checks.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Runs `show` on the calling thread. A second thread waits for the first dialog window the
// calling thread shows, saves a PNG picture of it to `pngPath`, then ends it as Cancel would.
// Returns what `show` returned; `saved` tells whether the picture was written.
int ShowAndCapture(const std::function<int()>& show, const std::wstring& pngPath, bool& saved);
