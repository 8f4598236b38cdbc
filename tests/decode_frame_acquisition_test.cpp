// AcquireFrame: which source, palette question and conversion target each kind of frame
// gets, failures of the platform, and our completion of the platform's converter.
#include "decode/FormatConversion.h"
#include "decode/FrameAcquisition.h"
#include "decode/PixelFormatCatalogue.h"
#include "tests/support/FakeWic.h"
#include "tests/support/PngBuilder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

class Acquisition : public testing::Test {
protected:
    ComScope com;
    ComPtr<FakeFactory> factory = MakeFake<FakeFactory>(RealFactory());
    ComPtr<FakeConverter> converter = MakeFake<FakeConverter>();
    ComPtr<FakeFrame> frame = MakeFake<FakeFrame>();
    ComPtr<FakeDecoder> decoder = MakeFake<FakeDecoder>();
    ImagingContext context{[this](IWICImagingFactory** out) {
        *out = factory.get();
        factory->AddRef();
        return S_OK;
    }};
    ComPtr<IWICBitmapSource> source;

    void SetUp() override {
        decoder->frame = frame;
        factory->converter = converter;
        frame->width = 4;
        frame->height = 3;
    }
    bool SourceIsFrame() const {
        return source.get() == static_cast<IWICBitmapSource*>(static_cast<IWICBitmapFrameDecode*>(frame.get()));
    }
    bool SourceIsConverter() const {
        return source.get() == static_cast<IWICBitmapSource*>(static_cast<IWICFormatConverter*>(converter.get()));
    }
};

struct Choice {
    const char* name;
    GUID format;
    std::vector<WICColor> palette;  // what the frame's palette holds (empty: none)
    bool paletteAsked;
    GUID target;                    // GUID_NULL: the frame itself is the source
};

TEST_F(Acquisition, ChoicesForEachKindOfFrame) {
    const WICColor opaque = 0xFF102030, clear = 0x00102030;
    const Choice choices[] = {
        {"8bppIndexed opaque", GUID_WICPixelFormat8bppIndexed, {opaque, opaque}, true, GUID_NULL},
        {"8bppIndexed transparent", GUID_WICPixelFormat8bppIndexed, {opaque, clear}, true, GUID_WICPixelFormat32bppBGRA},
        {"2bppIndexed", GUID_WICPixelFormat2bppIndexed, {opaque}, true, GUID_WICPixelFormat4bppIndexed},
        {"2bppGray", GUID_WICPixelFormat2bppGray, {}, true, GUID_WICPixelFormat4bppGray},
        {"8bppGray", GUID_WICPixelFormat8bppGray, {}, true, GUID_NULL},
        {"4bppIndexed without palette", GUID_WICPixelFormat4bppIndexed, {}, true, GUID_NULL},
        {"24bppBGR", GUID_WICPixelFormat24bppBGR, {}, false, GUID_NULL},
        {"48bppRGB", GUID_WICPixelFormat48bppRGB, {}, false, GUID_WICPixelFormat24bppBGR},
        {"16bppGray", GUID_WICPixelFormat16bppGray, {}, false, GUID_WICPixelFormat24bppBGR},
        {"32bppBGRA", GUID_WICPixelFormat32bppBGRA, {}, false, GUID_NULL},
        {"64bppRGBA", GUID_WICPixelFormat64bppRGBA, {}, false, GUID_WICPixelFormat32bppBGRA},
        {"16bppBGRA5551", GUID_WICPixelFormat16bppBGRA5551, {}, false, GUID_WICPixelFormat32bppBGRA},
        {"not listed", GUID_WICPixelFormatDontCare, {}, true, GUID_WICPixelFormat24bppBGR},
        {"not listed, palette with alpha", GUID_WICPixelFormatDontCare, {clear}, true, GUID_WICPixelFormat32bppBGRA},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE(c.name);
        frame->format = c.format;
        frame->paletteColors = c.palette;
        factory->paletteCalls = 0;
        converter->initializeCalls = 0;
        ASSERT_EQ(AcquireFrame(context, decoder.get(), source), Success);
        EXPECT_EQ(factory->paletteCalls, c.paletteAsked ? 1 : 0);
        if (c.target == GUID_NULL) {
            EXPECT_TRUE(SourceIsFrame());
            EXPECT_EQ(converter->initializeCalls, 0);
            continue;
        }
        EXPECT_TRUE(SourceIsConverter());
        EXPECT_EQ(converter->initializeCalls, 1);
        EXPECT_TRUE(GuidEqual(converter->target, c.target));
        EXPECT_EQ(converter->dither, WICBitmapDitherTypeNone);
        EXPECT_EQ(converter->palette, nullptr);
        EXPECT_EQ(converter->threshold, 0.0);
        EXPECT_EQ(converter->translation, WICBitmapPaletteTypeMedianCut);
    }
    source.reset();
    converter->source.reset();
    EXPECT_EQ(frame->references(), 2u) << "the test and the decoder hold the only references";
}

TEST_F(Acquisition, PaletteFailuresMeanNoTransparency) {
    frame->format = GUID_WICPixelFormat8bppIndexed;
    frame->paletteColors = {0x00000000};  // would be transparent
    frame->paletteResult = E_FAIL;
    ASSERT_EQ(AcquireFrame(context, decoder.get(), source), Success);
    EXPECT_TRUE(SourceIsFrame());
    frame->paletteResult = S_OK;
    factory->paletteResult = E_OUTOFMEMORY;
    ASSERT_EQ(AcquireFrame(context, decoder.get(), source), Success);
    EXPECT_TRUE(SourceIsFrame());
    factory->paletteResult = S_OK;
    auto palette = MakeFake<FakePalette>();
    palette->alphaResult = E_FAIL;
    factory->palette = palette;
    ASSERT_EQ(AcquireFrame(context, decoder.get(), source), Success);
    EXPECT_TRUE(SourceIsFrame());
}

