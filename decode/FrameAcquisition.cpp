// Frame 0 of a decoder, delivered in the pixel format the output bitmap will hold.
#include "decode/FrameAcquisition.h"

#include "decode/FormatConversion.h"
#include "decode/PixelFormatCatalogue.h"

namespace {

// The frame's palette, or none when it cannot be made or copied: a palette is optional.
ComPtr<IWICPalette> CopyFramePalette(IWICImagingFactory* factory, IWICBitmapSource* frame) {
    ComPtr<IWICPalette> palette;
    if (FAILED(factory->CreatePalette(palette.put())) || !palette) return nullptr;
    if (FAILED(frame->CopyPalette(palette.get()))) return nullptr;
    return palette;
}

bool PaletteHasAlpha(IWICPalette* palette) {
    BOOL hasAlpha = FALSE;
    return palette && SUCCEEDED(palette->HasAlpha(&hasAlpha)) && hasAlpha;
}

}  // namespace

PluginStatus AcquireFrame(const ImagingContext& context, IWICBitmapDecoder* decoder,
                          ComPtr<IWICBitmapSource>& source) {
    source.reset();
    if (!decoder || !context.factory()) return InternalError;

    ComPtr<IWICBitmapFrameDecode> frame;
    HRESULT hr = decoder->GetFrame(0, frame.put());
    if (FAILED(hr)) return StatusFromHresult(hr);
    if (!frame) return InternalError;

    WICPixelFormatGUID frameFormat{};
    hr = frame->GetPixelFormat(&frameFormat);
    if (FAILED(hr)) return StatusFromHresult(hr);
    const PixelFormatEntry* entry = LookupPixelFormat(frameFormat);
    if (!entry) return OutOfMemory;

    // Formats of up to 8 bits may carry transparency in their palette.
    ComPtr<IWICPalette> palette;
    if (entry->bitsPerPixel <= 8) palette = CopyFramePalette(context.factory(), frame.get());
    const bool hasAlpha = entry->hasAlpha || PaletteHasAlpha(palette.get());
    const GUID& target = hasAlpha ? PixelFormats::k32bppBGRA : *entry->outputFormat;

    if (GuidEqual(target, frameFormat)) {
        hr = frame.queryInterface(source);
        return SUCCEEDED(hr) && source ? Success : StatusFromHresult(FAILED(hr) ? hr : E_NOINTERFACE);
    }
    return ConvertFrame(context, frame.get(), frameFormat, target, source);
}
