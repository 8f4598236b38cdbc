// Direct access to the settings key for tests: deleting it, storing values of any type, and
// reading back what the plug-in wrote, bypassing the store under test.
#pragma once

#include "plugin/Owners.h"
#include "settings/SettingsStore.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

// Removes the settings key with everything in it; true when it is gone.
inline bool DeleteSettingsKey() {
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKeyPath);
    RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKeyPath);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

inline bool SettingsKeyExists() {
    UniqueHkey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Stores a value of any type (creating the key), in the given registry view; the status.
inline LSTATUS SetSettingsValue(const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes,
                                REGSAM view = 0) {
    UniqueHkey key;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_WRITE | view,
                                           nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.get(), name, 0, type, bytes.data(), DWORD(bytes.size()));
}

// Reads a value as stored: its type and bytes; false when it is missing.
inline bool GetSettingsValue(const wchar_t* name, DWORD& type, std::vector<uint8_t>& bytes) {
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    bytes.assign(1024, 0xA5);
    DWORD size = DWORD(bytes.size());
    if (RegQueryValueExW(key.get(), name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) return false;
    bytes.resize(size);
    return true;
}

inline std::vector<uint8_t> DwordBytes(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// Colours as the registry holds them: 4 bytes each, least significant first.
template <class Container>
std::vector<uint8_t> ColorBytes(const Container& colors) {
    std::vector<uint8_t> bytes;
    for (ColorRef c : colors) {
        const std::vector<uint8_t> one = DwordBytes(c);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

inline std::vector<uint8_t> ColorBytes(std::initializer_list<ColorRef> colors) {
    return ColorBytes<std::initializer_list<ColorRef>>(colors);
}
