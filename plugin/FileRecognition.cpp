// Recognition of PNG files for IsSupported.
#include "plugin/FileRecognition.h"

#include <shlwapi.h>

#include <regex>

namespace {

// Built by the first call that needs it. A function-local static is initialised once and
// safely for concurrent first callers (they wait for the one that builds it); when the
// construction throws it counts as not done and the next call tries again. As a static
// of this library it is destroyed when the library is unloaded.
const std::wregex& ExtensionPattern() {
    static const std::wregex pattern(L"^\\.PNG$", std::regex_constants::ECMAScript |
                                                      std::regex_constants::icase);
    return pattern;
}

}  // namespace

bool MatchesExtensionPattern(std::wstring_view extension) {
    const std::wregex& pattern = ExtensionPattern();
    return std::regex_match(extension.begin(), extension.end(), pattern);
}

bool PassesExtensionTest(const wchar_t* fileName) {
    if (!fileName) return true;
    const wchar_t* extension = PathFindExtensionW(fileName);
    if (!extension) return true;
    return MatchesExtensionPattern(extension);
}

UniqueFile OpenNamedFile(const wchar_t* fileName, DWORD& error) {
    UniqueFile file(CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    error = file ? ERROR_SUCCESS : GetLastError();
    return file;
}

PluginStatus ProbeFileHandle(const ImagingContext& context, HANDLE file) {
    if (context.status() != Success) return context.status();
    ComPtr<IWICBitmapDecoder> decoder;
    const PluginStatus opened = OpenDecoderFromFileHandle(context, file, decoder);
    if (opened != Success) return opened;
    return CheckPngContainer(decoder.get());
}

PluginStatus ProbeFileHandle(HANDLE file) {
    const ImagingContext context;
    return ProbeFileHandle(context, file);
}

PluginStatus ProbeHeaderBuffer(const ImagingContext& context, const void* header,
                               const wchar_t* fileName, const NamedFileOpener& openFile) {
    if (context.status() != Success) return context.status();
    ComPtr<IWICBitmapDecoder> headerDecoder;
    const PluginStatus headerStatus = OpenDecoderFromMemory(
        context, header, static_cast<LengthOrOffset>(kHeaderBufferSize), headerDecoder);
    // A decoder of another format is a definite answer: the file is not tried.
    if (headerStatus == Success) return CheckPngContainer(headerDecoder.get());
    if (!fileName || fileName[0] == L'\0') return headerStatus;

    // The header alone did not open (the platform may need the whole file): the named
    // file decides. A name with no file behind it has passed the extension test and is
    // taken on the strength of that.
    DWORD error = ERROR_SUCCESS;
    const UniqueFile file = openFile(fileName, error);
    if (!file) return error == ERROR_FILE_NOT_FOUND ? Success : headerStatus;
    // Declared after the file so that it is released before the file is closed.
    ComPtr<IWICBitmapDecoder> fileDecoder;
    if (OpenDecoderFromFileHandle(context, file.get(), fileDecoder) != Success) return headerStatus;
    return CheckPngContainer(fileDecoder.get());
}

PluginStatus ProbeHeaderBuffer(const void* header, const wchar_t* fileName) {
    const ImagingContext context;
    return ProbeHeaderBuffer(context, header, fileName, OpenNamedFile);
}

int RecognizeFile(const wchar_t* fileName, ULONG_PTR headerOrHandle,
                  const RecognitionProbes& probes) {
    if (!PassesExtensionTest(fileName)) return 0;
    const PluginStatus status =
        IsFileHandleValue(headerOrHandle)
            ? probes.probeHandle(reinterpret_cast<HANDLE>(headerOrHandle))
            : probes.probeHeader(reinterpret_cast<const void*>(headerOrHandle), fileName);
    return status == Success ? 1 : 0;
}

int RecognizeFile(const wchar_t* fileName, ULONG_PTR headerOrHandle) {
    const RecognitionProbes probes{[](HANDLE file) { return ProbeFileHandle(file); },
                                   [](const void* header, const wchar_t* name) {
                                       return ProbeHeaderBuffer(header, name);
                                   }};
    return RecognizeFile(fileName, headerOrHandle, probes);
}
