// vellaro-host: a small console host that loads a plug-in by path the way a viewer does
// and reports what it answers as `key: value` lines.
#include "host/Benchmark.h"
#include "host/DialogCapture.h"
#include "host/PluginLibrary.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vellaro-host info PLUGIN [FILE] [--memory] [--wide]\n"
                 "       vellaro-host decode PLUGIN IN.png OUT.bmp [--memory] [--wide] [--quiet]\n"
                 "       vellaro-host config PLUGIN [--about] [--screenshot OUT.png]\n"
                 "       vellaro-host bench PLUGIN IN.png|FOLDER [--runs N]\n");
    return 2;
}

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    }
    return out;
}

void PrintPluginTexts(const PluginLibrary& plugin) {
    for (int index = 0; index < 4; ++index) {
        char text[512] = {};
        plugin.GetPluginInfo(index, text, sizeof text);
        std::printf("plugin.%d: %s\n", index, text);
    }
}

bool LoadPlugin(const std::wstring& path, PluginLibrary& plugin) {
    std::wstring error;
    std::vector<std::string> missing;
    if (!plugin.Load(path, error, missing)) {
        std::fprintf(stderr, "%s\n", Narrow(error).c_str());
        return false;
    }
    for (const std::string& name : missing) std::fprintf(stderr, "missing export: %s\n", name.c_str());
    if (!missing.empty()) return false;
    return true;
}

// Options shared by the picture commands: --memory (memory input), --wide (the W export).
struct InputOptions {
    bool memory = false;
    bool wide = false;
    bool quiet = false;
};

// Splits arguments into positional ones and the known options; false on an unknown option.
bool ParseArguments(const std::vector<std::wstring>& args, std::vector<std::wstring>& positional,
                    InputOptions& options) {
    for (const std::wstring& arg : args) {
        if (arg == L"--memory") options.memory = true;
        else if (arg == L"--wide") options.wide = true;
        else if (arg == L"--quiet") options.quiet = true;
        else if (arg.rfind(L"--", 0) == 0) return false;
        else positional.push_back(arg);
    }
    return true;
}

std::string AnsiName(const std::wstring& name) {
    const int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, out.data(), n, nullptr, nullptr);
    return std::string(out.c_str());
}

bool ReadWholeFile(const std::wstring& path, std::vector<char>& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

// GetPictureInfo (or GetPictureInfoW) on a file, by name or from memory.
int QueryPictureInfo(const PluginLibrary& plugin, const std::wstring& file, const InputOptions& options,
                     PictureInfo& info) {
    if (options.memory) {
        std::vector<char> bytes;
        if (!ReadWholeFile(file, bytes)) return -100;
        const auto length = static_cast<LengthOrOffset>(bytes.size());
        if (options.wide)
            return plugin.GetPictureInfoW(reinterpret_cast<LPCWSTR>(bytes.data()), length, 1, &info);
        return plugin.GetPictureInfo(bytes.data(), length, 1, &info);
    }
    if (options.wide) return plugin.GetPictureInfoW(file.c_str(), 0, 0, &info);
    return plugin.GetPictureInfo(AnsiName(file).c_str(), 0, 0, &info);
}

void PrintPictureInfo(const PluginLibrary& plugin, const std::wstring& file, const InputOptions& options) {
    PictureInfo info{};
    const int status = QueryPictureInfo(plugin, file, options, info);
    if (status == -100) {
        std::printf("info.status: cannot read %s\n", Narrow(file).c_str());
        return;
    }
    std::printf("info.status: %d\n", status);
    if (status != 0) return;
    std::printf("info.left: %d\ninfo.top: %d\ninfo.width: %d\ninfo.height: %d\n", int(info.left), int(info.top),
                int(info.width), int(info.height));
    std::printf("info.xDensity: %u\ninfo.yDensity: %u\ninfo.colorDepth: %d\n", unsigned(info.xDensity),
                unsigned(info.yDensity), int(info.colorDepth));
}

// IsSupported (IsSupportedW with --wide) as viewers call it: with the file's first 2048
// bytes, zero-padded when the file is shorter, and with an open handle of the file.
void PrintSupported(const PluginLibrary& plugin, const std::wstring& file, const InputOptions& options) {
    const std::string ansi = AnsiName(file);
    const auto ask = [&](ULONG_PTR headerOrHandle) {
        return options.wide ? plugin.IsSupportedW(file.c_str(), headerOrHandle)
                            : plugin.IsSupported(ansi.c_str(), headerOrHandle);
    };
    UniqueFile handle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<char> header(2048, '\0');
    DWORD read = 0;
    if (!handle || !ReadFile(handle.get(), header.data(), DWORD(header.size()), &read, nullptr) ||
        SetFilePointer(handle.get(), 0, nullptr, FILE_BEGIN) != 0) {
        std::printf("supported.header: cannot read %s\nsupported.handle: cannot read %s\n", Narrow(file).c_str(),
                    Narrow(file).c_str());
        return;
    }
    std::printf("supported.header: %d\n", ask(reinterpret_cast<ULONG_PTR>(header.data())));
    std::printf("supported.handle: %d\n", ask(reinterpret_cast<ULONG_PTR>(handle.get())));
}

int RunInfo(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> positional;
    InputOptions options;
    if (!ParseArguments(args, positional, options) || positional.empty() || positional.size() > 2) return Usage();
    PluginLibrary plugin;
    if (!LoadPlugin(positional[0], plugin)) return 3;
    PrintPluginTexts(plugin);
    if (positional.size() == 2) PrintSupported(plugin, positional[1], options);
    if (positional.size() == 2) PrintPictureInfo(plugin, positional[1], options);
    return 0;
}


// Draws the plug-in's progress on standard error as a bar.
int SPI_API DrawProgress(int num, int denom, LONG_PTR /*userData*/) {
    const int percent = denom > 0 ? num * 100 / denom : 0;
    const int filled = percent * 40 / 100;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", 40 - filled, "",
                 percent);
    if (num >= denom) std::fprintf(stderr, "\n");
    std::fflush(stderr);
    return 0;
}

