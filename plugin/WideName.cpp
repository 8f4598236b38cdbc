// Conversion of the host's ANSI file names to UTF-16.
#include "plugin/WideName.h"

#include <windows.h>

#include <climits>
#include <cstring>

std::wstring ToWideName(const char* name) {
    if (!name || name[0] == '\0') return {};
    const size_t byteCount = std::strlen(name);
    if (byteCount > INT_MAX) return {};
    const int n = static_cast<int>(byteCount);
    const int m = MultiByteToWideChar(CP_ACP, 0, name, n, nullptr, 0);
    if (m <= 0) return {};
    std::wstring wide(static_cast<size_t>(m) + 4, L'\0');
    const int k = MultiByteToWideChar(CP_ACP, 0, name, n, wide.data(), m + 4);
    if (k <= 0) return {};
    wide.resize(static_cast<size_t>(k));
    return wide;
}
