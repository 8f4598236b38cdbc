// The exported surface as a host sees it: names, record layout, argument checks.
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

namespace {

TEST(Exports, AllElevenNamesResolveUndecorated) {
    HMODULE module = Plugin().module.get();
    for (const char* name : {"GetPluginInfo", "GetPluginInfoW", "IsSupported", "IsSupportedW",
                             "GetPictureInfo", "GetPictureInfoW", "GetPicture", "GetPictureW",
                             "GetPreview", "GetPreviewW", "ConfigurationDlg"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
}

TEST(Exports, GetPreviewIsOneFunctionUnderTwoNames) {
    HMODULE module = Plugin().module.get();
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "GetPreview")),
              reinterpret_cast<void*>(GetProcAddress(module, "GetPreviewW")));
}

// Windows shows these in the file's properties.
TEST(Resources, VersionInformationNamesTheDeliverable) {
    const std::wstring path = ExecutableDirectory() + L"\\" + kPluginName;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010001u);
    const wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(const_cast<wchar_t**>(&text)), &length));
    EXPECT_EQ(std::wstring(text), kPluginName);
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(const_cast<wchar_t**>(&text)), &length));
    EXPECT_EQ(std::wstring(text), L"1.1.2");
}

TEST(Resources, ManifestAsksForNoElevationAndDeclaresDpiAwareness) {
    HMODULE module = Plugin().module.get();
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(text, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
}

TEST(HostRecords, PictureInfoHasTheHostsPackedLayout) {
    EXPECT_EQ(offsetof(PictureInfo, left), 0u);
    EXPECT_EQ(offsetof(PictureInfo, top), 4u);
    EXPECT_EQ(offsetof(PictureInfo, width), 8u);
    EXPECT_EQ(offsetof(PictureInfo, height), 12u);
    EXPECT_EQ(offsetof(PictureInfo, xDensity), 16u);
    EXPECT_EQ(offsetof(PictureInfo, yDensity), 18u);
    EXPECT_EQ(offsetof(PictureInfo, colorDepth), 20u);
    EXPECT_EQ(offsetof(PictureInfo, textInfo), 22u);
    EXPECT_EQ(sizeof(PictureInfo), sizeof(void*) == 8 ? 30u : 26u);
}

int SPI_API CountingCallback(int, int, LONG_PTR userData) {
    ++*reinterpret_cast<int*>(userData);
    return 0;
}

TEST(Exports, GetPreviewAlwaysAnswersNotImplemented) {
    const PluginLibrary& plugin = Plugin();
    HLOCAL info = nullptr, bits = nullptr;
    int calls = 0;
    const std::wstring png = SuitePath(L"basn2c08.png");
    EXPECT_EQ(plugin.GetPreview(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(plugin.GetPreviewW(nullptr, 0, 0, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(plugin.GetPreviewW(reinterpret_cast<LPCWSTR>(png.c_str()), 0, 0, &info, &bits,
                                 CountingCallback, reinterpret_cast<LONG_PTR>(&calls)),
              -1);
    EXPECT_EQ(plugin.GetPreview("x.png", 0, 1, &info, &bits, CountingCallback,
                                reinterpret_cast<LONG_PTR>(&calls)),
              -1);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(calls, 0);
}

// Input kinds other than file (0) and memory (1) in the low three bits are refused.
TEST(Exports, PictureExportsRefuseOtherInputKinds) {
    const PluginLibrary& plugin = Plugin();
    const std::vector<uint8_t> bytes = ReadFileBytes(SuitePath(L"basn2c08.png"));
    for (unsigned flags : {2u, 3u, 4u, 5u, 6u, 7u, 0x12u, 0xFFu}) {
        PictureInfo info;
        std::memset(&info, 0xA5, sizeof info);
        HLOCAL header = reinterpret_cast<HLOCAL>(0x1234), bits = reinterpret_cast<HLOCAL>(0x5678);
        const char* source = reinterpret_cast<const char*>(bytes.data());
        const LengthOrOffset length = static_cast<LengthOrOffset>(bytes.size());
        EXPECT_EQ(plugin.GetPictureInfo(source, length, flags, &info), InternalError) << flags;
        EXPECT_EQ(plugin.GetPictureInfoW(reinterpret_cast<LPCWSTR>(source), length, flags, &info),
                  InternalError) << flags;
        EXPECT_EQ(plugin.GetPicture(source, length, flags, &header, &bits, nullptr, 0), InternalError);
        EXPECT_EQ(plugin.GetPictureW(reinterpret_cast<LPCWSTR>(source), length, flags, &header, &bits,
                                     nullptr, 0),
                  InternalError);
        EXPECT_EQ(info.width, static_cast<int32_t>(0xA5A5A5A5));
        EXPECT_EQ(header, reinterpret_cast<HLOCAL>(0x1234));
        EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x5678));
    }
}

TEST(Exports, PictureExportsRefuseNullPointers) {
    const PluginLibrary& plugin = Plugin();
    PictureInfo info{};
    HLOCAL header = nullptr, bits = nullptr;
    int calls = 0;
    const LONG_PTR counter = reinterpret_cast<LONG_PTR>(&calls);
    EXPECT_EQ(plugin.GetPictureInfo(nullptr, 0, 0, &info), InternalError);
    EXPECT_EQ(plugin.GetPictureInfo("a.png", 0, 0, nullptr), InternalError);
    EXPECT_EQ(plugin.GetPictureInfoW(nullptr, 0, 1, &info), InternalError);
    EXPECT_EQ(plugin.GetPictureInfoW(L"a.png", 0, 0, nullptr), InternalError);
    EXPECT_EQ(plugin.GetPicture(nullptr, 0, 0, &header, &bits, CountingCallback, counter), InternalError);
    EXPECT_EQ(plugin.GetPicture("a.png", 0, 0, nullptr, &bits, CountingCallback, counter), InternalError);
    EXPECT_EQ(plugin.GetPicture("a.png", 0, 0, &header, nullptr, CountingCallback, counter), InternalError);
    EXPECT_EQ(plugin.GetPictureW(L"a.png", 0, 0, &header, nullptr, CountingCallback, counter),
              InternalError);
    EXPECT_EQ(calls, 0) << "no progress may be reported for refused arguments";
}

TEST(Exports, ConfigurationDlgRefusesUnknownFunctionNumbers) {
    for (int function : {2, -1, 3, 100}) {
        EXPECT_EQ(Plugin().ConfigurationDlg(nullptr, function), NotImplemented) << function;
    }
}

}  // namespace
