#include "payload/sfx/InstallJournal.h"

#include "payload/NameEncoding.h"
#include "payload/sfx/UnpackPlan.h"
#include "win32/Thread.h"
#include "win32/WideText.h"

#include <sddl.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <iterator>
#include <set>

namespace journal {
namespace {

using nofollow::Folder;

// Only SYSTEM and the Administrators write the record and its plan; everyone reads them. The
// DACL is protected: nothing inherited from a folder a standard user may have made.
constexpr wchar_t kProtectedFileSecurity[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)";
// What goes into the staging takes its entries, and a rename keeps them: the installed files
// end with them. So the users read and run (0x1200a9: read, execute, synchronize) what nobody
// but SYSTEM, the Administrators and the run may change.
constexpr wchar_t kProtectedFolderSecurity[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;BU)";

constexpr DWORD kFolderToEmpty =
    DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;

bool IsLinkAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "\\" + name;
}

std::size_t Depth(const std::string& path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\'));
}

// Clears the read-only attribute, which Windows would not delete, through the handle itself.
void ClearReadOnly(HANDLE opened) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(opened, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return;
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0; // unchanged
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    ::SetFileInformationByHandle(opened, FileBasicInfo, &basic, sizeof basic);
}

// One removal of a tree, in two steps. First, the tree's own folder on this thread, then, when it
// holds folders, on as many threads as unpacking uses (payload/sfx/UnpackPlan.h) and at least
// four, each folder is opened inside the one that holds it, judged and listed, and what it holds
// goes: its files and links at once, its folders into the queue that the threads share. Every
// folder stays open, held, until the second step removes the folders, a depth at a time, deepest
// first, on the threads again. Under Wine every open, list, mark and close is a request to the one
// server: the threads keep it busy while each waits for its answer.
class TreeRemoval {
public:
    TreeRemoval(const HeldFolders& names, Trouble& trouble, unsigned* scheduled,
                const std::string& keep, const GivenBack* givenBack, HANDLE top,
                const std::wstring& base, bool everyName)
        : names_(names), trouble_(trouble), scheduled_(scheduled), keep_(keep),
          givenBack_(givenBack), top_(top), base_(base), everyName_(everyName) {
        if (givenBack_)
            swapped_ = PathSet(givenBack_->swapped);
    }

    // Removes the folder `name` in the held folder `parent`, at `relative`, and what it holds;
    // with `keepItself` it is only emptied. False when something of it stays.
    bool Remove(HANDLE parent, const std::wstring& name, const std::string& relative,
                bool keepItself) {
        folders_.push_back({parent, name, relative, kNoParent, 0, 0, keepItself,
                            givenBack_ && givenBack_->everywhere});
        {
            // The first on this thread: a tree that is missing, or holds no folder, starts no
            // other.
            HeldFolders place(top_, base_, FILE_OPEN_IF);
            next_ = 1;
            Empty(folders_.front(), place);
        }
        if (next_ < folders_.size())
            OnThreads(std::max(ThreadsFor(kAnyNumber), kLeastThreads), [&] { EmptyFolders(); });
        std::vector<std::vector<OpenFolder*>> byDepth;
        for (OpenFolder& folder : folders_) {
            if (byDepth.size() <= folder.depth)
                byDepth.resize(folder.depth + 1);
            byDepth[folder.depth].push_back(&folder);
        }
        for (std::size_t depth = byDepth.size(); depth-- > 0;) {
            const std::vector<OpenFolder*>& level = byDepth[depth];
            std::atomic<std::size_t> next{0};
            OnThreads(ThreadsFor(level.size()), [&] {
                for (std::size_t at = next++; at < level.size(); at = next++)
                    RemoveEmptied(*level[at]);
            });
            for (const OpenFolder* folder : level)
                if (folder->parent != kNoParent) {
                    OpenFolder& parentFolder = folders_[folder->parent];
                    parentFolder.failed = parentFolder.failed || folder->failed;
                    parentFolder.later = parentFolder.later || folder->later;
                }
        }
        const OpenFolder& root = folders_.front();
        // Wine accepts the mark on a folder that is not empty, and keeps the folder.
        if (!root.failed && !root.missing && !root.keepItself && !root.later &&
            ::GetFileAttributesW(names_.FullPath(root.relative).c_str()) !=
                INVALID_FILE_ATTRIBUTES) {
            Note(root.relative, ERROR_DIR_NOT_EMPTY);
            return false;
        }
        return !root.failed;
    }

private:
    static constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);
    // How many folders the queue will hold is not known: as many threads as may be.
    static constexpr std::size_t kAnyNumber = static_cast<std::size_t>(-1);
    // Each thread of the first step mostly waits for the file system (under Wine, for the one
    // server): more of them than processors keep it busy.
    static constexpr unsigned kLeastThreads = 4;

