// sfx.exe: the self-extracting stub. A payload is this program with a ZIP archive appended;
// the setup program copies the payload out with its own 20 trailer bytes behind it and starts
// it hidden as `"<folder>\FARROWPK.EXE" -Y`, with <folder> as the working directory.
//
// With -Y it installs the archive into the working directory all or nothing
// (payload/sfx/InstallJournal.h): a run that was killed there before is finished first; then
// every entry is unpacked and checked into the staging folder "~TorvaneStaging" before any file
// of the install is touched; then the plan "install.rec.new" (the record to commit) is written,
// each file it replaces is moved into "~TorvaneBackup" and each staged file into its place, and
// the plan is renamed over "install.rec". Any failure before that puts the folder back as it
// was. It opens no window and asks nothing.
//   - Every name of the central directory is checked first, as the reader decoded it (UTF-8);
//     if any could land outside the working directory or names a device, if two name one file
//     for Windows, which ignores case (zip::FindCaseClash), if one is a name the install keeps
//     for itself (payload/sfx/ReservedNames.h), or the completion flag ZZZ/comp.flg stands
//     twice, nothing is written at all. Names reach Windows as UTF-16.
//   - The volume must have room for the whole archive unpacked, and a margin, before anything
//     is written.
//   - It makes the staging's folders in archive order on one thread and writes the files on as
//     many threads as there are processors (at most 8, fewer when their decoders' memory would
//     pass the budget: payload/sfx/UnpackPlan.h), each file once the folders on its way are
//     made. An archive that names a file twice (two entries of one name, or a file and a
//     folder) is unpacked entry by entry in archive order instead, so that the later entry wins,
//     or unpacking stops where the two meet.
//   - It runs elevated in a folder that others may have prepared, so it never writes through a
//     link (win32/NoFollow.h): a folder on the way that is a link (junction, symbolic link,
//     mount point) is never entered, and the run fails there; an existing file is never written
//     in place, its name is moved into the backup, so that a link or another name of some file
//     (a hard link) loses only itself.
//   - The completion flag is moved into place after the commit and after every other file,
//     wherever it stands in the archive, so the setup never sees it before the rest is complete.
//   - The first entry that fails (damaged data, CRC-32 or size mismatch, a file that cannot be
//     written, a folder that cannot be made) stops the run: nothing of it stays, the install
//     folder is as it was before.
//   - It publishes the bytes and entries unpacked and the archive's total uncompressed size in a
//     block of shared memory named after its process id (payload/UnpackProgress.h), from which
//     the setup moves its progress bar; there it also says why it failed and where.
// Exit codes: 0 every entry installed and verified (old files that Windows removes only at the
// next restart are counted in the block); 1 not started with -Y (nothing written); 2 no readable
// archive in the program's own file; 3 an unsafe or reserved entry name, two names of one file,
// or a second completion flag (nothing written); 4 an entry is damaged; 5 a folder on the way is
// a link; 6 the disk is full, or has not room enough; 7 a file of the install is in use; 8
// Windows refused access to a file or folder. From 3 on, the install folder is as it was.

#include "payload/EntryName.h"
#include "payload/SuiteContract.h"
#include "payload/UnpackProgress.h"
#include "payload/ZipReader.h"
#include "payload/sfx/InstallJournal.h"
#include "payload/sfx/ReservedNames.h"
#include "payload/sfx/StagedInstall.h"
#include "payload/sfx/UnpackPlan.h"
#include "win32/Handles.h"
#include "win32/NoFollowWin32.h"
#include "win32/SafeDllSearch.h"
#include "win32/Thread.h"
#include "win32/WideText.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
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
    kDiskFull = 6,
    kInUse = 7,
    kNoAccess = 8,
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

// Why a run failed, as the exit code and the progress block say it.
struct Failure {
    int code = kUnpacked;
    unpack::FailureCause cause = unpack::kNoFailure;
    DWORD error = ERROR_SUCCESS;
    std::string path; // the entry, or the file or folder of the install (the link's folder)
    std::uint64_t neededBytes = 0, freeBytes = 0;

    explicit operator bool() const { return code != kUnpacked; }
};

int ExitCodeOf(unpack::FailureCause cause) {
    switch (cause) {
    case unpack::kNoFailure:
        return kUnpacked;
    case unpack::kDamagedPayload:
        return kEntryFailed;
    case unpack::kDiskFull:
        return kDiskFull;
    case unpack::kNoAccess:
        return kNoAccess;
    case unpack::kInUse:
        return kInUse;
    case unpack::kLinkFound:
        return kLinkRefused;
    }
    return kEntryFailed;
}

