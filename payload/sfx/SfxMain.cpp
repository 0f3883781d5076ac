// sfx.exe: the self-extracting stub. A payload is this program with a ZIP archive appended;
// the setup program copies the payload out with its own 20 trailer bytes behind it and starts
// it hidden as `"<folder>\FARROWPK.EXE" -Y`, with <folder> as the working directory.
//
// With -Y it unpacks every entry into the working directory, in archive order, creating
// sub-folders and replacing existing files. It opens no window and asks nothing.
//   - Every name of the central directory is checked first, as the reader decoded it (UTF-8);
//     if any could land outside the working directory or names a device, if two name one file
//     for Windows, which ignores case (zip::FindCaseClash), or the completion flag ZZZ/comp.flg
//     stands twice, nothing is written at all. Names reach Windows as UTF-16.
//   - It runs elevated in a folder that others may have prepared, so it never writes through a
//     link (payload/sfx/NoFollow.h): a folder on the way that is a link (junction, symbolic link,
//     mount point) is never entered, and unpacking stops there; an existing file is never written
//     in place, its name is removed and a new file created, so that a link or another name of
//     some file (a hard link) loses only itself.
//   - The completion flag is written after every other entry, wherever it stands in the archive
//     (zip tools such as 7-Zip sort their entries), so the setup never sees it before the rest
//     is complete.
//   - The first entry that fails (damaged data, CRC-32 or size mismatch, a file that cannot be
//     written) is deleted and unpacking stops there, so entries after it, and the completion
//     flag, are never written after a failure.
//   - While it unpacks it publishes the bytes and entries written and the archive's total
//     uncompressed size in a block of shared memory named after its process id
//     (payload/UnpackProgress.h), from which the setup moves its progress bar; there it also
//     names the folder that was a link.
// Exit codes: 0 every entry written and verified; 1 not started with -Y (nothing written);
// 2 no readable archive in the program's own file; 3 an unsafe entry name, two names of one
// file, or a second completion flag (nothing written); 4 an entry failed; 5 a folder on the way is
// a link.

#include "base/WideText.h"
#include "framework/Handles.h"
#include "framework/SafeDllSearch.h"
#include "payload/EntryName.h"
#include "payload/UnpackProgress.h"
#include "payload/ZipReader.h"
#include "payload/sfx/NoFollowWin32.h"

#include <windows.h>

#include <cstddef>
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
    kLinkRefused = unpack::kExitLinkRefused,
};

bool AskedToUnpack() {
    return __argc == 2 && (std::string(__argv[1]) == "-Y" || std::string(__argv[1]) == "-y");
}

// The program's own file, as UTF-8 for the reader; empty when it has no UTF-8 form.
std::string OwnPath() {
    wchar_t buffer[32768] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, ARRAYSIZE(buffer));
    return length > 0 && length < ARRAYSIZE(buffer) ? base::Utf8({buffer, length}) : std::string();
}

// Creates and enters the folders on the way to each entry, outermost first, never through a
// link: each is held (nofollow::HoldFolder) while entries are written into it, so that nobody can
// put a link in its place meanwhile. Archives list the entries of one folder together, so each
// folder is mostly entered once.
class FolderWalk {
public:
    // Enters every folder on the way to `path` (relative, '\'-separated): all of them for a
    // folder entry, which ends in '\', all but the last segment for a file. The first folder
    // that is a link is named in `refused`.
    nofollow::Folder EnterFoldersFor(const std::string& path, std::string& refused) {
        std::vector<std::string> wanted = nofollow::FoldersOnTheWay(path);
        const std::size_t kept = nofollow::FoldersKept(names_, wanted);
        names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(kept), names_.end());
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(kept), held_.end());
        for (std::size_t at = kept; at < wanted.size(); ++at) {
            // An existing folder, or whatever stands at its name, is judged like a new one.
            const std::wstring name = base::Wide(wanted[at]);
            CreateDirectoryW(name.c_str(), nullptr);
            ScopedFileHandle folder;
            const nofollow::Folder verdict = nofollow::HoldFolder(name.c_str(), folder);
            if (verdict != nofollow::Folder::Enter) {
                if (verdict == nofollow::Folder::Link)
                    refused = wanted[at];
                return verdict;
            }
            names_.push_back(std::move(wanted[at]));
            held_.push_back(std::move(folder));
        }
        return nofollow::Folder::Enter;
    }

private:
    std::vector<std::string> names_; // the folders held, outermost first
    std::vector<ScopedFileHandle> held_;
};

