// The settings store against the real (Wine) registry: typed reads with their defaults,
// the decoder's alpha settings, the colour lists, and the one key both deliverables share.
#include "settings/SettingsStore.h"
#include "tests/support/SettingsRegistry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kMarker = 0xA5;

// Colours 0x00010203, 0x00040506 ... as bytes, least significant first; `length` bytes.
std::vector<uint8_t> CountingColorBytes(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = uint8_t(i + 1);
    return bytes;
}

ColorRef CountingColor(size_t slot) {
    const uint8_t b = uint8_t(slot * 4 + 1);
    return ColorRef{b} | ColorRef{uint8_t(b + 1)} << 8 | ColorRef{uint8_t(b + 2)} << 16 |
           ColorRef{uint8_t(b + 3)} << 24;
}

// Every test starts and ends without the settings key (either architecture may have left one).
class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DeleteSettingsKey()); }
    void TearDown() override { DeleteSettingsKey(); }

    static void SetRaw(const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes, REGSAM view = 0) {
        const LSTATUS status = SetSettingsValue(name, type, bytes, view);
        ASSERT_EQ(status, ERROR_SUCCESS) << Hex(status);
    }
};

// --- ReadAlphaSettings ---

TEST_F(SettingsStoreTest, KeyAbsentCompositesOverWhite) {
    uint8_t background[3] = {kMarker, kMarker, kMarker};
    EXPECT_EQ(ReadAlphaSettings(background), 1u);
    EXPECT_EQ(background[0], 255);
    EXPECT_EQ(background[1], 255);
    EXPECT_EQ(background[2], 255);
    EXPECT_FALSE(SettingsKeyExists()) << "reading must not create the key";
}

struct StoredValue {
    const wchar_t* name;
    DWORD type;
    std::vector<uint8_t> bytes;
};

struct AlphaCase {
    const char* what;
    std::vector<StoredValue> stored;
    uint32_t mode;
    std::array<uint8_t, 3> background;  // blue, green, red as read back (kMarker when untouched)
};

std::vector<AlphaCase> AlphaCases() {
    const std::vector<uint8_t> zero = DwordBytes(0);
    const std::vector<uint8_t> color = DwordBytes(0x00332211);  // red 11, green 22, blue 33
    return {
        {"mode 0 removes alpha and leaves the background alone",
         {{L"Alpha", REG_DWORD, zero}, {L"Color", REG_DWORD, color}}, 0, {kMarker, kMarker, kMarker}},
        {"mode 2 is handed back as it is", {{L"Alpha", REG_DWORD, DwordBytes(2)}, {L"Color", REG_DWORD, color}},
         2, {kMarker, kMarker, kMarker}},
        {"mode 1 composites over Color, blue first",
         {{L"Alpha", REG_DWORD, DwordBytes(1)}, {L"Color", REG_DWORD, color}}, 1, {0x33, 0x22, 0x11}},
        {"Alpha missing composites over Color", {{L"Color", REG_DWORD, color}}, 1, {0x33, 0x22, 0x11}},
        {"top byte of Color has no effect", {{L"Color", REG_DWORD, DwordBytes(0xAB332211)}}, 1,
         {0x33, 0x22, 0x11}},
        {"Color black", {{L"Color", REG_DWORD, zero}}, 1, {0, 0, 0}},
        {"Alpha as a string is missing",
         {{L"Alpha", REG_SZ, {'0', 0, 0, 0}}, {L"Color", REG_DWORD, color}}, 1, {0x33, 0x22, 0x11}},
        {"Alpha as a byte block is missing", {{L"Alpha", REG_BINARY, zero}, {L"Color", REG_DWORD, color}}, 1,
         {0x33, 0x22, 0x11}},
        {"Alpha as an 8-byte number is missing",
         {{L"Alpha", REG_QWORD, {0, 0, 0, 0, 0, 0, 0, 0}}, {L"Color", REG_DWORD, color}}, 1,
         {0x33, 0x22, 0x11}},
        {"Alpha as a REG_DWORD of 2 bytes is missing",
         {{L"Alpha", REG_DWORD, {0, 0}}, {L"Color", REG_DWORD, color}}, 1, {0x33, 0x22, 0x11}},
        {"Alpha as a REG_DWORD of 8 bytes is missing",
         {{L"Alpha", REG_DWORD, {0, 0, 0, 0, 0, 0, 0, 0}}, {L"Color", REG_DWORD, color}}, 1,
         {0x33, 0x22, 0x11}},
        {"Color as 4-byte binary is missing: white", {{L"Color", REG_BINARY, zero}}, 1, {255, 255, 255}},
        {"Color as a REG_DWORD of 3 bytes is missing: white", {{L"Color", REG_DWORD, {0, 0, 0}}}, 1,
         {255, 255, 255}},
        {"Alpha 0 as the only value", {{L"Alpha", REG_DWORD, zero}}, 0, {kMarker, kMarker, kMarker}},
    };
}

