// The exported functions the host calls. Each checks its arguments, converts ANSI names,
// and hands the work to the module that owns it; no exception leaves this file.
#include "decode/DecodePicture.h"
#include "decode/PictureInformation.h"
#include "plugin/ExportBoundary.h"
#include "plugin/FileRecognition.h"
#include "plugin/HostRecords.h"
#include "plugin/InputSelection.h"
#include "plugin/Module.h"
#include "plugin/PluginInfo.h"
#include "plugin/WideName.h"
#include "settings/ConfigDialog.h"

namespace {

// The file name of a picture export as UTF-16: ANSI names go through the code page.
std::wstring WideFileName(const char* name) { return ToWideName(name); }
std::wstring WideFileName(const wchar_t* name) { return name; }

// GetPictureInfo and GetPictureInfoW: `source` is a file name or a memory block.
template <class Char>
int PictureInfoExport(const Char* source, LengthOrOffset lengthOrOffset, unsigned flags, PictureInfo* info) {
    return GuardStatus([&]() -> int {
        if (!source || !info) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        if (*input == InputKind::MemoryInput) return ReadPictureInfoFromMemory(source, lengthOrOffset, *info);
        // A file is always read from its start: the offset is not used.
        return ReadPictureInfoFromFile(WideFileName(source).c_str(), *info);
    });
}

// GetPicture and GetPictureW.
template <class Char>
int PictureExport(const Char* source, LengthOrOffset lengthOrOffset, unsigned flags, HLOCAL* headerHandleOut,
                  HLOCAL* bitsHandleOut, ProgressCallback progress, LONG_PTR userData) {
    return GuardStatus([&]() -> int {
        if (!source || !headerHandleOut || !bitsHandleOut) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        if (*input == InputKind::MemoryInput)
            return DecodePictureFromMemory(source, lengthOrOffset, headerHandleOut, bitsHandleOut, progress, userData);
        return DecodePictureFromFile(WideFileName(source).c_str(), headerHandleOut, bitsHandleOut, progress,
                                     userData);
    });
}

}  // namespace

extern "C" {

int SPI_API GetPluginInfo(int infoNo, LPSTR buffer, int bufferLength) {
    return GuardZero([&] { return PluginInfoAnsi(infoNo, buffer, bufferLength); });
}

int SPI_API GetPluginInfoW(int infoNo, LPWSTR buffer, int bufferLength) {
    return GuardZero([&] { return PluginInfoWide(infoNo, buffer, bufferLength); });
}

int SPI_API IsSupported(LPCSTR fileName, ULONG_PTR headerOrHandle) {
    return GuardZero([&] { return RecognizeFile(ToWideName(fileName).c_str(), headerOrHandle); });
}

int SPI_API IsSupportedW(LPCWSTR fileName, ULONG_PTR headerOrHandle) {
    return GuardZero([&] { return RecognizeFile(fileName, headerOrHandle); });
}

int SPI_API GetPictureInfo(LPCSTR source, LengthOrOffset lengthOrOffset, unsigned flags,
                           PictureInfo* info) {
    return PictureInfoExport(source, lengthOrOffset, flags, info);
}

int SPI_API GetPictureInfoW(LPCWSTR source, LengthOrOffset lengthOrOffset, unsigned flags,
                            PictureInfo* info) {
    return PictureInfoExport(source, lengthOrOffset, flags, info);
}

int SPI_API GetPicture(LPCSTR source, LengthOrOffset lengthOrOffset, unsigned flags,
                       HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                       ProgressCallback progress, LONG_PTR userData) {
    return PictureExport(source, lengthOrOffset, flags, headerHandleOut, bitsHandleOut, progress, userData);
}

int SPI_API GetPictureW(LPCWSTR source, LengthOrOffset lengthOrOffset, unsigned flags,
                        HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                        ProgressCallback progress, LONG_PTR userData) {
    return PictureExport(source, lengthOrOffset, flags, headerHandleOut, bitsHandleOut, progress, userData);
}

// Exported as both GetPreview and GetPreviewW: previews are not offered.
int SPI_API GetPreview(LPCSTR, LengthOrOffset, unsigned, HLOCAL*, HLOCAL*, ProgressCallback,
                       LONG_PTR) {
    return NotImplemented;
}

int SPI_API ConfigurationDlg(HWND parent, int function) {
    return GuardStatus([&]() -> int {
        if (function == 0) return ShowAboutBox(parent);
        if (function == 1) return RunConfigurationDialog(ModuleInstance(), parent);
        return NotImplemented;
    });
}

}  // extern "C"
