// Library entry point: keeps the module handle for loading the library's own resources,
// and gives the runtime's per-load state back when a host unloads the library.
#include "plugin/Module.h"
#include "plugin/RuntimeRelease.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        SetModuleInstance(instance);
        PrepareRuntimeForUnload();
    }
    // A null `reserved` means FreeLibrary; at process exit nothing needs giving back.
    if (reason == DLL_PROCESS_DETACH && !reserved) ReleaseRuntimeForUnload(instance);
    return TRUE;
}
