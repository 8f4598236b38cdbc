// Small fake WIC objects for failure paths that Wine's real component never takes.
// Each fake forwards to a real object (when it has one) unless told to fail a call, and
// counts its references so a test can prove every reference was released.
#pragma once

#include "plugin/Owners.h"

#include <wincodec.h>

#include <algorithm>
#include <vector>

// Reference counting and QueryInterface for a fake implementing `Interface` and its bases.
template <class Interface, class... Bases>
class FakeUnknown : public Interface {
public:
    FakeUnknown() = default;
    FakeUnknown(const FakeUnknown&) = delete;
    FakeUnknown& operator=(const FakeUnknown&) = delete;
    virtual ~FakeUnknown() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface) || ((iid == __uuidof(Bases)) || ...)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    ULONG references() const { return references_; }

private:
    ULONG references_ = 1;
};

// Creates a fake with one reference owned by the returned pointer.
template <class Fake, class... Args>
ComPtr<Fake> MakeFake(Args&&... args) {
    return ComPtr<Fake>::Attach(new Fake(std::forward<Args>(args)...));
}

// A frame with chosen size, resolution and pixel format, or forwarding to a real frame;
// each query can be made to fail.
class FakeFrame : public FakeUnknown<IWICBitmapFrameDecode, IWICBitmapSource> {
public:
    explicit FakeFrame(ComPtr<IWICBitmapFrameDecode> inner = nullptr) : inner_(std::move(inner)) {}

    UINT width = 1, height = 1;
    double dpiX = 96, dpiY = 96;
    GUID format = GUID_WICPixelFormat24bppBGR;
    HRESULT sizeResult = S_OK, resolutionResult = S_OK, formatResult = S_OK;
    HRESULT paletteResult = S_OK, pixelsResult = S_OK;
    std::vector<WICColor> paletteColors;  // copied by CopyPalette; empty: no palette
    BYTE fill = 0x5A;                     // every pixel byte CopyPixels writes without a real frame
    WICRect lastRect{};
    UINT lastStride = 0, lastBufferSize = 0;
    int pixelCalls = 0;

