// Reads a shortcut file back through the shell's link object, as the shell itself would: its
// target, working folder and description in UTF-8, as the setup holds its texts. Needs COM on
// the calling thread. Shared by the engine tests and the end-to-end tests.
#pragma once

#include "win32/Handles.h"

#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>

#include <optional>
#include <string>

struct ShortcutFile {
    std::string target; // the link's path string (Wine writes it in the ANSI code page only)
    // The target as the link's item list names it, in UTF-8: what the shell opens.
    std::string itemTarget;
    std::string workingFolder;
    std::string description;
};

inline std::optional<ShortcutFile> ReadShortcutFile(const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.ReceiveVoid())))
        return std::nullopt;
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())))
        return std::nullopt;
    if (FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return std::nullopt;
    const auto narrow = [](const wchar_t* text) {
        char utf8[INFOTIPSIZE * 3 + 1] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
        return std::string(utf8);
    };
    ShortcutFile shortcut;
    wchar_t text[INFOTIPSIZE + 1] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
        shortcut.target = narrow(text);
    ScopedPidl items;
    text[0] = L'\0';
    if (SUCCEEDED(link->GetIDList(items.Receive())) && items.Get() &&
        ::SHGetPathFromIDListW(items.Get(), text))
        shortcut.itemTarget = narrow(text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
        shortcut.workingFolder = narrow(text);
    text[0] = L'\0';
    if (SUCCEEDED(link->GetDescription(text, INFOTIPSIZE)))
        shortcut.description = narrow(text);
    return shortcut;
}
