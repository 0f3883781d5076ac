// What Windows reads of a file's version resource (GetFileVersionInfoW, VerQueryValueW): the fixed
// file and product version and the texts CompanyName, FileVersion and ProductVersion of its first
// translation, one a line in UTF-8, for check-pack-exe.sh to compare with what pack stamped.
//   version_info.exe FILE
#include "win32/WideText.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(argv[1], &ignored);
    std::vector<unsigned char> info(size);
    if (size == 0 || !::GetFileVersionInfoW(argv[1], 0, size, info.data())) {
        std::printf("no version resource\n");
        return 1;
    }
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(info.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        std::printf("fixed file %lu.%lu.%lu.%lu product %lu.%lu.%lu.%lu\n",
                    fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF,
                    fixed->dwFileVersionLS >> 16, fixed->dwFileVersionLS & 0xFFFF,
                    fixed->dwProductVersionMS >> 16, fixed->dwProductVersionMS & 0xFFFF,
                    fixed->dwProductVersionLS >> 16, fixed->dwProductVersionLS & 0xFFFF);
    }
    if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) ||
        length < 4) {
        std::printf("no translation\n");
        return 1;
    }
    const auto* translation = static_cast<const WORD*>(value);
    wchar_t table[16];
    std::swprintf(table, 16, L"%04X%04X", translation[0], translation[1]);
    for (const wchar_t* key : {L"CompanyName", L"FileVersion", L"ProductVersion"}) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + key;
        if (!::VerQueryValueW(info.data(), path.c_str(), &value, &length)) {
            std::printf("%ls: none\n", key);
            continue;
        }
        // The length counts the characters with the NUL; the text ends at its NUL in any case.
        const std::wstring text(static_cast<const wchar_t*>(value), length);
        std::printf("%ls=%s (%u)\n", key, base::Utf8(text.c_str()).c_str(), length);
    }
    return 0;
}