    struct OpenFolder {
        HANDLE parentHandle; // held until this one is removed
        std::wstring name;
        std::string relative;
        std::size_t parent; // its index, or kNoParent
        std::size_t index;
        std::size_t depth;
        bool keepItself;
        bool swappedIn;               // it went into the backup whole, or is inside one that did
        ScopedFileHandle handle = {}; // kFolderToEmpty, once opened
        bool missing = false;         // gone before it was opened: nothing to remove
        bool failed = false;          // something of it stays
        bool later = false;           // something of it waits for the next restart
    };

    void Note(const std::string& where, DWORD why, bool link = false) {
        const ExclusiveLock hold(lock_);
        trouble_.Note(where, why, link);
    }
    bool Schedule(const std::string& relative) {
        return scheduled_ && ::MoveFileExW(names_.FullPath(relative).c_str(), nullptr,
                                           MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    }

    // One thread's share of the first step: the next folder of the queue, until the queue is
    // empty and no other thread is still emptying one (which could add to it).
    void EmptyFolders() {
        HeldFolders place(top_, base_, FILE_OPEN_IF); // this thread's, for what is given back
        for (;;) {
            OpenFolder* folder = nullptr;
            {
                const ExclusiveLock hold(queueLock_);
                while (next_ == folders_.size() && emptying_ != 0)
                    ::SleepConditionVariableSRW(&queueChanged_, &queueLock_, INFINITE, 0);
                if (next_ == folders_.size()) {
                    ::WakeAllConditionVariable(&queueChanged_);
                    return;
                }
                folder = &folders_[next_++]; // a deque's elements stay where they are
                ++emptying_;
            }
            Empty(*folder, place);
            {
                const ExclusiveLock hold(queueLock_);
                --emptying_;
            }
            ::WakeAllConditionVariable(&queueChanged_);
        }
    }

    // Opens, judges and lists `folder`, removes the files and links in it, gives back what
    // the backup gives back and queues the folders in it.
    void Empty(OpenFolder& folder, HeldFolders& place) {
        ScopedFileHandle handle(nofollow::OpenFolderIn(
            folder.parentHandle, folder.name, kFolderToEmpty, FILE_SHARE_READ | FILE_SHARE_WRITE));
        if (!handle) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                folder.missing = true;
                return;
            }
            Note(folder.relative, error);
            folder.failed = true;
            return;
        }
        switch (
            nofollow::JudgeFolder(::GetFileAttributesW(names_.FullPath(folder.relative).c_str()),
                                  nofollow::AttributesOfHandle(handle.Get()))) {
        case Folder::Link:
            Note(folder.relative, ERROR_SUCCESS, true);
            folder.failed = true;
            return;
        case Folder::NotFolder:
            Note(folder.relative, ERROR_DIRECTORY);
            folder.failed = true;
            return;
        case Folder::Enter:
            break;
        }
        std::vector<std::pair<std::wstring, DWORD>> listed;
        if (!ListFolder(handle.Get(), listed, everyName_)) {
            Note(folder.relative, ::GetLastError());
            folder.failed = true;
            return;
        }
        folder.handle = std::move(handle);
        for (auto& [inner, attributes] : listed) {
            const std::string path = Joined(folder.relative, base::Utf8(inner));
            if (!keep_.empty() && record::SamePath(path, keep_))
                continue;
            // A folder by its listing is asked once more by its name: Wine shows a Unix symbolic
            // link's reparse point only there. Anything else goes as a file or link.
            const bool isFolder =
                (attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkAttributes(attributes) &&
                !IsLinkAttributes(::GetFileAttributesW(names_.FullPath(path).c_str()));
            const std::string installed = givenBack_ ? InInstall(path) : std::string();
            // Never a link: Wine renames what a Unix symbolic link leads to instead of the link.
            if (folder.swappedIn && !IsLinkAttributes(attributes) &&
                !(isFolder ? givenBack_->folders.Contains(installed)
                           : givenBack_->files.Contains(installed))) {
                DWORD why = ERROR_SUCCESS;
                const Return returned =
                    GiveBack(place, folder.handle.Get(), inner, path, installed, why);
                if (returned == Return::Given)
                    continue;
                if (returned == Return::Kept) {
                    Note(path, why);
                    folder.failed = true;
                    continue;
                }
            }
            if (isFolder) {
                const bool onTheWayToKept =
                    !keep_.empty() &&
                    zip::FoldCase(keep_).rfind(zip::FoldCase(path + "\\"), 0) == 0;
                {
                    const ExclusiveLock hold(queueLock_);
                    folders_.push_back(
                        {folder.handle.Get(), std::move(inner), path, folder.index, folders_.size(),
                         folder.depth + 1, onTheWayToKept,
                         folder.swappedIn || (givenBack_ && swapped_.Contains(installed))});
                }
                ::WakeConditionVariable(&queueChanged_);
            } else if (!RemoveItem(folder, inner, attributes)) {
                folder.failed = true;
            }
        }
    }

