#include "payload/sfx/StagedInstall.h"

#include "payload/NameEncoding.h"
#include "payload/SuiteContract.h"
#include "win32/Thread.h"
#include "win32/WideText.h"

#include <algorithm>
#include <atomic>
#include <map>

namespace journal {
namespace {

using nofollow::Folder;

std::string InStaging(const std::string& path) {
    return std::string(kStagingFolder) + "\\" + path;
}
std::string InBackup(const std::string& path) {
    return std::string(kBackupFolder) + "\\" + path;
}

bool IsLinkAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A name in the root that the install keeps for itself, or the archive that runs now: never a
// file of the install to move.
bool IsKeptRootName(const std::string& path) {
    if (path.find('\\') != std::string::npos)
        return record::SamePath(path.substr(0, path.find('\\')), kStagingFolder) ||
               record::SamePath(path.substr(0, path.find('\\')), kBackupFolder);
    for (const char* name : kReservedRootNames)
        if (record::SamePath(path, name))
            return true;
    return record::SamePath(path, std::string(suite::kArchiveBaseName) + ".EXE");
}

// The last segment of the name the object open as `opened` has, in the case it stands in.
std::wstring NameOfHandle(HANDLE opened) {
    std::vector<std::uint64_t> buffer(2 + (sizeof(FILE_NAME_INFO) + 0x8000 * sizeof(wchar_t)) / 8);
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!::GetFileInformationByHandleEx(opened, FileNameInfo, info,
                                        static_cast<DWORD>(buffer.size() * 8)))
        return {};
    const std::wstring path(info->FileName, info->FileNameLength / sizeof(wchar_t));
    return path.substr(path.find_last_of(L'\\') + 1);
}

// One walk of the folders that the payload or the record before names, from the install folder
// down, each judged by its name as entering it would be: which stand, and which of the payload's
// that may be swapped hold nothing but what the payload ships (no link, no other name).
class FolderSurvey {
public:
    // `unswappable`: the payload's folders that are never swapped whole, which need no listing.
    FolderSurvey(HANDLE top, std::wstring base, const PathSet& files, const PathSet& folders,
                 const PathSet& unswappable)
        : top_(top), names_(top, std::move(base), FILE_OPEN), files_(files), folders_(folders),
          unswappable_(unswappable) {}

    // Walks the folders `named` (each with the folders on its way). False with `trouble` when a
    // folder of the payload is a link, or something else that cannot be entered, where it stands.
    bool Walk(const std::vector<std::string>& named, Trouble& trouble) {
        PathSet seen;
        for (const std::string& folder : named)
            for (const std::string& way : nofollow::FoldersOnTheWay(folder + "\\"))
                if (seen.Add(way))
                    inside_[zip::FoldCase(ParentOf(way))].push_back(way);
        bool onlyShipped = true;
        return Inside(top_, std::string(), false, onlyShipped, trouble);
    }
    bool Stands(const std::string& folder) const {
        return standing_.count(zip::FoldCase(folder)) != 0;
    }
    bool OnlyShipped(const std::string& folder) const {
        const auto found = standing_.find(zip::FoldCase(folder));
        return found != standing_.end() && found->second;
    }

private:
    static std::string ParentOf(const std::string& path) {
        const std::size_t slash = path.rfind('\\');
        return slash == std::string::npos ? std::string() : path.substr(0, slash);
    }

