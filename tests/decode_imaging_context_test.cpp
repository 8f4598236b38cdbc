// The imaging context, the three decoder sources, the PNG container check and the
// mapping of platform failure codes, on Wine's real WIC and on fakes where it cannot fail.
#include "decode/ImagingContext.h"
#include "tests/support/FakeWic.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>


namespace {

struct HresultCase {
    HRESULT hr;
    PluginStatus status;
};

TEST(StatusFromHresult, MapsEveryFailureCode) {
    const HresultCase cases[] = {
        {WINCODEC_ERR_COMPONENTNOTFOUND, UnsupportedFormat},
        {WINCODEC_ERR_BADIMAGE, UnsupportedFormat},
        {WINCODEC_ERR_BADHEADER, UnsupportedFormat},
        {E_OUTOFMEMORY, OutOfMemory},
        {static_cast<HRESULT>(0x88982F51), InternalError},  // WINCODEC_ERR_COMPONENTINITIALIZEFAILURE
        {static_cast<HRESULT>(0x88982F81), InternalError},  // unsupported operation
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), InternalError},
        {E_FAIL, InternalError},
        {E_INVALIDARG, InternalError},
        {static_cast<HRESULT>(0x800707D0), InternalError},
    };
    for (const HresultCase& c : cases) EXPECT_EQ(StatusFromHresult(c.hr), c.status) << Hex(c.hr);
}

// Apartment state of the calling thread: S_OK/S_FALSE from CoGetApartmentType means joined.
bool ThreadHasApartment(APTTYPE* type = nullptr) {
    APTTYPE t;
    APTTYPEQUALIFIER q;
    const bool joined = SUCCEEDED(CoGetApartmentType(&t, &q));
    if (type) *type = t;
    return joined;
}

TEST(ImagingContext, FreshThreadIsInitialisedAndLeftAsFound) {
    RunOnNewThread([] {
        {
            ImagingContext context;
            EXPECT_EQ(context.status(), Success);
            EXPECT_TRUE(context.comInitialised());
            EXPECT_NE(context.factory(), nullptr);
        }
        EXPECT_FALSE(ThreadHasApartment());
    });
}

TEST(ImagingContext, HostStaKeepsItsApartment) {
    RunOnNewThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            ImagingContext context;
            EXPECT_EQ(context.status(), Success);
            EXPECT_FALSE(context.comInitialised());
        }
        APTTYPE type;
        EXPECT_TRUE(ThreadHasApartment(&type));
        EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
        // The context gave back the reference its S_FALSE took: the host's one
        // uninitialisation ends the apartment.
        CoUninitialize();
        EXPECT_FALSE(ThreadHasApartment());
    });
}

TEST(ImagingContext, HostMtaKeepsItsApartmentAndStillGetsAFactory) {
    RunOnNewThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            ImagingContext context;
            EXPECT_EQ(context.status(), Success);
            EXPECT_FALSE(context.comInitialised());
            EXPECT_NE(context.factory(), nullptr);
        }
        APTTYPE type;
        EXPECT_TRUE(ThreadHasApartment(&type));
        EXPECT_EQ(type, APTTYPE_MTA);
        CoUninitialize();
    });
}

TEST(ImagingContext, FactoryFailureIsMapped) {
    const HresultCase cases[] = {{E_OUTOFMEMORY, OutOfMemory},
                                 {REGDB_E_CLASSNOTREG, InternalError},
                                 {WINCODEC_ERR_COMPONENTNOTFOUND, UnsupportedFormat}};
    for (const HresultCase& c : cases) {
        ImagingContext context([&](IWICImagingFactory**) { return c.hr; });
        EXPECT_EQ(context.status(), c.status) << Hex(c.hr);
        EXPECT_EQ(context.factory(), nullptr);
        ComPtr<IWICBitmapDecoder> decoder;
        EXPECT_EQ(OpenDecoderFromFile(context, SuitePath(L"basn2c08.png").c_str(), decoder), InternalError);
        EXPECT_EQ(OpenDecoderFromMemory(context, "x", 1, decoder), InternalError);
        EXPECT_EQ(OpenDecoderFromFileHandle(context, GetCurrentProcess(), decoder), InternalError);
    }
}


class FakeFactoryContext : public testing::Test {
protected:
    ComScope com;
    ComPtr<FakeFactory> fake = MakeFake<FakeFactory>(RealFactory());
    ImagingContext context{[this](IWICImagingFactory** out) {
        *out = fake.get();
        fake->AddRef();
        return S_OK;
    }};
};

TEST_F(FakeFactoryContext, BadArgumentsMakeNoPlatformCall) {
    ComPtr<IWICBitmapDecoder> decoder;
    EXPECT_EQ(OpenDecoderFromFile(context, nullptr, decoder), InternalError);
    EXPECT_EQ(OpenDecoderFromFile(context, L"", decoder), InternalError);
    EXPECT_EQ(OpenDecoderFromMemory(context, nullptr, 10, decoder), InternalError);
    EXPECT_EQ(OpenDecoderFromFileHandle(context, INVALID_HANDLE_VALUE, decoder), InternalError);
#ifdef _WIN64
    const char byte = 0;
    EXPECT_EQ(OpenDecoderFromMemory(context, &byte, LengthOrOffset(0x100000000LL), decoder), InternalError);
    EXPECT_EQ(OpenDecoderFromMemory(context, &byte, LengthOrOffset(-1), decoder), InternalError);
#endif
    EXPECT_EQ(fake->decoderCalls, 0);
    EXPECT_FALSE(decoder);
}

