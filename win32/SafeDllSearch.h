// Loading DLLs from the system folder only, so that a DLL planted beside a downloaded program is
// never loaded. Header only: the self-extracting stub uses it too.
#pragma once

#include <windows.h>

// SetDefaultDllDirectories exists from Windows 8 on (and on Windows 7 with its security
// update); where it is missing the call is skipped.
inline void LoadLibrariesFromSystemFolderOnly() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