    // The folder held as `held`, at `relative` ("" for the install folder): enters the named
    // folders in it, then, when it may be swapped and `listable`, lists it.
    bool Inside(HANDLE held, const std::string& relative, bool listable, bool& onlyShipped,
                Trouble& trouble) {
        const auto named = inside_.find(zip::FoldCase(relative));
        if (named != inside_.end())
            for (const std::string& folder : named->second) {
                const std::wstring name = base::Wide(NameOf(folder));
                const std::wstring path = names_.FullPath(folder);
                ScopedFileHandle inner;
                Folder verdict = nofollow::HoldFolderIn(held, name, path.c_str(), inner, FILE_OPEN,
                                                        nullptr, FILE_LIST_DIRECTORY);
                DWORD error = ::GetLastError();
                // One that may not be listed is entered all the same, and not swapped.
                bool innerListable = verdict == Folder::Enter;
                if (verdict == Folder::NotFolder && error == ERROR_ACCESS_DENIED) {
                    verdict = nofollow::HoldFolderIn(held, name, path.c_str(), inner, FILE_OPEN);
                    error = ::GetLastError();
                }
                if (verdict == Folder::Enter) {
                    bool innerOnlyShipped = true;
                    if (!Inside(inner.Get(), folder, innerListable, innerOnlyShipped, trouble))
                        return false;
                    standing_[zip::FoldCase(folder)] = innerOnlyShipped;
                    continue;
                }
                // A folder of the record only that went, or became a link, is the install's no
                // more; one of the payload's that is missing is made.
                if (!folders_.Contains(folder) ||
                    (verdict == Folder::NotFolder &&
                     (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)))
                    continue;
                trouble.Note(folder, verdict == Folder::Link ? ERROR_SUCCESS : error,
                             verdict == Folder::Link);
                return false;
            }
        if (!listable || !folders_.Contains(relative) || unswappable_.Contains(relative)) {
            onlyShipped = false;
            return true;
        }
        // A file system may answer with fewer names than fit. A name missed makes a folder
        // swapped whole that holds something of the user's (never of the install before: see
        // `unswappable`), which the removal of the backup, listing every name, gives back.
        std::vector<std::pair<std::wstring, DWORD>> listed;
        if (!ListFolder(held, listed, /*everyName=*/false)) {
            onlyShipped = false; // not known
            return true;
        }
        for (const auto& [name, attributes] : listed) {
            const std::string inner = relative + "\\" + base::Utf8(name);
            if (IsLinkAttributes(attributes))
                onlyShipped = false;
            else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                onlyShipped = onlyShipped && folders_.Contains(inner) && OnlyShipped(inner);
            else
                onlyShipped = onlyShipped && files_.Contains(inner);
        }
        return true;
    }

    HANDLE top_;
    HeldFolders names_; // for the whole paths only
    const PathSet& files_;
    const PathSet& folders_;
    const PathSet& unswappable_;
    std::map<std::string, std::vector<std::string>> inside_; // folded parent: folders named in it
    std::map<std::string, bool> standing_;                   // folded: holds only what is shipped
};

} // namespace

StagedInstall::StagedInstall(HANDLE top, std::wstring base, StagedPayload payload)
    : top_(top), base_(std::move(base)), payload_(std::move(payload)),
      shippedFolders_(payload_.folders), staged_(top, base_, FILE_OPEN),
      backup_(top, base_, FILE_OPEN_IF) {
    for (const record::File& file : payload_.files)
        shippedFiles_.Add(file.path);
}

StagedInstall::~StagedInstall() {
    if (judging_)
        ::WaitForSingleObject(judging_.Get(), INFINITE);
}

// The record of the install before, read whole or not at all: its folders and files.
void StagedInstall::ReadPreviousRecord() {
    if (const std::optional<std::string> text = ReadWholeFile(top_, record::kRecordName, 64u << 20))
        previous_ = record::Parse(*text);
}

bool StagedInstall::JudgeFolders(Trouble& trouble) {
    // Never swapped whole: the folders on the way to the completion flag, which stays staged to
    // the end, and those that hold a file or folder of the install before that the payload no
    // longer ships, which is moved aside on its own when nobody changed it.
    PathSet unswappable(nofollow::FoldersOnTheWay(payload_.completionFlag));
    if (previous_) {
        for (const record::File& file : previous_->files)
            if (!shippedFiles_.Contains(file.path))
                for (const std::string& way : nofollow::FoldersOnTheWay(file.path))
                    unswappable.Add(way);
        for (const std::string& folder : previous_->folders)
            if (!shippedFolders_.Contains(folder))
                for (const std::string& way : nofollow::FoldersOnTheWay(folder))
                    unswappable.Add(way);
    }
    FolderSurvey survey(top_, base_, shippedFiles_, shippedFolders_, unswappable);
    std::vector<std::string> named = payload_.folders;
    if (previous_)
        named.insert(named.end(), previous_->folders.begin(), previous_->folders.end());
    if (!survey.Walk(named, trouble))
        return false;
    for (const std::string& folder : named)
        if (survey.Stands(folder)) {
            standing_.Add(folder);
            if (survey.OnlyShipped(folder))
                swappable_.Add(folder);
        }
    return true;
}

