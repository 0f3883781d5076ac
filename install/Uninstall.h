// Removing an installed suite: what its install record lists, and nothing else. The uninstaller
// runs elevated, and a standard user may have changed anything in the install folder since the
// install; so a file goes only when it is still the very file the install wrote, and nothing is
// opened or removed through a link. The record itself, the uninstaller and the Apps & Features
// entry are the caller's to remove, after this.
#pragma once

#include "install/ExitCode.h"
#include "install/FailedCall.h"
#include "install/InstallView.h"
#include "payload/InstallRecord.h"

#include <string>

namespace texts {

inline constexpr char kRemovingFiles[] = "Removing files ...";
inline constexpr char kRemovingShortcuts[] = "Removing shortcuts ...";
inline constexpr char kDamagedRecord[] =
    "Error: The install record is damaged; nothing was removed.";

// "Error: Torvane cannot be uninstalled from <folder>; nothing was removed."
inline std::string RefusedUninstallFolderLine(const std::string& folder) {
    return "Error: Torvane cannot be uninstalled from " + folder + "; nothing was removed.";
}
// A file whose bytes are not the install's, or a folder where it was.
inline std::string ChangedFileKeptLine(const std::string& path) {
    return "Warning: " + path + " was changed since the install and is kept.";
}
// A folder or a file that is a link (junction, symbolic or hard link): it stays, and so does
// everything below it.
inline std::string LinkKeptLine(const std::string& path) {
    return "Warning: " + path + " is a link and is kept; nothing was removed through it.";
}
inline std::string FolderNotEmptyLine(const std::string& folder) {
    return "Warning: " + folder + " is not empty and is kept.";
}
inline std::string ShortcutKeptLine(const std::string& link) {
    return "Warning: The shortcut " + link + " does not lead into the install folder and is kept.";
}
// A folder on the way that is there but cannot be opened.
inline std::string CannotEnterFolderLine(const std::string& folder) {
    return "Error: Unable to enter " + folder + "; nothing below it was removed.";
}
inline std::string FileInUseLine(const std::string& path) {
    return "Error: " + path + " is in use and was not removed.";
}
// Anything else that stops a removal: "Error: Unable to remove <path> (error <code>)."
inline std::string CannotRemoveLine(const std::string& path, unsigned long error) {
    return "Error: Unable to remove " + path + " (error " + std::to_string(error) + ").";
}

} // namespace texts

struct UninstallOutcome {
    // kExitInUse when something the record lists could not be removed (in use, no access);
    // kExitFolder for a refused or invalid folder, kExitNotInstalled for a damaged record, both
    // before anything was removed.
    setup::ExitCode failure = setup::kExitSuccess;
    int filesRemoved = 0;
    // Changed, a link or behind one, or not removable; a missing file counts nowhere.
    int filesKept = 0;
    // Folders the install made that stay: not empty, a link, or not removable.
    int foldersKept = 0;
    // Pointing elsewhere, in a group folder that is a link, or not removable.
    int shortcutsKept = 0;

    // Whether everything the record lists is gone.
    bool Complete() const {
        return failure == setup::kExitSuccess && filesKept == 0 && foldersKept == 0 &&
               shortcutsKept == 0;
    }
};

// Removes what `installed` lists from `installFolder` (UTF-8, absolute; a trailing backslash goes),
// reporting its lines to `report`:
// - a file only when it is a plain file (no reparse point, one name) of the recorded size and
//   CRC-32; a changed file stays with a warning, a missing one is no concern;
// - each folder on the way is entered inside the one before it and held, never through a link
//   (a link stays with one warning, and so does everything below it);
// - the folders the install made once they are empty, deepest first, each through a handle;
// - the shortcuts that still lead into the folder, then the Start menu's group folder
//   "Torvane Software Suite" when it is empty.
// A file that cannot be removed (in use) is an error line, and the rest goes on. The root's
// install.rec, install.rec.new and uninstall.exe are never removed here. Initialises COM on the
// calling thread for the shortcuts (any apartment will do).
UninstallOutcome RemoveRecordedSuite(const std::string& installFolder,
                                     const record::InstallRecord& installed, IInstallView& report);

// Whether the uninstaller must refuse `installFolder`: a drive's or a share's root, a folder that
// is or holds a system or profile folder (the Windows folder, System32, both Program Files, the
// Program Data folder, the Users folder, the profile, its Desktop, Documents and AppData, and the
// common ones), resolved on this machine, compared ignoring case, 8.3 names and a trailing
// backslash. Text that names no absolute folder is refused too.
bool IsRefusedUninstallFolder(const std::string& installFolder);
