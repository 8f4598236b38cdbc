// Loads a plug-in by path and resolves its exports by their undecorated names.
#pragma once

#include "plugin/HostRecords.h"
#include "plugin/Owners.h"

#include <string>
#include <vector>

using GetPluginInfoFn = int(SPI_API*)(int, LPSTR, int);
using GetPluginInfoWFn = int(SPI_API*)(int, LPWSTR, int);
using IsSupportedFn = int(SPI_API*)(LPCSTR, ULONG_PTR);
using IsSupportedWFn = int(SPI_API*)(LPCWSTR, ULONG_PTR);
using GetPictureInfoFn = int(SPI_API*)(LPCSTR, LengthOrOffset, unsigned, PictureInfo*);
using GetPictureInfoWFn = int(SPI_API*)(LPCWSTR, LengthOrOffset, unsigned, PictureInfo*);
using GetPictureFn = int(SPI_API*)(LPCSTR, LengthOrOffset, unsigned, HLOCAL*, HLOCAL*,
                                   ProgressCallback, LONG_PTR);
using GetPictureWFn = int(SPI_API*)(LPCWSTR, LengthOrOffset, unsigned, HLOCAL*, HLOCAL*,
                                    ProgressCallback, LONG_PTR);
using ConfigurationDlgFn = int(SPI_API*)(HWND, int);

struct PluginLibrary {
    UniqueModule module;
    GetPluginInfoFn GetPluginInfo = nullptr;
    GetPluginInfoWFn GetPluginInfoW = nullptr;
    IsSupportedFn IsSupported = nullptr;
    IsSupportedWFn IsSupportedW = nullptr;
    GetPictureInfoFn GetPictureInfo = nullptr;
    GetPictureInfoWFn GetPictureInfoW = nullptr;
    GetPictureFn GetPicture = nullptr;
    GetPictureWFn GetPictureW = nullptr;
    GetPictureFn GetPreview = nullptr;
    GetPictureWFn GetPreviewW = nullptr;
    ConfigurationDlgFn ConfigurationDlg = nullptr;

    // Loads the library; on failure `error` says why. Missing exports are listed in
    // `missing` and leave their pointer null, as a viewer would see them.
    bool Load(const std::wstring& path, std::wstring& error, std::vector<std::string>& missing);
};