unsigned __stdcall StagedInstall::JudgeOnItsThread(void* self) {
    auto& install = *static_cast<StagedInstall*>(self);
    install.JudgeFolders(install.judgingTrouble_);
    return 0;
}

void StagedInstall::StartJudging() {
    ReadPreviousRecord();
    // Without a thread, WritePlan judges them.
    judging_ = win32::StartThread(&StagedInstall::JudgeOnItsThread, this, 256 << 10);
}

bool StagedInstall::WritePlan(Trouble& trouble) {
    if (judging_) {
        ::WaitForSingleObject(judging_.Get(), INFINITE);
        judging_.Reset();
        if (judgingTrouble_.Failed()) {
            trouble.Note(judgingTrouble_.path, judgingTrouble_.error, judgingTrouble_.link);
            return false;
        }
    } else {
        ReadPreviousRecord();
        if (!JudgeFolders(trouble))
            return false;
    }
    if (previous_) {
        plan_.label = previous_->label;
        plan_.shortcuts = previous_->shortcuts;
        plan_.madeFolders = previous_->madeFolders;
    }
    // Which folders of the payload stand already, and which this run makes.
    PathSet listed;
    if (previous_)
        for (const std::string& folder : previous_->folders)
            if (standing_.Contains(folder) && listed.Add(folder))
                plan_.folders.push_back(folder);
    for (const std::string& folder : payload_.folders) {
        if (standing_.Contains(folder))
            continue;
        plan_.newFolders.push_back(folder);
        if (listed.Add(folder))
            plan_.folders.push_back(folder);
    }
    plan_.files = payload_.files;
    if (!WriteProtectedFile(top_, record::kPlanName, record::Serialize(plan_), trouble))
        return false;
    planWritten_ = true;
    return true;
}

bool StagedInstall::MoveAside(HeldFolders& backup, HANDLE opened, const std::string& path,
                              Trouble& trouble) {
    if (backup.EnterFor(InBackup(path), trouble) != Folder::Enter)
        return false;
    if (nofollow::RenameInto(opened, backup.Innermost(), base::Wide(NameOf(path)), false))
        return true;
    trouble.Note(path, ::GetLastError());
    return false;
}