    // The second step for `folder`, all that it held gone before.
    void RemoveEmptied(OpenFolder& folder) {
        if (folder.missing)
            return;
        const bool remove = !folder.failed && !folder.keepItself;
        if (remove && !folder.later && !MarkForDeletion(folder.handle.Get())) {
            Note(folder.relative, ::GetLastError());
            folder.failed = true;
        }
        folder.handle.Reset();
        if (remove && folder.later && !Schedule(folder.relative)) {
            Note(folder.relative, ::GetLastError());
            folder.failed = true;
        }
    }

    // Removes the file or link `name` listed with `attributes` in `folder`; true when it is gone
    // or handed to the next restart (`later`).
    bool RemoveItem(OpenFolder& folder, const std::wstring& name, DWORD attributes) {
        const bool plainFile = !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                               !IsLinkAttributes(attributes) &&
                               !(attributes & FILE_ATTRIBUTE_READONLY);
        // A plain file is opened to be deleted as its handle closes: one request less than a
        // mark. One that will not be, and a link, go the long way.
        if (plainFile &&
            ScopedFileHandle(nofollow::OpenFileToDeleteIn(folder.handle.Get(), name)).IsValid())
            return true;
        const std::string relative = Joined(folder.relative, base::Utf8(name));
        ScopedFileHandle opened(nofollow::OpenAnyIn(
            folder.handle.Get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
            nofollow::kShareAll));
        DWORD error = opened ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        if (opened && !MarkForDeletion(opened.Get())) {
            ClearReadOnly(opened.Get());
            error = MarkForDeletion(opened.Get()) ? ERROR_SUCCESS : ::GetLastError();
        }
        opened.Reset();
        if (error == ERROR_SUCCESS) {
            // Wine accepts the mark on a Unix symbolic link to a folder and keeps the link.
            if (::GetFileAttributesW(names_.FullPath(relative).c_str()) == INVALID_FILE_ATTRIBUTES)
                return true;
            Note(relative, ERROR_SUCCESS, true);
            return false;
        }
        // A running program's file: Windows renames it but deletes it only once it has ended.
        if ((error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
             error == ERROR_LOCK_VIOLATION) &&
            Schedule(relative)) {
            const ExclusiveLock hold(lock_);
            ++*scheduled_;
            folder.later = true;
            return true;
        }
        Note(relative, error);
        return false;
    }

