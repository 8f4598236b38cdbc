// Small fake WIC objects for failure paths that Wine's real component never takes.
// Each fake forwards to a real object (when it has one) unless told to fail a call, and
// counts its references so a test can prove every reference was released.
#pragma once

#include "plugin/Owners.h"

#include <wincodec.h>

// Reference counting and QueryInterface for a fake implementing `Interface` and its bases.
template <class Interface, class... Bases>
class FakeUnknown : public Interface {
public:
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

// Creates the platform's real factory (the calling thread must be in an apartment).
inline ComPtr<IWICImagingFactory> RealFactory() {
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                     factory.putVoid());
    return factory;
}
