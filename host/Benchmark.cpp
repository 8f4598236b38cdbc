// vellaro-host bench: a plug-in's GetPicture against the bare imaging work any plug-in must
// do for the same picture, interleaved run by run in one process, and the peak private
// bytes each path adds.
#include "host/Benchmark.h"

#include "decode/PixelFormatCatalogue.h"
#include "host/BenchTiming.h"
#include "host/PluginLibrary.h"
#include "settings/SettingsStore.h"

#include <psapi.h>
#include <wincodec.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>

namespace {

constexpr unsigned kDefaultRuns = 9;
constexpr double kMegabyte = 1024.0 * 1024.0;

// One picture and what the bare path needs to know about it, found before any timing.
struct Picture {
    std::wstring path;
    std::string ansiPath;
    GUID target{};          // the format the plug-in has its pixels delivered in
    // How the bare path reaches `target`: directly, by way of 32bppBGRA where the platform
    // has no direct conversion, or not at all (the frame's own pixels are copied instead:
    // the least any plug-in must do, where the plug-in converts with code of its own).
    enum class Conversion { Direct, Chained, FrameAsIs } conversion = Conversion::Direct;
    int32_t bitsPerPixel = 0;  // of the pixels copied
    UINT width = 0, height = 0;
};

struct Timings {
    std::vector<double> baseline, plugin;  // milliseconds per run
};

std::string AnsiOf(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return std::string(out.c_str());
}

// IN.png, or every *.png of a folder in name order.
std::vector<std::wstring> ListPictures(const std::wstring& input) {
    const DWORD attributes = GetFileAttributesW(input.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {input};
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((input + L"\\*.png").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        files.push_back(input + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

// Joins a single-threaded apartment for a scope, as the plug-in does for each request.
class Apartment {
public:
    Apartment() : initialised_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK) {}
    ~Apartment() { if (initialised_) CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

private:
    bool initialised_;
};

HRESULT CreateFactory(ComPtr<IWICImagingFactory>& factory) {
    return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                            factory.putVoid());
}

HRESULT OpenFrame(IWICImagingFactory* factory, const std::wstring& path, ComPtr<IWICBitmapFrameDecode>& frame) {
    ComPtr<IWICBitmapDecoder> decoder;
    HRESULT hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                    WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) return hr;
    return decoder->GetFrame(0, frame.put());
}

bool PaletteHasAlpha(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
    ComPtr<IWICPalette> palette;
    BOOL hasAlpha = FALSE;
    return SUCCEEDED(factory->CreatePalette(palette.put())) && SUCCEEDED(frame->CopyPalette(palette.get())) &&
           SUCCEEDED(palette->HasAlpha(&hasAlpha)) && hasAlpha;
}

HRESULT Converter(IWICImagingFactory* factory, IWICBitmapSource* from, const GUID& target,
                  ComPtr<IWICBitmapSource>& source) {
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = factory->CreateFormatConverter(converter.put());
    if (SUCCEEDED(hr))
        hr = converter->Initialize(from, target, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeMedianCut);
    if (FAILED(hr)) return hr;
    return converter->QueryInterface(IID_IWICBitmapSource, source.putVoid());
}

// The frame itself when it already is in `target` (the platform's converter refuses some
// such pairs, and any plug-in would skip it), otherwise one converter, or two by way of
// 32bppBGRA where the platform has no direct conversion.
HRESULT ConvertedSource(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, const Picture& picture,
                        ComPtr<IWICBitmapSource>& source) {
    WICPixelFormatGUID format{};
    HRESULT hr = frame->GetPixelFormat(&format);
    if (FAILED(hr)) return hr;
    if (format == picture.target || picture.conversion == Picture::Conversion::FrameAsIs)
        return frame->QueryInterface(IID_IWICBitmapSource, source.putVoid());
    if (picture.conversion == Picture::Conversion::Direct) return Converter(factory, frame, picture.target, source);
    ComPtr<IWICBitmapSource> wide;
    hr = Converter(factory, frame, GUID_WICPixelFormat32bppBGRA, wide);
    if (FAILED(hr)) return hr;
    return Converter(factory, wide.get(), picture.target, source);
}

bool IsRefusal(HRESULT hr) {
    return hr == WINCODEC_ERR_UNSUPPORTEDOPERATION || hr == WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
}

// Whether the platform's converters deliver the target as `picture` says: some accept a
// pair and refuse it only when pixels are asked for.
bool Delivers(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, const Picture& picture) {
    ComPtr<IWICBitmapSource> source;
    HRESULT hr = ConvertedSource(factory, frame, picture, source);
    if (SUCCEEDED(hr)) {
        const WICRect onePixel = {0, 0, 1, 1};
        BYTE buffer[64] = {};
        hr = source->CopyPixels(&onePixel, sizeof buffer, sizeof buffer, buffer);
    }
    return !IsRefusal(hr);
}

void ChooseConversion(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, int32_t frameBits,
                      Picture& picture) {
    if (picture.width == 0 || picture.height == 0) return;
    for (const auto conversion : {Picture::Conversion::Direct, Picture::Conversion::Chained}) {
        picture.conversion = conversion;
        if (Delivers(factory, frame, picture)) return;
    }
    picture.conversion = Picture::Conversion::FrameAsIs;
    picture.bitsPerPixel = frameBits;
}

// The plug-in's own choice of delivery format: 32bppBGRA for transparency (in the
// format or in the palette), otherwise the catalogue's output format.
HRESULT DescribePicture(Picture& picture) {
    Apartment apartment;
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CreateFactory(factory);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = OpenFrame(factory.get(), picture.path, frame);
    if (FAILED(hr)) return hr;
    WICPixelFormatGUID format{};
    hr = frame->GetPixelFormat(&format);
    if (SUCCEEDED(hr)) hr = frame->GetSize(&picture.width, &picture.height);
    if (FAILED(hr)) return hr;
    const PixelFormatEntry* entry = LookupPixelFormat(format);
    if (!entry) return E_OUTOFMEMORY;
    const bool hasAlpha =
        entry->hasAlpha || (entry->bitsPerPixel <= 8 && PaletteHasAlpha(factory.get(), frame.get()));
    picture.target = hasAlpha ? PixelFormats::k32bppBGRA : *entry->outputFormat;
    const PixelFormatEntry* target = LookupPixelFormat(picture.target);
    if (!target) return E_OUTOFMEMORY;
    picture.bitsPerPixel = target->bitsPerPixel;
    picture.ansiPath = AnsiOf(picture.path);
    ChooseConversion(factory.get(), frame.get(), entry->bitsPerPixel, picture);
    return S_OK;
}

// The bare path: factory, decoder from the file, frame 0, conversion to the plug-in's
// format (unless the frame has it), and CopyPixels of every row into one local-memory buffer.
HRESULT DecodeBare(const Picture& picture) {
    Apartment apartment;
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CreateFactory(factory);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapFrameDecode> frame;
    hr = OpenFrame(factory.get(), picture.path, frame);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapSource> source;
    hr = ConvertedSource(factory.get(), frame.get(), picture, source);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = source->GetSize(&width, &height);
    if (FAILED(hr)) return hr;
    const uint64_t stride = (uint64_t{width} * uint32_t(picture.bitsPerPixel) + 31) / 32 * 4;
    const uint64_t size = stride * height;
    if (size > 0xFFFFFFFFu) return E_OUTOFMEMORY;
    UniqueHlocal buffer(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(size)));
    if (!buffer) return E_OUTOFMEMORY;
    const WICRect all = {0, 0, INT(width), INT(height)};
    return source->CopyPixels(&all, UINT(stride), UINT(size), static_cast<BYTE*>(buffer.get()));
}

// A whole GetPicture from the file, both blocks freed as a host frees them.
int DecodeWithPlugin(const PluginLibrary& plugin, const Picture& picture, size_t* bitsBytes = nullptr) {
    HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
    const int status = plugin.GetPicture(picture.ansiPath.c_str(), 0, 0, &infoBlock, &bitsBlock, nullptr, 0);
    UniqueHlocal info(status == 0 ? infoBlock : nullptr), bits(status == 0 ? bitsBlock : nullptr);
    if (bitsBytes && bits) *bitsBytes = LocalSize(bits.get());
    return status;
}

bool RunBaseline(const std::vector<Picture>& pictures) {
    for (const Picture& picture : pictures) {
        const HRESULT hr = DecodeBare(picture);
        if (FAILED(hr)) {
            std::fprintf(stderr, "bare imaging path failed on %s: 0x%08lX\n", picture.ansiPath.c_str(),
                         static_cast<unsigned long>(hr));
            return false;
        }
    }
    return true;
}

bool RunPlugin(const PluginLibrary& plugin, const std::vector<Picture>& pictures) {
    for (const Picture& picture : pictures) {
        const int status = DecodeWithPlugin(plugin, picture);
        if (status != 0) {
            std::fprintf(stderr, "GetPicture failed on %s: status %d\n", picture.ansiPath.c_str(), status);
            return false;
        }
    }
    return true;
}

// The commit charge, that is the private bytes (Wine fills this field, not PrivateUsage).
uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PagefileUsage;
}

// Polls the private bytes on a thread of its own while a path runs: the process-wide
// peak counter cannot be reset between the two paths.
class PeakSampler {
public:
    PeakSampler() : start_(PrivateBytes()), peak_(start_) {
        thread_.reset(CreateThread(nullptr, 0, Sample, this, 0, nullptr));
        while (thread_ && samples_.load() == 0) SwitchToThread();
    }
    PeakSampler(const PeakSampler&) = delete;
    PeakSampler& operator=(const PeakSampler&) = delete;
    ~PeakSampler() { Stop(); }

