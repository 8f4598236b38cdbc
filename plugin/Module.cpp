// The library's own module handle.
#include "plugin/Module.h"

namespace {
// Written once at process attach, before any export can run; read-only afterwards.
HINSTANCE moduleInstance = nullptr;
}  // namespace

HINSTANCE ModuleInstance() { return moduleInstance ? moduleInstance : GetModuleHandleW(nullptr); }

void SetModuleInstance(HINSTANCE instance) { moduleInstance = instance; }