TEST_F(SettingsStoreTest, ReadAlphaSettingsFromStoredValues) {
    for (const AlphaCase& c : AlphaCases()) {
        SCOPED_TRACE(c.what);
        DeleteSettingsKey();
        for (const StoredValue& v : c.stored) SetRaw(v.name, v.type, v.bytes);
        uint8_t background[3] = {kMarker, kMarker, kMarker};
        EXPECT_EQ(ReadAlphaSettings(background), c.mode);
        EXPECT_EQ(background[0], c.background[0]);
        EXPECT_EQ(background[1], c.background[1]);
        EXPECT_EQ(background[2], c.background[2]);
    }
}

// --- RegistryKey ---

TEST_F(SettingsStoreTest, OpenForReadOfAnAbsentKeyIsEmptyAndEveryReadFails) {
    const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
    EXPECT_FALSE(key);
    uint32_t value = 0xA5A5A5A5;
    std::vector<uint8_t> bytes(3, kMarker);
    EXPECT_FALSE(key.ReadDword(L"Alpha", value));
    EXPECT_FALSE(key.ReadBinary(L"ColorHistory", bytes));
    EXPECT_FALSE(key.WriteDword(L"Alpha", 0));
    EXPECT_EQ(value, 0xA5A5A5A5u);
    EXPECT_EQ(bytes, std::vector<uint8_t>(3, kMarker));
}

TEST_F(SettingsStoreTest, OpenForWriteCreatesTheKeyAndWritesTypedValues) {
    {
        const RegistryKey key = RegistryKey::OpenForWrite(kSettingsKeyPath);
        ASSERT_TRUE(key);
        EXPECT_TRUE(key.WriteDword(L"Alpha", 0x01020304));
        const std::vector<uint8_t> block = CountingColorBytes(32);
        EXPECT_TRUE(key.WriteBinary(L"ColorHistory", block.data(), block.size()));
    }
    DWORD type = 0;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(GetSettingsValue(L"Alpha", type, bytes));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(bytes, DwordBytes(0x01020304));
    ASSERT_TRUE(GetSettingsValue(L"ColorHistory", type, bytes));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(bytes, CountingColorBytes(32));

    const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
    uint32_t value = 0;
    ASSERT_TRUE(key.ReadDword(L"Alpha", value));
    EXPECT_EQ(value, 0x01020304u);
}

TEST_F(SettingsStoreTest, ReadDwordLeavesTheValueAloneWhenItFails) {
    SetRaw(L"Wrong", REG_BINARY, DwordBytes(7));
    const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
    ASSERT_TRUE(key);
    uint32_t value = 0xA5A5A5A5;
    EXPECT_FALSE(key.ReadDword(L"Wrong", value));
    EXPECT_FALSE(key.ReadDword(L"Missing", value));
    EXPECT_EQ(value, 0xA5A5A5A5u);
}