Failure Because(unpack::FailureCause cause, const std::string& path, DWORD error = 0) {
    Failure failure;
    failure.code = ExitCodeOf(cause);
    failure.cause = cause;
    failure.error = error;
    failure.path = path;
    return failure;
}

// A Windows call's failure on `path`.
Failure FromError(const std::string& path, DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return Because(unpack::kDiskFull, path, error);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return Because(unpack::kInUse, path, error);
    default:
        return Because(unpack::kNoAccess, path, error);
    }
}

Failure FromTrouble(const journal::Trouble& trouble) {
    return trouble.link ? Because(unpack::kLinkFound, trouble.path)
                        : FromError(trouble.path, trouble.error);
}

using journal::ExclusiveLock;

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
        block_->failureCause = unpack::kNoFailure;
        block_->failedLength = 0;
        block_->restartPending = 0;
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
    void RestartPending(unsigned files) {
        const ExclusiveLock hold(lock_);
        if (block_)
            block_->restartPending = files;
    }
    // Says why the run failed and ends it with the failure's exit code: each name before its
    // length, the cause after everything it describes.
    int Fail(const Failure& failure) {
        const ExclusiveLock hold(lock_);
        if (!block_)
            return failure.code;
        if (failure.cause == unpack::kLinkFound && Put(block_->refusedFolder, failure.path))
            block_->refusedLength = static_cast<std::uint32_t>(failure.path.size());
        if (Put(block_->failedPath, failure.path))
            block_->failedLength = static_cast<std::uint32_t>(failure.path.size());
        block_->windowsError = failure.error;
        block_->neededKiB = unpack::KiBRoundedUp(failure.neededBytes);
        block_->freeKiB = unpack::KiBRoundedUp(failure.freeBytes);
        block_->failureCause = failure.cause;
        return failure.code;
    }

private:
    static bool Put(volatile char (&field)[unpack::kRefusedFolderCapacity],
                    const std::string& text) {
        if (text.size() > unpack::kRefusedFolderCapacity)
            return false;
        for (std::size_t at = 0; at < text.size(); ++at)
            field[at] = text[at];
        return true;
    }

    ScopedHandle mapping_;
    ScopedMappedView view_;
    volatile unpack::ProgressBlock* block_ = nullptr;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::uint64_t written_ = 0;
    std::uint32_t entriesDone_ = 0;
};

// The failure of the first entry in archive order that failed, as the threads find them.
class FirstFailure {
public:
    explicit FirstFailure(std::size_t none) : index_(none), none_(none) {}

    void Record(std::size_t index, Failure failure) {
        const ExclusiveLock hold(lock_);
        if (index >= index_.load())
            return;
        failure_ = std::move(failure);
        index_.store(index);
    }
    // Whether an entry before the one at `index` has failed: it is not to be started.
    bool Before(std::size_t index) const { return index_.load() < index; }
    // No failure, or the first one's.
    Failure Result() const { return index_.load() == none_ ? Failure() : failure_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::atomic<std::size_t> index_;
    const std::size_t none_;
    Failure failure_;
};

// Which entry a thread unpacks, and the first failure of the threads: a file of a later entry
// stops being written as soon as an earlier one has failed. Unpacking in order, none.
struct Unpacking {
    const FirstFailure* failure = nullptr;
    std::size_t index = 0;
};

// Where an entry goes in the staging folder.
std::string StagingPathOf(const zip::Entry& entry) {
    return std::string(journal::kStagingFolder) + "\\" + zip::WindowsRelativePath(entry.name);
}

// A folder on the way that a file of the staging stands at, or a file where a folder of it
// stands: the archive names one thing twice.
bool IsClash(DWORD error) {
    return error == ERROR_DIRECTORY || error == ERROR_ALREADY_EXISTS ||
           error == ERROR_FILE_EXISTS || error == ERROR_PATH_NOT_FOUND;
}

// Writes one file entry as a new file in `folder`, the held staging folder of its `path` (a
// whole path): an earlier entry of the same name is removed first. On any failure the new file
// is removed rather than left half-written.
Failure UnpackFile(zip::Reader& reader, const zip::Entry& entry, HANDLE folder,
                   const std::wstring& path, ProgressPublisher& progress,
                   const Unpacking& unpacking) {
    const std::string entryPath = zip::WindowsRelativePath(entry.name);
    const std::wstring name = path.substr(path.rfind(L'\\') + 1);
    const auto create = [&] {
        return ScopedFileHandle(
            nofollow::CreateNewFileIn(folder, name, GENERIC_WRITE | DELETE, FILE_SHARE_READ));
    };
    ScopedFileHandle out = create();
    if (!out && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) &&
        nofollow::RemoveFile(path.c_str()) == nofollow::Removal::Removed)
        out = create();
    if (!out) {
        const DWORD error = GetLastError();
        return IsClash(error) ? Because(unpack::kDamagedPayload, entryPath, error)
                              : FromError(entryPath, error);
    }
    DWORD writeError = ERROR_SUCCESS;
    const bool written = reader.Extract(entry, [&](const unsigned char* data, std::size_t size) {
        // An entry before this one has failed: the run has failed, and this file goes.
        if (unpacking.failure && unpacking.failure->Before(unpacking.index))
            return false;
        progress.Written(size);
        DWORD done = 0;
        if (WriteFile(out.Get(), data, static_cast<DWORD>(size), &done, nullptr) && done == size)
            return true;
        writeError = GetLastError();
        return false;
    });
    if (written)
        return {};
    journal::MarkForDeletion(out.Get());
    return writeError != ERROR_SUCCESS ? FromError(entryPath, writeError)
                                       : Because(unpack::kDamagedPayload, entryPath);
}

