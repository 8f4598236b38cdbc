// Per-request imaging context, the three decoder sources and the failure-code mapping.
#include "decode/ImagingContext.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cstring>

PluginStatus StatusFromHresult(HRESULT hr) {
    switch (static_cast<unsigned long>(hr)) {
    case static_cast<unsigned long>(WINCODEC_ERR_COMPONENTNOTFOUND):
    case static_cast<unsigned long>(WINCODEC_ERR_BADIMAGE):
    case static_cast<unsigned long>(WINCODEC_ERR_BADHEADER):
        return UnsupportedFormat;
    case static_cast<unsigned long>(E_OUTOFMEMORY):
        return OutOfMemory;
    default:
        return InternalError;
    }
}

ImagingContext::ImagingContext() {
    EnterApartment();
    SetFactoryResult(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, factory_.putVoid()));
}

ImagingContext::~ImagingContext() {
    factory_.reset();
    if (holdsApartment_) CoUninitialize();
}

void ImagingContext::EnterApartment() {
    // S_FALSE (the host's STA) and RPC_E_CHANGED_MODE (the host chose an MTA) are not
    // errors: the request goes on. S_FALSE still counts as an initialisation and must be
    // undone too: otherwise every request leaves one more reference on the host's
    // apartment, and the host's own CoUninitialize no longer ends it.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    comInitialised_ = hr == S_OK;
    holdsApartment_ = SUCCEEDED(hr);
}

void ImagingContext::SetFactoryResult(HRESULT hr) {
    if (FAILED(hr)) {
        factory_.reset();
        status_ = StatusFromHresult(hr);
    } else if (!factory_) {
        status_ = InternalError;
    }
}

PluginStatus OpenDecoderFromFile(const ImagingContext& context, const wchar_t* fileName,
                                 ComPtr<IWICBitmapDecoder>& decoder) {
    decoder.reset();
    if (!context.factory() || !fileName || fileName[0] == L'\0') return InternalError;
    HRESULT hr = context.factory()->CreateDecoderFromFilename(
        fileName, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) { decoder.reset(); return StatusFromHresult(hr); }
    return decoder ? Success : InternalError;
}

PluginStatus OpenDecoderFromMemory(const ImagingContext& context, const void* bytes,
                                   LengthOrOffset length, ComPtr<IWICBitmapDecoder>& decoder) {
    decoder.reset();
    if (!context.factory() || !bytes) return InternalError;
    // The stream takes a 32-bit count. A 32-bit host's length is read as unsigned; in the
    // 64-bit build anything that does not fit in 32 bits (negative values included) is
    // refused rather than cut.
    const auto wideLength = static_cast<unsigned long long>(length);
    if (sizeof(LengthOrOffset) > 4 && wideLength > 0xFFFFFFFFull) return InternalError;
    ComPtr<IStream> stream = ComPtr<IStream>::Attach(
        SHCreateMemStream(static_cast<const BYTE*>(bytes), static_cast<UINT>(wideLength)));
    if (!stream) return InternalError;
    HRESULT hr = context.factory()->CreateDecoderFromStream(
        stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) { decoder.reset(); return StatusFromHresult(hr); }
    return decoder ? Success : InternalError;
}

PluginStatus OpenDecoderFromFileHandle(const ImagingContext& context, HANDLE file,
                                       ComPtr<IWICBitmapDecoder>& decoder) {
    decoder.reset();
    if (!context.factory() || file == INVALID_HANDLE_VALUE) return InternalError;
    HRESULT hr = context.factory()->CreateDecoderFromFileHandle(
        reinterpret_cast<ULONG_PTR>(file), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) { decoder.reset(); return StatusFromHresult(hr); }
    return decoder ? Success : InternalError;
}

PluginStatus CheckPngContainer(IWICBitmapDecoder* decoder) {
    if (!decoder) return InternalError;
    GUID container{};
    HRESULT hr = decoder->GetContainerFormat(&container);
    if (FAILED(hr)) return StatusFromHresult(hr);
    return std::memcmp(&container, &GUID_ContainerFormatPng, sizeof(GUID)) == 0 ? Success
                                                                               : UnsupportedFormat;
}
