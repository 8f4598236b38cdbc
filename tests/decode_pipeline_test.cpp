// GetPicture and the pipeline behind it: the progress protocol and cancellation, the
// palette built for indexed and gray pictures, and every platform failure on the way,
// with the host's out-parameters untouched unless a picture is handed over.
#include "decode/DecodePicture.h"
#include "tests/support/DibReader.h"
#include "tests/support/FakeWic.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const HLOCAL kMarkerInfo = reinterpret_cast<HLOCAL>(0x1111);
const HLOCAL kMarkerBits = reinterpret_cast<HLOCAL>(0x2222);

// Records every report and stops at a chosen point.
struct ProgressLog {
    std::vector<int> points;
    int stopAt = -1;
    bool wrongDenominator = false;
    static int SPI_API Callback(int num, int denom, LONG_PTR userData) {
        auto* log = reinterpret_cast<ProgressLog*>(userData);
        log->points.push_back(num);
        log->wrongDenominator |= denom != 100;
        return num == log->stopAt ? 1 : 0;
    }
};

const std::vector<int> kAllPoints = {0, 10, 30, 50, 60, 70, 80, 90, 100};

TEST(GetPictureProgress, ReportsEveryPointAndStopsAtEach) {
    const std::wstring path = SuitePath(L"basn6a08.png");
    {
        ProgressLog log;
        HLOCAL info = kMarkerInfo, bits = kMarkerBits;
        ASSERT_EQ(Plugin().GetPictureW(path.c_str(), 0, 0, &info, &bits, ProgressLog::Callback,
                                       reinterpret_cast<LONG_PTR>(&log)),
                  Success);
        EXPECT_EQ(log.points, kAllPoints);
        EXPECT_FALSE(log.wrongDenominator);
        LocalFree(info);
        LocalFree(bits);
    }
    for (int stop : kAllPoints) {
        SCOPED_TRACE(stop);
        ProgressLog log;
        log.stopAt = stop;
        HLOCAL info = kMarkerInfo, bits = kMarkerBits;
        EXPECT_EQ(Plugin().GetPictureW(path.c_str(), 0, 0, &info, &bits, ProgressLog::Callback,
                                       reinterpret_cast<LONG_PTR>(&log)),
                  Cancelled);
        EXPECT_EQ(log.points.back(), stop) << "no report after the stop";
        if (stop == 100) {
            DecodedDib dib;
            EXPECT_TRUE(ReadDib(info, bits, dib)) << "a stop at 100 still hands the picture over";
            EXPECT_EQ(dib.header.biWidth, 32);
            LocalFree(info);
            LocalFree(bits);
        } else {
            EXPECT_EQ(info, kMarkerInfo);
            EXPECT_EQ(bits, kMarkerBits);
        }
    }
}

TEST(GetPictureProgress, StopAtZeroComesBeforeAnyFileIsOpened) {
    ProgressLog log;
    log.stopAt = 0;
    HLOCAL info = kMarkerInfo, bits = kMarkerBits;
    EXPECT_EQ(Plugin().GetPicture("Z:\\no\\such\\file.png", 0, 0, &info, &bits, ProgressLog::Callback,
                                  reinterpret_cast<LONG_PTR>(&log)),
              Cancelled);
    EXPECT_EQ(log.points, std::vector<int>{0});
}

TEST(GetPictureProgress, NullCallbackDecodesWithoutReports) {
    HLOCAL info = kMarkerInfo, bits = kMarkerBits;
    const std::vector<uint8_t> bytes = ReadFileBytes(SuitePath(L"basn2c08.png"));
    ASSERT_EQ(Plugin().GetPicture(reinterpret_cast<const char*>(bytes.data()), LengthOrOffset(bytes.size()), 1, &info,
                                  &bits, nullptr, 0),
              Success);
    DecodedDib dib;
    ASSERT_TRUE(ReadDib(info, bits, dib));
    EXPECT_EQ(dib.header.biBitCount, 24);
    EXPECT_EQ(dib.header.biHeight, 32) << "positive: rows are bottom-up";
    EXPECT_EQ(dib.header.biClrUsed, 0u);
    LocalFree(info);
    LocalFree(bits);
}

