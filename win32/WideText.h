// The program's strings hold UTF-8; Windows takes paths and texts as UTF-16. These convert
// between the two, at the call that meets Windows.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace base {

// UTF-8 as UTF-16. Text that is not valid UTF-8 gives nothing: no path is made of it, so that
// it names no file at all rather than another one.
inline std::optional<std::wstring> TryWide(std::string_view utf8) {
    if (utf8.empty())
        return std::wstring();
    const int size = static_cast<int>(utf8.size());
    const int units =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (units <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), units);
    return wide;
}

// UTF-8 as UTF-16 for a Windows call; empty for text that is not valid UTF-8.
inline std::wstring Wide(std::string_view utf8) {
    return TryWide(utf8).value_or(std::wstring());
}

// UTF-8 as UTF-16 to be shown: whatever is not valid UTF-8 shows as U+FFFD.
inline std::wstring WideForDisplay(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), units);
    return wide;
}

// UTF-16 as UTF-8. Text with an unpaired surrogate gives nothing: it has no UTF-8 form.
inline std::optional<std::string> TryUtf8(std::wstring_view wide) {
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size,
                                            nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return std::nullopt;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), bytes,
                          nullptr, nullptr);
    return utf8;
}

inline std::string Utf8(std::wstring_view wide) {
    return TryUtf8(wide).value_or(std::string());
}

// Whether two paths or names are the same to Windows, which ignores case: ordinal, letter by
// letter through its own case table, as the file system compares names.
inline bool SameIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace base
