// ToWideName: the ANSI-to-UTF-16 conversion of file names, also under a Japanese code page.
#include "plugin/WideName.h"
#include "decode/ImagingContext.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(ToWideName, NullAndEmptyGiveAnEmptyString) {
    EXPECT_EQ(ToWideName(nullptr), L"");
    EXPECT_EQ(ToWideName(""), L"");
}

TEST(ToWideName, AsciiIsKept) {
    EXPECT_EQ(ToWideName("C:\\pictures\\a b.png"), L"C:\\pictures\\a b.png");
}

// "テスト.png" in Shift-JIS; its second bytes include 0x5C-free pairs only.
const char kShiftJisName[] = "\x83\x65\x83\x58\x83\x67.png";
const wchar_t kWideName[] = L"\u30c6\u30b9\u30c8.png";

bool JapaneseCodePageExpected() {
    const char* expected = std::getenv("VELLARO_EXPECT_CODE_PAGE");
    return expected && std::atoi(expected) == 932;
}

TEST(ToWideName, ShiftJisNameUnderJapaneseCodePage) {
    if (GetACP() != 932) {
        ASSERT_FALSE(JapaneseCodePageExpected()) << "the Japanese locale did not give code page 932 but "
                                                 << GetACP();
        GTEST_SKIP() << "runs under the Japanese locale (code page " << GetACP() << " here)";
    }
    EXPECT_EQ(ToWideName(kShiftJisName), kWideName);
}

TEST(ToWideName, ShiftJisNamedFileOpensThroughTheAnsiExport) {
    if (GetACP() != 932) GTEST_SKIP() << "runs under the Japanese locale";
    const std::wstring folder = ScratchDirectory(L"widename");
    const std::wstring path = folder + L"\\" + kWideName;
    ASSERT_TRUE(WriteFileBytes(path, ReadFileBytes(SuitePath(L"basn2c08.png"))));
    // Build the full ANSI path: the folder is ASCII, the file name Shift-JIS.
    std::string ansiPath(folder.begin(), folder.end());
    ansiPath += "\\";
    ansiPath += kShiftJisName;
    const std::wstring wide = ToWideName(ansiPath.c_str());
    EXPECT_EQ(wide, path);
    ImagingContext context;
    ComPtr<IWICBitmapDecoder> decoder;
    EXPECT_EQ(OpenDecoderFromFile(context, wide.c_str(), decoder), Success);
}

}  // namespace
