// vellaro-host: a small console host that loads a plug-in by path the way a viewer does
// and reports what it answers as `key: value` lines.
#include "host/PluginLibrary.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vellaro-host info PLUGIN [FILE]\n");
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

int RunInfo(const std::vector<std::wstring>& args) {
    if (args.size() < 1) return Usage();
    PluginLibrary plugin;
    if (!LoadPlugin(args[0], plugin)) return 3;
    PrintPluginTexts(plugin);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return Usage();
    const std::wstring command = argv[1];
    std::vector<std::wstring> args(argv + 2, argv + argc);
    if (command == L"info") return RunInfo(args);
    return Usage();
}
