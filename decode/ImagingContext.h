// Per-request imaging context (COM apartment + WIC factory), decoder sources and the
// single mapping from platform failure codes to host statuses.
#pragma once

#include "plugin/HostRecords.h"
#include "plugin/Owners.h"

#include <wincodec.h>

// Turns a platform failure code into the host status: 2 for data the platform does not
// recognise or finds malformed, 4 for exhausted memory, 8 for everything else.
PluginStatus StatusFromHresult(HRESULT hr);

// The calling thread's apartment and one imaging factory for the length of one request.
// Members are destroyed in reverse order: the factory is released before the apartment
// is left. Decoders opened through a context must be released before it.
class ImagingContext {
public:
    // Joins (or initialises) a single-threaded apartment and creates the WIC factory.
    ImagingContext();
    // Same, with the factory made by `createFactory(IWICImagingFactory**)`; lets tests
    // hand in fakes and failures.
    template <class CreateFactory>
    explicit ImagingContext(CreateFactory createFactory) {
        EnterApartment();
        SetFactoryResult(createFactory(factory_.put()));
    }
    ImagingContext(const ImagingContext&) = delete;
    ImagingContext& operator=(const ImagingContext&) = delete;
    ~ImagingContext();

    // 0 when the factory exists, otherwise the mapped status of its creation.
    PluginStatus status() const { return status_; }
    IWICImagingFactory* factory() const { return factory_.get(); }
    // True only when this context's CoInitializeEx returned S_OK: it made the apartment.
    bool comInitialised() const { return comInitialised_; }

private:
    void EnterApartment();
    void SetFactoryResult(HRESULT hr);

    bool comInitialised_ = false;
    // CoInitializeEx succeeded (S_OK or S_FALSE): the context holds a reference on the
    // apartment and gives it back with CoUninitialize.
    bool holdsApartment_ = false;
    PluginStatus status_ = Success;
    ComPtr<IWICImagingFactory> factory_;
};

// Opens a decoder on a named file (read access, metadata on demand).
PluginStatus OpenDecoderFromFile(const ImagingContext& context, const wchar_t* fileName,
                                 ComPtr<IWICBitmapDecoder>& decoder);

// Opens a decoder on a memory block through a memory stream over a copy of the bytes.
PluginStatus OpenDecoderFromMemory(const ImagingContext& context, const void* bytes,
                                   LengthOrOffset length, ComPtr<IWICBitmapDecoder>& decoder);

// Opens a decoder on the host's open file handle; the handle stays the caller's.
PluginStatus OpenDecoderFromFileHandle(const ImagingContext& context, HANDLE file,
                                       ComPtr<IWICBitmapDecoder>& decoder);

// 0 when the decoder's container is PNG, 2 when it is another format.
PluginStatus CheckPngContainer(IWICBitmapDecoder* decoder);