// Writes a BMP file: file header, the 40-byte info header, the colour table, the rows.
bool WriteBmp(const std::wstring& path, HLOCAL infoBlock, HLOCAL bitsBlock) {
    const auto* info = static_cast<const BITMAPINFOHEADER*>(LocalLock(infoBlock));
    const auto* bits = static_cast<const BYTE*>(LocalLock(bitsBlock));
    bool written = false;
    if (info && bits) {
        const uint64_t stride = ((uint64_t(info->biWidth) * info->biBitCount + 31) / 32) * 4;
        const uint64_t pixelBytes = stride * uint64_t(info->biHeight < 0 ? -int64_t(info->biHeight) : info->biHeight);
        const uint64_t tableBytes = uint64_t(info->biClrUsed) * 4;
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + tableBytes);
        file.bfSize = static_cast<DWORD>(file.bfOffBits + pixelBytes);
        UniqueFile out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD done = 0;
        written = out && pixelBytes <= LocalSize(bitsBlock) &&
                  WriteFile(out.get(), &file, sizeof file, &done, nullptr) &&
                  WriteFile(out.get(), info, static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + tableBytes), &done,
                            nullptr) &&
                  WriteFile(out.get(), bits, static_cast<DWORD>(pixelBytes), &done, nullptr);
    }
    LocalUnlock(bitsBlock);
    LocalUnlock(infoBlock);
    return written;
}

// GetPicture (or GetPictureW) on a file, by name or from memory.
int DecodeWithPlugin(const PluginLibrary& plugin, const std::wstring& file, const InputOptions& options,
                     HLOCAL& infoBlock, HLOCAL& bitsBlock) {
    const ProgressCallback progress = options.quiet ? nullptr : DrawProgress;
    if (options.memory) {
        std::vector<char> bytes;
        if (!ReadWholeFile(file, bytes)) return -100;
        const auto length = static_cast<LengthOrOffset>(bytes.size());
        if (options.wide)
            return plugin.GetPictureW(reinterpret_cast<LPCWSTR>(bytes.data()), length, 1, &infoBlock, &bitsBlock,
                                      progress, 0);
        return plugin.GetPicture(bytes.data(), length, 1, &infoBlock, &bitsBlock, progress, 0);
    }
    if (options.wide) return plugin.GetPictureW(file.c_str(), 0, 0, &infoBlock, &bitsBlock, progress, 0);
    return plugin.GetPicture(AnsiName(file).c_str(), 0, 0, &infoBlock, &bitsBlock, progress, 0);
}

int RunDecode(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> positional;
    InputOptions options;
    if (!ParseArguments(args, positional, options) || positional.size() != 3) return Usage();
    PluginLibrary plugin;
    if (!LoadPlugin(positional[0], plugin)) return 3;
    HLOCAL infoBlock = nullptr, bitsBlock = nullptr;
    const int status = DecodeWithPlugin(plugin, positional[1], options, infoBlock, bitsBlock);
    if (status == -100) {
        std::fprintf(stderr, "cannot read %s\n", Narrow(positional[1]).c_str());
        return 3;
    }
    // The blocks are ours now, as they are any host's: freed with LocalFree.
    UniqueHlocal info(infoBlock), bits(bitsBlock);
    if (status == 0 && !WriteBmp(positional[2], info.get(), bits.get())) {
        std::fprintf(stderr, "cannot write %s\n", Narrow(positional[2]).c_str());
        std::printf("status: %d\n", status);
        return 3;
    }
    std::printf("status: %d\n", status);
    return status;
}
// ConfigurationDlg: the settings dialog (function 1) or the about box (--about, function 0);
// with --screenshot, a picture of it is saved and it is closed with Cancel.
int RunConfig(const std::vector<std::wstring>& args) {
    std::wstring pluginPath, screenshot;
    bool about = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == L"--about") about = true;
        else if (args[i] == L"--screenshot" && i + 1 < args.size()) screenshot = args[++i];
        else if (args[i].rfind(L"--", 0) == 0 || !pluginPath.empty()) return Usage();
        else pluginPath = args[i];
    }
    if (pluginPath.empty()) return Usage();
    PluginLibrary plugin;
    if (!LoadPlugin(pluginPath, plugin)) return 3;
    const auto show = [&] { return plugin.ConfigurationDlg(nullptr, about ? 0 : 1); };
    if (screenshot.empty()) {
        const int status = show();
        std::printf("status: %d\n", status);
        return status;
    }
    bool saved = false;
    const int status = ShowAndCapture(show, screenshot, saved);
    std::printf("status: %d\n", status);
    if (!saved) {
        std::fprintf(stderr, "cannot save a picture of the dialog to %s\n", Narrow(screenshot).c_str());
        return 3;
    }
    std::printf("screenshot: %s\n", Narrow(screenshot).c_str());
    return status;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    std::vector<std::wstring> args(argv + 2, argv + argc);
    if (command == L"info") return RunInfo(args);
    if (command == L"decode") return RunDecode(args);
    if (command == L"config") return RunConfig(args);
    if (command == L"bench") return RunBench(args);
    return Usage();
}
