// The texts of the suite's Apps & Features entry that need no Windows: the version it shows, the
// order of two versions (an upgrade may not go back), the install date, the size and the
// uninstaller's command lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace texts {

// The version the entry shows, from the image's label: the label itself when it is a dotted
// version ("2.1", "2.1.0"), less a leading "v" or "V" ("v2.1.0" -> "2.1.0"); empty when the label
// holds no dotted version ("Release-15chars", "v2.1-beta", "").
std::string DisplayVersion(std::string_view label);

// Whether `text` is a dotted version: numbers of decimal digits joined by single dots ("2",
// "2.1", "2.10.0"), nothing else.
bool IsDottedVersion(std::string_view text);

enum class VersionOrder { Older, Same, Newer, Unknown };

// How the version `a` stands to `b`, number by number from the left ("2.10.0" is newer than
// "2.9"); a missing number counts as 0 ("2.1" is the same as "2.1.0"), and leading zeros do not
// count. Unknown when either text is no dotted version: nothing can be said about it.
VersionOrder CompareDottedVersions(std::string_view a, std::string_view b);

// The entry's install date, YYYYMMDD ("20261210").
std::string InstallDateText(int year, int month, int day);

// The entry's size in KiB, rounded up, at most what 32 bits hold.
std::uint32_t EstimatedSizeKiB(std::uint64_t bytes);

// The commands that start the uninstaller: its path in quotes ("C:\...\uninstall.exe"), and the
// same with " /S" for the run with no one at the screen.
std::string UninstallCommand(const std::string& uninstallerPath);
std::string QuietUninstallCommand(const std::string& uninstallerPath);

} // namespace texts
