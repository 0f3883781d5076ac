// Whether an archive entry may be unpacked under a folder: its name must be a relative path
// that stays inside that folder and names ordinary files and folders on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zip {

// Longer names are no use on Windows, and the reader refuses them so that a hostile central
// directory cannot make it hold much memory.
constexpr std::size_t kMaxEntryNameLength = 1024;

// Empty when `name` is safe to unpack; otherwise a short reason, e.g. "'..' segment".
// Both '/' and '\' count as separators, since Windows reads either as one. A trailing
// separator marks a folder entry.
std::string UnsafeNameReason(std::string_view name);

inline bool IsSafeEntryName(std::string_view name) {
    return UnsafeNameReason(name).empty();
}

// True for a folder entry: a name that ends with a separator.
bool IsFolderName(std::string_view name);

// The setup takes "ZZZ/comp.flg" (any case, either separator) as the sign that everything else
// is unpacked, so an archive may carry it only once and only as its last entry.
bool IsCompletionFlagName(std::string_view name);
template <class Entries> bool CompletionFlagOnlyLast(const Entries& entries) {
    std::size_t index = 0;
    for (const auto& entry : entries) {
        ++index;
        if (IsCompletionFlagName(entry.name) && index != entries.size())
            return false;
    }
    return true;
}

// The name as a Windows path relative to the folder: every '/' turned into '\'.
std::string WindowsRelativePath(std::string_view name);

} // namespace zip
