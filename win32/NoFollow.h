// The rule both programs follow under the install folder, which a standard user may have prepared
// before an elevated install: a folder below it is entered only when it is a real folder, never a
// link (junction, symbolic link, mount point), and a file is never written through an existing
// name. These are the portable decisions of that rule; NoFollowWin32.h asks Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nofollow {

// The Windows file attribute bits the rule looks at.
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
// GetFileAttributes' answer for a name that names nothing.
inline constexpr std::uint32_t kNoAttributes = 0xFFFFFFFF;

enum class Folder {
    Enter,     // a real folder: may be entered
    Link,      // a reparse point: never entered
    NotFolder, // a file, or nothing at all
};

// Whether a folder may be entered, from its attributes as its name shows them and as a handle
// opened on it without following a link shows them. Both are asked: Windows shows a junction's
// reparse point through either, Wine shows a Unix symbolic link's only through the name.
// A name that shows nothing either way (a link to nothing, under Wine) is no folder to enter.
inline Folder JudgeFolder(std::uint32_t byName, std::uint32_t byHandle) {
    const auto link = [](std::uint32_t attributes) {
        return attributes != kNoAttributes && (attributes & kAttributeReparsePoint);
    };
    const auto folder = [](std::uint32_t attributes) {
        return attributes != kNoAttributes && (attributes & kAttributeDirectory);
    };
    if (link(byName) || link(byHandle))
        return Folder::Link;
    return folder(byName) && folder(byHandle) ? Folder::Enter : Folder::NotFolder;
}

// The folders on the way to `path` (relative, '\'-separated), outermost first: "a" and "a\b" for
// the file "a\b\c"; for a folder entry, which ends in '\', the folder itself too.
inline std::vector<std::string> FoldersOnTheWay(std::string_view path) {
    std::vector<std::string> folders;
    for (std::size_t at = path.find('\\'); at != std::string_view::npos;
         at = path.find('\\', at + 1))
        folders.emplace_back(path.substr(0, at));
    return folders;
}

// How many of the folders held so far (outermost first) stay held on the way to `wanted`: those
// they share from the outermost on. The others are let go; the rest of `wanted` is entered anew.
inline std::size_t FoldersKept(const std::vector<std::string>& held,
                               const std::vector<std::string>& wanted) {
    std::size_t kept = 0;
    while (kept < held.size() && kept < wanted.size() && held[kept] == wanted[kept])
        ++kept;
    return kept;
}

} // namespace nofollow
