// pack never writes over what it reads: an --out that is one of the command's input files under
// any name (another spelling, a hard link, a symbolic link), or that lies in the --from folder it
// packs, or that is a folder, is refused before anything is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pack {

// Which file this is, whatever the name it is reached by: device and inode on POSIX, the volume's
// serial number and the file index on Windows. Links are followed.
struct FileIdentity {
    std::uint64_t volume = 0, index = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Nothing when nothing (or nothing that can be opened) is at `path`.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The real path of the existing folder at `path`, with every link and dot segment resolved, in
// UTF-8 ('/'-separated on POSIX); nothing when there is no folder there.
std::optional<std::string> RealFolderPath(const std::string& path);

// An input of the command: its option ("--stub") and its path.
struct Input {
    const char* option;
    std::string path;
};

// Empty when the command may write `out` (and `out` + `temporarySuffix`, the name it is written
// under first); else one sentence saying why not: it is the same file as one of `inputs`, it lies
// inside `from` (when not empty) or is that folder itself, or it is a folder.
std::string CheckOutput(const std::string& out, const std::vector<Input>& inputs,
                        const std::string& from, const std::string& temporarySuffix);

} // namespace pack
