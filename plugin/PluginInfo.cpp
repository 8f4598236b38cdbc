// The plug-in's information texts: interface tag, about line, and one filter/name pair.
#include "plugin/PluginInfo.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#ifdef _WIN64
const wchar_t kPluginFileName[] = L"Vellaro.sph";
const wchar_t kAboutText[] = L"Vellaro.sph (PNG) v1.1.2  written by Tessalind";
#else
const wchar_t kPluginFileName[] = L"Vellaro.spi";
const wchar_t kAboutText[] = L"Vellaro.spi (PNG) v1.1.2  written by Tessalind";
#endif

namespace {
constexpr int kTableSize = 10;      // tag, about text, then four filter/name pairs
constexpr int kFormatPairsStart = 2;

// Only format pair 0 holds texts; pairs 1 to 3 are empty slots.
const wchar_t* FormatPairText(int pair, bool isName) {
    if (pair != 0) return nullptr;
    return isName ? L"PNG - Portable Network Graphics (*.png)" : L"*.PNG";
}
}  // namespace

const wchar_t* PluginInfoText(int infoNo) {
    if (infoNo < 0 || infoNo >= kTableSize) return nullptr;
    if (infoNo == 0) return L"00IN";
    if (infoNo == 1) return kAboutText;
    const int index = infoNo - kFormatPairsStart;
    return FormatPairText(index / 2, index % 2 == 1);
}

int PluginInfoWide(int infoNo, wchar_t* buffer, int bufferLength) {
    const wchar_t* text = PluginInfoText(infoNo);
    if (!buffer || bufferLength == 0) return 0;
    if (!text) { buffer[0] = L'\0'; return 0; }
    return BoundedCopy(buffer, bufferLength, text, std::wcslen(text));
}

int PluginInfoAnsi(int infoNo, char* buffer, int bufferLength) {
    const wchar_t* text = PluginInfoText(infoNo);
    if (!buffer || bufferLength == 0) return 0;
    const int n = text ? static_cast<int>(std::wcslen(text)) : 0;
    std::vector<char> converted;
    int k = 0;
    if (n > 0) {
        const int m = WideCharToMultiByte(CP_ACP, 0, text, n, nullptr, 0, nullptr, nullptr);
        if (m > 0) {
            converted.assign(static_cast<size_t>(m) + 4, '\0');
            k = WideCharToMultiByte(CP_ACP, 0, text, n, converted.data(),
                                    static_cast<int>(converted.size()), nullptr, nullptr);
        }
    }
    if (k <= 0) { buffer[0] = '\0'; return 0; }
    return BoundedCopy(buffer, bufferLength, converted.data(), static_cast<size_t>(k));
}
