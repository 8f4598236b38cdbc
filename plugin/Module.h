// The library's own module handle, recorded when the library is attached to a process.
#pragma once

#include <windows.h>

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);
