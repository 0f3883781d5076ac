// Which folder texts name an install folder, and the folders that make one up: plain text work,
// no Windows.
#pragma once

#include <string>
#include <vector>

namespace paths {

// The folder text as typed, less one trailing backslash; nothing else is changed.
std::string TrimInstallFolder(std::string folderText);
// Whether the folder names one place whatever the current directory: "X:\name..." or a
// network path "\\server\share...". Relative and drive-relative texts ("Torvane", "C:",
// "C:Torvane", "\Torvane") and a drive's root would install somewhere the user did not see.
bool IsAbsoluteFolder(const std::string& folder);
// The folders that make up an absolute folder path, outermost first, the folder itself last:
// "C:\A\B" gives "C:\A", "C:\A\B"; a network path starts below its share
// ("\\server\share\A" gives "\\server\share\A"). Separators as given, none doubled.
std::vector<std::string> FolderChain(const std::string& folder);

} // namespace paths
