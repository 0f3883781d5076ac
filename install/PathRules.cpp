#include "install/PathRules.h"

#include "base/Text.h"

namespace paths {

using base::IsPathSeparator;

std::string TrimInstallFolder(std::string folderText) {
    if (!folderText.empty() && folderText.back() == '\\')
        folderText.pop_back();
    return folderText;
}

std::vector<std::string> FolderChain(const std::string& folder) {
    std::vector<std::string> chain;
    // A drive's root, or a network path's server and share, is no folder to make: the first
    // folder ends after them.
    size_t first = 3;
    if (folder.size() >= 2 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1])) {
        first = 2;
        for (int name = 0; name < 2; ++name) {
            while (first < folder.size() && !IsPathSeparator(folder[first]))
                ++first;
            ++first;
        }
    }
    for (size_t at = first; at <= folder.size(); ++at)
        if ((at == folder.size() || IsPathSeparator(folder[at])) && at > first &&
            !IsPathSeparator(folder[at - 1]))
            chain.push_back(folder.substr(0, at));
    return chain;
}

bool IsAbsoluteFolder(const std::string& folder) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    size_t rest = 0;
    if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' && IsPathSeparator(folder[2]))
        rest = 3;
    // A network path: two separators, then a server name (not the "\\.\" or "\\?\" prefixes).
    else if (folder.size() >= 3 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1]) &&
             folder[2] != '.' && folder[2] != '?')
        rest = 2;
    else
        return false;

    // Every named segment must be a plain name: "." and ".." would climb back to a drive's root,
    // and Windows drops a trailing dot or blank, so the folder made would not be the one named.
    bool named = false;
    size_t start = rest;
    for (size_t at = rest; at <= folder.size(); ++at) {
        if (at < folder.size() && !IsPathSeparator(folder[at]))
            continue;
        const std::string segment = folder.substr(start, at - start);
        start = at + 1;
        if (segment.empty())
            continue;
        if (segment.back() == '.' || segment.back() == ' ')
            return false;
        named = true;
    }
    return named;
}

} // namespace paths
