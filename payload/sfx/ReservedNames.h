// The names an install keeps for itself in the root of the install folder: the record and its
// plan, the uninstaller, and the two folders sfx.exe moves files through while it installs. An
// archive entry at one of them (any case, either separator) could overwrite the record or land
// in the staging or the backup, and would be lost or restored by mistake: sfx.exe refuses the
// archive as it refuses an unsafe name. Portable.
#pragma once

#include "payload/InstallRecord.h"
#include "payload/NameEncoding.h"
#include "payload/SuiteContract.h"

#include <array>
#include <string>
#include <string_view>

namespace journal {

// Where sfx.exe unpacks every entry before anything of the install is touched, and where it
// moves the files it replaces until the new record is committed.
inline constexpr char kStagingFolder[] = "~TorvaneStaging";
inline constexpr char kBackupFolder[] = "~TorvaneBackup";
// The record rewritten after the commit, renamed over the record when whole.
inline constexpr char kRecordTempName[] = "install.rec.tmp";

inline constexpr std::array<const char*, 6> kReservedRootNames = {
    record::kRecordName,     record::kPlanName, kRecordTempName,
    suite::kUninstallerName, kStagingFolder,    kBackupFolder,
};

// Whether the archive entry `name` names a reserved root name, or what may be a short 8.3 alias
// of one ("~TORVA~1", "INSTAL~1.NEW"), which Windows would resolve to it.
inline bool IsReservedEntryName(std::string_view name) {
    const std::size_t separator = name.find_first_of("/\\");
    const std::string root = zip::FoldCase(name.substr(0, separator));
    std::size_t alias = std::string::npos;
    for (std::size_t at = root.find('~'); at != std::string::npos; at = root.find('~', at + 1))
        if (at + 1 < root.size() && root[at + 1] >= '0' && root[at + 1] <= '9') {
            alias = at;
            break;
        }
    for (const char* reserved : kReservedRootNames) {
        const std::string folded = zip::FoldCase(reserved);
        if (root == folded)
            return true;
        // A short alias keeps the first letters of the long name, without its dots.
        std::string undotted;
        for (char c : folded)
            if (c != '.')
                undotted += c;
        if (alias != std::string::npos && alias > 0 &&
            undotted.compare(0, alias, root, 0, alias) == 0)
            return true;
    }
    return false;
}

} // namespace journal