TEST_F(Acquisition, FailuresAreMappedAndNothingIsHandedOut) {
    struct Failure {
        const char* name;
        std::function<void()> arrange;
        PluginStatus status;
    };
    const Failure failures[] = {
        {"GetFrame", [&] { decoder->frameResult = E_FAIL; }, InternalError},
        {"GetFrame memory", [&] { decoder->frameResult = E_OUTOFMEMORY; }, OutOfMemory},
        {"GetPixelFormat", [&] { frame->formatResult = WINCODEC_ERR_BADIMAGE; }, UnsupportedFormat},
        {"CreateFormatConverter", [&] { factory->converterResult = E_OUTOFMEMORY; }, OutOfMemory},
        {"Initialize", [&] { converter->initializeResult = E_FAIL; }, InternalError},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.name);
        frame->format = GUID_WICPixelFormat48bppRGB;
        f.arrange();
        source = MakeFake<FakeFrame>();
        EXPECT_EQ(AcquireFrame(context, decoder.get(), source), f.status);
        EXPECT_FALSE(source);
        decoder->frameResult = frame->formatResult = factory->converterResult = converter->initializeResult = S_OK;
    }
    EXPECT_EQ(AcquireFrame(context, nullptr, source), InternalError);
    converter->source.reset();
    EXPECT_EQ(frame->references(), 2u);
}

// The real platform: a refused conversion is completed, the rest is untouched.
class PlatformConversion : public testing::Test {
protected:
    ImagingContext context;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapSource> source;

    GUID AcquiredFormat(const std::wstring& file) {
        EXPECT_EQ(OpenDecoderFromFile(context, SuitePath(file).c_str(), decoder), Success);
        EXPECT_EQ(AcquireFrame(context, decoder.get(), source), Success);
        GUID format{};
        if (source) source->GetPixelFormat(&format);
        return format;
    }
};

TEST_F(PlatformConversion, EveryTargetIsDelivered) {
    const struct {
        const wchar_t* file;
        GUID format;
        UINT bytesPerRow;  // of a 32-pixel row in that format
    } cases[] = {
        {L"basn0g16.png", GUID_WICPixelFormat24bppBGR, 96}, {L"basn2c16.png", GUID_WICPixelFormat24bppBGR, 96},
        {L"basn0g02.png", GUID_WICPixelFormat4bppGray, 16}, {L"basn3p02.png", GUID_WICPixelFormat4bppIndexed, 16},
        {L"basn6a16.png", GUID_WICPixelFormat32bppBGRA, 128}, {L"basn2c08.png", GUID_WICPixelFormat24bppBGR, 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file, c.file + wcslen(c.file)));
        EXPECT_TRUE(GuidEqual(AcquiredFormat(c.file), c.format));
        std::vector<BYTE> pixels(size_t(c.bytesPerRow) * 32);
        EXPECT_EQ(source->CopyPixels(nullptr, c.bytesPerRow, UINT(pixels.size()), pixels.data()), S_OK);
    }
}

TEST_F(PlatformConversion, TwoBitSamplesWidenToFourBits) {
    // One row of 2-bit gray samples 0, 1, 2, 3, 3, 2, 1 (7 pixels, not a whole byte).
    PngSpec spec;
    spec.width = 7;
    spec.height = 2;
    spec.bitDepth = 2;
    spec.colorType = 0;
    spec.rows = {0b00011011, 0b11100100, 0b00011011, 0b11100100};
    const std::vector<uint8_t> png = BuildPng(spec);
    ASSERT_EQ(OpenDecoderFromMemory(context, png.data(), LengthOrOffset(png.size()), decoder), Success);
    ComPtr<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(decoder->GetFrame(0, frame.put()), S_OK);
    ComPtr<IWICBitmapSource> widened = MakeTwoBitWidener(frame.get(), GUID_WICPixelFormat4bppGray);
    BYTE row[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const WICRect first = {0, 0, 7, 1};
    ASSERT_EQ(widened->CopyPixels(&first, 8, 8, row), S_OK);
    const BYTE expected[] = {0x05, 0xAF, 0xFA, 0x50, 0xEE};  // 0,5,10,15,15,10,5 then the last nibble 0
    EXPECT_EQ(std::vector<BYTE>(row, row + 5), std::vector<BYTE>(expected, expected + 5));
    // A rectangle starting inside a byte, and buffers that are too small.
    const WICRect inner = {2, 1, 3, 1};
    ASSERT_EQ(widened->CopyPixels(&inner, 2, 2, row), S_OK);
    EXPECT_EQ(row[0], 0xAF);
    EXPECT_EQ(row[1] & 0xF0, 0xF0);
    EXPECT_NE(widened->CopyPixels(&first, 3, 3, row), S_OK);
    const WICRect outside = {5, 0, 3, 1};
    EXPECT_EQ(widened->CopyPixels(&outside, 8, 8, row), E_INVALIDARG);
    ComPtr<IWICPalette> palette;
    ASSERT_EQ(context.factory()->CreatePalette(palette.put()), S_OK);

    EXPECT_EQ(widened->CopyPalette(palette.get()), WINCODEC_ERR_PALETTEUNAVAILABLE) << "gray has no palette";
}

}  // namespace
