// Helpers shared by the tests.
#include "tests/support/TestSupport.h"

#include "tests/support/TestPaths.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/"));
}

std::wstring DataPath(const std::wstring& name) { return std::wstring(kTestDataDirectory) + L"\\" + name; }

std::wstring SuitePath(const std::wstring& name) { return DataPath(L"pngsuite\\png\\" + name); }

std::wstring ScratchDirectory(const std::wstring& name) {
    const std::wstring root = ExecutableDirectory() + L"\\scratch";
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring dir = root + L"\\" + name;
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::vector<uint8_t> ReadFileBytes(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!file) throw std::runtime_error("cannot open test file");
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

const PluginLibrary& Plugin() {
    static PluginLibrary plugin = [] {
        PluginLibrary loaded;
        std::wstring error;
        std::vector<std::string> missing;
        if (!loaded.Load(ExecutableDirectory() + L"\\" + kPluginName, error, missing) || !missing.empty()) {
            std::fprintf(stderr, "cannot load the plug-in under test\n");
            std::abort();
        }
        return loaded;
    }();
    return plugin;
}

std::vector<uint8_t> EncodeWithWic(const GUID& container, unsigned width, unsigned height,
                                   const GUID& pixelFormat, std::vector<uint8_t> pixels, double dpiX,
                                   double dpiY) {
    ComScope com;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.putVoid())))
        throw std::runtime_error("no WIC factory");
    const UINT stride = width * 4;
    if (pixels.empty()) {
        pixels.resize(size_t(stride) * height);
        for (unsigned y = 0; y < height; ++y)
            for (unsigned x = 0; x < width; ++x) {
                uint8_t* p = &pixels[size_t(y) * stride + x * 4];
                p[0] = uint8_t(x * 37);
                p[1] = uint8_t(y * 53);
                p[2] = uint8_t((x + y) * 11);
                p[3] = 255;
            }
    }
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(SHCreateMemStream(nullptr, 0));
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    HRESULT hr = factory->CreateEncoder(container, nullptr, encoder.put());
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(frame.put(), nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    if (SUCCEEDED(hr) && dpiX > 0) hr = frame->SetResolution(dpiX, dpiY);
    WICPixelFormatGUID format = pixelFormat;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr) && format != GUID_WICPixelFormat32bppBGRA) {
        // The encoder chose another format: hand it our pixels through a converter.
        ComPtr<IWICBitmap> bitmap;
        ComPtr<IWICFormatConverter> converter;
        hr = factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGRA, stride,
                                             UINT(pixels.size()), pixels.data(), bitmap.put());
        if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(converter.put());
        if (SUCCEEDED(hr))
            hr = converter->Initialize(bitmap.get(), format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeMedianCut);
        if (SUCCEEDED(hr)) hr = frame->WriteSource(converter.get(), nullptr);
    } else if (SUCCEEDED(hr)) {
        hr = frame->WritePixels(height, stride, UINT(pixels.size()), pixels.data());
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (FAILED(hr)) throw std::runtime_error("WIC encoding failed: " + Hex(hr));
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<uint8_t> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    bytes.resize(read);
    return bytes;
}

std::string Hex(long value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

static DWORD WINAPI RunFunction(void* argument) {
    (*static_cast<const std::function<void()>*>(argument))();
    return 0;
}

void RunOnNewThread(const std::function<void()>& body) {
    UniqueKernelHandle thread(CreateThread(nullptr, 0, RunFunction, const_cast<std::function<void()>*>(&body), 0, nullptr));
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
}