// Enters the staging folders on the way to `entry`: no failure, or the one that ends unpacking.
Failure EnterFolders(journal::HeldFolders& folders, const zip::Entry& entry) {
    journal::Trouble trouble;
    if (folders.EnterFor(StagingPathOf(entry), trouble) == nofollow::Folder::Enter)
        return {};
    if (trouble.link)
        return Because(unpack::kLinkFound, trouble.path);
    return IsClash(trouble.error) ? Because(unpack::kDamagedPayload,
                                            zip::WindowsRelativePath(entry.name), trouble.error)
                                  : FromError(trouble.path, trouble.error);
}

// One entry into the staging.
Failure UnpackEntry(zip::Reader& reader, const zip::Entry& entry, journal::HeldFolders& folders,
                    ProgressPublisher& progress, const Unpacking& unpacking = {}) {
    if (Failure failed = EnterFolders(folders, entry))
        return failed;
    if (!entry.IsFolder())
        if (Failure failed =
                UnpackFile(reader, entry, folders.Innermost(),
                           folders.FullPath(StagingPathOf(entry)), progress, unpacking))
            return failed;
    progress.EntryDone();
    return {};
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

// Where the staging is: the install folder, held, and its path.
struct Place {
    HANDLE top;
    const std::wstring& base;
};

// What the threads that write the files share; each takes the next batch when it is free.
struct FileWork {
    const std::vector<zip::Entry>& entries;
    Place place;
    std::vector<std::size_t> files; // the entries' indices, in archive order
    // Each entry's folder in the staging, held by the thread that makes the folders until every
    // file is written; set before the entry's folders count as made.
    std::vector<HANDLE> folderOf;
    std::vector<unpack::Batch> batches;
    std::atomic<std::size_t> nextBatch{0};
    ProgressPublisher& progress;
    FirstFailure& failure;
    FoldersMade folders;
};

// Unpacks batches until none is left or an entry before the next has failed. Each file goes into
// the folder held for it: held since it was made, it cannot have become a link, and no thread
// walks the folders again.
void UnpackBatches(FileWork& work, zip::Reader& reader) {
    for (std::size_t next = work.nextBatch++; next < work.batches.size(); next = work.nextBatch++) {
        for (std::size_t at = work.batches[next].first; at < work.batches[next].end; ++at) {
            const std::size_t index = work.files[at];
            work.folders.WaitFor(index);
            // This entry's folders, or an entry before it, failed; later batches hold later
            // entries: nothing more for this thread.
            if (work.failure.Before(index + 1))
                return;
            const zip::Entry& entry = work.entries[index];
            if (Failure failed = UnpackFile(reader, entry, work.folderOf[index],
                                            work.place.base + base::Wide(StagingPathOf(entry)),
                                            work.progress, {&work.failure, index})) {
                work.failure.Record(index, std::move(failed));
                return;
            }
            work.progress.EntryDone();
        }
    }
}

// A thread of its own that unpacks batches with a reader of its own.
struct FileWorker {
    FileWork* work = nullptr;
    zip::Reader reader;
    ScopedHandle thread;
};

unsigned __stdcall RunFileWorker(void* parameter) {
    FileWorker& worker = *static_cast<FileWorker*>(parameter);
    UnpackBatches(*worker.work, worker.reader);
    return 0;
}

// Makes every folder in archive order on this thread while the other threads write the files
// whose folders are made; then writes files too, on as many threads as the plan allows.
Failure UnpackInParallel(zip::Reader& reader, std::size_t flag, journal::HeldFolders& folders,
                         Place place, ProgressPublisher& progress) {
    const std::vector<zip::Entry>& entries = reader.Entries();
    FirstFailure failure(entries.size());
    FileWork work{entries, place, {}, {}, {}, {}, progress, failure, {}};
    work.folderOf.resize(entries.size());
    // Every folder stays held until the threads have ended.
    std::vector<ScopedFileHandle> made;
    folders.KeepLetGoIn(&made);
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
        worker->thread = win32::StartThread(RunFileWorker, worker.get(), 256 << 10);
        if (!worker->thread)
            break;
        workers.push_back(std::move(worker));
    }
    for (std::size_t index = 0; index < entries.size() && !failure.Before(index); ++index) {
        if (index == flag)
            continue;
        if (Failure failed = EnterFolders(folders, entries[index])) {
            failure.Record(index, std::move(failed));
            break;
        }
        work.folderOf[index] = folders.Innermost();
        if (entries[index].IsFolder())
            progress.EntryDone();
        work.folders.Advance(index + 1);
    }
    // Made, or stopped at a failure: no file waits any longer.
    work.folders.Advance(entries.size());
    UnpackBatches(work, reader);
    for (const std::unique_ptr<FileWorker>& worker : workers)
        WaitForSingleObject(worker->thread.Get(), INFINITE);
    folders.KeepLetGoIn(nullptr);
    return failure.Result();
}

