// sfx.exe: the self-extracting stub. A payload is this program with a ZIP archive appended;
// the setup program copies the payload out with its own 20 trailer bytes behind it and starts
// it hidden as `"<folder>\FARROWPK.EXE" -Y`, with <folder> as the working directory.
//
// With -Y it unpacks every entry into the working directory, in archive order, creating
// sub-folders and overwriting existing files. It opens no window and asks nothing.
//   - Every name of the central directory is checked first; if any could land outside the
//     working directory or names a device, or the completion flag ZZZ/comp.flg is not the last
//     entry (or stands twice), nothing is written at all.
//   - The first entry that fails (damaged data, CRC-32 or size mismatch, a file that cannot be
//     written) is deleted and unpacking stops there, so entries after it, among them the
//     completion flag that comes last, are never written after a failure.
// Exit codes: 0 every entry written and verified; 1 not started with -Y (nothing written);
// 2 no readable archive in the program's own file; 3 an unsafe entry name (nothing written);
// 4 an entry failed.

#include "framework/SafeDllSearch.h"
#include "payload/EntryName.h"
#include "payload/ZipReader.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

enum ExitCode : int {
    kUnpacked = 0,
    kNotAsked = 1,
    kNoArchive = 2,
    kUnsafeName = 3,
    kEntryFailed = 4,
};

bool AskedToUnpack() {
    return __argc == 2 && (std::string(__argv[1]) == "-Y" || std::string(__argv[1]) == "-y");
}

std::string OwnPath() {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// Creates every folder named on the way to `path` (relative, '\'-separated): all of them for a
// folder entry, which ends in '\', all but the last segment for a file.
bool CreateFoldersFor(const std::string& path) {
    for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
        const std::string folder = path.substr(0, at);
        if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

class OutputFile {
public:
    explicit OutputFile(const std::string& path) : stream_(std::fopen(path.c_str(), "wb")) {}
    ~OutputFile() {
        if (stream_)
            std::fclose(stream_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    bool IsOpen() const { return stream_ != nullptr; }
    bool Write(const unsigned char* data, std::size_t size) {
        return std::fwrite(data, 1, size, stream_) == size;
    }
    bool Close() {
        std::FILE* stream = stream_;
        stream_ = nullptr;
        return std::fclose(stream) == 0;
    }

private:
    std::FILE* stream_;
};

// Writes one file entry; on any failure the file is removed rather than left half-written.
bool UnpackFile(zip::Reader& reader, const zip::Entry& entry, const std::string& path) {
    OutputFile out(path);
    if (!out.IsOpen())
        return false;
    const bool written = reader.Extract(entry, [&out](const unsigned char* data, std::size_t size) {
        return out.Write(data, size);
    });
    if (out.Close() && written)
        return true;
    DeleteFileA(path.c_str());
    return false;
}

int Unpack() {
    zip::Reader reader;
    const std::string ownPath = OwnPath();
    if (ownPath.empty() || !reader.Open(ownPath))
        return kNoArchive;
    for (const zip::Entry& entry : reader.Entries())
        if (!zip::IsSafeEntryName(entry.name))
            return kUnsafeName;
    // A completion flag written early would have the setup take a partial unpack for a whole one.
    if (!zip::CompletionFlagOnlyLast(reader.Entries()))
        return kUnsafeName;
    for (const zip::Entry& entry : reader.Entries()) {
        const std::string path = zip::WindowsRelativePath(entry.name);
        if (!CreateFoldersFor(path))
            return kEntryFailed;
        if (!entry.IsFolder() && !UnpackFile(reader, entry, path))
            return kEntryFailed;
    }
    return kUnpacked;
}

} // namespace

// Nobody reads this program's error output: a plain abort, instead of the terminate handler
// that prints demangled type names, keeps the demangler (a third of the program) out of it.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Nobody sees this process: no system error boxes either (an unreadable drive, say).
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    LoadLibrariesFromSystemFolderOnly();
    return AskedToUnpack() ? Unpack() : kNotAsked;
}