TEST_F(FakeFactoryContext, DecoderCreationFailuresAreMappedAndNothingLeaks) {
    const std::vector<uint8_t> bytes = ReadFileBytes(SuitePath(L"basn2c08.png"));
    UniqueFile file(CreateFileW(SuitePath(L"basn2c08.png").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const HresultCase cases[] = {{E_OUTOFMEMORY, OutOfMemory},
                                 {WINCODEC_ERR_BADHEADER, UnsupportedFormat},
                                 {static_cast<HRESULT>(0x88982F51), InternalError}};
    for (const HresultCase& c : cases) {
        fake->decoderResult = c.hr;
        ComPtr<IWICBitmapDecoder> decoder;
        EXPECT_EQ(OpenDecoderFromFile(context, SuitePath(L"basn2c08.png").c_str(), decoder), c.status);
        EXPECT_EQ(OpenDecoderFromMemory(context, bytes.data(), LengthOrOffset(bytes.size()), decoder), c.status);
        EXPECT_EQ(OpenDecoderFromFileHandle(context, file.get(), decoder), c.status);
        EXPECT_FALSE(decoder);
    }
    EXPECT_EQ(fake->references(), 2u) << "the test and the context hold the only references";
}

TEST_F(FakeFactoryContext, ContainerQueryFailureIsMapped) {
    auto decoder = MakeFake<FakeDecoder>();
    const HresultCase cases[] = {{E_OUTOFMEMORY, OutOfMemory},
                                 {WINCODEC_ERR_BADIMAGE, UnsupportedFormat},
                                 {E_FAIL, InternalError}};
    for (const HresultCase& c : cases) {
        decoder->containerResult = c.hr;
        EXPECT_EQ(CheckPngContainer(decoder.get()), c.status) << Hex(c.hr);
    }
    decoder->containerResult = S_OK;
    decoder->container = GUID_ContainerFormatGif;
    EXPECT_EQ(CheckPngContainer(decoder.get()), UnsupportedFormat);
    decoder->container = GUID_ContainerFormatPng;
    EXPECT_EQ(CheckPngContainer(decoder.get()), Success);
    EXPECT_EQ(decoder->references(), 1u);
}

class RealContext : public testing::Test {
protected:
    ImagingContext context;
    ComPtr<IWICBitmapDecoder> decoder;
};

TEST_F(RealContext, OpensPngFromEachSource) {
    const std::wstring path = SuitePath(L"basn6a08.png");
    ASSERT_EQ(OpenDecoderFromFile(context, path.c_str(), decoder), Success);
    EXPECT_EQ(CheckPngContainer(decoder.get()), Success);

    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    ASSERT_EQ(OpenDecoderFromMemory(context, bytes.data(), LengthOrOffset(bytes.size()), decoder), Success);
    EXPECT_EQ(CheckPngContainer(decoder.get()), Success);

    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_EQ(OpenDecoderFromFileHandle(context, file.get(), decoder), Success);
    EXPECT_EQ(CheckPngContainer(decoder.get()), Success);
    decoder.reset();
    // The host's handle is still open and usable.
    DWORD read = 0;
    char first[8] = {};
    SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
    EXPECT_TRUE(ReadFile(file.get(), first, 8, &read, nullptr));
    EXPECT_EQ(std::string(first + 1, 3), "PNG");
}

TEST_F(RealContext, MemoryDecoderOutlivesTheStreamReference) {
    std::vector<uint8_t> bytes = ReadFileBytes(SuitePath(L"basn2c08.png"));
    ASSERT_EQ(OpenDecoderFromMemory(context, bytes.data(), LengthOrOffset(bytes.size()), decoder), Success);
    std::fill(bytes.begin(), bytes.end(), 0);  // the stream holds its own copy
    ComPtr<IWICBitmapFrameDecode> frame;
    ASSERT_EQ(decoder->GetFrame(0, frame.put()), S_OK);
    UINT width = 0, height = 0;
    EXPECT_EQ(frame->GetSize(&width, &height), S_OK);
    EXPECT_EQ(width, 32u);
    std::vector<BYTE> pixels(32 * 3 * 32);
    EXPECT_EQ(frame->CopyPixels(nullptr, 32 * 3, UINT(pixels.size()), pixels.data()), S_OK);
}

TEST_F(RealContext, OtherContainersOpenButAreNotPng) {
    for (const GUID& container : {GUID_ContainerFormatGif, GUID_ContainerFormatJpeg, GUID_ContainerFormatBmp}) {
        const std::vector<uint8_t> bytes = EncodeWithWic(container, 8, 8);
        ASSERT_EQ(OpenDecoderFromMemory(context, bytes.data(), LengthOrOffset(bytes.size()), decoder), Success);
        EXPECT_EQ(CheckPngContainer(decoder.get()), UnsupportedFormat);
    }
}

TEST_F(RealContext, UnrecognisedOrDamagedDataIsUnsupported) {
    const std::string text = "This is a text file, not a picture.\n";
    EXPECT_EQ(OpenDecoderFromMemory(context, text.data(), LengthOrOffset(text.size()), decoder),
              UnsupportedFormat);
    std::vector<uint8_t> png = ReadFileBytes(SuitePath(L"basn2c08.png"));
    png.resize(40);  // signature and a cut-off header chunk
    const PluginStatus cut = OpenDecoderFromMemory(context, png.data(), LengthOrOffset(png.size()), decoder);
    EXPECT_TRUE(cut == UnsupportedFormat || cut == InternalError) << cut;
    EXPECT_FALSE(decoder);
}

TEST_F(RealContext, MissingFileGivesTheMappedStatus) {
    EXPECT_EQ(OpenDecoderFromFile(context, (ScratchDirectory(L"ctx") + L"\\missing.png").c_str(), decoder),
              InternalError);
}

}  // namespace
