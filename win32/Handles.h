// Scoped owners of Win32 handles, GDI objects and COM objects: one small class per kind, so that
// flow code never closes, releases or deselects anything by hand.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <utility>

// Owns a value of a handle-like type. Traits give the type, its failure value (a function, since
// INVALID_HANDLE_VALUE is no constant expression) and how the value is freed.
template <class Traits> class ScopedValue {
public:
    using T = typename Traits::Type;
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
    bool IsValid() const { return value_ != Traits::Invalid(); }
    explicit operator bool() const { return IsValid(); }
    T Release() { return std::exchange(value_, Traits::Invalid()); }
    void Reset(T value = Traits::Invalid()) {
        if (IsValid())
            Traits::Free(value_);
        value_ = value;
    }

private:
    T value_ = Traits::Invalid();
};

template <class T, T InvalidValue, auto FreeFunction> struct HandleTraits {
    using Type = T;
    static T Invalid() { return InvalidValue; }
    static void Free(T value) { FreeFunction(value); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE handle) { ::CloseHandle(handle); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE handle) { ::FindClose(handle); }
};

// A kernel handle whose failure value is null (process, thread, event, mutex, job, file mapping,
// token). Never one whose failure value is INVALID_HANDLE_VALUE: that would count as valid.
using ScopedHandle = ScopedValue<HandleTraits<HANDLE, nullptr, ::CloseHandle>>;
// A handle whose failure value is INVALID_HANDLE_VALUE: a file or folder opened with CreateFile
// or the no-follow opens (NoFollowWin32.h), a CreateToolhelp32Snapshot.
using ScopedFileHandle = ScopedValue<FileHandleTraits>;
// A FindFirstFile search.
using ScopedFind = ScopedValue<FindHandleTraits>;
// A window we created and must destroy.
using ScopedWindow = ScopedValue<HandleTraits<HWND, nullptr, ::DestroyWindow>>;
// Memory the system allocated for us with LocalAlloc (FormatMessage's buffer).
using ScopedLocalMemory = ScopedValue<HandleTraits<HLOCAL, nullptr, ::LocalFree>>;
// A view of a file mapping (MapViewOfFile); the mapping's own handle is a ScopedHandle.
using ScopedMappedView = ScopedValue<HandleTraits<LPVOID, nullptr, ::UnmapViewOfFile>>;
// A registry key we opened or created (never one of the predefined roots such as
// HKEY_LOCAL_MACHINE).
using ScopedRegistryKey = ScopedValue<HandleTraits<HKEY, nullptr, ::RegCloseKey>>;
// Memory a COM or shell call allocated for us with CoTaskMemAlloc (SHGetKnownFolderPath's path).
using ScopedCoTaskMemory = ScopedValue<HandleTraits<void*, nullptr, ::CoTaskMemFree>>;

// A DLL we loaded (LoadLibraryEx) and must free.
using ScopedModule = ScopedValue<HandleTraits<HMODULE, nullptr, ::FreeLibrary>>;

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
