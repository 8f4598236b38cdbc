// Gives back, when a host unloads the library, what the statically linked C++ runtime and
// thread library would otherwise keep until the process ends.
#pragma once

#include <windows.h>

// Called from DllMain on DLL_PROCESS_ATTACH: has the thread library take its slot now, on
// the loading thread, where the unloading usually happens too.
void PrepareRuntimeForUnload();

// Called from DllMain on DLL_PROCESS_DETACH caused by FreeLibrary (not at process exit).
void ReleaseRuntimeForUnload(HINSTANCE instance);
