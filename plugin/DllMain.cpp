// Library entry point: keeps the module handle for loading the library's own resources.
#include "plugin/Module.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) SetModuleInstance(instance);
    return TRUE;
}
