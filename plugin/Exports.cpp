// The exported functions the host calls. Each checks its arguments, converts ANSI names,
// and hands the work to the module that owns it; no exception leaves this file.
#include "plugin/ExportBoundary.h"
#include "plugin/HostRecords.h"
#include "plugin/InputSelection.h"
#include "plugin/PluginInfo.h"
#include "plugin/WideName.h"

extern "C" {

int SPI_API GetPluginInfo(int infoNo, LPSTR buffer, int bufferLength) {
    return GuardZero([&] { return PluginInfoAnsi(infoNo, buffer, bufferLength); });
}

int SPI_API GetPluginInfoW(int infoNo, LPWSTR buffer, int bufferLength) {
    return GuardZero([&] { return PluginInfoWide(infoNo, buffer, bufferLength); });
}

int SPI_API IsSupported(LPCSTR /*fileName*/, ULONG_PTR /*headerOrHandle*/) { return 0; }

int SPI_API IsSupportedW(LPCWSTR /*fileName*/, ULONG_PTR /*headerOrHandle*/) { return 0; }

int SPI_API GetPictureInfo(LPCSTR source, LengthOrOffset /*lengthOrOffset*/, unsigned flags,
                           PictureInfo* info) {
    return GuardStatus([&]() -> int {
        if (!source || !info) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        return InternalError;
    });
}

int SPI_API GetPictureInfoW(LPCWSTR source, LengthOrOffset /*lengthOrOffset*/, unsigned flags,
                            PictureInfo* info) {
    return GuardStatus([&]() -> int {
        if (!source || !info) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        return InternalError;
    });
}

int SPI_API GetPicture(LPCSTR source, LengthOrOffset /*lengthOrOffset*/, unsigned flags,
                       HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                       ProgressCallback /*progress*/, LONG_PTR /*userData*/) {
    return GuardStatus([&]() -> int {
        if (!source || !headerHandleOut || !bitsHandleOut) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        return InternalError;
    });
}

int SPI_API GetPictureW(LPCWSTR source, LengthOrOffset /*lengthOrOffset*/, unsigned flags,
                        HLOCAL* headerHandleOut, HLOCAL* bitsHandleOut,
                        ProgressCallback /*progress*/, LONG_PTR /*userData*/) {
    return GuardStatus([&]() -> int {
        if (!source || !headerHandleOut || !bitsHandleOut) return InternalError;
        const auto input = SelectInput(flags);
        if (!input) return InternalError;
        return InternalError;
    });
}

// Exported as both GetPreview and GetPreviewW: previews are not offered.
int SPI_API GetPreview(LPCSTR, LengthOrOffset, unsigned, HLOCAL*, HLOCAL*, ProgressCallback,
                       LONG_PTR) {
    return NotImplemented;
}

int SPI_API ConfigurationDlg(HWND /*parent*/, int function) {
    if (function != 0 && function != 1) return NotImplemented;
    return InternalError;
}

}  // extern "C"
