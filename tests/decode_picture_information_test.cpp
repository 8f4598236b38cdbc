// GetPictureInfo/GetPictureInfoW and the reader behind them: colour depth of every PNG
// colour type, densities, file and memory input alike, and the host's record left
// untouched by every failure.
#include "decode/ImagingContext.h"
#include "decode/PictureInformation.h"
#include "decode/PixelFormatCatalogue.h"
#include "tests/support/FakeWic.h"
#include "tests/support/PngBuilder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A record filled with a marker, so a test can see which bytes a call wrote.
PictureInfo MarkedRecord() {
    PictureInfo info;
    std::memset(&info, 0xA5, sizeof info);
    return info;
}

bool Untouched(const PictureInfo& info) {
    const PictureInfo marked = MarkedRecord();
    return std::memcmp(&info, &marked, sizeof info) == 0;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct DepthCase {
    const wchar_t* file;
    int colorDepth;  // bits per pixel of the frame's own format
    int width, height;
};

// Wine decodes gray+alpha and RGBA as 32bppBGRA/64bppRGBA, 8-bit gray as 8bppGray, ...
const DepthCase kDepthCases[] = {
    {L"basn0g01.png", 1, 32, 32},  {L"basn0g02.png", 2, 32, 32},  {L"basn0g04.png", 4, 32, 32},
    {L"basn0g08.png", 8, 32, 32},  {L"basn0g16.png", 16, 32, 32}, {L"basn2c08.png", 24, 32, 32},
    {L"basn2c16.png", 48, 32, 32}, {L"basn3p01.png", 1, 32, 32},  {L"basn3p02.png", 2, 32, 32},
    {L"basn3p04.png", 4, 32, 32},  {L"basn3p08.png", 8, 32, 32},  {L"basn4a08.png", 32, 32, 32},
    {L"basn4a16.png", 64, 32, 32}, {L"basn6a08.png", 32, 32, 32}, {L"basn6a16.png", 64, 32, 32},
    {L"s01n3p01.png", 1, 1, 1},    {L"s09n3p02.png", 2, 9, 9},    {L"basi6a16.png", 64, 32, 32},
};

TEST(GetPictureInfo, ColourDepthOfEveryColourTypeFromFileAndMemory) {
    const PluginLibrary& plugin = Plugin();
    for (const DepthCase& c : kDepthCases) {
        SCOPED_TRACE(Narrow(c.file));
        const std::wstring path = SuitePath(c.file);
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        const LengthOrOffset length = LengthOrOffset(bytes.size());
        PictureInfo byName = MarkedRecord(), byWideName = MarkedRecord();
        PictureInfo fromMemory = MarkedRecord(), fromMemoryWide = MarkedRecord();
        ASSERT_EQ(plugin.GetPictureInfo(Narrow(path).c_str(), 0, 0, &byName), Success);
        ASSERT_EQ(plugin.GetPictureInfoW(path.c_str(), 0, 0, &byWideName), Success);
        ASSERT_EQ(plugin.GetPictureInfo(reinterpret_cast<const char*>(bytes.data()), length, 1, &fromMemory), Success);
        ASSERT_EQ(plugin.GetPictureInfoW(reinterpret_cast<LPCWSTR>(bytes.data()), length, 1, &fromMemoryWide),
                  Success);
        EXPECT_EQ(byName.colorDepth, c.colorDepth);
        EXPECT_EQ(byName.width, c.width);
        EXPECT_EQ(byName.height, c.height);
        EXPECT_EQ(byName.left, 0);
        EXPECT_EQ(byName.top, 0);
        EXPECT_EQ(std::memcmp(&byName, &byWideName, sizeof byName), 0);
        EXPECT_EQ(std::memcmp(&byName, &fromMemory, sizeof byName), 0);
        EXPECT_EQ(std::memcmp(&byName, &fromMemoryWide, sizeof byName), 0);
        // The host's text handle is never written.
        EXPECT_EQ(byName.textInfo, MarkedRecord().textInfo);
    }
}

TEST(GetPictureInfo, OnlyTheLowThreeFlagBitsSelectTheInput) {
    const std::wstring path = SuitePath(L"basn2c08.png");
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    PictureInfo byFile = MarkedRecord(), byMemory = MarkedRecord();
    EXPECT_EQ(Plugin().GetPictureInfoW(path.c_str(), 1000, 0x10, &byFile), Success);
    EXPECT_EQ(Plugin().GetPictureInfo(reinterpret_cast<const char*>(bytes.data()), LengthOrOffset(bytes.size()),
                                      0x19, &byMemory),
              Success);
    EXPECT_EQ(byFile.width, 32);
    EXPECT_EQ(std::memcmp(&byFile, &byMemory, sizeof byFile), 0);
}

TEST(DensityFromDpi, TruncatesAndKeepsTheLowSixteenBits) {
    const struct {
        double dpi;
        unsigned density;
    } cases[] = {{72, 2834}, {96, 3779}, {300, 11811}, {600, 23622}, {2000, 13204}, {0, 0}, {0.01, 0}};
    for (const auto& c : cases) EXPECT_EQ(DensityFromDpi(c.dpi), c.density) << c.dpi;
    EXPECT_EQ(DensityFromDpi(1e300), 0u) << "values beyond any integer must not be converted";
}

// pHYs stores whole pixels per metre; the platform turns them into dots per inch and we
// turn them back, so the stored number may come back one lower through rounding.
TEST(GetPictureInfo, DensitiesFromPhys) {
    const struct {
        uint32_t perMetre;
        unsigned expected;
    } cases[] = {{2835, 2835}, {3780, 3780}, {11811, 11811}, {78740, 78740 & 0xFFFF}};
    for (const auto& c : cases) {
        PngSpec spec;
        spec.width = 3;
        spec.height = 2;
        spec.pixelsPerMetreX = c.perMetre;
        spec.pixelsPerMetreY = c.perMetre / 2;
        const std::vector<uint8_t> png = BuildPng(spec);
        PictureInfo info = MarkedRecord();
        ASSERT_EQ(Plugin().GetPictureInfo(reinterpret_cast<const char*>(png.data()), LengthOrOffset(png.size()), 1, &info),
                  Success);
        EXPECT_NEAR(info.xDensity, c.expected, 1) << c.perMetre;
        EXPECT_NEAR(info.yDensity, (c.perMetre / 2) & 0xFFFF, 1) << c.perMetre;
        EXPECT_EQ(info.width, 3);
        EXPECT_EQ(info.height, 2);
        EXPECT_EQ(info.colorDepth, 24);
    }
}

TEST(GetPictureInfo, WithoutPhysTheDensityComesFromThePlatformDefault) {
    PngSpec spec;
    const std::vector<uint8_t> png = BuildPng(spec);
    PictureInfo info = MarkedRecord();
    ASSERT_EQ(Plugin().GetPictureInfo(reinterpret_cast<const char*>(png.data()), LengthOrOffset(png.size()), 1, &info),
              Success);
    // The platform reports its default resolution (96 dpi on Wine and Windows).
    EXPECT_EQ(info.xDensity, DensityFromDpi(96));
    EXPECT_EQ(info.yDensity, DensityFromDpi(96));
    EXPECT_EQ(info.width, 1);
    EXPECT_EQ(info.height, 1);
}

TEST(GetPictureInfo, OtherContainersAndBadInputLeaveTheRecordUntouched) {
    const PluginLibrary& plugin = Plugin();
    const std::wstring folder = ScratchDirectory(L"pictureinfo");
    for (const GUID& container : {GUID_ContainerFormatGif, GUID_ContainerFormatJpeg}) {
        const std::vector<uint8_t> bytes = EncodeWithWic(container, 16, 16);
        const std::wstring path = folder + L"\\other.png";
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        PictureInfo info = MarkedRecord();
        EXPECT_EQ(plugin.GetPictureInfoW(path.c_str(), 0, 0, &info), UnsupportedFormat);
        EXPECT_EQ(plugin.GetPictureInfo(Narrow(path).c_str(), 0, 0, &info), UnsupportedFormat);
        EXPECT_EQ(plugin.GetPictureInfo(reinterpret_cast<const char*>(bytes.data()), LengthOrOffset(bytes.size()), 1,
                                        &info),
                  UnsupportedFormat);
        EXPECT_TRUE(Untouched(info));
    }
    PictureInfo info = MarkedRecord();
    EXPECT_EQ(plugin.GetPictureInfo("", 0, 0, &info), InternalError);
    EXPECT_EQ(plugin.GetPictureInfoW(L"", 0, 0, &info), InternalError);
    EXPECT_EQ(plugin.GetPictureInfoW((folder + L"\\missing.png").c_str(), 0, 0, &info), InternalError);
    const std::string text = "plain text, not a picture";
    EXPECT_EQ(plugin.GetPictureInfo(text.c_str(), LengthOrOffset(text.size()), 1, &info), UnsupportedFormat);
    EXPECT_EQ(plugin.GetPictureInfo(text.c_str(), 0, 1, &info), UnsupportedFormat);
#ifdef _WIN64
    EXPECT_EQ(plugin.GetPictureInfo(text.c_str(), LengthOrOffset(0x100000000LL), 1, &info), InternalError);
#endif
    EXPECT_TRUE(Untouched(info));
}

// Failures of the platform, one query at a time, through fakes.
class FailingFrame : public testing::Test {
protected:
    ComScope com;
    ComPtr<FakeFrame> frame = MakeFake<FakeFrame>();
    ComPtr<FakeDecoder> decoder = MakeFake<FakeDecoder>();
    void SetUp() override { decoder->frame = frame; }
};

TEST_F(FailingFrame, EachFailureIsMappedAndLeavesTheRecordUntouched) {
    struct Step {
        HRESULT FakeFrame::*result;
        HRESULT hr;
        PluginStatus status;
    };
    const Step steps[] = {{&FakeFrame::sizeResult, E_OUTOFMEMORY, OutOfMemory},
                          {&FakeFrame::resolutionResult, WINCODEC_ERR_BADIMAGE, UnsupportedFormat},
                          {&FakeFrame::formatResult, E_FAIL, InternalError}};
    for (const Step& step : steps) {
        frame.get()->*step.result = step.hr;
        PictureInfo info = MarkedRecord();
        EXPECT_EQ(ReadPictureInfo(decoder.get(), info), step.status) << Hex(step.hr);
        EXPECT_TRUE(Untouched(info));
        frame.get()->*step.result = S_OK;
    }
    decoder->frameResult = E_OUTOFMEMORY;
    PictureInfo info = MarkedRecord();
    EXPECT_EQ(ReadPictureInfo(decoder.get(), info), OutOfMemory);
    EXPECT_TRUE(Untouched(info));
    EXPECT_EQ(frame->references(), 2u) << "only the test and the decoder still hold the frame";
}

TEST_F(FailingFrame, FillsTheRecordFromTheFrame) {
    frame->width = 640;
    frame->height = 480;
    frame->dpiX = 72;
    frame->dpiY = 2000;
    frame->format = GUID_WICPixelFormat4bppIndexed;
    PictureInfo info = MarkedRecord();
    ASSERT_EQ(ReadPictureInfo(decoder.get(), info), Success);
    EXPECT_EQ(info.width, 640);
    EXPECT_EQ(info.height, 480);
    EXPECT_EQ(info.xDensity, 2834);
    EXPECT_EQ(info.yDensity, 13204);
    EXPECT_EQ(info.colorDepth, 4);
    frame->format = GUID_WICPixelFormatDontCare;  // not in the catalogue
    ASSERT_EQ(ReadPictureInfo(decoder.get(), info), Success);
    EXPECT_EQ(info.colorDepth, 0);
}

TEST_F(FailingFrame, NonPngContainerStopsBeforeTheFrame) {
    decoder->container = GUID_ContainerFormatJpeg;
    PictureInfo info = MarkedRecord();
    EXPECT_EQ(ReadPictureInfo(decoder.get(), info), UnsupportedFormat);
    EXPECT_EQ(decoder->frameCalls, 0);
    EXPECT_TRUE(Untouched(info));
}

TEST_F(FailingFrame, CatalogueOutOfMemoryAnswersFour) {
    PixelFormatCatalogueTesting::Reset();
    PixelFormatCatalogueTesting::FailAllocation(3);
    PictureInfo info = MarkedRecord();
    EXPECT_EQ(ReadPictureInfo(decoder.get(), info), OutOfMemory);
    EXPECT_TRUE(Untouched(info));
    EXPECT_EQ(ReadPictureInfo(decoder.get(), info), Success) << "the next request builds the catalogue again";
}

}  // namespace
