// What the statically linked runtime keeps per load, given back at FreeLibrary. A viewer
// that loads and unloads its plug-ins again and again would otherwise lose, with every
// load, the C++ runtime's emergency exception buffer (tens of KiB) and the thread
// library's record of the unloading thread (an event, a thread handle) and its
// thread-local storage slot; after about a thousand loads no slot would be left and the
// thread library would abort the host.
#include "plugin/RuntimeRelease.h"

#include <pthread.h>

#include <array>

namespace __gnu_cxx {
// Frees the C++ runtime's emergency exception buffer (provided for leak checkers).
void __freeres() noexcept;
}  // namespace __gnu_cxx

// This image's thread-local storage directory, made by the MinGW-w64 start-up code.
extern "C" const IMAGE_TLS_DIRECTORY _tls_used;

namespace {

// Every slot a process can have: 64 plus 1024 expansion slots.
constexpr DWORD kTlsSlots = 1088;

// Runs this image's TLS callbacks as if the calling thread were ending: the thread library
// frees its record of the thread, closes its handles and clears the thread's value in its
// slot. No DLL_THREAD_DETACH comes for this thread once the library is gone.
void EndRuntimeDataOfThisThread(HINSTANCE instance) {
    auto* callback = reinterpret_cast<const PIMAGE_TLS_CALLBACK*>(_tls_used.AddressOfCallBacks);
    for (; callback && *callback; ++callback) (*callback)(instance, DLL_THREAD_DETACH, nullptr);
}

}  // namespace

void PrepareRuntimeForUnload() {
    // The thread library takes its slot and its record of a thread on first use, which may
    // come from any thread; asking for this thread's identity makes it happen here.
    pthread_self();
}

void ReleaseRuntimeForUnload(HINSTANCE instance) {
    const DWORD lastError = GetLastError();
    // The thread library never frees its slot and offers no way to learn it: it is the one
    // whose value for this thread the callbacks clear.
    static std::array<void*, kTlsSlots> before;
    for (DWORD slot = 0; slot < kTlsSlots; ++slot) before[slot] = TlsGetValue(slot);
    EndRuntimeDataOfThisThread(instance);
    for (DWORD slot = 0; slot < kTlsSlots; ++slot)
        if (before[slot] && !TlsGetValue(slot)) TlsFree(slot);
    __gnu_cxx::__freeres();
    // Probing empty slots sets the last error; the host's FreeLibrary caller keeps its own.
    SetLastError(lastError);
}
