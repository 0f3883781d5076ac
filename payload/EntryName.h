// Whether an archive entry may be unpacked under a folder: its name must be a relative path
// that stays inside that folder and names ordinary files and folders on Windows.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// is unpacked, so the archive writes it after every other entry, wherever it stands in the
// archive (zip tools sort their entries). A flag that stands twice makes the archive
// untrustworthy: which of the two is the sign?
bool IsCompletionFlagName(std::string_view name);
inline constexpr std::size_t kCompletionFlagTwice = static_cast<std::size_t>(-1);
// The index of the completion flag among `entries`; entries.size() when there is none, and
// kCompletionFlagTwice when it stands more than once.
template <class Entries> std::size_t CompletionFlagIndex(const Entries& entries) {
    std::size_t index = 0, found = entries.size();
    for (const auto& entry : entries) {
        if (IsCompletionFlagName(entry.name)) {
            if (found != entries.size())
                return kCompletionFlagTwice;
            found = index;
        }
        ++index;
    }
    return found;
}

// Two names that differ only in case (FoldCase, either separator), which Windows takes for one
// file: two files ("Docs/a.txt", "docs/A.TXT"), or a file and a folder, be it a folder entry or
// a folder on the way to another entry ("Docs", "docs/a.txt"). Folders alone never clash:
// "Docs/" and "docs/a.txt" go into the one folder; nor does the same name twice. The first such
// pair found, each name as given (a folder on the way without what follows it); nothing when
// there is none.
std::optional<std::pair<std::string, std::string>>
FindCaseClash(const std::vector<std::string>& names);

// Whether a file's name stands twice, the same or differing only in case: two file entries, or a
// file and a folder (an entry, or a folder on the way to one). Unpacked in archive order, the
// later file replaces the earlier, or unpacking stops where a file and a folder meet. A name
// with a segment that may be a short 8.3 alias ("PROGRA~1") counts too: Windows may take it for
// another entry's long name.
bool NamesAFileTwice(const std::vector<std::string>& names);

// Both answers from one pass over the names, for an archive about to be unpacked.
struct NameCheck {
    std::optional<std::pair<std::string, std::string>> caseClash;
    bool namesAFileTwice = false;
};
NameCheck CheckNames(const std::vector<std::string>& names);

// The name as a Windows path relative to the folder: every '/' turned into '\'.
std::string WindowsRelativePath(std::string_view name);

} // namespace zip