    // Bytes the peak lay above the private bytes at the start.
    uint64_t Stop() {
        stop_.store(true);
        if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
        thread_.reset();
        const uint64_t now = PrivateBytes();
        const uint64_t peak = std::max(peak_.load(), now);
        return peak > start_ ? peak - start_ : 0;
    }

private:
    static DWORD WINAPI Sample(void* self) {
        auto* sampler = static_cast<PeakSampler*>(self);
        while (!sampler->stop_.load()) {
            const uint64_t now = PrivateBytes();
            if (now > sampler->peak_.load()) sampler->peak_.store(now);
            sampler->samples_.fetch_add(1);
        }
        return 0;
    }

    const uint64_t start_;
    std::atomic<uint64_t> peak_;
    std::atomic<unsigned> samples_{0};
    std::atomic<bool> stop_{false};
    UniqueKernelHandle thread_;
};

// Runs are interleaved, the order alternating, so that drifts of the machine's load
// fall on both paths alike.
bool TimeRuns(const PluginLibrary& plugin, const std::vector<Picture>& pictures, unsigned runs, Timings& timings) {
    for (unsigned run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool bare = (turn == 0) == (run % 2 == 0);
            const double start = Now();
            if (!(bare ? RunBaseline(pictures) : RunPlugin(plugin, pictures))) return false;
            (bare ? timings.baseline : timings.plugin).push_back(Now() - start);
        }
    }
    return true;
}

