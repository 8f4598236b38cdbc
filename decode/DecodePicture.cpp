// The picture decoding pipeline behind GetPicture.
#include "decode/DecodePicture.h"

#include "bitmap/DibImage.h"
#include "bitmap/FlipRows.h"
#include "bitmap/ResolveAlpha.h"
#include "decode/FrameAcquisition.h"
#include "decode/PixelFormatCatalogue.h"

#include <algorithm>
#include <new>

namespace {

// Appends a gray ramp and a final white until the palette has `count` entries.
void CompletePalette(std::vector<uint32_t>& palette, uint32_t count) {
    const uint32_t have = static_cast<uint32_t>(palette.size());
    if (have >= count) return;
    const uint32_t ramp = count - have - 1;
    for (uint32_t i = 0; i < ramp; ++i) {
        const uint32_t level = i * 255u / ramp;
        palette.push_back((level << 16) | (level << 8) | level);
    }
    palette.push_back(0xFFFFFF);
}

// The source's own colours, at most `limit` of them; empty when any step fails.
std::vector<uint32_t> SourceColours(IWICImagingFactory* factory, IWICBitmapSource* source, uint32_t limit) {
    std::vector<uint32_t> colours;
    ComPtr<IWICPalette> palette;
    if (FAILED(factory->CreatePalette(palette.put())) || !palette) return colours;
    if (FAILED(source->CopyPalette(palette.get()))) return colours;
    UINT count = 0;
    if (FAILED(palette->GetColorCount(&count))) return colours;
    const UINT wanted = std::min<UINT>(limit, count);
    colours.resize(wanted);
    UINT written = 0;
    if (wanted == 0 || FAILED(palette->GetColors(wanted, colours.data(), &written))) {
        colours.clear();
        return colours;
    }
    colours.resize(std::min(written, wanted));
    return colours;
}

// From here on the blocks are the host's; whatever the out-parameters held is overwritten.
void StoreForHost(UniqueHlocal& infoBlock, UniqueHlocal& bitsBlock, HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut) {
    *bitsHandleOut = bitsBlock.release();
    *headerHandleOut = infoBlock.release();
}

PluginStatus DecodeAcquired(HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut, const ImagingContext& context,
                            IWICBitmapSource* source, ProgressCallback progress, LONG_PTR userData) {
    UINT width = 0, height = 0;
    HRESULT hr = source->GetSize(&width, &height);
    if (FAILED(hr)) return StatusFromHresult(hr);
    double dpiX = 0, dpiY = 0;
    hr = source->GetResolution(&dpiX, &dpiY);
    if (FAILED(hr)) return StatusFromHresult(hr);
    WICPixelFormatGUID format{};
    hr = source->GetPixelFormat(&format);
    if (FAILED(hr)) return StatusFromHresult(hr);
    const PixelFormatEntry* entry = LookupPixelFormat(format);
    if (!entry) return OutOfMemory;

    const std::vector<uint32_t> palette = BuildPalette(context.factory(), source, entry->bitsPerPixel);

    UniqueHlocal spareBlock;
    DibImage image;
    PluginStatus status = image.Allocate(width, height, entry->bitsPerPixel, palette, spareBlock);
    if (status != Success) return status;

    const size_t stride = image.header()->stride;
    const uint64_t bufferSize = uint64_t(stride) * height;
    // CopyPixels takes 32-bit sizes: a larger picture cannot be copied in one call.
    if (stride > 0xFFFFFFFFu || bufferSize > 0xFFFFFFFFu) return OutOfMemory;
    const WICRect all = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    hr = source->CopyPixels(&all, static_cast<UINT>(stride), static_cast<UINT>(bufferSize), image.pixels());
    if (FAILED(hr)) return StatusFromHresult(hr);

    if (ProgressStop(progress, 60, userData) || ProgressStop(progress, 70, userData)) return Cancelled;

    // Both steps work within the block the pixels were copied into: no second picture-sized
    // block is allocated, and no page that the copy has not touched is written.
    // A picture left top-down under a bottom-up header would show upside down as if it
    // were right: that is a failure, not a picture.
    status = FlipToBottomUpInPlace(image);
    if (status != Success) return status;
    if (ProgressStop(progress, 80, userData)) return Cancelled;

    // Without a 24-bit result the host still gets the correct 32-bit picture.
    if (entry->hasAlpha) ResolveAlphaInPlace(image);
    if (ProgressStop(progress, 90, userData)) return Cancelled;

    UniqueHlocal infoBlock, bitsBlock;
    status = image.HandOver(infoBlock, bitsBlock);
    if (status != Success) return status;
    StoreForHost(infoBlock, bitsBlock, headerHandleOut, bitsHandleOut);
    return ProgressStop(progress, 100, userData) ? Cancelled : Success;
}

template <class OpenDecoder>
PluginStatus DecodeFromSource(OpenDecoder open, HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                              ProgressCallback progress, LONG_PTR userData) {
    if (ProgressStop(progress, 0, userData)) return Cancelled;
    ImagingContext context;
    if (context.status() != Success) return context.status();
    ComPtr<IWICBitmapDecoder> decoder;
    const PluginStatus opened = open(context, decoder);
    if (opened != Success) return opened;
    if (ProgressStop(progress, 10, userData)) return Cancelled;
    return DecodePicture(headerHandleOut, bitsHandleOut, context, decoder.get(), progress, userData);
}

}  // namespace

bool ProgressStop(ProgressCallback progress, int point, LONG_PTR userData) {
    return progress && progress(point, 100, userData) != 0;
}

std::vector<uint32_t> BuildPalette(IWICImagingFactory* factory, IWICBitmapSource* source, int32_t bitsPerPixel) {
    std::vector<uint32_t> palette;
    if (bitsPerPixel > 8) return palette;
    const uint32_t count = 1u << std::max(bitsPerPixel, 0);
    if (factory) palette = SourceColours(factory, source, count);
    CompletePalette(palette, count);
    return palette;
}

PluginStatus DecodePicture(HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut, const ImagingContext& context,
                           IWICBitmapDecoder* decoder, ProgressCallback progress, LONG_PTR userData) {
    if (!headerHandleOut || !bitsHandleOut) return InternalError;
    const PluginStatus container = CheckPngContainer(decoder);
    if (container != Success) return container;
    if (ProgressStop(progress, 30, userData)) return Cancelled;

    ComPtr<IWICBitmapSource> source;
    const PluginStatus acquired = AcquireFrame(context, decoder, source);
    if (acquired != Success) return acquired;
    if (ProgressStop(progress, 50, userData)) return Cancelled;
    try {
        return DecodeAcquired(headerHandleOut, bitsHandleOut, context, source.get(), progress, userData);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

PluginStatus DecodePictureFromFile(const wchar_t* fileName, HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                                   ProgressCallback progress, LONG_PTR userData) {
    return DecodeFromSource(
        [fileName](const ImagingContext& context, ComPtr<IWICBitmapDecoder>& decoder) {
            return OpenDecoderFromFile(context, fileName, decoder);
        },
        headerHandleOut, bitsHandleOut, progress, userData);
}

PluginStatus DecodePictureFromMemory(const void* bytes, LengthOrOffset length, HLOCAL* headerHandleOut,
                                     HLOCAL* bitsHandleOut, ProgressCallback progress, LONG_PTR userData) {
    return DecodeFromSource(
        [bytes, length](const ImagingContext& context, ComPtr<IWICBitmapDecoder>& decoder) {
            return OpenDecoderFromMemory(context, bytes, length, decoder);
        },
        headerHandleOut, bitsHandleOut, progress, userData);
}
