// The settings key under HKEY_CURRENT_USER: opening, typed reads and writes, and the
// decoder's view of it (alpha mode and background colour).
#include "settings/SettingsStore.h"

#include <algorithm>
#include <cstring>

RegistryKey RegistryKey::OpenForRead(const wchar_t* subKey) {
    RegistryKey holder;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, KEY_READ, holder.key_.put()) != ERROR_SUCCESS)
        holder.key_.release();  // a failed call may leave garbage in the slot
    return holder;
}

RegistryKey RegistryKey::OpenForWrite(const wchar_t* subKey) {
    RegistryKey holder;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, holder.key_.put(), nullptr) != ERROR_SUCCESS)
        holder.key_.release();
    return holder;
}

bool RegistryKey::ReadDword(const wchar_t* name, uint32_t& value) const {
    if (!key_) return false;
    DWORD type = 0;
    DWORD stored = 0;
    DWORD size = sizeof stored;
    if (RegQueryValueExW(key_.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) !=
        ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof stored) return false;
    value = stored;
    return true;
}

bool RegistryKey::ReadBinary(const wchar_t* name, std::vector<uint8_t>& bytes) const {
    if (!key_) return false;
    DWORD length = 0;
    if (RegQueryValueExW(key_.get(), name, nullptr, nullptr, nullptr, &length) != ERROR_SUCCESS)
        return false;
    // Some slack, so that a value that grew between the two queries still fits.
    std::vector<uint8_t> buffer(static_cast<size_t>(length) + 4, 0);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (RegQueryValueExW(key_.get(), name, nullptr, nullptr, buffer.data(), &size) != ERROR_SUCCESS)
        return false;
    buffer.resize(std::min<size_t>(size, buffer.size()));
    bytes = std::move(buffer);
    return true;
}

bool RegistryKey::WriteDword(const wchar_t* name, uint32_t value) const {
    if (!key_) return false;
    const DWORD stored = value;
    return RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                          sizeof stored) == ERROR_SUCCESS;
}

bool RegistryKey::WriteBinary(const wchar_t* name, const void* bytes, size_t length) const {
    if (!key_ || length > MAXDWORD) return false;
    return RegSetValueExW(key_.get(), name, 0, REG_BINARY, static_cast<const BYTE*>(bytes),
                          static_cast<DWORD>(length)) == ERROR_SUCCESS;
}

size_t FillColorList(const std::vector<uint8_t>& bytes, ColorRef* colors, size_t capacity) {
    const size_t count = std::min(bytes.size() / sizeof(ColorRef), capacity);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = bytes.data() + i * sizeof(ColorRef);
        colors[i] = ColorRef{p[0]} | ColorRef{p[1]} << 8 | ColorRef{p[2]} << 16 | ColorRef{p[3]} << 24;
    }
    return count;
}

uint32_t ReadAlphaSettings(uint8_t background[3]) {
    const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
    uint32_t mode = kAlphaComposite;
    if (!key.ReadDword(L"Alpha", mode)) mode = kAlphaComposite;
    if (mode != kAlphaComposite) return mode;
    ColorRef color = 0xFFFFFF;
    if (!key.ReadDword(L"Color", color)) color = 0xFFFFFF;
    background[0] = static_cast<uint8_t>(color >> 16);  // blue
    background[1] = static_cast<uint8_t>(color >> 8);   // green
    background[2] = static_cast<uint8_t>(color);        // red
    return kAlphaComposite;
}
