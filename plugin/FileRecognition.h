// Recognition of PNG files for IsSupported: the .png extension test, then a probe that
// opens the host's header bytes, its file handle or the named file as a PNG decoder.
#pragma once

#include "decode/ImagingContext.h"
#include "plugin/HostRecords.h"
#include "plugin/Owners.h"

#include <cstddef>
#include <functional>
#include <string_view>

// The host hands over the first bytes of the file; the probe reads exactly this many.
constexpr size_t kHeaderBufferSize = 2048;

// IsSupported's second argument: values below this are the host's file handles, the
// others addresses of its header buffer.
constexpr ULONG_PTR kFirstHeaderAddress = 0x10000;

inline bool IsFileHandleValue(ULONG_PTR headerOrHandle) {
    return headerOrHandle < kFirstHeaderAddress;
}

// True when `extension` (dot included) is ".png" in any letter case. The compiled pattern
// is built by the first call and kept until the library is unloaded; when building it
// throws (std::bad_alloc, std::regex_error) the exception escapes and the next call
// builds it again.
bool MatchesExtensionPattern(std::wstring_view extension);

// The extension test: a null name, or one the platform finds no extension position in,
// skips it; otherwise the extension of the last path component must match.
bool PassesExtensionTest(const wchar_t* fileName);

// Opens the named file for reading. On failure gives an empty holder and sets
// `error` to the reason (GetLastError()).
using NamedFileOpener = std::function<UniqueFile(const wchar_t* fileName, DWORD& error)>;
UniqueFile OpenNamedFile(const wchar_t* fileName, DWORD& error);

// The probes give the context's status when it has no factory, without opening anything.

// 0 when a PNG decoder opens from the host's file handle. The handle stays the host's.
PluginStatus ProbeFileHandle(const ImagingContext& context, HANDLE file);
PluginStatus ProbeFileHandle(HANDLE file);

// 0 when the kHeaderBufferSize bytes at `header` open as a PNG; when they open as no
// decoder at all, the named file decides: a missing file counts as PNG, any other file
// that cannot be opened gives the header's failure status.
PluginStatus ProbeHeaderBuffer(const ImagingContext& context, const void* header,
                               const wchar_t* fileName, const NamedFileOpener& openFile);
PluginStatus ProbeHeaderBuffer(const void* header, const wchar_t* fileName);

// The two probes IsSupportedW chooses between; tests replace them to see which one ran.
struct RecognitionProbes {
    std::function<PluginStatus(HANDLE file)> probeHandle;
    std::function<PluginStatus(const void* header, const wchar_t* fileName)> probeHeader;
};

// IsSupportedW's answer, 1 or 0: the extension test, then the probe `headerOrHandle` selects.
int RecognizeFile(const wchar_t* fileName, ULONG_PTR headerOrHandle,
                  const RecognitionProbes& probes);
int RecognizeFile(const wchar_t* fileName, ULONG_PTR headerOrHandle);
