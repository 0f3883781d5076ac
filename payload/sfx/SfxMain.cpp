// sfx.exe: the self-extracting stub. A payload is this program with a ZIP archive appended;
// the setup program copies the payload out with its own 20 trailer bytes behind it and starts
// it hidden as `"<folder>\FARROWPK.EXE" -Y`, with <folder> as the working directory.
//
// With -Y it unpacks every entry into the working directory, creating sub-folders and replacing
// existing files. It opens no window and asks nothing. It makes the folders in archive order on
// one thread and writes the files on as many threads as there are processors (at most 8, fewer
// when their decoders' memory would pass the budget: payload/sfx/UnpackPlan.h), each file once
// the folders on its way are made; each file is written and closed by one thread. An archive
// that names a file twice (two entries of one name, or a file and a folder) is unpacked entry by
// entry in archive order instead, so that the later entry wins, or unpacking stops where the two
// meet, as ever.
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
//     written, a folder that cannot be made) is deleted and unpacking stops there: no entry after
//     it in archive order is started once it has failed (other threads may have written some
//     already), every entry before it is finished, and the completion flag is not written. The
//     exit code is that of the first failing entry in archive order.
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
#include "payload/sfx/UnpackPlan.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <memory>
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
// link: each is held (nofollow::HoldFolderIn) while entries are written into it, so that nobody
// can put a link in its place meanwhile, and each is opened inside the one held before it, from
// the working directory down, never by a path that Windows would resolve anew. Archives list the
// entries of one folder together, so each folder is mostly entered once.
class FolderWalk {
public:
    FolderWalk()
        : top_(CreateFileW(L".", FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE,
                           nofollow::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr)) {}

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
            // Its last segment, inside the folder held last (the one before it on the way).
            const std::size_t segment = names_.empty() ? 0 : names_.back().size() + 1;
            ScopedFileHandle folder;
            const nofollow::Folder verdict =
                nofollow::HoldFolderIn(Innermost(), base::Wide(wanted[at].substr(segment)),
                                       base::Wide(wanted[at]).c_str(), folder);
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

    // The folder entered last: the one that holds the entry whose folders were entered.
    HANDLE Innermost() const { return held_.empty() ? top_.Get() : held_.back().Get(); }

private:
    ScopedFileHandle top_;           // the working directory, where unpacking starts
    std::vector<std::string> names_; // the folders held, outermost first
    std::vector<ScopedFileHandle> held_;
};

// Holds a slim reader/writer lock exclusively for its scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// Publishes how far unpacking has got (payload/UnpackProgress.h), in the block the setup made
// before this program ran, or in one of its own. Without a block (no memory, or a block of
// another size under that name) it unpacks all the same. Threads report one at a time, so that
// the values the setup reads only ever grow.
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
        const ExclusiveLock hold(lock_);
        written_ += bytes;
        if (block_)
            block_->writtenKiB = unpack::KiBRoundedUp(written_);
    }
    void EntryDone() {
        const ExclusiveLock hold(lock_);
        ++entriesDone_;
        if (block_)
            block_->entriesDone = entriesDone_;
    }
    // Names the folder that is a link; the length is written last, once the name is whole.
    void Refused(const std::string& folder) {
        const ExclusiveLock hold(lock_);
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
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::uint64_t written_ = 0;
    std::uint32_t entriesDone_ = 0;
};

// Ends unpacking with `code`: a folder that is a link is named in the progress block first.
int Stopped(int code, const std::string& refused, ProgressPublisher& progress) {
    if (code == kLinkRefused)
        progress.Refused(refused);
    return code;
}

// The failure of the first entry in archive order that failed, as the threads find them.
class FirstFailure {
public:
    explicit FirstFailure(std::size_t none) : index_(none), none_(none) {}

    void Record(std::size_t index, int code, std::string refused) {
        const ExclusiveLock hold(lock_);
        if (index >= index_.load())
            return;
        code_ = code;
        refused_ = std::move(refused);
        index_.store(index);
    }
    // Whether an entry before the one at `index` has failed: it is not to be started.
    bool Before(std::size_t index) const { return index_.load() < index; }
    // kUnpacked, or the failure's exit code (Stopped).
    int Code(ProgressPublisher& progress) const {
        return index_.load() == none_ ? kUnpacked : Stopped(code_, refused_, progress);
    }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::atomic<std::size_t> index_;
    const std::size_t none_;
    int code_ = kUnpacked;
    std::string refused_;
};

