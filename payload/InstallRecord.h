// The install record: what an installation put into its folder, kept in that folder as
// "install.rec". sfx.exe writes the files and folders when it has moved them into place; the
// setup adds the shortcuts it wrote and the label. An upgrade reads the record of the version
// before it to remove what the new one no longer ships, the uninstaller removes what the record
// lists and nothing else, and while a run moves files into place, the record it is about to
// commit ("install.rec.new") is the plan that lets the next run put everything back.
//
// The text is UTF-8, one item a line, fields separated by a tab, lines ending in "\n":
//
//   Torvane Software Suite install record 1
//   label      <the image's label>
//   folder     <relative path>           a folder the install made (removed once empty)
//   newfolder  <relative path>           in a plan only: a folder this run makes
//   file       <size> <crc-32> <path>    a file the install wrote: bytes, 8 hex digits
//   shortcut   <full path>               a shortcut the setup wrote
//   madefolder <full path>               the install folder, or one of its parents, that the
//                                        setup made (removed once empty)
//
// Paths inside the folder are relative and '\'-separated. The record is read with suspicion
// (the folder may be writable by others): a line that does not parse, or a relative path that
// could lead outside the folder, makes the whole record unreadable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace record {

inline constexpr char kRecordName[] = "install.rec";
// The record a run is about to commit: its plan, while it moves files into place.
inline constexpr char kPlanName[] = "install.rec.new";
inline constexpr char kHeader[] = "Torvane Software Suite install record 1";

struct File {
    std::string path;
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
};

struct InstallRecord {
    std::string label;
    std::vector<std::string> folders;    // made by the install, outermost first
    std::vector<std::string> newFolders; // a plan's folders that this run makes
    std::vector<File> files;
    std::vector<std::string> shortcuts;   // full paths
    std::vector<std::string> madeFolders; // full paths, outermost first
};

std::string Serialize(const InstallRecord& installed);
// Nothing when the text is not a whole record.
std::optional<InstallRecord> Parse(std::string_view text);

// Whether `path` may stand in a record as a path inside the folder: relative, '\'-separated,
// no empty, "." or ".." segment, nothing a device or a drive could be taken for.
bool IsRecordedPath(std::string_view path);

// Windows ignores case: the record's paths compare folded (ASCII and the letters of
// zip::FoldCase).
bool SamePath(std::string_view a, std::string_view b);

} // namespace record