// Unpacks entry by entry in archive order, each file's folders just before it.
Failure UnpackInOrder(zip::Reader& reader, std::size_t flag, journal::HeldFolders& folders,
                      ProgressPublisher& progress) {
    const std::vector<zip::Entry>& entries = reader.Entries();
    for (std::size_t index = 0; index < entries.size(); ++index)
        if (index != flag)
            if (Failure failed = UnpackEntry(reader, entries[index], folders, progress))
                return failed;
    return {};
}

// What the staging holds once every entry is unpacked: each file once (a later entry of the same
// name replaced an earlier one), each folder once, outermost first.
journal::StagedPayload StagedFrom(const std::vector<zip::Entry>& entries, std::size_t flag) {
    journal::StagedPayload payload;
    std::map<std::string, std::size_t> fileAt; // folded path: its place in the list
    std::set<std::string> folders;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const zip::Entry& entry = entries[index];
        const std::string path = zip::WindowsRelativePath(entry.name);
        for (const std::string& folder : nofollow::FoldersOnTheWay(path))
            if (folders.insert(zip::FoldCase(folder)).second)
                payload.folders.push_back(folder);
        if (entry.IsFolder())
            continue;
        const record::File file{path, entry.size, entry.crc32};
        const auto [at, added] = fileAt.emplace(zip::FoldCase(path), payload.files.size());
        if (added)
            payload.files.push_back(file);
        else
            payload.files[at->second] = file;
        if (index == flag)
            payload.completionFlag = path;
    }
    return payload;
}

// The working directory's path with a trailing '\'.
std::wstring WorkingDirectory() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data());
    path.resize(length < path.size() ? length : 0);
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path;
}

