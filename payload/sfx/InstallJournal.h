// How an install replaces the files of the one before it all or nothing, and how a run that was
// killed on the way is finished. sfx.exe unpacks every entry into the staging folder
// (journal::kStagingFolder), then writes its plan, the record it is about to commit
// ("install.rec.new", payload/InstallRecord.h), then moves each file it replaces into the backup
// folder (journal::kBackupFolder, same relative path) and the staged file into its place, and
// renames the plan over the record: the commit. Until then everything can be put back: the
// backups return to their places, what the plan lists and staging no longer holds was moved in
// and goes. After it the backups are only removed. All of it happens inside folders held open
// and never through a link (win32/NoFollowWin32.h). sfx.exe and the setup's engine share
// this code; the setup calls FinishInterruptedRun before it starts an archive.
#pragma once

#include "payload/InstallRecord.h"
#include "payload/NameEncoding.h"
#include "payload/sfx/ReservedNames.h"
#include "win32/Handles.h"
#include "win32/NoFollowWin32.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace journal {

// What failed: the path relative to the install folder ('\'-separated, UTF-8) and the Windows
// error; `link` when it is a link that was refused.
struct Trouble {
    std::string path;
    DWORD error = ERROR_SUCCESS;
    bool link = false;

    bool Failed() const { return link || error != ERROR_SUCCESS; }
    // Keeps the first trouble of several.
    void Note(const std::string& where, DWORD why, bool isLink = false) {
        if (Failed())
            return;
        path = where;
        error = why == ERROR_SUCCESS && !isLink ? ERROR_GEN_FAILURE : why;
        link = isLink;
    }
};

// Paths as Windows compares them (record::SamePath), to look many up at once.
class PathSet {
public:
    PathSet() = default;
    explicit PathSet(const std::vector<std::string>& paths) {
        for (const std::string& path : paths)
            Add(path);
    }
    bool Add(const std::string& path) { return folded_.insert(zip::FoldCase(path)).second; }
    bool Contains(const std::string& path) const { return folded_.count(zip::FoldCase(path)) != 0; }

private:
    std::set<std::string> folded_;
};

// Holds a slim reader/writer lock exclusively for its scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// How many threads share `pieces` pieces of file work: as many as unpack (payload/sfx/
// UnpackPlan.h), without a decoder's memory.
unsigned ThreadsFor(std::size_t pieces);

// Runs `work(context)` on `threads` threads, this one among them (fewer when Windows starts no
// more), and returns once every one has returned. The work shares itself out.
void OnThreads(unsigned threads, void (*work)(void*), void* context);
template <class Work> void OnThreads(unsigned threads, Work&& work) {
    OnThreads(
        threads, [](void* context) { (*static_cast<std::remove_reference_t<Work>*>(context))(); },
        &work);
}

// The security descriptor of the staging and the backup folder, which the run makes: SYSTEM, the
// Administrators and the folder's owner (the run) may change what is in them, the users may read
// and run it; inherited by what goes in, since what they hold is moved into the install folder
// (by the install, or by a rollback) and keeps it there. Empty when Windows cannot make it.
ScopedLocalMemory ProtectedFolderSecurity();

// Removes each of `folders` (relative to the install folder `top`, whose path is `base`) that is
// empty and no link, deepest first, inside held folders; those it removed.
std::vector<std::string> RemoveEmptyFolders(HANDLE top, const std::wstring& base,
                                            std::vector<std::string> folders);

// The names in the folder open as `folder` (with FILE_LIST_DIRECTORY), with their attributes as
// the listing shows them, which shows a Unix symbolic link under Wine as a reparse point too.
// Without `everyName` it asks no more once an answer left room for more names: one request
// instead of two for most folders. A file system may answer with fewer names than fit, so only
// for a caller that finds out a name was missed (a folder that is not empty when it is removed)
// or whose judgement a missed name cannot make unsafe.
bool ListFolder(HANDLE folder, std::vector<std::pair<std::wstring, DWORD>>& names,
                bool everyName = true);

// The CRC-32 of what `file` holds from where it is read (zlib's, as the record holds it);
// nothing when it cannot be read.
std::optional<std::uint32_t> Crc32Of(HANDLE file);

// The last segment of a relative path: the name inside its folder.
std::string NameOf(const std::string& path);

// The folders on the way to entries below the install folder, each held (nofollow::HoldFolderIn)
// while work goes on inside it and each opened inside the one held before it, from the install
// folder `top` down. `base` is the install folder's path with a trailing '\' (or empty for the
// working directory): names are judged by their whole path too. FILE_OPEN_IF makes the folders
// that are missing, FILE_OPEN enters existing ones only.
class HeldFolders {
public:
    HeldFolders(HANDLE top, std::wstring base, ULONG disposition)
        : top_(top), base_(std::move(base)), disposition_(disposition) {}

