// Small owner types: each releases exactly one kind of resource on every path.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

// Owns one COM reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Adopts a reference the caller already owns.
    static ComPtr Attach(T* raw) { ComPtr p; p.ptr_ = raw; return p; }
    // Takes a reference of its own to a pointer the caller keeps.
    static ComPtr Share(T* raw) { ComPtr p; p.ptr_ = raw; if (raw) raw->AddRef(); return p; }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) { if (ptr_) ptr_->AddRef(); }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    // From a pointer to a derived interface or implementation.
    template <class U>
    ComPtr(const ComPtr<U>& other) : ptr_(other.get()) { if (ptr_) ptr_->AddRef(); }
    ComPtr& operator=(ComPtr other) noexcept { std::swap(ptr_, other.ptr_); return *this; }
    ~ComPtr() { reset(); }

    void reset() { if (T* old = std::exchange(ptr_, nullptr)) old->Release(); }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For out-parameters: releases what was held and gives the slot.
    T** put() { reset(); return &ptr_; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    T* detach() { return std::exchange(ptr_, nullptr); }

    template <class U>
    HRESULT queryInterface(ComPtr<U>& out) const {
        return ptr_->QueryInterface(__uuidof(U), out.putVoid());
    }

private:
    T* ptr_ = nullptr;
};

// Generic owner of a handle-like value with a close function and an invalid value.
template <class H, class Traits>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(H h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept { reset(other.release()); return *this; }
    ~UniqueHandle() { reset(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::invalid(); }
    H release() { return std::exchange(h_, Traits::invalid()); }
    void reset(H h = Traits::invalid()) {
        H old = std::exchange(h_, h);
        if (old != Traits::invalid()) Traits::close(old);
    }
    H* put() { reset(); return &h_; }

private:
    H h_ = Traits::invalid();
};

struct HkeyTraits {
    static HKEY invalid() { return nullptr; }
    static void close(HKEY h) { RegCloseKey(h); }
};
struct HlocalTraits {
    static HLOCAL invalid() { return nullptr; }
    static void close(HLOCAL h) { LocalFree(h); }
};
struct FileHandleTraits {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct KernelHandleTraits {
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE h) { CloseHandle(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ invalid() { return nullptr; }
    static void close(HGDIOBJ h) { DeleteObject(h); }
};
struct ModuleTraits {
    static HMODULE invalid() { return nullptr; }
    static void close(HMODULE h) { FreeLibrary(h); }
};

using UniqueHkey = UniqueHandle<HKEY, HkeyTraits>;
using UniqueHlocal = UniqueHandle<HLOCAL, HlocalTraits>;
using UniqueFile = UniqueHandle<HANDLE, FileHandleTraits>;
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelHandleTraits>;
using UniqueGdiObject = UniqueHandle<HGDIOBJ, GdiObjectTraits>;
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;

// Selects a GDI object into a device context and restores the previous one on scope exit.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() { if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};