    // The path in the install folder of `path` in the backup.
    static std::string InInstall(const std::string& path) {
        const std::size_t prefix = std::char_traits<char>::length(kBackupFolder) + 1;
        return path.size() > prefix ? path.substr(prefix) : std::string();
    }
    enum class Return {
        Given, // back in its place, or gone meanwhile
        Taken, // something stands at its place now, or it has become a link: it is removed
        Kept,  // neither can be done (a link on the way, the file in use): it stays, named
    };
    // Moves `name` in the backup's folder open as `folder`, at `path`, back to its place
    // `installed`, inside `place` (which makes the folders on its way that went meanwhile).
    Return GiveBack(HeldFolders& place, HANDLE folder, const std::wstring& name,
                    const std::string& path, const std::string& installed, DWORD& why) {
        Trouble way;
        if (place.EnterFor(installed, way) != Folder::Enter) {
            why = way.link ? ERROR_CANT_ACCESS_FILE : way.error;
            return Return::Kept;
        }
        const ScopedFileHandle entry(
            nofollow::OpenAnyIn(folder, name, DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
        if (!entry) {
            why = ::GetLastError();
            return why == ERROR_FILE_NOT_FOUND ? Return::Given : Return::Kept;
        }
        if (IsLinkAttributes(nofollow::AttributesOfHandle(entry.Get())) ||
            IsLinkAttributes(::GetFileAttributesW(names_.FullPath(path).c_str())))
            return Return::Taken;
        if (nofollow::RenameInto(entry.Get(), place.Innermost(), name, false))
            return Return::Given;
        why = ::GetLastError();
        return why == ERROR_ALREADY_EXISTS || why == ERROR_FILE_EXISTS ? Return::Taken
                                                                       : Return::Kept;
    }

    const HeldFolders& names_;
    Trouble& trouble_;
    unsigned* scheduled_;
    const std::string& keep_;
    const GivenBack* givenBack_;
    PathSet swapped_;
    HANDLE top_;
    const std::wstring& base_;
    bool everyName_;
    SRWLOCK lock_ = SRWLOCK_INIT;      // the trouble and the count of those scheduled
    SRWLOCK queueLock_ = SRWLOCK_INIT; // the queue: folders_, next_, emptying_
    CONDITION_VARIABLE queueChanged_ = CONDITION_VARIABLE_INIT;
    std::deque<OpenFolder> folders_; // in the order queued: each after its parent
    std::size_t next_ = 0;           // the first not yet taken
    std::size_t emptying_ = 0;       // taken and not yet emptied
};

// Removes the file or link at `path` in the install folder, never through a link on the way:
// true when it is gone or was never there.
bool RemoveInstalledFile(HeldFolders& place, const std::string& path, Trouble& trouble) {
    Trouble way;
    const Folder verdict = place.EnterFor(path, way);
    if (verdict == Folder::Link) {
        trouble.Note(way.path, ERROR_SUCCESS, true);
        return false;
    }
    if (verdict != Folder::Enter)
        return true; // its folder is gone, and the file with it
    ScopedFileHandle opened(nofollow::OpenAnyIn(place.Innermost(), base::Wide(NameOf(path)),
                                                DELETE | FILE_READ_ATTRIBUTES,
                                                nofollow::kShareAll));
    if (!opened) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return true;
        trouble.Note(path, error);
        return false;
    }
    if (!MarkForDeletion(opened.Get())) {
        trouble.Note(path, ::GetLastError());
        return false;
    }
    return true;
}

// Whether the file `path` (relative to the staging folder) is still staged.
bool IsStaged(HeldFolders& staging, const std::string& path) {
    Trouble ignored;
    if (staging.EnterFor(Joined(kStagingFolder, path), ignored) != Folder::Enter)
        return false;
    const ScopedFileHandle opened(nofollow::OpenAnyIn(staging.Innermost(), base::Wide(NameOf(path)),
                                                      FILE_READ_ATTRIBUTES, nofollow::kShareAll));
    return opened.IsValid();
}

// Every file and link below the folder open as `folder` (kFolderToEmpty access will do), which
// is at `relative` under the install folder, as paths relative to the install folder; links are
// listed, never entered.
bool ListFilesBelow(const HeldFolders& names, HANDLE folder, const std::string& relative,
                    std::vector<std::string>& files, Trouble& trouble) {
    std::vector<std::pair<std::wstring, DWORD>> listed;
    if (!ListFolder(folder, listed)) {
        trouble.Note(relative, ::GetLastError());
        return false;
    }
    bool whole = true;
    for (const auto& [name, attributes] : listed) {
        const std::string inner = Joined(relative, base::Utf8(name));
        const DWORD byName = ::GetFileAttributesW(names.FullPath(inner).c_str());
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || IsLinkAttributes(attributes) ||
            IsLinkAttributes(byName)) {
            files.push_back(inner);
            continue;
        }
        const ScopedFileHandle inside(nofollow::OpenFolderIn(
            folder, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE));
        if (!inside || nofollow::JudgeFolder(byName, nofollow::AttributesOfHandle(inside.Get())) !=
                           Folder::Enter) {
            files.push_back(inner); // a link after all: moved as it is
            continue;
        }
        whole = ListFilesBelow(names, inside.Get(), inner, files, trouble) && whole;
    }
    return whole;
}

