// Helpers shared by the tests: paths, files, the plug-in under test, WIC encoders.
#pragma once

#include "host/PluginLibrary.h"
#include "plugin/Owners.h"

#include <wincodec.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN64
constexpr const wchar_t* kPluginName = L"Vellaro.sph";
#else
constexpr const wchar_t* kPluginName = L"Vellaro.spi";
#endif

// Folder of the running test executable (the build folder, where the DLL lies too).
std::wstring ExecutableDirectory();
// tests/data/NAME of the source tree, as a Windows path.
std::wstring DataPath(const std::wstring& name);
// tests/data/pngsuite/png/NAME.
std::wstring SuitePath(const std::wstring& name);
// A fresh empty folder for the test's own files, below the build folder.
std::wstring ScratchDirectory(const std::wstring& name);

std::vector<uint8_t> ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);

// Loads the plug-in beside the test executable and resolves all its exports.
const PluginLibrary& Plugin();

// Joins an STA for the scope of a test that uses WIC directly.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() { if (initialised_) CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

// Encodes a width x height picture with the platform's own encoder for `container`
// (PNG, GIF, JPEG, BMP ...). `pixels` are 32bppBGRA rows; empty means a test pattern.
// Optional resolution in dots per inch (0 keeps the encoder's default).
std::vector<uint8_t> EncodeWithWic(const GUID& container, unsigned width, unsigned height,
                                   const GUID& pixelFormat = GUID_WICPixelFormat32bppBGRA,
                                   std::vector<uint8_t> pixels = {}, double dpiX = 0,
                                   double dpiY = 0);

// Runs `body` on a new Windows thread and waits for it.
void RunOnNewThread(const std::function<void()>& body);

// Formats an HRESULT or status for failure messages.
std::string Hex(long value);
