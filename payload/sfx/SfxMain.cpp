// sfx.exe: the self-extracting stub. A payload is this program with a ZIP archive appended;
// the setup program copies the payload out with its own 20 trailer bytes behind it and starts
// it hidden as `"<folder>\FARROWPK.EXE" -Y`, with <folder> as the working directory.
//
// With -Y it unpacks every entry into the working directory, in archive order, creating
// sub-folders (each once) and overwriting existing files. It opens no window and asks nothing.
//   - Every name of the central directory is checked first; if any could land outside the
//     working directory or names a device, or the completion flag ZZZ/comp.flg stands twice,
//     nothing is written at all.
//   - The completion flag is written after every other entry, wherever it stands in the archive
//     (zip tools such as 7-Zip sort their entries), so the setup never sees it before the rest
//     is complete.
//   - The first entry that fails (damaged data, CRC-32 or size mismatch, a file that cannot be
//     written) is deleted and unpacking stops there, so entries after it, and the completion
//     flag, are never written after a failure.
//   - While it unpacks it publishes the bytes written and the archive's total uncompressed size
//     in a block of shared memory named after its process id (payload/UnpackProgress.h), from
//     which the setup moves its progress bar.
// Exit codes: 0 every entry written and verified; 1 not started with -Y (nothing written);
// 2 no readable archive in the program's own file; 3 an unsafe entry name or a second
// completion flag (nothing written); 4 an entry failed.

#include "base/BinaryFile.h"
#include "framework/Handles.h"
#include "framework/SafeDllSearch.h"
#include "payload/EntryName.h"
#include "payload/UnpackProgress.h"
#include "payload/ZipReader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// Creates the folders on the way to each entry. Archives list many entries in one folder, so
// each folder is asked for once and then remembered.
class FolderMaker {
public:
    // Every folder named on the way to `path` (relative, '\'-separated): all of them for a
    // folder entry, which ends in '\', all but the last segment for a file.
    bool CreateFoldersFor(const std::string& path) {
        const std::size_t last = path.rfind('\\');
        if (last == std::string::npos || Made(path.substr(0, last)))
            return true;
        for (std::size_t at = path.find('\\'); at != std::string::npos;
             at = path.find('\\', at + 1)) {
            std::string folder = path.substr(0, at);
            if (Made(folder))
                continue;
            if (!CreateDirectoryA(folder.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
            made_.insert(std::lower_bound(made_.begin(), made_.end(), folder), std::move(folder));
        }
        return true;
    }

private:
    bool Made(const std::string& folder) const {
        return std::binary_search(made_.begin(), made_.end(), folder);
    }
    std::vector<std::string> made_; // sorted
};

// Publishes how far unpacking has got (payload/UnpackProgress.h). Without a block (no memory,
// or the name already taken by someone else) it unpacks all the same.
class ProgressPublisher {
public:
    explicit ProgressPublisher(std::uint64_t totalBytes) {
        const std::string name = unpack::ProgressBlockName(GetCurrentProcessId());
        SetLastError(ERROR_SUCCESS);
        mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          unpack::kProgressBlockSize, name.c_str()));
        if (!mapping_ || GetLastError() == ERROR_ALREADY_EXISTS) {
            mapping_.Reset();
            return;
        }
        view_.Reset(
            MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, unpack::kProgressBlockSize));
        if (!view_)
            return;
        // Volatile: each value is one store, in this order, whatever the optimiser would merge.
        block_ = static_cast<volatile unpack::ProgressBlock*>(view_.Get());
        block_->totalKiB = unpack::KiBRoundedUp(totalBytes);
        block_->writtenKiB = 0;
        block_->blockSize = unpack::kProgressBlockSize;
    }
    ProgressPublisher(const ProgressPublisher&) = delete;
    ProgressPublisher& operator=(const ProgressPublisher&) = delete;

    void Written(std::size_t bytes) {
        written_ += bytes;
        if (block_)
            block_->writtenKiB = unpack::KiBRoundedUp(written_);
    }

private:
    ScopedHandle mapping_;
    ScopedMappedView view_;
    volatile unpack::ProgressBlock* block_ = nullptr;
    std::uint64_t written_ = 0;
};

// Writes one file entry; on any failure the file is removed rather than left half-written. The
// completion flag is written with nobody else allowed to open it: the setup takes a flag it can
// open for finished, and must not find one that is still being written.
bool UnpackFile(zip::Reader& reader, const zip::Entry& entry, const std::string& path,
                ProgressPublisher& progress, bool completionFlag) {
    base::BinaryFile out;
    if (!(completionFlag ? out.OpenDenyingOthers(path, "wb") : out.Open(path, "wb")))
        return false;
    const bool written =
        reader.Extract(entry, [&out, &progress](const unsigned char* data, std::size_t size) {
            progress.Written(size);
            return out.Write(data, size);
        });
    if (out.Close() && written)
        return true;
    DeleteFileA(path.c_str());
    return false;
}

bool UnpackEntry(zip::Reader& reader, const zip::Entry& entry, FolderMaker& folders,
                 ProgressPublisher& progress, bool completionFlag = false) {
    const std::string path = zip::WindowsRelativePath(entry.name);
    return folders.CreateFoldersFor(path) &&
           (entry.IsFolder() || UnpackFile(reader, entry, path, progress, completionFlag));
}

int Unpack() {
    zip::Reader reader;
    const std::string ownPath = OwnPath();
    if (ownPath.empty() || !reader.Open(ownPath))
        return kNoArchive;
    const std::vector<zip::Entry>& entries = reader.Entries();
    std::uint64_t totalBytes = 0;
    for (const zip::Entry& entry : entries) {
        if (!zip::IsSafeEntryName(entry.name))
            return kUnsafeName;
        totalBytes += entry.size;
    }
    const std::size_t flag = zip::CompletionFlagIndex(entries);
    if (flag == zip::kCompletionFlagTwice)
        return kUnsafeName;

    ProgressPublisher progress(totalBytes);
    FolderMaker folders;
    for (std::size_t index = 0; index < entries.size(); ++index)
        if (index != flag && !UnpackEntry(reader, entries[index], folders, progress))
            return kEntryFailed;
    // Last: the setup takes the flag for the sign that everything else is complete.
    if (flag < entries.size() && !UnpackEntry(reader, entries[flag], folders, progress, true))
        return kEntryFailed;
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
