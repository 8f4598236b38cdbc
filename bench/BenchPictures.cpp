// vellaro-bench-pictures OUTDIR: writes the benchmark's standard pictures with the
// platform's own PNG encoder, the same bytes on every run: 4096 x 4096 RGBA with varied
// alpha, opaque RGB and 8-bit palette, and 1,000 distinct 32 x 32 icons in OUTDIR\icons.
#include "plugin/Owners.h"

#include <wincodec.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr unsigned kLargeSide = 4096;
constexpr unsigned kIconSide = 32;
constexpr unsigned kIconCount = 1000;

// A small deterministic generator (xorshift32): the pictures must not change between runs.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed ? seed : 1) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // A value in -amplitude..amplitude.
    int Jitter(int amplitude) { return int(Next() % uint32_t(2 * amplitude + 1)) - amplitude; }

private:
    uint32_t state_;
};

uint8_t Clamp(int value) { return uint8_t(value < 0 ? 0 : value > 255 ? 255 : value); }

// Photograph-like colour: smooth gradients with a little grain, so the data compresses
// about as well as a real picture's.
void Colour(unsigned x, unsigned y, unsigned side, Noise& noise, uint8_t* bgr) {
    const int fx = int(x * 255 / side), fy = int(y * 255 / side);
    bgr[0] = Clamp(fx + noise.Jitter(6));
    bgr[1] = Clamp(fy + noise.Jitter(6));
    bgr[2] = Clamp(255 - (fx + fy) / 2 + noise.Jitter(6));
}

// Discs on a grid of `tile` pixels: opaque inside, transparent outside, a soft ring between.
uint8_t DiscAlpha(unsigned x, unsigned y, unsigned tile) {
    const int dx = int(x % tile) - int(tile / 2), dy = int(y % tile) - int(tile / 2);
    const int inner = int(tile) * 5 / 16, outer = int(tile) * 15 / 32;
    const int d2 = dx * dx + dy * dy;
    if (d2 <= inner * inner) return 255;
    if (d2 >= outer * outer) return 0;
    int d = inner;
    while (d * d < d2) ++d;
    return uint8_t(255 * (outer - d) / (outer - inner));
}

std::vector<uint8_t> RgbaPixels(unsigned side, unsigned tile, uint32_t seed) {
    std::vector<uint8_t> pixels(size_t(side) * side * 4);
    Noise noise(seed);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x) {
            uint8_t* p = &pixels[(size_t(y) * side + x) * 4];
            Colour(x, y, side, noise, p);
            p[3] = DiscAlpha(x, y, tile);
        }
    return pixels;
}

std::vector<uint8_t> RgbPixels(unsigned side) {
    const size_t stride = size_t(side) * 3;
    std::vector<uint8_t> pixels(stride * side);
    Noise noise(7);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x) Colour(x, y, side, noise, &pixels[y * stride + x * 3]);
    return pixels;
}

// Indices following the same gradients as the colour pictures, with grain.
std::vector<uint8_t> IndexPixels(unsigned side) {
    std::vector<uint8_t> pixels(size_t(side) * side);
    Noise noise(11);
    for (unsigned y = 0; y < side; ++y)
        for (unsigned x = 0; x < side; ++x)
            pixels[size_t(y) * side + x] = Clamp(int((x + y) * 255 / (2 * side)) + noise.Jitter(3));
    return pixels;
}

HRESULT WritePng(IWICImagingFactory* factory, const std::wstring& path, unsigned width, unsigned height,
                 const GUID& format, const std::vector<uint8_t>& pixels, IWICPalette* palette = nullptr) {
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    HRESULT hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.put(), nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID chosen = format;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&chosen);
    if (SUCCEEDED(hr) && chosen != format) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr) && palette) hr = frame->SetPalette(palette);
    const UINT stride = UINT(pixels.size() / height);
    if (SUCCEEDED(hr)) hr = frame->WritePixels(height, stride, UINT(pixels.size()), const_cast<BYTE*>(pixels.data()));
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

HRESULT WritePalettePicture(IWICImagingFactory* factory, const std::wstring& path) {
    std::vector<WICColor> colours(256);
    for (unsigned i = 0; i < 256; ++i) colours[i] = 0xFF000000u | (i << 16) | ((255 - i) << 8) | ((i * 7) & 0xFF);
    ComPtr<IWICPalette> palette;
    HRESULT hr = factory->CreatePalette(palette.put());
    if (SUCCEEDED(hr)) hr = palette->InitializeCustom(colours.data(), UINT(colours.size()));
    if (FAILED(hr)) return hr;
    return WritePng(factory, path, kLargeSide, kLargeSide, GUID_WICPixelFormat8bppIndexed, IndexPixels(kLargeSide),
                    palette.get());
}

bool Report(HRESULT hr, const std::wstring& path) {
    if (SUCCEEDED(hr)) return true;
    std::fprintf(stderr, "cannot write %ls: 0x%08lX\n", path.c_str(), static_cast<unsigned long>(hr));
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vellaro-bench-pictures OUTDIR\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring icons = folder + L"\\icons";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(icons.c_str(), nullptr);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    int result = 0;
    {
        ComPtr<IWICImagingFactory> factory;
        if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                    factory.putVoid())))
            result = 3;
        const auto write = [&](const std::wstring& path, HRESULT hr) {
            if (result == 0 && !Report(hr, path)) result = 3;
        };
        if (result == 0) {
            const std::wstring rgba = folder + L"\\rgba-4096.png";
            write(rgba, WritePng(factory.get(), rgba, kLargeSide, kLargeSide, GUID_WICPixelFormat32bppBGRA,
                                 RgbaPixels(kLargeSide, 256, 3)));
            const std::wstring rgb = folder + L"\\rgb-4096.png";
            write(rgb, WritePng(factory.get(), rgb, kLargeSide, kLargeSide, GUID_WICPixelFormat24bppBGR,
                                RgbPixels(kLargeSide)));
            const std::wstring indexed = folder + L"\\palette-4096.png";
            write(indexed, WritePalettePicture(factory.get(), indexed));
        }
        for (unsigned i = 0; i < kIconCount && result == 0; ++i) {
            wchar_t name[32];
            std::swprintf(name, 32, L"\\icon-%04u.png", i);
            const std::wstring path = icons + name;
            write(path, WritePng(factory.get(), path, kIconSide, kIconSide, GUID_WICPixelFormat32bppBGRA,
                                 RgbaPixels(kIconSide, kIconSide, 1000 + i)));
        }
    }
    CoUninitialize();
    return result;
}