// The files and links in the folder `root` of the install folder (the backup), relative to it.
std::vector<std::string> FilesIn(HANDLE top, const std::wstring& base, const std::string& root,
                                 Trouble& trouble) {
    std::vector<std::string> files;
    const HeldFolders names(top, base, FILE_OPEN);
    const ScopedFileHandle folder(nofollow::OpenFolderIn(
        top, base::Wide(root), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!folder)
        return files;
    if (nofollow::JudgeFolder(::GetFileAttributesW(names.FullPath(root).c_str()),
                              nofollow::AttributesOfHandle(folder.Get())) != Folder::Enter) {
        trouble.Note(root, ERROR_SUCCESS, true);
        return files;
    }
    ListFilesBelow(names, folder.Get(), root, files, trouble);
    for (std::string& file : files)
        file.erase(0, root.size() + 1);
    return files;
}

bool Exists(const HeldFolders& names, const std::string& relative) {
    return ::GetFileAttributesW(names.FullPath(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool ListFolder(HANDLE folder, std::vector<std::pair<std::wstring, DWORD>>& names, bool everyName) {
    std::vector<std::uint64_t> buffer(8192);
    const std::size_t bufferBytes = buffer.size() * 8;
    // The most one more name would have taken: 255 characters, aligned.
    constexpr std::size_t kLongestEntry = sizeof(FILE_ID_BOTH_DIR_INFO) + 256 * sizeof(wchar_t);
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;;
         kind = FileIdBothDirectoryInfo) {
        if (!::GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                            static_cast<DWORD>(bufferBytes)))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        const auto* start = reinterpret_cast<const unsigned char*>(buffer.data());
        const auto* bytes = start;
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                names.emplace_back(std::move(name), entry->FileAttributes);
            if (entry->NextEntryOffset == 0)
                break;
            bytes += entry->NextEntryOffset;
        }
        const std::size_t used =
            static_cast<std::size_t>(bytes - start) + sizeof(FILE_ID_BOTH_DIR_INFO) +
            reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes)->FileNameLength;
        if (!everyName && used + kLongestEntry <= bufferBytes)
            return true;
    }
}

unsigned ThreadsFor(std::size_t pieces) {
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    return unpack::ThreadCount(system.dwNumberOfProcessors, pieces, 0);
}

namespace {

struct ThreadStart {
    void (*work)(void*);
    void* context;
};

unsigned __stdcall RunThreadStart(void* parameter) {
    const ThreadStart& start = *static_cast<const ThreadStart*>(parameter);
    start.work(start.context);
    return 0;
}

} // namespace

void OnThreads(unsigned threads, void (*work)(void*), void* context) {
    ThreadStart start{work, context};
    std::vector<ScopedHandle> started;
    for (unsigned more = 1; more < threads; ++more) {
        // The stack is a reservation of its own size: the thread's memory counts it.
        ScopedHandle thread = win32::StartThread(RunThreadStart, &start, 256 << 10);
        if (!thread)
            break; // fewer threads: the work is shared all the same
        started.push_back(std::move(thread));
    }
    work(context);
    for (const ScopedHandle& thread : started)
        ::WaitForSingleObject(thread.Get(), INFINITE);
}