// Publishes how far unpacking has got (payload/UnpackProgress.h), in the block the setup made
// before this program ran, or in one of its own. Without a block (no memory, or a block of
// another size under that name) it unpacks all the same.
class ProgressPublisher {
public:
    explicit ProgressPublisher(std::uint64_t totalBytes) {
        const std::string name = unpack::ProgressBlockName(GetCurrentProcessId());
        mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          unpack::kProgressBlockSize, name.c_str()));
        if (!mapping_)
            return;
        view_.Reset(
            MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, unpack::kProgressBlockSize));
        if (!view_)
            return;
        // Volatile: each value is one store, in this order, whatever the optimiser would merge.
        block_ = static_cast<volatile unpack::ProgressBlock*>(view_.Get());
        block_->totalKiB = unpack::KiBRoundedUp(totalBytes);
        block_->writtenKiB = 0;
        block_->entriesDone = 0;
        block_->refusedLength = 0;
        block_->blockSize = unpack::kProgressBlockSize;
    }
    ProgressPublisher(const ProgressPublisher&) = delete;
    ProgressPublisher& operator=(const ProgressPublisher&) = delete;

    void Written(std::size_t bytes) {
        written_ += bytes;
        if (block_)
            block_->writtenKiB = unpack::KiBRoundedUp(written_);
    }
    void EntryDone() {
        if (block_)
            block_->entriesDone = ++entriesDone_;
    }
    // Names the folder that is a link; the length is written last, once the name is whole.
    void Refused(const std::string& folder) {
        if (!block_ || folder.size() > unpack::kRefusedFolderCapacity)
            return;
        for (std::size_t at = 0; at < folder.size(); ++at)
            block_->refusedFolder[at] = folder[at];
        block_->refusedLength = static_cast<std::uint32_t>(folder.size());
    }

private:
    ScopedHandle mapping_;
    ScopedMappedView view_;
    volatile unpack::ProgressBlock* block_ = nullptr;
    std::uint64_t written_ = 0;
    std::uint32_t entriesDone_ = 0;
};

// A new file for writing, which nobody else may write meanwhile; the completion flag is made so
// that nobody else can open it at all: the setup takes a flag it can open for finished, and must
// not find one that is still being written.
ScopedFileHandle CreateNewFile(const std::wstring& path, bool completionFlag) {
    return ScopedFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE,
                                        completionFlag ? 0 : FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes one file entry as a new file: the name of an existing file there is removed first and
// nothing of it is written (nofollow::RemoveFile). On any failure the new file is removed rather
// than left half-written.
bool UnpackFile(zip::Reader& reader, const zip::Entry& entry, const std::wstring& path,
                ProgressPublisher& progress, bool completionFlag) {
    ScopedFileHandle out = CreateNewFile(path, completionFlag);
    if (!out && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) &&
        nofollow::RemoveFile(path.c_str()) == nofollow::Removal::Removed)
        out = CreateNewFile(path, completionFlag);
    if (!out)
        return false;
    const bool written = reader.Extract(entry, [&out, &progress](const unsigned char* data,
                                                                 std::size_t size) {
        progress.Written(size);
        DWORD done = 0;
        return WriteFile(out.Get(), data, static_cast<DWORD>(size), &done, nullptr) && done == size;
    });
    if (written)
        return true;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(out.Get(), FileDispositionInfo, &disposition, sizeof disposition);
    return false;
}

// One entry: kUnpacked, or the exit code that ends unpacking there.
int UnpackEntry(zip::Reader& reader, const zip::Entry& entry, FolderWalk& folders,
                ProgressPublisher& progress, bool completionFlag = false) {
    const std::string path = zip::WindowsRelativePath(entry.name);
    std::string refused;
    switch (folders.EnterFoldersFor(path, refused)) {
    case nofollow::Folder::Link:
        progress.Refused(refused);
        return kLinkRefused;
    case nofollow::Folder::NotFolder:
        return kEntryFailed;
    case nofollow::Folder::Enter:
        break;
    }
    if (!entry.IsFolder() && !UnpackFile(reader, entry, base::Wide(path), progress, completionFlag))
        return kEntryFailed;
    progress.EntryDone();
    return kUnpacked;
}

int Unpack() {
    zip::Reader reader;
    const std::string ownPath = OwnPath();
    if (ownPath.empty() || !reader.Open(ownPath))
        return kNoArchive;
    const std::vector<zip::Entry>& entries = reader.Entries();
    std::uint64_t totalBytes = 0;
    std::vector<std::string> names;
    for (const zip::Entry& entry : entries) {
        if (!zip::IsSafeEntryName(entry.name))
            return kUnsafeName;
        totalBytes += entry.size;
        names.push_back(entry.name);
    }
    // Two entries that Windows takes for one file: the second would overwrite the first.
    if (zip::FindCaseClash(names))
        return kUnsafeName;
    const std::size_t flag = zip::CompletionFlagIndex(entries);
    if (flag == zip::kCompletionFlagTwice)
        return kUnsafeName;

    ProgressPublisher progress(totalBytes);
    FolderWalk folders;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (index == flag)
            continue;
        if (const int failed = UnpackEntry(reader, entries[index], folders, progress))
            return failed;
    }
    // Last: the setup takes the flag for the sign that everything else is complete.
    if (flag < entries.size())
        return UnpackEntry(reader, entries[flag], folders, progress, true);
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
