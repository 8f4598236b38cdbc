// Converting a frame to the pixel format the output bitmap holds.
#include "decode/FormatConversion.h"

#include "decode/PixelFormatCatalogue.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

using namespace PixelFormats;

// Asks for one pixel: some converters accept a pair at Initialize and refuse it only
// when pixels are copied.
HRESULT ProbeOnePixel(IWICBitmapSource* source) {
    UINT width = 0, height = 0;
    HRESULT hr = source->GetSize(&width, &height);
    if (FAILED(hr) || width == 0 || height == 0) return hr;
    const WICRect onePixel = {0, 0, 1, 1};
    BYTE buffer[64] = {};
    return source->CopyPixels(&onePixel, sizeof buffer, sizeof buffer, buffer);
}

// A platform converter from `source` to `target`, checked to deliver.
HRESULT PlatformConverter(IWICImagingFactory* factory, IWICBitmapSource* source, const GUID& target,
                          ComPtr<IWICBitmapSource>& converted) {
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(converter.put());
    if (FAILED(hr)) return hr;
    if (!converter) return E_POINTER;
    hr = InitializeConverter(converter.get(), source, target);
    if (FAILED(hr)) return hr;
    hr = ProbeOnePixel(converter.get());
    if (IsConversionRefused(hr)) return hr;
    return converter.queryInterface(converted);
}

bool IsTwoBitToFourBit(const GUID& frameFormat, const GUID& target) {
    return (GuidEqual(frameFormat, k2bppIndexed) && GuidEqual(target, k4bppIndexed)) ||
           (GuidEqual(frameFormat, k2bppGray) && GuidEqual(target, k4bppGray));
}

// Widens 2-bit samples to 4 bits per pixel, row by row.
class TwoBitWidener : public IWICBitmapSource {
public:
    TwoBitWidener(IWICBitmapSource* frame, const GUID& target)
        : frame_(ComPtr<IWICBitmapSource>::Share(frame)), target_(target), gray_(GuidEqual(target, k4bppGray)) {}
    virtual ~TwoBitWidener() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_INVALIDARG;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IWICBitmapSource)) {
            *out = static_cast<IWICBitmapSource*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override { return frame_->GetSize(width, height); }
    HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override {
        if (!format) return E_INVALIDARG;
        *format = target_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetResolution(double* x, double* y) override { return frame_->GetResolution(x, y); }
    // Indices keep their meaning, so the frame's palette serves; gray has none.
    HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override {
        if (gray_) return WINCODEC_ERR_PALETTEUNAVAILABLE;
        return frame_->CopyPalette(palette);
    }
    HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;

private:
    ComPtr<IWICBitmapSource> frame_;
    GUID target_;
    bool gray_ = false;
    LONG references_ = 1;
};

HRESULT TwoBitWidener::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
    UINT width = 0, height = 0;
    HRESULT hr = frame_->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    WICRect area = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    if (rect) area = *rect;
    if (area.X < 0 || area.Y < 0 || area.Width < 0 || area.Height < 0 ||
        uint64_t(area.X) + uint64_t(area.Width) > width || uint64_t(area.Y) + uint64_t(area.Height) > height)
        return E_INVALIDARG;
    if (area.Width == 0 || area.Height == 0) return S_OK;
    if (!buffer) return E_INVALIDARG;
    // Check the caller's buffer before touching it: every row of 4-bit samples must fit.
    const uint64_t rowBytes = (uint64_t(area.Width) * 4 + 7) / 8;
    if (stride < rowBytes) return E_INVALIDARG;
    if (uint64_t(stride) * (uint64_t(area.Height) - 1) + rowBytes > bufferSize) return WINCODEC_ERR_INSUFFICIENTBUFFER;

    // The 2-bit samples of the row, starting at a byte boundary of the frame.
    const UINT firstSample = static_cast<UINT>(area.X) & ~3u;
    const UINT sampleCount = static_cast<UINT>(area.X) - firstSample + static_cast<UINT>(area.Width);
    const UINT sourceRowBytes = (sampleCount * 2 + 7) / 8;
    std::vector<BYTE> sourceRow;
    try {
        sourceRow.resize(sourceRowBytes);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (INT y = 0; y < area.Height; ++y) {
        const WICRect line = {static_cast<INT>(firstSample), area.Y + y, static_cast<INT>(sampleCount), 1};
        hr = frame_->CopyPixels(&line, sourceRowBytes, sourceRowBytes, sourceRow.data());
        if (FAILED(hr)) return hr;
        BYTE* out = buffer + size_t(stride) * y;
        std::memset(out, 0, rowBytes);
        for (INT x = 0; x < area.Width; ++x) {
            const UINT at = static_cast<UINT>(area.X) - firstSample + static_cast<UINT>(x);
            BYTE sample = (sourceRow[at / 4] >> (6 - 2 * (at % 4))) & 3;
            if (gray_) sample = static_cast<BYTE>(sample * 5);  // 0, 5, 10, 15: the same gray levels
            out[x / 2] |= static_cast<BYTE>(x % 2 == 0 ? sample << 4 : sample);
        }
    }
    return S_OK;
}

}  // namespace

HRESULT InitializeConverter(IWICFormatConverter* converter, IWICBitmapSource* source, const GUID& target) {
    return converter->Initialize(source, target, WICBitmapDitherTypeNone, nullptr, 0.0,
                                 WICBitmapPaletteTypeMedianCut);
}

bool IsConversionRefused(HRESULT hr) {
    return hr == WINCODEC_ERR_UNSUPPORTEDOPERATION || hr == WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
}

ComPtr<IWICBitmapSource> MakeTwoBitWidener(IWICBitmapSource* frame, const GUID& target) {
    auto* widener = new (std::nothrow) TwoBitWidener(frame, target);
    return ComPtr<IWICBitmapSource>::Attach(widener);
}

PluginStatus ConvertFrame(const ImagingContext& context, IWICBitmapSource* frame, const GUID& frameFormat,
                          const GUID& target, ComPtr<IWICBitmapSource>& converted) {
    IWICImagingFactory* factory = context.factory();
    if (!factory || !frame) return InternalError;
    HRESULT hr = PlatformConverter(factory, frame, target, converted);
    if (SUCCEEDED(hr)) return Success;
    if (!IsConversionRefused(hr)) return StatusFromHresult(hr);

    if (IsTwoBitToFourBit(frameFormat, target)) {
        converted = MakeTwoBitWidener(frame, target);
        return converted ? Success : OutOfMemory;
    }
    // Every format converts to 32bppBGRA; from there the platform reaches the rest.
    ComPtr<IWICBitmapSource> wide;
    hr = PlatformConverter(factory, frame, k32bppBGRA, wide);
    if (SUCCEEDED(hr)) hr = PlatformConverter(factory, wide.get(), target, converted);
    return SUCCEEDED(hr) ? Success : StatusFromHresult(hr);
}