// DecodePicture on fakes: a 24bppBGR frame that is its own source unless told otherwise.
class Pipeline : public testing::Test {
protected:
    ComScope com;
    ComPtr<FakeFactory> factory = MakeFake<FakeFactory>(RealFactory());
    ComPtr<FakeFrame> frame = MakeFake<FakeFrame>();
    ComPtr<FakeDecoder> decoder = MakeFake<FakeDecoder>();
    ImagingContext context{[this](IWICImagingFactory** out) {
        *out = factory.get();
        factory->AddRef();
        return S_OK;
    }};
    HLOCAL info = kMarkerInfo, bits = kMarkerBits;
    ProgressLog log;

    void SetUp() override {
        decoder->frame = frame;
        frame->width = 3;
        frame->height = 2;
    }
    void TearDown() override {
        if (info != kMarkerInfo) LocalFree(info);
        if (bits != kMarkerBits) LocalFree(bits);
    }
    PluginStatus Decode() {
        return DecodePicture(&info, &bits, context, decoder.get(), ProgressLog::Callback,
                             reinterpret_cast<LONG_PTR>(&log));
    }
    DecodedDib Result() {
        DecodedDib dib;
        EXPECT_TRUE(ReadDib(info, bits, dib));
        return dib;
    }
};

TEST_F(Pipeline, SmallOpaquePictureUsesTheStrideForCopyAndHandsOverBottomUp) {
    ASSERT_EQ(Decode(), Success);
    EXPECT_EQ(frame->pixelCalls, 1);
    EXPECT_EQ(frame->lastStride, 12u);
    EXPECT_EQ(frame->lastBufferSize, 24u);
    EXPECT_EQ(frame->lastRect.Width, 3);
    EXPECT_EQ(frame->lastRect.Height, 2);
    EXPECT_EQ(LocalSize(bits), 28u);
    EXPECT_EQ(LocalSize(info), 44u);
    const DecodedDib dib = Result();
    EXPECT_EQ(dib.header.biBitCount, 24);
    EXPECT_EQ(log.points, (std::vector<int>{30, 50, 60, 70, 80, 90, 100}));
}

TEST_F(Pipeline, FailuresLeaveTheOutParametersUntouched) {
    struct Failure {
        const char* name;
        std::function<void()> arrange;
        PluginStatus status;
    };
    const Failure failures[] = {
        {"not PNG", [&] { decoder->container = GUID_ContainerFormatGif; }, UnsupportedFormat},
        {"container query", [&] { decoder->containerResult = E_OUTOFMEMORY; }, OutOfMemory},
        {"frame", [&] { decoder->frameResult = WINCODEC_ERR_BADIMAGE; }, UnsupportedFormat},
        {"size", [&] { frame->sizeResult = E_FAIL; }, InternalError},
        {"resolution", [&] { frame->resolutionResult = E_OUTOFMEMORY; }, OutOfMemory},
        {"pixel format", [&] { frame->formatResult = WINCODEC_ERR_BADHEADER; }, UnsupportedFormat},
        {"pixels", [&] { frame->pixelsResult = E_OUTOFMEMORY; }, OutOfMemory},
        {"pixels damaged", [&] { frame->pixelsResult = WINCODEC_ERR_BADIMAGE; }, UnsupportedFormat},
        {"too large to allocate", [&] { frame->width = 0x7FFFFFFF; frame->height = 0x7FFFFFFF; }, OutOfMemory},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        frame->width = 3;
        frame->height = 2;
        frame->sizeResult = frame->resolutionResult = frame->formatResult = frame->pixelsResult = S_OK;
        decoder->container = GUID_ContainerFormatPng;
        decoder->containerResult = decoder->frameResult = S_OK;
        f.arrange();
        EXPECT_EQ(Decode(), f.status);
        EXPECT_EQ(info, kMarkerInfo);
        EXPECT_EQ(bits, kMarkerBits);
    }
}

TEST_F(Pipeline, AllocationFailureSkipsTheCopy) {
    frame->width = 0x7FFFFFFF;
    frame->height = 0x7FFFFFFF;
    EXPECT_EQ(Decode(), OutOfMemory);
    EXPECT_EQ(frame->pixelCalls, 0);
}

