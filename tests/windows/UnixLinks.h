// Links planted the way a standard user would prepare an install folder, made from the Unix side
// of Wine: Wine 8 creates no symbolic link itself, but shows a Unix symbolic link to a folder as
// a folder that is a reparse point (to name-based queries only). Removing such a link from the
// Windows side would remove what it leads to, so it is removed from the Unix side too. Header
// only: the engine, stub and end-to-end tests share it.
#pragma once

#include "win32/Handles.h"

#include <windows.h>

#include <string>

namespace unixlinks {

// The Unix path of a Windows path, through Wine's own export; empty when not under Wine.
inline std::string UnixPath(const std::wstring& windowsPath) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(windowsPath.c_str()) : nullptr;
    if (!unix)
        return {};
    std::string path = unix;
    ::HeapFree(::GetProcessHeap(), 0, unix);
    return path;
}

inline bool IsLink(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a Unix program (`arguments` quoted the Windows way) and waits up to 5 s for `done`: Wine
// starts Unix programs but hands out no handle to wait on.
template <class Done> bool RunUnix(const char* program, const std::string& arguments, Done done) {
    std::string command = std::string(program) + " " + arguments;
    const std::string windowsProgram = std::string("Z:") + program;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(windowsProgram.c_str(), command.data(), nullptr, nullptr, FALSE, 0,
                          nullptr, nullptr, &startup, &started))
        return false;
    // For a Unix program Wine gives no process handle, and may leave a value in the thread's
    // handle that is another open handle of ours (the registry's, say): close none then.
    if (started.hProcess) {
        const ScopedHandle process(started.hProcess), thread(started.hThread);
    }
    for (int wait = 0; wait < 100; ++wait, ::Sleep(50))
        if (done())
            return true;
    return false;
}

// Makes `link` a Unix symbolic link to the existing folder `target` (both Windows paths). False
// when that fails or this is not Wine.
inline bool PlantFolderLink(const std::wstring& link, const std::wstring& target) {
    const std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
    return !unixLink.empty() && !unixTarget.empty() &&
           RunUnix("/bin/ln", "-sT \"" + unixTarget + "\" \"" + unixLink + "\"",
                   [&link] { return IsLink(link); });
}

// Removes the link `link` itself, never what it leads to.
inline bool RemoveLink(const std::wstring& link) {
    const std::string unixLink = UnixPath(link);
    return !unixLink.empty() && RunUnix("/bin/rm", "-f \"" + unixLink + "\"", [&link] {
        return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
    });
}

inline std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(),
                                            static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) - 1 : 0);
    return wide;
}

// A link planted for one case, removed (the link alone) when the case is over.
class FolderLink {
public:
    FolderLink(const std::string& link, const std::string& target)
        : link_(Widen(link)), planted_(PlantFolderLink(link_, Widen(target))) {}
    FolderLink(const std::wstring& link, const std::wstring& target)
        : link_(link), planted_(PlantFolderLink(link_, target)) {}
    ~FolderLink() {
        if (planted_)
            RemoveLink(link_);
    }
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;
    bool Planted() const { return planted_; }

private:
    std::wstring link_;
    bool planted_;
};

} // namespace unixlinks
