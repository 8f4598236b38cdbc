// Loads a plug-in by path and resolves its exports by their undecorated names.
#include "host/PluginLibrary.h"

namespace {
template <class Fn>
void Resolve(HMODULE module, const char* name, Fn& out, std::vector<std::string>& missing) {
    out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!out) missing.emplace_back(name);
}
}  // namespace

bool PluginLibrary::Load(const std::wstring& path, std::wstring& error,
                         std::vector<std::string>& missing) {
    module.reset(LoadLibraryW(path.c_str()));
    if (!module) {
        error = L"cannot load " + path + L" (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    HMODULE m = module.get();
    Resolve(m, "GetPluginInfo", GetPluginInfo, missing);
    Resolve(m, "GetPluginInfoW", GetPluginInfoW, missing);
    Resolve(m, "IsSupported", IsSupported, missing);
    Resolve(m, "IsSupportedW", IsSupportedW, missing);
    Resolve(m, "GetPictureInfo", GetPictureInfo, missing);
    Resolve(m, "GetPictureInfoW", GetPictureInfoW, missing);
    Resolve(m, "GetPicture", GetPicture, missing);
    Resolve(m, "GetPictureW", GetPictureW, missing);
    Resolve(m, "GetPreview", GetPreview, missing);
    Resolve(m, "GetPreviewW", GetPreviewW, missing);
    Resolve(m, "ConfigurationDlg", ConfigurationDlg, missing);
    return true;
}
