#include "install/AnsiText.h"

#include <windows.h>

#include <utility>

namespace {

// The text in the ANSI code page with the conversion's flags; empty when it cannot be converted.
std::string ConvertToAnsi(const std::wstring& text, DWORD flags, BOOL* usedDefault) {
    const int size = static_cast<int>(text.size());
    const int bytes =
        ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, usedDefault);
    if (bytes <= 0)
        return {};
    std::string ansi(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, ansi.data(), bytes, nullptr,
                          usedDefault);
    return ansi;
}

} // namespace

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
    if (text.empty())
        return {};
    if (::GetACP() == CP_UTF8) {
        // Every character has a place in UTF-8, which refuses the best-fit flag and the
        // default-character report: only broken UTF-16 (a lone surrogate) is inexact.
        std::string strict = ConvertToAnsi(text, WC_ERR_INVALID_CHARS, nullptr);
        if (!strict.empty())
            return {std::move(strict), true};
        return {ConvertToAnsi(text, 0, nullptr), false};
    }
    BOOL usedDefault = FALSE;
    std::string ansi = ConvertToAnsi(text, WC_NO_BEST_FIT_CHARS, &usedDefault);
    const bool exact = !ansi.empty() && !usedDefault;
    return {std::move(ansi), exact};
}
