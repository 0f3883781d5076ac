// Small text helpers shared by the portable code.
#pragma once

#include <string>

namespace base {

// A path or name as error messages show it: in single quotes.
inline std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

// Windows reads both '\\' and '/' as a folder separator.
inline bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

} // namespace base
