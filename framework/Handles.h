// Scoped owners of Win32 handles, GDI objects and COM objects: one small class per kind, so that
// flow code never closes, releases or deselects anything by hand.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <utility>

// Owns a value of a handle-like type and frees it with Free::operator() on destruction.
template <class T, class Free, T Invalid> class ScopedValue {
public:
    ScopedValue() = default;
    explicit ScopedValue(T value) : value_(value) {}
    ~ScopedValue() { Reset(); }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    ScopedValue(ScopedValue&& other) noexcept : value_(other.Release()) {}
    ScopedValue& operator=(ScopedValue&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    T Get() const { return value_; }
    bool IsValid() const { return value_ != Invalid; }
    explicit operator bool() const { return IsValid(); }
    T Release() { return std::exchange(value_, Invalid); }
    void Reset(T value = Invalid) {
        if (value_ != Invalid)
            Free{}(value_);
        value_ = value;
    }

private:
    T value_ = Invalid;
};

struct CloseKernelHandle {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
struct CloseStream {
    void operator()(FILE* f) const { std::fclose(f); }
};
struct FreeLocalMemory {
    void operator()(void* p) const { ::LocalFree(p); }
};
struct UnmapView {
    void operator()(void* p) const { ::UnmapViewOfFile(p); }
};

// A kernel handle whose failure value is null (process, thread, event).
using ScopedHandle = ScopedValue<HANDLE, CloseKernelHandle, nullptr>;
// A C runtime stream.
using ScopedFile = ScopedValue<FILE*, CloseStream, nullptr>;
// Memory the system allocated for us with LocalAlloc (FormatMessage's buffer).
using ScopedLocalMemory = ScopedValue<void*, FreeLocalMemory, nullptr>;
// A view of a file mapping (MapViewOfFile); the mapping's own handle is a ScopedHandle.
using ScopedMappedView = ScopedValue<void*, UnmapView, nullptr>;

// A pen, brush, font or bitmap that we created and must delete.
template <class T> class ScopedGdiObject {
public:
    explicit ScopedGdiObject(T object) : object_(object) {}
    ~ScopedGdiObject() {
        if (object_)
            ::DeleteObject(object_);
    }
    ScopedGdiObject(const ScopedGdiObject&) = delete;
    ScopedGdiObject& operator=(const ScopedGdiObject&) = delete;
    T Get() const { return object_; }

private:
    T object_;
};

// Selects an object into a device context and selects the previous one back on destruction.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelectObject() {
        if (previous_ && previous_ != HGDI_ERROR)
            ::SelectObject(dc_, previous_);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// The client-area device context of a window, released on destruction.
class ScopedClientDC {
public:
    explicit ScopedClientDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~ScopedClientDC() {
        if (dc_)
            ::ReleaseDC(window_, dc_);
    }
    ScopedClientDC(const ScopedClientDC&) = delete;
    ScopedClientDC& operator=(const ScopedClientDC&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint / EndPaint.
class ScopedPaint {
public:
    explicit ScopedPaint(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
    ~ScopedPaint() { ::EndPaint(window_, &paint_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    HDC Get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// A COM interface pointer, released on destruction.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // The address to pass to a call that hands out a new reference.
    T** Receive() {
        Reset();
        return &ptr_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
    void Reset() {
        if (ptr_)
            ptr_->Release();
        ptr_ = nullptr;
    }

private:
    T* ptr_ = nullptr;
};

// COM on this thread for the life of the object.
class ScopedCoInitialize {
public:
    ScopedCoInitialize() : result_(::CoInitialize(nullptr)) {}
    ~ScopedCoInitialize() {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    ScopedCoInitialize(const ScopedCoInitialize&) = delete;
    ScopedCoInitialize& operator=(const ScopedCoInitialize&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_;
};

// An item-ID list that the shell handed out, freed through the shell's allocator.
class ScopedPidl {
public:
    ScopedPidl() = default;
    ~ScopedPidl() { Reset(); }
    ScopedPidl(const ScopedPidl&) = delete;
    ScopedPidl& operator=(const ScopedPidl&) = delete;
    LPITEMIDLIST Get() const { return pidl_; }
    LPITEMIDLIST* Receive() {
        Reset();
        return &pidl_;
    }
    void Reset() {
        if (!pidl_)
            return;
        ComPtr<IMalloc> allocator;
        if (SUCCEEDED(::SHGetMalloc(allocator.Receive())))
            allocator->Free(pidl_);
        pidl_ = nullptr;
    }

private:
    LPITEMIDLIST pidl_ = nullptr;
};
