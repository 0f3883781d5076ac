#include "install/FileHolder.h"

#include "win32/Handles.h"
#include "win32/WideText.h"

#include <windows.h>

#include <restartmanager.h>

#include <vector>

namespace {

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                         LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndSession = DWORD(WINAPI*)(DWORD);

template <class Function> Function Entry(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

} // namespace

std::string ProgramHoldingFile(const std::string& path) {
    // Loaded when needed, from the system's folder only: the setup runs from Downloads.
    const ScopedModule manager(
        ::LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!manager)
        return {};
    const auto start = Entry<StartSession>(manager.Get(), "RmStartSession");
    const auto registerFiles = Entry<RegisterResources>(manager.Get(), "RmRegisterResources");
    const auto list = Entry<GetList>(manager.Get(), "RmGetList");
    const auto end = Entry<EndSession>(manager.Get(), "RmEndSession");
    if (!start || !registerFiles || !list || !end)
        return {};

    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS)
        return {};
    std::string holder;
    const std::wstring file = base::Wide(path);
    LPCWSTR files[] = {file.c_str()};
    UINT needed = 0;
    UINT count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> processes(4);
    if (registerFiles(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        count = static_cast<UINT>(processes.size());
        DWORD listed = list(session, &needed, &count, processes.data(), &reasons);
        if (listed == ERROR_MORE_DATA) {
            processes.resize(needed);
            count = needed;
            listed = list(session, &needed, &count, processes.data(), &reasons);
        }
        if (listed == ERROR_SUCCESS && count > 0)
            holder = base::Utf8(processes[0].strAppName);
    }
    end(session);
    return holder;
}