int Unpack() {
    const std::wstring base = WorkingDirectory();
    const ScopedFileHandle top(CreateFileW(L".", FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE,
                                           nofollow::kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD topError = top ? ERROR_SUCCESS : GetLastError();
    // First of all, what a run killed here left: the folder as it was before that run, or as
    // that run committed it.
    const journal::Recovery recovered =
        top ? journal::FinishInterruptedRunIn(top.Get(), base) : journal::Recovery();

    zip::Reader reader;
    const std::string ownPath = OwnPath();
    if (ownPath.empty() || !reader.Open(ownPath))
        return kNoArchive;
    const std::vector<zip::Entry>& entries = reader.Entries();
    std::uint64_t totalBytes = 0;
    for (const zip::Entry& entry : entries)
        totalBytes += entry.size;
    ProgressPublisher progress(totalBytes);
    if (!top)
        return progress.Fail(FromError(std::string(), topError));
    if (!recovered.finished)
        return progress.Fail(FromTrouble(recovered.trouble));
    // Old files left for the next restart (a program of the suite still runs): their backup
    // is no place for this run's, which a rollback would mistake them for.
    if (GetFileAttributesW((base + base::Wide(journal::kBackupFolder)).c_str()) !=
        INVALID_FILE_ATTRIBUTES)
        return progress.Fail(
            Because(unpack::kInUse, journal::kBackupFolder, ERROR_SHARING_VIOLATION));

    std::vector<std::string> names;
    for (const zip::Entry& entry : entries) {
        if (!zip::IsSafeEntryName(entry.name) || journal::IsReservedEntryName(entry.name)) {
            Failure unsafe = Because(unpack::kDamagedPayload, entry.name);
            unsafe.code = kUnsafeName;
            return progress.Fail(unsafe);
        }
        names.push_back(entry.name);
    }
    // Two entries that Windows takes for one file: the second would overwrite the first.
    const zip::NameCheck checked = zip::CheckNames(names);
    const std::size_t flag = zip::CompletionFlagIndex(entries);
    if (checked.caseClash || flag == zip::kCompletionFlagTwice) {
        Failure unsafe =
            Because(unpack::kDamagedPayload,
                    checked.caseClash ? checked.caseClash->second
                                      : zip::WindowsRelativePath(suite::kCompletionFlagEntry));
        unsafe.code = kUnsafeName;
        return progress.Fail(unsafe);
    }
    names = {}; // memory the threads may use

    // Room for the whole archive unpacked, and a margin: a disk that runs full half-way makes
    // the slowest failure.
    ULARGE_INTEGER available{};
    const std::uint64_t needed = totalBytes + totalBytes / 100 + (1u << 20);
    if (GetDiskFreeSpaceExW(L".", &available, nullptr, nullptr) && available.QuadPart < needed) {
        Failure full = Because(unpack::kDiskFull, std::string());
        full.neededBytes = needed;
        full.freeBytes = available.QuadPart;
        return progress.Fail(full);
    }

    // The install folder is judged while the staging is written.
    journal::StagedInstall install(top.Get(), base, StagedFrom(entries, flag));
    install.StartJudging();
    Failure failed;
    {
        // The staging is made anew, and held while entries are written into it. Nobody but
        // SYSTEM, the Administrators and its owner (this run) may add to it, whatever the
        // install folder lets others do: what it holds is moved into the install folder.
        const ScopedLocalMemory security = journal::ProtectedFolderSecurity();
        ScopedFileHandle staging;
        const std::wstring stagingPath = base + base::Wide(journal::kStagingFolder);
        if (nofollow::HoldFolderIn(top.Get(), base::Wide(journal::kStagingFolder),
                                   stagingPath.c_str(), staging, FILE_CREATE,
                                   security.Get()) != nofollow::Folder::Enter)
            return progress.Fail(FromError(journal::kStagingFolder, GetLastError()));
        journal::HeldFolders folders(top.Get(), base, FILE_OPEN_IF);
        failed = checked.namesAFileTwice
                     ? UnpackInOrder(reader, flag, folders, progress)
                     : UnpackInParallel(reader, flag, folders, {top.Get(), base}, progress);
        // The completion flag too, to be checked; it is moved into place last of all.
        if (!failed && flag < entries.size())
            failed = UnpackEntry(reader, entries[flag], folders, progress);
    }
    if (failed) {
        journal::Trouble ignored;
        journal::RollBack(top.Get(), base, nullptr, ignored);
        return progress.Fail(failed);
    }

    journal::Trouble trouble;
    if (!install.WritePlan(trouble) || !install.MoveIntoPlace(trouble) ||
        !install.Commit(trouble)) {
        journal::Trouble ignored;
        install.RollBack(ignored);
        return progress.Fail(FromTrouble(trouble));
    }
    const bool flagPlaced = install.Finish(trouble);
    progress.RestartPending(install.RestartPending());
    return flagPlaced ? kUnpacked : progress.Fail(FromTrouble(trouble));
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