std::vector<std::string> RemoveEmptyFolders(HANDLE top, const std::wstring& base,
                                            std::vector<std::string> folders) {
    std::stable_sort(
        folders.begin(), folders.end(),
        [](const std::string& a, const std::string& b) { return Depth(a) > Depth(b); });
    std::vector<std::string> removed;
    for (const std::string& folder : folders) {
        HeldFolders walk(top, base, FILE_OPEN);
        Trouble way;
        if (walk.Enter(nofollow::FoldersOnTheWay(folder), way) != Folder::Enter)
            continue;
        {
            ScopedFileHandle opened(
                nofollow::OpenFolderIn(walk.Innermost(), base::Wide(NameOf(folder)),
                                       DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
            if (!opened ||
                nofollow::JudgeFolder(::GetFileAttributesW(walk.FullPath(folder).c_str()),
                                      nofollow::AttributesOfHandle(opened.Get())) !=
                    Folder::Enter ||
                !MarkForDeletion(opened.Get()))
                continue;
        }
        // Wine accepts the mark on a folder that is not empty, and keeps the folder.
        if (::GetFileAttributesW(walk.FullPath(folder).c_str()) == INVALID_FILE_ATTRIBUTES)
            removed.push_back(folder);
    }
    return removed;
}

std::optional<std::uint32_t> Crc32Of(HANDLE file) {
    std::vector<unsigned char> buffer(64 * 1024);
    uLong crc = ::crc32(0, nullptr, 0);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return std::nullopt;
        if (got == 0)
            return static_cast<std::uint32_t>(crc);
        crc = ::crc32(crc, buffer.data(), got);
    }
}

ScopedLocalMemory ProtectedFolderSecurity() {
    PSECURITY_DESCRIPTOR security = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSecurity,
                                                           SDDL_REVISION_1, &security, nullptr);
    return ScopedLocalMemory(security);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::wstring HeldFolders::FullPath(const std::string& relative) const {
    return base_ + base::Wide(relative);
}

Folder HeldFolders::Enter(const std::vector<std::string>& folders, Trouble& trouble) {
    const std::size_t kept = nofollow::FoldersKept(names_, folders);
    names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(kept), names_.end());
    if (kept_)
        std::move(held_.begin() + static_cast<std::ptrdiff_t>(kept), held_.end(),
                  std::back_inserter(*kept_));
    held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(kept), held_.end());
    for (std::size_t at = kept; at < folders.size(); ++at) {
        ScopedFileHandle folder;
        const Folder verdict =
            nofollow::HoldFolderIn(Innermost(), base::Wide(NameOf(folders[at])),
                                   FullPath(folders[at]).c_str(), folder, disposition_);
        if (verdict != Folder::Enter) {
            const DWORD error = ::GetLastError();
            trouble.Note(folders[at], verdict == Folder::Link ? ERROR_SUCCESS : error,
                         verdict == Folder::Link);
            return verdict;
        }
        names_.push_back(folders[at]);
        held_.push_back(std::move(folder));
    }
    return Folder::Enter;
}

bool MarkForDeletion(HANDLE opened) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(opened, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

bool RemoveTree(HANDLE top, const std::wstring& base, const std::string& path, Trouble& trouble,
                unsigned* scheduled, const std::string& keep, const GivenBack* givenBack) {
    HeldFolders walk(top, base, FILE_OPEN);
    Trouble way;
    const std::vector<std::string> above = nofollow::FoldersOnTheWay(path);
    if (walk.Enter(above, way) != Folder::Enter) {
        if (way.link) {
            trouble.Note(way.path, ERROR_SUCCESS, true);
            return false;
        }
        return true; // nothing of it is there
    }
    if (IsLinkAttributes(::GetFileAttributesW(walk.FullPath(path).c_str()))) {
        trouble.Note(path, ERROR_SUCCESS, true);
        return false;
    }
    // Listed with one request a folder where the answer left room for more names; a folder
    // that was not empty after all (a file system that answered with fewer) makes a second
    // pass, which asks until the end of every folder's names.
    for (const bool everyName : {false, true}) {
        Trouble pass;
        unsigned passScheduled = 0;
        const bool removed =
            TreeRemoval(walk, pass, scheduled ? &passScheduled : nullptr, keep, givenBack, top,
                        base, everyName)
                .Remove(walk.Innermost(), base::Wide(NameOf(path)), path, !keep.empty());
        if (removed || everyName || pass.error != ERROR_DIR_NOT_EMPTY) {
            if (scheduled)
                *scheduled += passScheduled;
            if (!removed)
                trouble.Note(pass.path, pass.error, pass.link);
            return removed;
        }
    }
    return false;
}

bool WriteProtectedFile(HANDLE top, const std::string& name, const std::string& text,
                        Trouble& trouble) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kProtectedFileSecurity, SDDL_REVISION_1, &security, nullptr)) {
        trouble.Note(name, ::GetLastError());
        return false;
    }
    const ScopedLocalMemory owned(security);
    ScopedFileHandle file(
        nofollow::CreateNewFileIn(top, base::Wide(name), GENERIC_WRITE | DELETE, 0, security));
    if (!file) {
        trouble.Note(name, ::GetLastError());
        return false;
    }
    DWORD written = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size() || !::FlushFileBuffers(file.Get())) {
        trouble.Note(name, ::GetLastError());
        MarkForDeletion(file.Get());
        return false;
    }
    return true;
}