    // Enters `folders` (relative, outermost first: nofollow::FoldersOnTheWay); on failure the
    // folder where it ended and why are in `trouble`.
    nofollow::Folder Enter(const std::vector<std::string>& folders, Trouble& trouble);
    // The folders on the way to `path`: all but the last segment, or all of a path ending in '\'.
    nofollow::Folder EnterFor(const std::string& path, Trouble& trouble) {
        return Enter(nofollow::FoldersOnTheWay(path), trouble);
    }
    HANDLE Innermost() const { return held_.empty() ? top_ : held_.back().Get(); }
    // Folders let go on the way to others are kept open in `kept` instead of closed (none
    // when null): their handles stay good, and the folders held, for as long as it holds them.
    void KeepLetGoIn(std::vector<ScopedFileHandle>* kept) { kept_ = kept; }
    // Lets every folder go: a hold shares no deletion and would refuse a folder's removal.
    void Release() {
        names_.clear();
        held_.clear();
    }
    std::wstring FullPath(const std::string& relative) const;

private:
    HANDLE top_;
    std::wstring base_;
    ULONG disposition_;
    std::vector<std::string> names_; // the folders held, outermost first
    std::vector<ScopedFileHandle> held_;
    std::vector<ScopedFileHandle>* kept_ = nullptr;
};

// Marks what `opened` (opened with DELETE) is open on for deletion when its handles close.
bool MarkForDeletion(HANDLE opened);

// What the removal of the backup gives back to the install folder instead of removing it: in the
// folders that went into it whole (`swapped`, relative to the install folder), every name that
// is neither among `files` nor `folders` of the payload came in since the run judged them; with
// `everywhere`, every such name in the backup (a run that was killed after its commit). Each
// returns to its place as it is, the folders on its way made again when they went meanwhile. One
// whose place is taken now is removed with the backup; one that can go neither way (a link on its
// way, a file in use) stays, and the removal fails. A link is removed, itself: under Wine a
// Unix symbolic link cannot be, and the backup then stays.
struct GivenBack {
    std::vector<std::string> swapped;
    const PathSet& files;
    const PathSet& folders;
    bool everywhere = false;
};

// Removes the folder at `path` (relative to `top`) and everything below it, never through a
// link: a link found inside is removed itself or, when that cannot be done, refused; `path` that
// is a link itself is refused and left as it is. A file that cannot be deleted (a running
// program) is handed to Windows for deletion at the next restart when `scheduled` is given, and
// counted there, with the folders above it. Entries whose path equals `keep` (and the folders on
// the way to it) stay. With `givenBack`, `path` is the backup. A missing `path` is no failure.
bool RemoveTree(HANDLE top, const std::wstring& base, const std::string& path, Trouble& trouble,
                unsigned* scheduled = nullptr, const std::string& keep = {},
                const GivenBack* givenBack = nullptr);

// Writes `text` as the new file `name` in the install folder, flushed to the disk before it
// returns, with a security descriptor of its own that lets only SYSTEM and the Administrators
// write it (everyone may read it): the record and its plan.
bool WriteProtectedFile(HANDLE top, const std::string& name, const std::string& text,
                        Trouble& trouble);

// The whole of the file `name` in the install folder, read without following a link there;
// nothing when it is missing, a link, longer than `limit` or unreadable.
std::optional<std::string> ReadWholeFile(HANDLE top, const std::string& name, std::size_t limit);

// Puts the install folder back as it was before the run of `plan` (nothing when the plan could
// not be read: then the backups only): every backup returns to its place, every file of the plan
// that has left the staging goes, and so do the folders the plan made, the staging, the backup
// and the plan itself. Goes on past a failure, which it names in `trouble`; the plan then stays,
// for the next run to finish with.
bool RollBack(HANDLE top, const std::wstring& base, const record::InstallRecord* plan,
              Trouble& trouble);

enum class Interrupted {
    None,           // no run had left anything behind
    RolledBack,     // a run was killed before its commit: the folder is as it was before it
    BackupsRemoved, // a run was killed after its commit: its backups and staging are gone
    StagingRemoved, // a run was killed while it unpacked: its staging is gone
};

struct Recovery {
    bool finished = true;
    Interrupted found = Interrupted::None;
    Trouble trouble;             // when not finished: what could not be put back or removed
    unsigned restartPending = 0; // old files that Windows removes at the next restart
};

// Finishes what a run killed in the install folder `installFolder` (a full path) left: rolls a
// plan back, or removes the backups and staging of a committed run.
Recovery FinishInterruptedRun(const std::wstring& installFolder);
// The same in the install folder held as `top`, whose path is `base` (with a trailing '\').
Recovery FinishInterruptedRunIn(HANDLE top, const std::wstring& base);

} // namespace journal
