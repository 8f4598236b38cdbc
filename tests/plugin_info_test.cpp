// GetPluginInfo and GetPluginInfoW: the texts and the bounded copy into the host's buffer.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

#ifdef _WIN64
const std::string kAbout = "Vellaro.sph (PNG) v1.1.2  written by Tessalind";
#else
const std::string kAbout = "Vellaro.spi (PNG) v1.1.2  written by Tessalind";
#endif

struct Case {
    int infoNo;
    int bufferLength;
    std::string expected;  // what the buffer holds before its terminator
};

class PluginInfoCopy : public testing::TestWithParam<Case> {};

TEST_P(PluginInfoCopy, AnsiAndWideGiveTheSameCharacters) {
    const Case c = GetParam();
    char ansi[128];
    wchar_t wide[128];
    std::memset(ansi, 'x', sizeof ansi);
    std::wmemset(wide, L'x', 128);
    EXPECT_EQ(Plugin().GetPluginInfo(c.infoNo, ansi, c.bufferLength), int(c.expected.size()));
    EXPECT_EQ(Plugin().GetPluginInfoW(c.infoNo, wide, c.bufferLength), int(c.expected.size()));
    EXPECT_EQ(std::string(ansi), c.expected);
    EXPECT_EQ(std::wstring(wide), std::wstring(c.expected.begin(), c.expected.end()));
    // Nothing is written past the terminator.
    EXPECT_EQ(ansi[c.expected.size() + 1], 'x');
    EXPECT_EQ(wide[c.expected.size() + 1], L'x');
}

INSTANTIATE_TEST_SUITE_P(
    Table, PluginInfoCopy,
    testing::Values(Case{0, 5, "00IN"}, Case{0, 4, "00I"}, Case{0, 1, ""}, Case{0, 100, "00IN"},
                    Case{1, 100, kAbout}, Case{1, 47, kAbout}, Case{1, 46, kAbout.substr(0, 45)},
                    Case{2, 100, "*.PNG"}, Case{3, 100, "PNG - Portable Network Graphics (*.png)"},
                    Case{3, 10, "PNG - Por"}, Case{4, 100, ""}, Case{5, 100, ""}, Case{9, 100, ""},
                    Case{10, 100, ""}, Case{100, 100, ""}, Case{-1, 100, ""}, Case{-1, -5, ""}));

TEST(PluginInfo, LengthsOfTheTexts) {
    wchar_t wide[128];
    EXPECT_EQ(Plugin().GetPluginInfoW(1, wide, 128), 46);
    EXPECT_EQ(Plugin().GetPluginInfoW(3, wide, 128), 39);
}

TEST(PluginInfo, NullBufferOrZeroLengthWritesNothing) {
    char ansi[8];
    wchar_t wide[8];
    std::memset(ansi, 'x', sizeof ansi);
    std::wmemset(wide, L'x', 8);
    for (int infoNo : {0, 1, 4, -1}) {
        EXPECT_EQ(Plugin().GetPluginInfo(infoNo, nullptr, 100), 0);
        EXPECT_EQ(Plugin().GetPluginInfoW(infoNo, nullptr, 100), 0);
        EXPECT_EQ(Plugin().GetPluginInfo(infoNo, ansi, 0), 0);
        EXPECT_EQ(Plugin().GetPluginInfoW(infoNo, wide, 0), 0);
    }
    EXPECT_EQ(ansi[0], 'x');
    EXPECT_EQ(wide[0], L'x');
}

TEST(PluginInfo, NegativeLengthWritesNothingWhenThereIsText) {
    char ansi[8];
    wchar_t wide[8];
    std::memset(ansi, 'x', sizeof ansi);
    std::wmemset(wide, L'x', 8);
    EXPECT_EQ(Plugin().GetPluginInfo(0, ansi, -1), 0);
    EXPECT_EQ(Plugin().GetPluginInfoW(0, wide, -1), 0);
    EXPECT_EQ(ansi[0], 'x');
    EXPECT_EQ(wide[0], L'x');
}

}  // namespace
