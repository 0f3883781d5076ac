// The shell calls behind the shortcut states: special folders and shortcut files.
#pragma once

#include <windows.h>

#include <string>

// The file-system path of a shell special folder (CSIDL_*), in UTF-16 since a profile's folders
// may hold characters beyond the ANSI code page; false when it cannot be resolved, and then
// `path` is left empty.
bool GetSpecialFolderPath(std::wstring& path, int folder, HRESULT* why = nullptr);

// Writes one shell shortcut file at `linkFile`; target, working directory and description are
// UTF-8, written as UTF-16 (IShellLinkW). Returns the platform's result code (negative on
// failure).
HRESULT CreateShortcut(const std::string& target, const std::wstring& linkFile,
                       const std::string& workingDirectory, const std::string& description);
