// Dialog pictures: a helper thread finds the dialog, copies its pixels out of the window's
// device context into a DIB, encodes them as PNG with WIC, and presses Cancel.
#include "host/DialogCapture.h"

#include "plugin/Owners.h"

#include <wincodec.h>

#include <cstdint>
#include <cwchar>
#include <vector>

namespace {

constexpr DWORD kFindTimeoutMs = 15000;
constexpr DWORD kPollMs = 50;
constexpr DWORD kSettleMs = 400;  // lets the dialog and its owner-drawn controls finish painting

struct CaptureJob {
    DWORD dialogThread = 0;
    std::wstring pngPath;
    bool saved = false;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM found) {
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

HWND WaitForDialog(DWORD thread) {
    for (DWORD waited = 0; waited < kFindTimeoutMs; waited += kPollMs) {
        HWND found = nullptr;
        EnumThreadWindows(thread, FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
        if (found) return found;
        Sleep(kPollMs);
    }
    return nullptr;
}

// The window with its frame as top-down 32-bit blue-green-red rows (alpha set opaque).
bool CopyWindowPixels(HWND window, std::vector<uint8_t>& pixels, UINT& width, UINT& height) {
    RECT r{};
    if (!GetWindowRect(window, &r) || r.right <= r.left || r.bottom <= r.top) return false;
    width = static_cast<UINT>(r.right - r.left);
    height = static_cast<UINT>(r.bottom - r.top);
    HDC windowDc = GetWindowDC(window);
    if (!windowDc) return false;
    struct ReleaseDc {
        HWND w;
        HDC dc;
        ~ReleaseDc() { ReleaseDC(w, dc); }
    } releaseWindowDc{window, windowDc};

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return false;
    struct DeleteDc {
        HDC dc;
        ~DeleteDc() { if (dc) DeleteDC(dc); }
    } memoryDc{CreateCompatibleDC(windowDc)};
    if (!memoryDc.dc) return false;
    {
        const SelectedObject selection(memoryDc.dc, bitmap.get());
        if (!BitBlt(memoryDc.dc, 0, 0, static_cast<int>(width), static_cast<int>(height), windowDc, 0, 0, SRCCOPY))
            return false;
    }
    GdiFlush();
    const size_t size = size_t(width) * height * 4;
    pixels.assign(static_cast<const uint8_t*>(bits), static_cast<const uint8_t*>(bits) + size);
    for (size_t i = 3; i < size; i += 4) pixels[i] = 0xFF;
    return true;
}

HRESULT WritePng(const std::wstring& path, std::vector<uint8_t>& pixels, UINT width, UINT height) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  factory.putVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmap> bitmap;
    hr = factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppBGRA, width * 4,
                                         static_cast<UINT>(pixels.size()), pixels.data(), bitmap.put());
    if (FAILED(hr)) return hr;
    ComPtr<IWICStream> stream;
    hr = factory->CreateStream(stream.put());
    if (FAILED(hr)) return hr;
    hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapEncoder> encoder;
    hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
    if (FAILED(hr)) return hr;
    hr = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache);
    if (FAILED(hr)) return hr;
    ComPtr<IWICBitmapFrameEncode> frame;
    hr = encoder->CreateNewFrame(frame.put(), nullptr);
    if (FAILED(hr)) return hr;
    hr = frame->Initialize(nullptr);
    if (FAILED(hr)) return hr;
    hr = frame->SetSize(width, height);
    if (FAILED(hr)) return hr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    hr = frame->SetPixelFormat(&format);
    if (FAILED(hr)) return hr;
    hr = frame->WriteSource(bitmap.get(), nullptr);
    if (FAILED(hr)) return hr;
    hr = frame->Commit();
    if (FAILED(hr)) return hr;
    return encoder->Commit();
}

DWORD WINAPI CaptureThread(void* argument) {
    CaptureJob& job = *static_cast<CaptureJob*>(argument);
    HWND dialog = WaitForDialog(job.dialogThread);
    if (!dialog) return 1;
    SetForegroundWindow(dialog);  // an active caption, as a user sees the dialog
    Sleep(kSettleMs);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(kSettleMs);
    std::vector<uint8_t> pixels;
    UINT width = 0, height = 0;
    if (CopyWindowPixels(dialog, pixels, width, height)) {
        const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        job.saved = SUCCEEDED(WritePng(job.pngPath, pixels, width, height));
        if (com) CoUninitialize();
    }
    // The dialog's own Cancel: a settings dialog writes nothing, a message box just closes.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

}  // namespace

int ShowAndCapture(const std::function<int()>& show, const std::wstring& pngPath, bool& saved) {
    CaptureJob job{GetCurrentThreadId(), pngPath, false};
    UniqueKernelHandle thread(CreateThread(nullptr, 0, CaptureThread, &job, 0, nullptr));
    const int result = show();
    if (thread) WaitForSingleObject(thread.get(), INFINITE);
    saved = job.saved;
    return result;
}
