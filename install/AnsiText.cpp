#include "install/AnsiText.h"

#include <windows.h>

std::wstring WidenAnsi(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), units);
    return wide;
}

AnsiText NarrowToAnsi(const std::wstring& text) {
    AnsiText result;
    if (text.empty())
        return result;
    // A UTF-8 code page holds every character, but refuses the best-fit flag and the
    // default-character report; there only broken UTF-16 (a lone surrogate) is inexact.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(text.size());
    int bytes = ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr,
                                      usedDefaultOut);
    if (bytes <= 0) {
        // Only shown from here on: the text as the code page shows it, marked inexact.
        result.exact = false;
        bytes = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return result;
        result.text.resize(static_cast<size_t>(bytes));
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, result.text.data(), bytes, nullptr,
                              nullptr);
        return result;
    }
    result.text.resize(static_cast<size_t>(bytes));
    ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, result.text.data(), bytes, nullptr,
                          usedDefaultOut);
    result.exact = !usedDefault;
    return result;
}