void PrintSeries(const char* name, const std::vector<double>& values) {
    std::printf("%s.median_ms: %.2f\n", name, Median(values));
    std::printf("%s.min_ms: %.2f\n%s.max_ms: %.2f\n", name, *std::min_element(values.begin(), values.end()), name,
                *std::max_element(values.begin(), values.end()));
}

bool ParseBenchArguments(const std::vector<std::wstring>& args, std::wstring& pluginPath, std::wstring& input,
                         unsigned& runs) {
    std::vector<std::wstring> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--runs" && i + 1 < args.size()) {
            runs = static_cast<unsigned>(std::wcstoul(args[++i].c_str(), nullptr, 10));
            if (runs == 0) return false;
        } else if (args[i].rfind(L"--", 0) == 0) {
            return false;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return false;
    pluginPath = positional[0];
    input = positional[1];
    return true;
}

}  // namespace

int RunBench(const std::vector<std::wstring>& args) {
    std::wstring pluginPath, input;
    unsigned runs = kDefaultRuns;
    if (!ParseBenchArguments(args, pluginPath, input, runs)) {
        std::fprintf(stderr, "usage: vellaro-host bench PLUGIN IN.png|FOLDER [--runs N]\n");
        return 2;
    }
    PluginLibrary plugin;
    std::wstring error;
    std::vector<std::string> missing;
    if (!plugin.Load(pluginPath, error, missing) || !plugin.GetPicture) {
        std::fprintf(stderr, "cannot load the plug-in or its GetPicture\n");
        return 3;
    }
    std::vector<Picture> pictures;
    for (const std::wstring& path : ListPictures(input)) {
        Picture picture;
        picture.path = path;
        const HRESULT hr = DescribePicture(picture);
        if (FAILED(hr)) {
            std::fprintf(stderr, "cannot open %s: 0x%08lX\n", AnsiOf(path).c_str(), static_cast<unsigned long>(hr));
            return 3;
        }
        pictures.push_back(std::move(picture));
    }
    if (pictures.empty()) {
        std::fprintf(stderr, "no PNG pictures in %s\n", AnsiOf(input).c_str());
        return 3;
    }

    // One untimed round of each loads every library and brings the files into the cache.
    if (!RunBaseline(pictures) || !RunPlugin(plugin, pictures)) return 4;
    Timings timings;
    if (!TimeRuns(plugin, pictures, runs, timings)) return 4;

    // Memory in runs of their own: the sampling thread would disturb the timings.
    PeakSampler bareSampler;
    if (!RunBaseline(pictures)) return 4;
    const uint64_t baselinePeak = bareSampler.Stop();
    PeakSampler pluginSampler;
    if (!RunPlugin(plugin, pictures)) return 4;
    const uint64_t pluginPeak = pluginSampler.Stop();

    size_t dibBytes = 0;
    uint64_t rgbaBytes = 0;
    for (const Picture& picture : pictures) {
        size_t bits = 0;
        DecodeWithPlugin(plugin, picture, &bits);
        dibBytes = std::max(dibBytes, bits);
        rgbaBytes = std::max(rgbaBytes, uint64_t{picture.width} * picture.height * 4);
    }

    std::printf("runs: %u\npictures: %zu\n", runs, pictures.size());
    // Transparent pictures are timed with whatever the user's settings say.
    uint8_t background[3] = {};
    if (ReadAlphaSettings(background) == kAlphaComposite)
        std::printf("alpha: composite over %02X%02X%02X (red, green, blue)\n", background[2], background[1], background[0]);
    else
        std::printf("alpha: remove\n");
    PrintSeries("baseline", timings.baseline);
    PrintSeries("plugin", timings.plugin);
    std::printf("ratio: %.3f\n", Median(timings.plugin) / Median(timings.baseline));
    std::printf("baseline.peak_mb: %.1f\nplugin.peak_mb: %.1f\n", baselinePeak / kMegabyte, pluginPeak / kMegabyte);
    std::printf("dib_mb: %.1f\nrgba_mb: %.1f\n", dibBytes / kMegabyte, rgbaBytes / kMegabyte);
    return 0;
}