TEST_F(SettingsStoreTest, ReadBinaryTakesAnyTypeAndTheExactLength) {
    SetRaw(L"Empty", REG_BINARY, {});
    SetRaw(L"Text", REG_SZ, {'A', 0, 'B', 0, 0, 0});
    SetRaw(L"Number", REG_DWORD, DwordBytes(0x11223344));
    SetRaw(L"Block", REG_BINARY, CountingColorBytes(257));
    const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
    ASSERT_TRUE(key);
    std::vector<uint8_t> bytes(5, kMarker);
    ASSERT_TRUE(key.ReadBinary(L"Empty", bytes));
    EXPECT_TRUE(bytes.empty());
    ASSERT_TRUE(key.ReadBinary(L"Text", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{'A', 0, 'B', 0, 0, 0}));
    ASSERT_TRUE(key.ReadBinary(L"Number", bytes));
    EXPECT_EQ(bytes, DwordBytes(0x11223344));
    ASSERT_TRUE(key.ReadBinary(L"Block", bytes));
    EXPECT_EQ(bytes, CountingColorBytes(257));
    bytes.assign(5, kMarker);
    EXPECT_FALSE(key.ReadBinary(L"Missing", bytes));
    EXPECT_EQ(bytes, std::vector<uint8_t>(5, kMarker));
}

// --- Colour lists ---

// A list value of `length` bytes fills min(length / 4, slots) colours; the rest keep defaults.
TEST_F(SettingsStoreTest, ColorListsOfEveryLength) {
    const PluginSettings defaults;
    for (const size_t length : {size_t{0}, size_t{12}, size_t{30}, size_t{40}, size_t{64}, size_t{70}}) {
        SCOPED_TRACE("length " + std::to_string(length));
        DeleteSettingsKey();
        SetRaw(L"ColorHistory", REG_BINARY, CountingColorBytes(length));
        SetRaw(L"CustomColors", REG_BINARY, CountingColorBytes(length));
        const RegistryKey key = RegistryKey::OpenForRead(kSettingsKeyPath);
        PluginSettings settings;
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(key.ReadBinary(L"ColorHistory", bytes));
        EXPECT_EQ(FillColorList(bytes, settings.colorHistory), std::min(length / 4, size_t{8}));
        ASSERT_TRUE(key.ReadBinary(L"CustomColors", bytes));
        EXPECT_EQ(FillColorList(bytes, settings.customColors), std::min(length / 4, size_t{16}));
        for (size_t slot = 0; slot < 8; ++slot)
            EXPECT_EQ(settings.colorHistory[slot],
                      slot < length / 4 ? CountingColor(slot) : defaults.colorHistory[slot])
                << "history slot " << slot + 1;
        for (size_t slot = 0; slot < 16; ++slot)
            EXPECT_EQ(settings.customColors[slot], slot < length / 4 ? CountingColor(slot) : 0xFFFFFFu)
                << "custom slot " << slot + 1;
    }
}

TEST(PluginSettingsDefaults, MatchTheDocumentedValues) {
    const PluginSettings settings;
    EXPECT_EQ(settings.alphaMode, 1u);
    EXPECT_EQ(settings.backgroundColor, 0xFFFFFFu);
    EXPECT_EQ(settings.colorHistory, (std::array<ColorRef, 8>{0x808080, 0x0000FF, 0x00FFFF, 0x00FF00,
                                                                0xFFFF00, 0xFF0000, 0xFF00FF, 0x000000}));
    for (ColorRef c : settings.customColors) EXPECT_EQ(c, 0xFFFFFFu);
}

// --- One key for both deliverables ---

TEST(SettingsKeyPath, IsTheSpiKeyInBothBuilds) {
    const std::wstring path = kSettingsKeyPath;
    EXPECT_EQ(path, L"Software\\Tessalind\\Vellaro.spi");
}

// HKCU\Software is not split into 32- and 64-bit views, so a value that either build writes
// is seen by the other.
TEST_F(SettingsStoreTest, BothRegistryViewsShareTheKey) {
    for (const REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) {
        SCOPED_TRACE(view == KEY_WOW64_32KEY ? "32-bit view" : "64-bit view");
        DeleteSettingsKey();
        SetRaw(L"Color", REG_DWORD, DwordBytes(0x00CCBBAA), view);
        uint8_t background[3] = {kMarker, kMarker, kMarker};
        EXPECT_EQ(ReadAlphaSettings(background), 1u);
        EXPECT_EQ(background[0], 0xCC);
        EXPECT_EQ(background[1], 0xBB);
        EXPECT_EQ(background[2], 0xAA);
    }
}

}  // namespace
