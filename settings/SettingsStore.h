// Per-user settings in the registry: alpha mode, background colour and the dialog's colour lists.
#pragma once

#include "plugin/Owners.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// The key both deliverables share (the 64-bit one too keeps the ".spi" name).
constexpr const wchar_t* kSettingsKeyPath = L"Software\\Tessalind\\Vellaro.spi";

// A colour number 0x00BBGGRR: red in the low byte.
using ColorRef = uint32_t;

// Alpha modes as stored in "Alpha".
constexpr uint32_t kAlphaRemove = 0;
constexpr uint32_t kAlphaComposite = 1;

// The content of the settings key, each field holding its default until a value is read.
struct PluginSettings {
    uint32_t alphaMode = kAlphaComposite;
    ColorRef backgroundColor = 0xFFFFFF;
    std::array<ColorRef, 8> colorHistory = {0x808080, 0x0000FF, 0x00FFFF, 0x00FF00,
                                            0xFFFF00, 0xFF0000, 0xFF00FF, 0x000000};
    std::array<ColorRef, 16> customColors = {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                             0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
                                             0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
};

// One open key under HKEY_CURRENT_USER, closed on every path; empty when opening failed.
// Reads on an empty holder fail; writes on it are not attempted.
class RegistryKey {
public:
    static RegistryKey OpenForRead(const wchar_t* subKey);
    // Creates missing keys on the path.
    static RegistryKey OpenForWrite(const wchar_t* subKey);

    explicit operator bool() const { return static_cast<bool>(key_); }

    // Succeeds only for a REG_DWORD of exactly 4 bytes.
    bool ReadDword(const wchar_t* name, uint32_t& value) const;
    // Any type; the bytes as stored.
    bool ReadBinary(const wchar_t* name, std::vector<uint8_t>& bytes) const;
    bool WriteDword(const wchar_t* name, uint32_t value) const;
    bool WriteBinary(const wchar_t* name, const void* bytes, size_t length) const;

private:
    UniqueHkey key_;
};

// Copies min(bytes.size() / 4, capacity) colours, 4 bytes each, least significant first,
// into colors[0] onward; the slots beyond keep their values. Returns the number copied.
size_t FillColorList(const std::vector<uint8_t>& bytes, ColorRef* colors, size_t capacity);

template <size_t N>
size_t FillColorList(const std::vector<uint8_t>& bytes, std::array<ColorRef, N>& colors) {
    return FillColorList(bytes, colors.data(), N);
}

// Reads "Alpha" and, for mode 1 only, "Color" into background[0..2] as blue, green, red.
// Returns the mode (1 when missing or unreadable); other modes leave background untouched.
uint32_t ReadAlphaSettings(uint8_t background[3]);