// Which entry a thread unpacks, and the first failure of the threads: a file of a later entry
// stops being written as soon as an earlier one has failed. Unpacking in order, none.
struct Unpacking {
    const FirstFailure* failure = nullptr;
    std::size_t index = 0;
};

// A new file for writing, which nobody else may write meanwhile; the completion flag is made so
// that nobody else can open it at all: the setup takes a flag it can open for finished, and must
// not find one that is still being written.
ScopedFileHandle CreateNewFile(HANDLE folder, const std::wstring& name, bool completionFlag) {
    return ScopedFileHandle(nofollow::CreateNewFileIn(folder, name, GENERIC_WRITE | DELETE,
                                                      completionFlag ? 0 : FILE_SHARE_READ));
}

// Writes one file entry as a new file in `folder`, the held folder of its `path`: the name of an
// existing file there is removed first and nothing of it is written (nofollow::RemoveFile). On
// any failure the new file is removed rather than left half-written.
bool UnpackFile(zip::Reader& reader, const zip::Entry& entry, HANDLE folder,
                const std::wstring& path, ProgressPublisher& progress, bool completionFlag,
                const Unpacking& unpacking) {
    const std::wstring name = path.substr(path.rfind(L'\\') + 1);
    ScopedFileHandle out = CreateNewFile(folder, name, completionFlag);
    if (!out && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) &&
        nofollow::RemoveFile(path.c_str()) == nofollow::Removal::Removed)
        out = CreateNewFile(folder, name, completionFlag);
    if (!out)
        return false;
    const bool written = reader.Extract(entry, [&](const unsigned char* data, std::size_t size) {
        // An entry before this one has failed: the run has failed, and this file goes.
        if (unpacking.failure && unpacking.failure->Before(unpacking.index))
            return false;
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

// Enters the folders on the way to the entry at `path`: kUnpacked, or the exit code that ends
// unpacking there, with the folder that is a link in `refused`.
int EnterFolders(FolderWalk& folders, const std::string& path, std::string& refused) {
    switch (folders.EnterFoldersFor(path, refused)) {
    case nofollow::Folder::Link:
        return kLinkRefused;
    case nofollow::Folder::NotFolder:
        return kEntryFailed;
    case nofollow::Folder::Enter:
        break;
    }
    return kUnpacked;
}

// One entry: kUnpacked, or the exit code that ends unpacking there (`refused` as above).
int UnpackEntry(zip::Reader& reader, const zip::Entry& entry, FolderWalk& folders,
                ProgressPublisher& progress, std::string& refused, bool completionFlag = false,
                const Unpacking& unpacking = {}) {
    const std::string path = zip::WindowsRelativePath(entry.name);
    if (const int failed = EnterFolders(folders, path, refused))
        return failed;
    if (!entry.IsFolder() && !UnpackFile(reader, entry, folders.Innermost(), base::Wide(path),
                                         progress, completionFlag, unpacking))
        return kEntryFailed;
    progress.EntryDone();
    return kUnpacked;
}

// How far the folders are made: every folder on the way to the entries before a given index.
// The threads that write files wait for the folders of their next entry, so that they start
// while the folders of later entries are still being made, and the folders are made in archive
// order (a thread makes one again only when it has gone since).
class FoldersMade {
public:
    void Advance(std::size_t through) {
        {
            // Changed under the lock that a waiting thread holds until it sleeps: no wake is
            // lost between its last look and its sleep.
            const ExclusiveLock hold(lock_);
            through_.store(through);
        }
        WakeAllConditionVariable(&changed_);
    }
    // Returns once the folders of the entry at `index` are made, or making them has ended.
    void WaitFor(std::size_t index) {
        if (through_.load() > index)
            return;
        const ExclusiveLock hold(lock_);
        while (through_.load() <= index)
            SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }

private:
    std::atomic<std::size_t> through_{0};
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
};

// What the threads that write the files share; each takes the next batch when it is free.
struct FileWork {
    const std::vector<zip::Entry>& entries;
    std::vector<std::size_t> files; // the entries' indices, in archive order
    std::vector<unpack::Batch> batches;
    std::atomic<std::size_t> nextBatch{0};
    ProgressPublisher& progress;
    FirstFailure& failure;
    FoldersMade folders;
};

// Unpacks batches until none is left or an entry before the next has failed. Each thread walks
// the folders anew (its own holds), so a folder swapped for a link since it was made is caught.
void UnpackBatches(FileWork& work, zip::Reader& reader) {
    FolderWalk folders;
    for (std::size_t next = work.nextBatch++; next < work.batches.size(); next = work.nextBatch++) {
        for (std::size_t at = work.batches[next].first; at < work.batches[next].end; ++at) {
            const std::size_t index = work.files[at];
            work.folders.WaitFor(index);
            // This entry's folders, or an entry before it, failed; later batches hold later
            // entries: nothing more for this thread.
            if (work.failure.Before(index + 1))
                return;
            std::string refused;
            if (const int failed = UnpackEntry(reader, work.entries[index], folders, work.progress,
                                               refused, false, {&work.failure, index})) {
                work.failure.Record(index, failed, std::move(refused));
                return;
            }
        }
    }
}

// A thread of its own that unpacks batches with a reader of its own.
struct FileWorker {
    FileWork* work = nullptr;
    zip::Reader reader;
    ScopedHandle thread;
};

DWORD WINAPI RunFileWorker(void* parameter) {
    FileWorker& worker = *static_cast<FileWorker*>(parameter);
    UnpackBatches(*worker.work, worker.reader);
    return 0;
}

// Makes every folder in archive order on this thread while the other threads write the files
// whose folders are made; then writes files too, on as many threads as the plan allows.
int UnpackInParallel(zip::Reader& reader, std::size_t flag, FolderWalk& folders,
                     ProgressPublisher& progress) {
    const std::vector<zip::Entry>& entries = reader.Entries();
    FirstFailure failure(entries.size());
    FileWork work{entries, {}, {}, {}, progress, failure, {}};
    std::vector<std::uint64_t> sizes;
    std::uint64_t largestDecoder = 0;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (index == flag || entries[index].IsFolder())
            continue;
        work.files.push_back(index);
        sizes.push_back(entries[index].size);
        largestDecoder = std::max(largestDecoder, reader.DecoderMemory(entries[index]));
    }
    work.batches = unpack::Batches(sizes);
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const unsigned threads =
        unpack::ThreadCount(system.dwNumberOfProcessors, work.batches.size(), largestDecoder);
    std::vector<std::unique_ptr<FileWorker>> workers;
    for (unsigned more = 1; more < threads; ++more) {
        auto worker = std::make_unique<FileWorker>();
        worker->work = &work;
        if (!worker->reader.OpenSameArchive(reader))
            break;
        // The stack is a reservation of its own size: the thread's memory counts it.
        worker->thread.Reset(CreateThread(nullptr, 256 << 10, RunFileWorker, worker.get(),
                                          STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
        if (!worker->thread)
            break;
        workers.push_back(std::move(worker));
    }
    for (std::size_t index = 0; index < entries.size() && !failure.Before(index); ++index) {
        if (index == flag)
            continue;
        std::string refused;
        if (const int failed =
                EnterFolders(folders, zip::WindowsRelativePath(entries[index].name), refused)) {
            // The files before it are still written, as unpacking in order would have.
            failure.Record(index, failed, std::move(refused));
            break;
        }
        if (entries[index].IsFolder())
            progress.EntryDone();
        work.folders.Advance(index + 1);
    }
    // Made, or stopped at a failure: no file waits any longer.
    work.folders.Advance(entries.size());
    UnpackBatches(work, reader);
    for (const std::unique_ptr<FileWorker>& worker : workers)
        WaitForSingleObject(worker->thread.Get(), INFINITE);
    return failure.Code(progress);
}

// Unpacks entry by entry in archive order, each file's folders just before it.
int UnpackInOrder(zip::Reader& reader, std::size_t flag, FolderWalk& folders,
                  ProgressPublisher& progress) {
    const std::vector<zip::Entry>& entries = reader.Entries();
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (index == flag)
            continue;
        std::string refused;
        if (const int failed = UnpackEntry(reader, entries[index], folders, progress, refused))
            return Stopped(failed, refused, progress);
    }
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
    const zip::NameCheck checked = zip::CheckNames(names);
    if (checked.caseClash)
        return kUnsafeName;
    const std::size_t flag = zip::CompletionFlagIndex(entries);
    if (flag == zip::kCompletionFlagTwice)
        return kUnsafeName;

    ProgressPublisher progress(totalBytes);
    FolderWalk folders;
    const bool inOrder = checked.namesAFileTwice;
    names = {}; // memory the threads may use
    if (const int failed = inOrder ? UnpackInOrder(reader, flag, folders, progress)
                                   : UnpackInParallel(reader, flag, folders, progress))
        return failed;
    // Last, once every other file is written and closed: the setup takes the flag for the sign
    // that everything else is complete.
    std::string refused;
    if (flag < entries.size())
        if (const int failed = UnpackEntry(reader, entries[flag], folders, progress, refused, true))
            return Stopped(failed, refused, progress);
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
