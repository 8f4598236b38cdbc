// The plug-in's information texts and their bounded copy into the host's buffer.
#pragma once

#include <cstddef>

// The deliverable's own file name: "Vellaro.spi" (32-bit) or "Vellaro.sph" (64-bit).
extern const wchar_t kPluginFileName[];
// One line naming the plug-in, its version and its author (46 characters).
extern const wchar_t kAboutText[];

// The text for `infoNo`, or null when the index holds none.
const wchar_t* PluginInfoText(int infoNo);

// Copies at most capacity - 1 characters (stopping at n or at a NUL) and terminates.
// A negative capacity writes nothing. Returns the number of characters copied.
template <class Char>
int BoundedCopy(Char* destination, int capacity, const Char* source, size_t n) {
    if (capacity < 0) return 0;
    size_t copied = 0;
    const size_t limit = capacity > 0 ? static_cast<size_t>(capacity) - 1 : 0;
    while (copied < limit && copied < n && source[copied] != Char{}) {
        destination[copied] = source[copied];
        ++copied;
    }
    destination[copied] = Char{};
    return static_cast<int>(copied);
}

int PluginInfoWide(int infoNo, wchar_t* buffer, int bufferLength);
// ANSI code page version; throws std::bad_alloc only.
int PluginInfoAnsi(int infoNo, char* buffer, int bufferLength);
