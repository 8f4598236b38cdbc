// Size, density and colour depth of a PNG picture, read without decoding its pixels.
#include "decode/PictureInformation.h"

#include "decode/ImagingContext.h"
#include "decode/PixelFormatCatalogue.h"

#include <cmath>

uint16_t DensityFromDpi(double dpi) {
    const double perMetre = dpi / 0.0254;
    // Out-of-range or non-finite values cannot be converted to an integer safely.
    if (!std::isfinite(perMetre) || std::fabs(perMetre) >= 9.2e18) return 0;
    return static_cast<uint16_t>(static_cast<int64_t>(perMetre));
}

PluginStatus ReadPictureInfo(IWICBitmapDecoder* decoder, PictureInfo& info) {
    const PluginStatus container = CheckPngContainer(decoder);
    if (container != Success) return container;

    ComPtr<IWICBitmapFrameDecode> frame;
    HRESULT hr = decoder->GetFrame(0, frame.put());
    if (FAILED(hr)) return StatusFromHresult(hr);
    if (!frame) return InternalError;

    UINT width = 0, height = 0;
    hr = frame->GetSize(&width, &height);
    if (FAILED(hr)) return StatusFromHresult(hr);

    double dpiX = 0, dpiY = 0;
    hr = frame->GetResolution(&dpiX, &dpiY);
    if (FAILED(hr)) return StatusFromHresult(hr);

    WICPixelFormatGUID format{};
    hr = frame->GetPixelFormat(&format);
    if (FAILED(hr)) return StatusFromHresult(hr);
    const PixelFormatEntry* entry = LookupPixelFormat(format);
    if (!entry) return OutOfMemory;

    // All reads succeeded: fill the record in one go, leaving the host's textInfo alone.
    info.left = 0;
    info.top = 0;
    info.width = static_cast<int32_t>(width);
    info.height = static_cast<int32_t>(height);
    info.xDensity = DensityFromDpi(dpiX);
    info.yDensity = DensityFromDpi(dpiY);
    info.colorDepth = static_cast<int16_t>(entry->bitsPerPixel);
    return Success;
}

PluginStatus ReadPictureInfoFromFile(const wchar_t* fileName, PictureInfo& info) {
    ImagingContext context;
    if (context.status() != Success) return context.status();
    ComPtr<IWICBitmapDecoder> decoder;
    const PluginStatus opened = OpenDecoderFromFile(context, fileName, decoder);
    if (opened != Success) return opened;
    return ReadPictureInfo(decoder.get(), info);
}

PluginStatus ReadPictureInfoFromMemory(const void* bytes, LengthOrOffset length, PictureInfo& info) {
    ImagingContext context;
    if (context.status() != Success) return context.status();
    ComPtr<IWICBitmapDecoder> decoder;
    const PluginStatus opened = OpenDecoderFromMemory(context, bytes, length, decoder);
    if (opened != Success) return opened;
    return ReadPictureInfo(decoder.get(), info);
}