std::optional<std::string> ReadWholeFile(HANDLE top, const std::string& name, std::size_t limit) {
    const ScopedFileHandle file(nofollow::OpenFileIn(
        top, base::Wide(name), FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
    LARGE_INTEGER size{};
    const std::uint32_t attributes = nofollow::AttributesOfHandle(file.Get());
    if (!file || attributes == nofollow::kNoAttributes || IsLinkAttributes(attributes) ||
        !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > limit)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() &&
        (!::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
         read != text.size()))
        return std::nullopt;
    return text;
}

} // namespace journal

namespace journal {

bool RollBack(HANDLE top, const std::wstring& base, const record::InstallRecord* plan,
              Trouble& trouble) {
    Trouble first;
    // Every backup returns to its place, over whatever this run put there.
    std::vector<std::string> restored = FilesIn(top, base, kBackupFolder, first);
    {
        HeldFolders backup(top, base, FILE_OPEN), place(top, base, FILE_OPEN_IF);
        for (const std::string& path : restored) {
            Trouble way;
            if (backup.EnterFor(Joined(kBackupFolder, path), way) != Folder::Enter ||
                place.EnterFor(path, way) != Folder::Enter) {
                first.Note(way.path, way.error, way.link);
                continue;
            }
            const ScopedFileHandle saved(
                nofollow::OpenAnyIn(backup.Innermost(), base::Wide(NameOf(path)),
                                    DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
            if (!saved || !nofollow::RenameInto(saved.Get(), place.Innermost(),
                                                base::Wide(NameOf(path)), true))
                first.Note(path, ::GetLastError());
        }
    }
    if (plan) {
        // A file of the plan that left the staging was moved into place: it goes, unless its
        // backup has just replaced it. One still staged never left it: what stands there is
        // the old file, or nothing.
        const HeldFolders names(top, base, FILE_OPEN);
        const bool staged = Exists(names, kStagingFolder);
        HeldFolders staging(top, base, FILE_OPEN), place(top, base, FILE_OPEN);
        std::set<std::string> back;
        for (const std::string& path : restored)
            back.insert(zip::FoldCase(path));
        // A folder the run made that stands in place while the staging no longer holds it was
        // moved in whole, and goes whole. One that the staging still holds was made in place
        // (or by someone else since the plan): it goes below, once it is empty. No folder that
        // stood before the run is new in its plan, nor below one that is.
        std::vector<std::string> removedWhole;
        const auto belowRemoved = [&](const std::string& path) {
            const std::string folded = zip::FoldCase(path);
            for (const std::string& folder : removedWhole)
                if (folded.rfind(folder + "\\", 0) == 0)
                    return true;
            return false;
        };
        std::vector<std::string> outermostFirst =
            staged ? plan->newFolders : std::vector<std::string>();
        std::stable_sort(
            outermostFirst.begin(), outermostFirst.end(),
            [](const std::string& a, const std::string& b) { return Depth(a) < Depth(b); });
        for (const std::string& folder : outermostFirst) {
            if (belowRemoved(folder) || !Exists(names, folder) ||
                Exists(names, Joined(kStagingFolder, folder)))
                continue;
            if (RemoveTree(top, base, folder, first))
                removedWhole.push_back(zip::FoldCase(folder));
        }
        for (const record::File& file : plan->files) {
            if (!staged || back.count(zip::FoldCase(file.path)) != 0 || belowRemoved(file.path))
                continue;
            if (!IsStaged(staging, file.path))
                RemoveInstalledFile(place, file.path, first);
        }
        place.Release();
        // The folders this run made, deepest first, once they are empty.
        RemoveEmptyFolders(top, base, plan->newFolders);
    }
    RemoveTree(top, base, kStagingFolder, first);
    if (!first.Failed())
        RemoveTree(top, base, kBackupFolder, first);
    // The plan goes last, once nothing of the run is left for it to describe.
    if (!first.Failed()) {
        HeldFolders root(top, base, FILE_OPEN);
        RemoveInstalledFile(root, record::kPlanName, first);
    }
    if (first.Failed()) {
        trouble.Note(first.path, first.error, first.link);
        return false;
    }
    return true;
}

Recovery FinishInterruptedRunIn(HANDLE top, const std::wstring& base) {
    Recovery recovery;
    const HeldFolders names(top, base, FILE_OPEN);
    // A staging or backup folder that is a link was put there by someone else: never entered.
    for (const char* folder : {kStagingFolder, kBackupFolder})
        if (IsLinkAttributes(::GetFileAttributesW(names.FullPath(folder).c_str())))
            recovery.trouble.Note(folder, ERROR_SUCCESS, true);
    if (recovery.trouble.Failed()) {
        recovery.finished = false;
        return recovery;
    }
    bool done = true;
    if (Exists(names, record::kPlanName)) {
        recovery.found = Interrupted::RolledBack;
        // Cut short, it was being written: nothing had been moved yet.
        const std::optional<std::string> text = ReadWholeFile(top, record::kPlanName, 64u << 20);
        const std::optional<record::InstallRecord> plan =
            text ? record::Parse(*text) : std::nullopt;
        done = RollBack(top, base, plan ? &*plan : nullptr, recovery.trouble);
    } else if (Exists(names, kBackupFolder)) {
        recovery.found = Interrupted::BackupsRemoved;
        // Which folders the run swapped whole is not known: whatever the backup holds that the
        // committed install does not ship is given back (or, without a record, all there is room
        // for): a file of the user's that came into a swapped folder is kept, at worst an old
        // file of the suite too.
        PathSet files, folders;
        if (const std::optional<std::string> text =
                ReadWholeFile(top, record::kRecordName, 64u << 20))
            if (const std::optional<record::InstallRecord> committed = record::Parse(*text)) {
                for (const record::File& file : committed->files)
                    files.Add(file.path);
                folders = PathSet(committed->folders);
            }
        const GivenBack givenBack{{}, files, folders, /*everywhere=*/true};
        done = RemoveTree(top, base, kBackupFolder, recovery.trouble, &recovery.restartPending, {},
                          &givenBack) &&
               RemoveTree(top, base, kStagingFolder, recovery.trouble);
    } else if (Exists(names, kStagingFolder)) {
        recovery.found = Interrupted::StagingRemoved;
        done = RemoveTree(top, base, kStagingFolder, recovery.trouble);
    }
    if (done && Exists(names, kRecordTempName)) {
        HeldFolders root(top, base, FILE_OPEN);
        done = RemoveInstalledFile(root, kRecordTempName, recovery.trouble);
    }
    recovery.finished = done;
    return recovery;
}

Recovery FinishInterruptedRun(const std::wstring& installFolder) {
    const ScopedFileHandle top(::CreateFileW(
        installFolder.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE | SYNCHRONIZE,
        nofollow::kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!top) {
        Recovery recovery;
        recovery.finished = false;
        recovery.trouble.Note(std::string(), ::GetLastError());
        return recovery;
    }
    std::wstring base = installFolder;
    if (!base.empty() && base.back() != L'\\')
        base += L'\\';
    return FinishInterruptedRunIn(top.Get(), base);
}

} // namespace journal