    HRESULT STDMETHODCALLTYPE GetSize(UINT* w, UINT* h) override {
        if (FAILED(sizeResult)) return sizeResult;
        if (inner_) return inner_->GetSize(w, h);
        *w = width;
        *h = height;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* out) override {
        if (FAILED(formatResult)) return formatResult;
        if (inner_) return inner_->GetPixelFormat(out);
        *out = format;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override {
        if (FAILED(resolutionResult)) return resolutionResult;
        if (inner_) return inner_->GetResolution(x, y);
        *x = dpiX;
        *y = dpiY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override {
        if (FAILED(paletteResult)) return paletteResult;
        if (inner_) return inner_->CopyPalette(palette);
        if (paletteColors.empty()) return WINCODEC_ERR_PALETTEUNAVAILABLE;
        return palette->InitializeCustom(paletteColors.data(), UINT(paletteColors.size()));
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT size, BYTE* buffer) override {
        ++pixelCalls;
        if (rect) lastRect = *rect;
        lastStride = stride;
        lastBufferSize = size;
        if (FAILED(pixelsResult)) return pixelsResult;
        if (inner_) return inner_->CopyPixels(rect, stride, size, buffer);
        std::fill(buffer, buffer + size, fill);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource**) override { return E_NOTIMPL; }

private:
    ComPtr<IWICBitmapFrameDecode> inner_;
};

// A decoder that answers GetContainerFormat and GetFrame itself or through a real decoder.
class FakeDecoder : public FakeUnknown<IWICBitmapDecoder> {
public:
    explicit FakeDecoder(ComPtr<IWICBitmapDecoder> inner = nullptr) : inner_(std::move(inner)) {}

    HRESULT containerResult = S_OK;  // failure to report from GetContainerFormat
    GUID container = GUID_ContainerFormatPng;  // used when there is no real decoder
    HRESULT frameResult = S_OK;      // failure to report from GetFrame
    ComPtr<IWICBitmapFrameDecode> frame;  // handed out by GetFrame when set
    int frameCalls = 0;

    HRESULT STDMETHODCALLTYPE QueryCapability(IStream*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize(IStream*, WICDecodeOptions) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
        if (FAILED(containerResult)) return containerResult;
        if (inner_) return inner_->GetContainerFormat(format);
        *format = container;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrameCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** out) override {
        ++frameCalls;
        if (FAILED(frameResult)) return frameResult;
        if (frame) { *out = frame.get(); frame->AddRef(); return S_OK; }
        if (inner_) return inner_->GetFrame(index, out);
        return E_NOTIMPL;
    }

private:
    ComPtr<IWICBitmapDecoder> inner_;
};

// A factory that forwards to the real one and fails chosen calls.
class FakeFactory : public FakeUnknown<IWICImagingFactory> {
public:
    explicit FakeFactory(ComPtr<IWICImagingFactory> inner = nullptr) : inner_(std::move(inner)) {}

    HRESULT decoderResult = S_OK;    // failure to report from the three decoder creations
    HRESULT paletteResult = S_OK;    // failure to report from CreatePalette
    HRESULT converterResult = S_OK;  // failure to report from CreateFormatConverter
    ComPtr<IWICBitmapDecoder> decoder;          // handed out by the decoder creations when set
    ComPtr<IWICFormatConverter> converter;      // handed out by CreateFormatConverter when set
    ComPtr<IWICPalette> palette;                // handed out by CreatePalette when set
    int decoderCalls = 0;
    int paletteCalls = 0;
    int converterCalls = 0;

    HRESULT STDMETHODCALLTYPE CreateDecoderFromFilename(LPCWSTR name, const GUID* vendor, DWORD access,
                                                        WICDecodeOptions options,
                                                        IWICBitmapDecoder** out) override {
        return GiveDecoder(out, [&] { return inner_->CreateDecoderFromFilename(name, vendor, access, options, out); });
    }
    HRESULT STDMETHODCALLTYPE CreateDecoderFromStream(IStream* stream, const GUID* vendor,
                                                      WICDecodeOptions options,
                                                      IWICBitmapDecoder** out) override {
        return GiveDecoder(out, [&] { return inner_->CreateDecoderFromStream(stream, vendor, options, out); });
    }
    HRESULT STDMETHODCALLTYPE CreateDecoderFromFileHandle(ULONG_PTR file, const GUID* vendor,
                                                          WICDecodeOptions options,
                                                          IWICBitmapDecoder** out) override {
        return GiveDecoder(out, [&] { return inner_->CreateDecoderFromFileHandle(file, vendor, options, out); });
    }
    HRESULT STDMETHODCALLTYPE CreatePalette(IWICPalette** out) override {
        ++paletteCalls;
        if (FAILED(paletteResult)) return paletteResult;
        if (palette) { *out = palette.get(); palette->AddRef(); return S_OK; }
        return inner_ ? inner_->CreatePalette(out) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateFormatConverter(IWICFormatConverter** out) override {
        ++converterCalls;
        if (FAILED(converterResult)) return converterResult;
        if (converter) { *out = converter.get(); converter->AddRef(); return S_OK; }
        return inner_ ? inner_->CreateFormatConverter(out) : E_NOTIMPL;
    }

#define VELLARO_FORWARD(name, params, args) \
    HRESULT STDMETHODCALLTYPE name params override { return inner_ ? inner_->name args : E_NOTIMPL; }
    VELLARO_FORWARD(CreateComponentInfo, (REFCLSID a, IWICComponentInfo** b), (a, b))
    VELLARO_FORWARD(CreateDecoder, (REFGUID a, const GUID* b, IWICBitmapDecoder** c), (a, b, c))
    VELLARO_FORWARD(CreateEncoder, (REFGUID a, const GUID* b, IWICBitmapEncoder** c), (a, b, c))
    VELLARO_FORWARD(CreateBitmapScaler, (IWICBitmapScaler** a), (a))
    VELLARO_FORWARD(CreateBitmapClipper, (IWICBitmapClipper** a), (a))
    VELLARO_FORWARD(CreateBitmapFlipRotator, (IWICBitmapFlipRotator** a), (a))
    VELLARO_FORWARD(CreateStream, (IWICStream** a), (a))
    VELLARO_FORWARD(CreateColorContext, (IWICColorContext** a), (a))
    VELLARO_FORWARD(CreateColorTransformer, (IWICColorTransform** a), (a))
    VELLARO_FORWARD(CreateBitmap, (UINT a, UINT b, REFWICPixelFormatGUID c, WICBitmapCreateCacheOption d, IWICBitmap** e), (a, b, c, d, e))
    VELLARO_FORWARD(CreateBitmapFromSource, (IWICBitmapSource* a, WICBitmapCreateCacheOption b, IWICBitmap** c), (a, b, c))
    VELLARO_FORWARD(CreateBitmapFromSourceRect, (IWICBitmapSource* a, UINT b, UINT c, UINT d, UINT e, IWICBitmap** f), (a, b, c, d, e, f))
    VELLARO_FORWARD(CreateBitmapFromMemory, (UINT a, UINT b, REFWICPixelFormatGUID c, UINT d, UINT e, BYTE* f, IWICBitmap** g), (a, b, c, d, e, f, g))
    VELLARO_FORWARD(CreateBitmapFromHBITMAP, (HBITMAP a, HPALETTE b, WICBitmapAlphaChannelOption c, IWICBitmap** d), (a, b, c, d))
    VELLARO_FORWARD(CreateBitmapFromHICON, (HICON a, IWICBitmap** b), (a, b))
    VELLARO_FORWARD(CreateComponentEnumerator, (DWORD a, DWORD b, IEnumUnknown** c), (a, b, c))
    VELLARO_FORWARD(CreateFastMetadataEncoderFromDecoder, (IWICBitmapDecoder* a, IWICFastMetadataEncoder** b), (a, b))
    VELLARO_FORWARD(CreateFastMetadataEncoderFromFrameDecode, (IWICBitmapFrameDecode* a, IWICFastMetadataEncoder** b), (a, b))
    VELLARO_FORWARD(CreateQueryWriter, (REFGUID a, const GUID* b, IWICMetadataQueryWriter** c), (a, b, c))
    VELLARO_FORWARD(CreateQueryWriterFromReader, (IWICMetadataQueryReader* a, const GUID* b, IWICMetadataQueryWriter** c), (a, b, c))
#undef VELLARO_FORWARD

private:
    template <class Create>
    HRESULT GiveDecoder(IWICBitmapDecoder** out, Create create) {
        ++decoderCalls;
        if (FAILED(decoderResult)) return decoderResult;
        if (decoder) { *out = decoder.get(); decoder->AddRef(); return S_OK; }
        return inner_ ? create() : E_NOTIMPL;
    }

    ComPtr<IWICImagingFactory> inner_;
};

// A palette with chosen colours whose queries can be made to fail.
class FakePalette : public FakeUnknown<IWICPalette> {
public:
    std::vector<WICColor> colors;
    HRESULT countResult = S_OK, colorsResult = S_OK, alphaResult = S_OK;
    UINT reportedCount = UINT(-1);  // count to report instead of colors.size()

    HRESULT STDMETHODCALLTYPE InitializePredefined(WICBitmapPaletteType, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitializeCustom(WICColor* in, UINT count) override {
        colors.assign(in, in + count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitializeFromBitmap(IWICBitmapSource*, UINT, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitializeFromPalette(IWICPalette*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetType(WICBitmapPaletteType*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetColorCount(UINT* count) override {
        if (FAILED(countResult)) return countResult;
        *count = reportedCount != UINT(-1) ? reportedCount : UINT(colors.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetColors(UINT count, WICColor* out, UINT* actual) override {
        if (FAILED(colorsResult)) return colorsResult;
        const UINT n = std::min<UINT>(count, UINT(colors.size()));
        std::copy(colors.begin(), colors.begin() + n, out);
        *actual = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsBlackWhite(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsGrayscale(BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE HasAlpha(BOOL* alpha) override {
        if (FAILED(alphaResult)) return alphaResult;
        *alpha = FALSE;
        for (WICColor c : colors) *alpha |= (c >> 24) != 0xFF;
        return S_OK;
    }
};

// A converter that records how it was initialised and delivers its source's size and
// resolution in the target format, pixels filled with a marker.
class FakeConverter : public FakeUnknown<IWICFormatConverter, IWICBitmapSource> {
public:
    HRESULT initializeResult = S_OK, pixelsResult = S_OK;
    ComPtr<IWICBitmapSource> source;
    GUID target{};
    WICBitmapDitherType dither = WICBitmapDitherTypeErrorDiffusion;
    IWICPalette* palette = reinterpret_cast<IWICPalette*>(1);
    double threshold = -1;
    WICBitmapPaletteType translation = WICBitmapPaletteTypeCustom;
    int initializeCalls = 0;

    HRESULT STDMETHODCALLTYPE Initialize(IWICBitmapSource* in, REFWICPixelFormatGUID format,
                                         WICBitmapDitherType d, IWICPalette* p, double t,
                                         WICBitmapPaletteType type) override {
        ++initializeCalls;
        source = ComPtr<IWICBitmapSource>::Share(in);
        target = format;
        dither = d;
        palette = p;
        threshold = t;
        translation = type;
        return initializeResult;
    }
    HRESULT STDMETHODCALLTYPE CanConvert(REFWICPixelFormatGUID, REFWICPixelFormatGUID, BOOL* can) override {
        *can = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSize(UINT* w, UINT* h) override { return source->GetSize(w, h); }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* out) override {
        *out = target;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override { return source->GetResolution(x, y); }
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect*, UINT, UINT size, BYTE* buffer) override {
        if (FAILED(pixelsResult)) return pixelsResult;
        std::fill(buffer, buffer + size, BYTE(0x7E));
        return S_OK;
    }
};

// Creates the platform's real factory (the calling thread must be in an apartment).
inline ComPtr<IWICImagingFactory> RealFactory() {
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     factory.putVoid());
    return factory;
}
