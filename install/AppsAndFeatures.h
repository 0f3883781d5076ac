// The suite's entry in Apps & Features (the "Uninstall" key that Windows lists programs from):
// written by the install, read by the next install (which version is there, and where), removed
// by the uninstaller. One key of a fixed name, whatever the version, so that an upgrade rewrites
// the entry instead of adding a second one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

// Below either root: the key holding every program's entry, and the suite's own entry there.
inline constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr wchar_t kProductEntryName[] = L"TorvaneSoftwareSuite";

// What the entry holds besides its fixed DisplayName, NoModify and NoRepair. Texts in UTF-8.
// Empty texts and a size of 0 are not written (an older entry's value of that name goes).
struct ProductEntry {
    std::string displayVersion; // "2.1.0" (texts::DisplayVersion of the label)
    std::string publisher;
    std::string installLocation; // the install folder: required
    std::string displayIcon;     // a program's path, maybe ",<index>"
    std::string installDate;     // YYYYMMDD (texts::InstallDateText)
    std::uint32_t estimatedSizeKiB = 0;
    std::string uninstallString;      // required: "\"C:\\...\\uninstall.exe\""
    std::string quietUninstallString; // "\"C:\\...\\uninstall.exe\" /S"
    bool operator==(const ProductEntry&) const = default;
};

enum class RegistryHive { Machine, User };

// Writes the whole entry into the machine's hive, or into the user's when the machine's refuses
// this run (access denied: not elevated). A reinstall or an upgrade rewrites the same key, and
// values an older entry held that this one does not write are removed. The hive written, or
// nothing with `error` set to the Windows error: ERROR_INVALID_PARAMETER when the location or
// the uninstall string is empty, ERROR_NO_UNICODE_TRANSLATION for a text that is not UTF-8;
// nothing is written then. The roots are the hives' own keys, or scratch keys in tests.
std::optional<RegistryHive> WriteProductEntry(const ProductEntry& entry, DWORD& error,
                                              HKEY machineRoot = HKEY_LOCAL_MACHINE,
                                              HKEY userRoot = HKEY_CURRENT_USER);

// The entry registered, from the machine's hive first, then the user's, and where it was found.
// Nothing when there is none, or none with an InstallLocation (an entry without one names no
// install). Values of an unexpected type are read as absent.
std::optional<std::pair<ProductEntry, RegistryHive>>
ReadProductEntry(HKEY machineRoot = HKEY_LOCAL_MACHINE, HKEY userRoot = HKEY_CURRENT_USER);

// Deletes the entry in each hive whose InstallLocation is `installFolder` (ignoring case and a
// trailing backslash); an entry of another folder stays. True when no such entry remains.
bool DeleteProductEntry(const std::string& installFolder, HKEY machineRoot = HKEY_LOCAL_MACHINE,
                        HKEY userRoot = HKEY_CURRENT_USER);