bool StagedInstall::MoveAsideIfThere(HeldFolders& place, HeldFolders& backup,
                                     const std::string& path, Trouble& trouble) {
    const std::wstring name = base::Wide(NameOf(path));
    {
        // A file, or a link to one, at the name: opened as no folder, it needs no more looks.
        const ScopedFileHandle file(nofollow::OpenFileIn(
            place.Innermost(), name, DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
        if (file)
            return MoveAside(backup, file.Get(), path, trouble);
        if (::GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    // Whatever stands at the name, a link itself and never what it leads to.
    const ScopedFileHandle existing(nofollow::OpenAnyIn(
        place.Innermost(), name, DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
    if (!existing) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return true;
        trouble.Note(path, error);
        return false;
    }
    const DWORD byHandle = nofollow::AttributesOfHandle(existing.Get());
    const DWORD byName = ::GetFileAttributesW(place.FullPath(path).c_str());
    if (byHandle != nofollow::kNoAttributes && (byHandle & FILE_ATTRIBUTE_DIRECTORY) &&
        !IsLinkAttributes(byHandle) && !IsLinkAttributes(byName)) {
        // A folder of the install where the payload has a file: not this run's to move.
        trouble.Note(path, ERROR_DIRECTORY);
        return false;
    }
    return MoveAside(backup, existing.Get(), path, trouble);
}

bool StagedInstall::MoveStaged(HeldFolders& place, HeldFolders& staging, const std::string& path,
                               Trouble& trouble, bool replace) {
    if (staging.EnterFor(InStaging(path), trouble) != Folder::Enter)
        return false;
    const std::wstring name = base::Wide(NameOf(path));
    const ScopedFileHandle staged(
        nofollow::OpenFileIn(staging.Innermost(), name, DELETE | FILE_READ_ATTRIBUTES, 0));
    if (!staged || !nofollow::RenameInto(staged.Get(), place.Innermost(), name, replace)) {
        trouble.Note(path, ::GetLastError());
        return false;
    }
    return true;
}

bool StagedInstall::MoveStagedFolder(HeldFolders& place, const std::string& folder,
                                     Trouble& trouble) {
    if (staged_.EnterFor(InStaging(folder), trouble) != Folder::Enter)
        return false;
    const std::wstring name = base::Wide(NameOf(folder));
    // Shared for no deletion: nobody renames it, or puts a link in its place, on the way.
    const ScopedFileHandle staged(nofollow::OpenFolderIn(staged_.Innermost(), name,
                                                         DELETE | FILE_READ_ATTRIBUTES,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!staged) {
        trouble.Note(folder, ::GetLastError());
        return false;
    }
    if (nofollow::JudgeFolder(::GetFileAttributesW(staged_.FullPath(InStaging(folder)).c_str()),
                              nofollow::AttributesOfHandle(staged.Get())) != Folder::Enter) {
        trouble.Note(InStaging(folder), ERROR_SUCCESS, true);
        return false;
    }
    // Not over anything: whatever came to stand at the name since the plan stays, and the run
    // fails.
    if (!nofollow::RenameInto(staged.Get(), place.Innermost(), name, false)) {
        trouble.Note(folder, ::GetLastError());
        return false;
    }
    return true;
}

StagedInstall::Swap StagedInstall::SwapFolder(const std::string& folder, Trouble& trouble) {
    if (!swappable_.Contains(folder))
        return Swap::NotSwapped;
    HeldFolders place(top_, base_, FILE_OPEN);
    Trouble way;
    if (place.EnterFor(folder, way) != Folder::Enter)
        return Swap::NotSwapped;
    const std::wstring name = base::Wide(NameOf(folder));
    // Shared for no deletion: nobody renames it, or puts a link in its place, until it is moved.
    const ScopedFileHandle existing(nofollow::OpenFolderIn(
        place.Innermost(), name, DELETE | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!existing ||
        nofollow::JudgeFolder(::GetFileAttributesW(place.FullPath(folder).c_str()),
                              nofollow::AttributesOfHandle(existing.Get())) != Folder::Enter)
        return Swap::NotSwapped;
    const std::wstring standing = NameOfHandle(existing.Get());
    if (standing.empty() || staged_.EnterFor(InStaging(folder), way) != Folder::Enter)
        return Swap::NotSwapped;
    const ScopedFileHandle staged(nofollow::OpenFolderIn(staged_.Innermost(), name,
                                                         DELETE | FILE_READ_ATTRIBUTES,
                                                         FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!staged ||
        nofollow::JudgeFolder(::GetFileAttributesW(staged_.FullPath(InStaging(folder)).c_str()),
                              nofollow::AttributesOfHandle(staged.Get())) != Folder::Enter)
        return Swap::NotSwapped;
    // Windows refuses to rename a folder that a file inside is open in: each file on its own then.
    if (backup_.EnterFor(InBackup(folder), way) != Folder::Enter ||
        !nofollow::RenameInto(existing.Get(), backup_.Innermost(), name, false))
        return Swap::NotSwapped;
    // Under the name as it stood, in its case.
    if (nofollow::RenameInto(staged.Get(), place.Innermost(), standing, false))
        return Swap::Swapped;
    const DWORD error = ::GetLastError();
    if (nofollow::RenameInto(existing.Get(), place.Innermost(), name, false))
        return Swap::NotSwapped;
    trouble.Note(folder, error); // the backup holds it: the rollback puts its files back
    return Swap::Failed;
}

bool StagedInstall::MoveAsideIfUnchanged(const record::File& file, Trouble& trouble) {
    HeldFolders place(top_, base_, FILE_OPEN);
    Trouble way;
    const Folder verdict = place.EnterFor(file.path, way);
    if (verdict != Folder::Enter)
        return true; // gone with its folder, or below a link: not followed, left as it is
    const std::wstring name = base::Wide(NameOf(file.path));
    // Shared for reading only: nobody changes the bytes between the check and the move.
    const ScopedFileHandle opened(nofollow::OpenFileIn(
        place.Innermost(), name, DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
    if (!opened) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            IsLinkAttributes(::GetFileAttributesW(place.FullPath(file.path).c_str())))
            return true;
        trouble.Note(file.path, error);
        return false;
    }
    FILE_STANDARD_INFO standard{};
    const DWORD byHandle = nofollow::AttributesOfHandle(opened.Get());
    if (byHandle == nofollow::kNoAttributes || IsLinkAttributes(byHandle) ||
        IsLinkAttributes(::GetFileAttributesW(place.FullPath(file.path).c_str())) ||
        !::GetFileInformationByHandleEx(opened.Get(), FileStandardInfo, &standard,
                                        sizeof standard) ||
        standard.NumberOfLinks != 1 ||
        static_cast<std::uint64_t>(standard.EndOfFile.QuadPart) != file.size)
        return true; // a link, another name of some file, or changed: the user's now
    const std::optional<std::uint32_t> crc = journal::Crc32Of(opened.Get());
    if (!crc || *crc != file.crc32)
        return true;
    return MoveAside(backup_, opened.Get(), file.path, trouble);
}

bool StagedInstall::MoveIntoPlace(Trouble& trouble) {
    {
        // Made anew, before anything is moved into it, as only the run may write it.
        const ScopedLocalMemory security = ProtectedFolderSecurity();
        ScopedFileHandle backup;
        const std::wstring path = base_ + base::Wide(kBackupFolder);
        if (nofollow::HoldFolderIn(top_, base::Wide(kBackupFolder), path.c_str(), backup,
                                   FILE_CREATE, security.Get()) != Folder::Enter) {
            trouble.Note(kBackupFolder, ::GetLastError());
            return false;
        }
    }
    // No completion flag stands while files are being replaced.
    if (!payload_.completionFlag.empty()) {
        HeldFolders existing(top_, base_, FILE_OPEN);
        Trouble way;
        if (existing.EnterFor(payload_.completionFlag, way) == Folder::Enter &&
            !MoveAsideIfThere(existing, backup_, payload_.completionFlag, trouble))
            return false;
        if (way.link) {
            trouble.Note(way.path, ERROR_SUCCESS, true);
            return false;
        }
    }
    const PathSet made(plan_.newFolders);
    const PathSet flagWay(nofollow::FoldersOnTheWay(payload_.completionFlag));
    PathSet whole;
    const auto belowWhole = [&](const std::string& path) {
        for (const std::string& folder : nofollow::FoldersOnTheWay(path))
            if (whole.Contains(folder))
                return true;
        return false;
    };
    // A folder that stood before and holds nothing but what the payload ships goes into the
    // backup whole and its staged copy into its place: two renames for all it holds, outermost
    // first. First of all, so that the staged copy takes the folders this run makes inside it
    // along. Those on the way to the completion flag stay, as below.
    std::vector<std::string> outermostFirst;
    for (const std::string& folder : payload_.folders)
        if (!made.Contains(folder) && !flagWay.Contains(folder))
            outermostFirst.push_back(folder);
    std::stable_sort(outermostFirst.begin(), outermostFirst.end(),
                     [](const std::string& a, const std::string& b) {
                         return std::count(a.begin(), a.end(), '\\') <
                                std::count(b.begin(), b.end(), '\\');
                     });
    for (const std::string& folder : outermostFirst) {
        if (belowWhole(folder))
            continue;
        switch (SwapFolder(folder, trouble)) {
        case Swap::Swapped:
            whole.Add(folder);
            swapped_.push_back(folder);
            break;
        case Swap::NotSwapped:
            break;
        case Swap::Failed:
            return false;
        }
    }
    // A folder this run makes elsewhere goes out of the staging whole, with all it holds, in one
    // rename; the folders on the way to the completion flag are made in place instead, so that
    // the flag stays staged until the end. Those that stood are entered as their files need.
    HeldFolders place(top_, base_, FILE_OPEN_IF);
    for (const std::string& folder : payload_.folders) {
        if (belowWhole(folder) || !made.Contains(folder))
            continue;
        if (!flagWay.Contains(folder)) {
            if (place.EnterFor(folder, trouble) != Folder::Enter ||
                !MoveStagedFolder(place, folder, trouble))
                return false;
            whole.Add(folder);
        } else if (place.EnterFor(folder + "\\", trouble) != Folder::Enter) {
            return false;
        }
    }
    place.Release();
    // The files that are left, each moved on its own, on several threads; each takes the next
    // run of neighbours, which share their folders.
    std::vector<const record::File*> files;
    for (const record::File& file : payload_.files)
        if (!record::SamePath(file.path, payload_.completionFlag) && !belowWhole(file.path))
            files.push_back(&file);
    constexpr std::size_t kRun = 32;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    SRWLOCK lock = SRWLOCK_INIT;
    OnThreads(ThreadsFor((files.size() + kRun - 1) / kRun), [&] {
        HeldFolders into(top_, base_, FILE_OPEN), staging(top_, base_, FILE_OPEN),
            backup(top_, base_, FILE_OPEN_IF);
        for (std::size_t first = next.fetch_add(kRun); first < files.size() && !failed;
             first = next.fetch_add(kRun)) {
            for (std::size_t at = first; at < std::min(first + kRun, files.size()); ++at) {
                const std::string& path = files[at]->path;
                Trouble why;
                if (into.EnterFor(path, why) != Folder::Enter ||
                    !MoveAsideIfThere(into, backup, path, why) ||
                    !MoveStaged(into, staging, path, why)) {
                    const ExclusiveLock hold(lock);
                    trouble.Note(why.path, why.error, why.link);
                    failed = true;
                    return;
                }
            }
        }
    });
    if (failed)
        return false;
    // The files of the install before that this payload no longer ships, unchanged.
    if (previous_) {
        for (const record::File& file : previous_->files)
            if (!IsKeptRootName(file.path) && !shippedFiles_.Contains(file.path) &&
                !MoveAsideIfUnchanged(file, trouble))
                return false;
    }
    return true;
}

bool StagedInstall::Commit(Trouble& trouble) {
    staged_.Release();
    backup_.Release();
    if (::MoveFileExW((base_ + base::Wide(record::kPlanName)).c_str(),
                      (base_ + base::Wide(record::kRecordName)).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        planWritten_ = false;
        return true;
    }
    trouble.Note(record::kRecordName, ::GetLastError());
    return false;
}

bool StagedInstall::Finish(Trouble& trouble) {
    // What fails here is finished by the next run (FinishInterruptedRun); the install stands.
    Trouble later;
    // What came into a folder swapped whole since it was judged goes back as the backup goes.
    const GivenBack givenBack{swapped_, shippedFiles_, shippedFolders_};
    RemoveTree(top_, base_, kBackupFolder, later, &restartPending_, {},
               swapped_.empty() ? nullptr : &givenBack);
    RemoveTree(top_, base_, kStagingFolder, later, nullptr,
               payload_.completionFlag.empty() ? std::string()
                                               : InStaging(payload_.completionFlag));
    // The folders of the install before that nothing of this one is in, once they are empty,
    // deepest first; the record then lists them no more.
    if (previous_) {
        std::vector<std::string> folders;
        for (const std::string& folder : previous_->folders)
            if (!shippedFolders_.Contains(folder))
                folders.push_back(folder);
        const std::vector<std::string> removed = RemoveEmptyFolders(top_, base_, folders);
        if (!removed.empty()) {
            record::InstallRecord committed = plan_;
            committed.folders.erase(std::remove_if(committed.folders.begin(),
                                                   committed.folders.end(),
                                                   [&](const std::string& folder) {
                                                       return PathSet(removed).Contains(folder);
                                                   }),
                                    committed.folders.end());
            committed.newFolders.clear();
            if (WriteProtectedFile(top_, kRecordTempName, record::Serialize(committed), later))
                ::MoveFileExW((base_ + base::Wide(kRecordTempName)).c_str(),
                              (base_ + base::Wide(record::kRecordName)).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
    }
    // Last: the completion flag, renamed into place whole. Whatever someone made at its name
    // meanwhile is replaced (a rename takes a link itself, never its target): the suite is in
    // place, and the flag says so.
    bool placed = true;
    if (!payload_.completionFlag.empty()) {
        HeldFolders place(top_, base_, FILE_OPEN_IF);
        placed = place.EnterFor(payload_.completionFlag, trouble) == Folder::Enter &&
                 MoveStaged(place, staged_, payload_.completionFlag, trouble, /*replace=*/true);
        staged_.Release();
    }
    RemoveTree(top_, base_, kStagingFolder, later);
    return placed;
}

bool StagedInstall::RollBack(Trouble& trouble) {
    staged_.Release();
    backup_.Release();
    return journal::RollBack(top_, base_, planWritten_ ? &plan_ : nullptr, trouble);
}

} // namespace journal