// The palette of indexed and gray frames: own colours, then gray ramp and white.
TEST_F(Pipeline, PaletteCompletion) {
    struct Case {
        const char* name;
        GUID format;
        std::vector<WICColor> colours;
        std::function<void(FakePalette&)> breakPalette;
        std::vector<uint32_t> expectStart;  // first entries of the colour table
        uint32_t entries;
    };
    std::vector<uint32_t> fullGray(256);
    for (uint32_t i = 0; i < 256; ++i) fullGray[i] = i * 0x010101u;
    std::vector<uint32_t> threeThenGray = {0xFF112233, 0xFF445566, 0xFF778899};
    for (uint32_t i = 0; i < 252; ++i) threeThenGray.push_back((i * 255u / 252) * 0x010101u);
    threeThenGray.push_back(0xFFFFFF);
    std::vector<WICColor> twenty(20);
    for (uint32_t i = 0; i < 20; ++i) twenty[i] = 0xFF000000u | i;
    const std::vector<uint32_t> firstSixteen(twenty.begin(), twenty.begin() + 16);
    const std::vector<uint32_t> nibbleGray = {0, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555, 0x666666,
                                              0x777777, 0x888888, 0x999999, 0xAAAAAA, 0xBBBBBB, 0xCCCCCC, 0xDDDDDD,
                                              0xEEEEEE, 0xFFFFFF};
    const Case cases[] = {
        {"8bppGray, no palette", GUID_WICPixelFormat8bppGray, {}, nullptr, fullGray, 256},
        {"8bppIndexed, 3 colours", GUID_WICPixelFormat8bppIndexed,
         {0xFF112233, 0xFF445566, 0xFF778899}, nullptr, threeThenGray, 256},
        {"4bppIndexed, 20 colours", GUID_WICPixelFormat4bppIndexed, twenty, nullptr, firstSixteen, 16},
        {"4bppGray, no palette", GUID_WICPixelFormat4bppGray, {}, nullptr, nibbleGray, 16},
        {"1bppIndexed, no palette", GUID_WICPixelFormat1bppIndexed, {}, nullptr, {0, 0xFFFFFF}, 2},
        {"count fails", GUID_WICPixelFormat8bppIndexed, {0xFF112233},
         [](FakePalette& p) { p.countResult = E_FAIL; }, fullGray, 256},
        {"colours fail", GUID_WICPixelFormat8bppIndexed, {0xFF112233},
         [](FakePalette& p) { p.colorsResult = E_OUTOFMEMORY; }, fullGray, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        info = kMarkerInfo;
        bits = kMarkerBits;
        frame->format = c.format;
        frame->paletteColors = c.colours;
        auto palette = MakeFake<FakePalette>();
        if (c.breakPalette) c.breakPalette(*palette.get());
        factory->palette = palette;
        ASSERT_EQ(Decode(), Success);
        const DecodedDib dib = Result();
        ASSERT_EQ(dib.header.biClrUsed, c.entries);
        ASSERT_GE(dib.colourTable.size(), c.expectStart.size());
        EXPECT_EQ(std::vector<uint32_t>(dib.colourTable.begin(), dib.colourTable.begin() + c.expectStart.size()),
                  c.expectStart);
    }
}

TEST_F(Pipeline, PaletteCreationOrCopyFailingGivesTheGrayRamp) {
    frame->format = GUID_WICPixelFormat8bppGray;
    factory->paletteResult = E_OUTOFMEMORY;
    ASSERT_EQ(Decode(), Success);
    const DecodedDib dib = Result();
    ASSERT_EQ(dib.colourTable.size(), 256u);
    EXPECT_EQ(dib.colourTable[0], 0u);
    EXPECT_EQ(dib.colourTable[128], 0x808080u);
    EXPECT_EQ(dib.colourTable[255], 0xFFFFFFu);
}

TEST_F(Pipeline, StopsBetweenThirtyAndNinetyFreeEverything) {
    for (int stop : {30, 50, 60, 70, 80, 90}) {
        SCOPED_TRACE(stop);
        log = ProgressLog();
        log.stopAt = stop;
        frame->pixelCalls = 0;
        EXPECT_EQ(Decode(), Cancelled);
        EXPECT_EQ(info, kMarkerInfo);
        EXPECT_EQ(bits, kMarkerBits);
        EXPECT_EQ(frame->pixelCalls, stop >= 60 ? 1 : 0);
    }
    EXPECT_EQ(frame->references(), 2u) << "the source was released on every path";
}

}  // namespace
