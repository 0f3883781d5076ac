// Removing what the install record lists, without following links (Uninstall.h), and the folders
// an uninstall must never start in.
#include "install/Uninstall.h"

#include "install/InstallTexts.h"
#include "install/PathRules.h"
#include "payload/SuiteContract.h"
#include "payload/sfx/InstallJournal.h"
#include "win32/Handles.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

using nofollow::Folder;

// The last segment of a relative path: the name inside its folder.
std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsLinkAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MarkForDeletion(HANDLE opened) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(opened, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

// Clears the read-only attribute of `name` in `folder`, which Windows would not delete: through a
// handle of its own that asks for attributes only, which no sharing refuses.
void ClearReadOnly(HANDLE folder, const std::wstring& name, DWORD attributes) {
    const ScopedFileHandle file(
        nofollow::OpenFileIn(folder, name, FILE_WRITE_ATTRIBUTES, nofollow::kShareAll));
    FILE_BASIC_INFO basic{}; // times of 0 stay as they are
    basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY)
                               ? attributes & ~FILE_ATTRIBUTE_READONLY
                               : FILE_ATTRIBUTE_NORMAL;
    if (file)
        ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
}

// How the way to a folder inside the install folder ended.
enum class Way { Entered, Link, Missing, Unenterable };

// The folders on the way to the record's entries, each held while work goes on below it (so that
// nobody can put a link in its place) and each opened inside the one before it, from the install
// folder down, never by a path that Windows would resolve anew. The record lists the files of a
// folder together, so each folder is mostly entered once.
class FolderWalk {
public:
    FolderWalk(HANDLE top, const std::string& installFolder)
        : top_(top), installFolder_(installFolder) {}

    // Why the last folder that could not be entered would not open.
    DWORD OpenError() const { return openError_; }

    // Enters `folders` (relative, outermost first: nofollow::FoldersOnTheWay). Unless the way is
    // Entered, `stopped` is the folder where it ended.
    Way Enter(const std::vector<std::string>& folders, std::string& stopped) {
        const std::size_t kept = nofollow::FoldersKept(names_, folders);
        names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(kept), names_.end());
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(kept), held_.end());
        for (std::size_t at = kept; at < folders.size(); ++at) {
            const std::wstring path = base::Wide(FullPath(folders[at]));
            ScopedFileHandle folder;
            const Folder verdict = nofollow::HoldFolderIn(
                Innermost(), base::Wide(NameOf(folders[at])), path.c_str(), folder, FILE_OPEN);
            if (verdict != Folder::Enter) {
                openError_ = ::GetLastError();
                stopped = folders[at];
                if (verdict == Folder::Link)
                    return Way::Link;
                // A folder that is there but could not be opened keeps what is below it.
                const DWORD attributes = ::GetFileAttributesW(path.c_str());
                return attributes != INVALID_FILE_ATTRIBUTES &&
                               (attributes & FILE_ATTRIBUTE_DIRECTORY)
                           ? Way::Unenterable
                           : Way::Missing;
            }
            names_.push_back(folders[at]);
            held_.push_back(std::move(folder));
        }
        return Way::Entered;
    }

    // The folder entered last, where the entry's own name is opened.
    HANDLE Innermost() const { return held_.empty() ? top_ : held_.back().Get(); }
    // Lets every folder go: a hold shares no deletion, and would refuse a folder's removal.
    void Release() {
        names_.clear();
        held_.clear();
    }
    std::string FullPath(const std::string& relative) const {
        return installFolder_ + "\\" + relative;
    }

private:
    HANDLE top_;
    const std::string& installFolder_;
    std::vector<std::string> names_; // the folders held, outermost first
    std::vector<ScopedFileHandle> held_;
    DWORD openError_ = ERROR_SUCCESS;
};

// One uninstall's work and what it has found so far.
class SuiteRemoval {
public:
    SuiteRemoval(HANDLE top, const std::string& installFolder, IInstallView& report)
        : installFolder_(installFolder), walk_(top, installFolder), report_(report) {}

    void RemoveFile(const record::File& file) {
        if (IsCallersFile(file.path))
            return;
        std::string stopped;
        if (!EnterWayTo(file.path, stopped, outcome_.filesKept))
            return;
        const std::string path = walk_.FullPath(file.path);
        const std::wstring widePath = base::Wide(path), name = base::Wide(NameOf(file.path));
        // Shared for reading only: nobody may change the bytes between the check and the removal.
        const ScopedFileHandle opened(
            nofollow::OpenFileIn(walk_.Innermost(), name,
                                 DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
        if (!opened) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return;
            const DWORD byName = ::GetFileAttributesW(widePath.c_str());
            if (IsLinkAttributes(byName))
                Keep(outcome_.filesKept, texts::LinkKeptLine(path));
            else if (byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_DIRECTORY))
                Keep(outcome_.filesKept, texts::ChangedFileKeptLine(path));
            else
                Fail(outcome_.filesKept, error, path);
            return;
        }
        // A reparse point shows through the handle on Windows; Wine shows a Unix symbolic link
        // only through the name. The name is asked once the file is held: it cannot be renamed.
        const std::uint32_t byHandle = nofollow::AttributesOfHandle(opened.Get());
        FILE_STANDARD_INFO standard{};
        if (byHandle == nofollow::kNoAttributes ||
            !::GetFileInformationByHandleEx(opened.Get(), FileStandardInfo, &standard,
                                            sizeof standard))
            return Fail(outcome_.filesKept, ::GetLastError(), path);
        if (IsLinkAttributes(byHandle) ||
            IsLinkAttributes(::GetFileAttributesW(widePath.c_str())) || standard.NumberOfLinks != 1)
            return Keep(outcome_.filesKept, texts::LinkKeptLine(path));
        if (static_cast<std::uint64_t>(standard.EndOfFile.QuadPart) != file.size)
            return Keep(outcome_.filesKept, texts::ChangedFileKeptLine(path));
        const std::optional<std::uint32_t> crc = journal::Crc32Of(opened.Get());
        if (!crc)
            return Fail(outcome_.filesKept, ::GetLastError(), path);
        if (*crc != file.crc32)
            return Keep(outcome_.filesKept, texts::ChangedFileKeptLine(path));
        if (byHandle & FILE_ATTRIBUTE_READONLY)
            ClearReadOnly(walk_.Innermost(), name, byHandle);
        if (!MarkForDeletion(opened.Get())) {
            const DWORD error = ::GetLastError();
            // The handle was granted DELETE: Windows refuses the mark on a running program's file
            // (its image is mapped) with access denied.
            return Fail(outcome_.filesKept,
                        error == ERROR_ACCESS_DENIED ? ERROR_SHARING_VIOLATION : error, path);
        }
        ++outcome_.filesRemoved;
    }

    // The folders the install made, deepest first, each once it is empty.
    void RemoveFolders(std::vector<std::string> folders) {
        const auto depth = [](const std::string& path) {
            return std::count(path.begin(), path.end(), '\\');
        };
        std::stable_sort(
            folders.begin(), folders.end(),
            [&](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
        walk_.Release();
        for (const std::string& folder : folders)
            RemoveFolder(folder);
        walk_.Release();
    }

    void RemoveShortcuts(const std::vector<std::string>& shortcuts);

    // The install folder itself could not be opened: everything the record lists stays.
    void FolderUnreadable(DWORD error, std::size_t files) {
        report_.AddMessage(texts::CannotRemoveLine(installFolder_, error), kColorError);
        outcome_.failure = setup::kExitInUse;
        outcome_.filesKept += static_cast<int>(files);
    }

    const UninstallOutcome& Outcome() const { return outcome_; }

private:
    // The root's record, plan and uninstaller: the caller removes them once this is done.
    static bool IsCallersFile(const std::string& path) {
        for (const char* name : {record::kRecordName, record::kPlanName, suite::kUninstallerName})
            if (record::SamePath(path, name))
                return true;
        return false;
    }

    // Enters the folders on the way to `path`; false, with `kept` counted for a link or a
    // folder that cannot be entered, when the entry cannot be reached.
    bool EnterWayTo(const std::string& path, std::string& stopped, int& kept) {
        switch (walk_.Enter(nofollow::FoldersOnTheWay(path), stopped)) {
        case Way::Entered:
            return true;
        case Way::Missing:
            return false;
        case Way::Link:
            ++kept;
            NoteOnce(stopped, texts::LinkKeptLine(walk_.FullPath(stopped)), kColorWarning);
            return false;
        case Way::Unenterable:
            ++kept;
            outcome_.failure = setup::kExitInUse;
            NoteOnce(stopped, texts::CannotEnterFolderLine(walk_.FullPath(stopped)), kColorError,
                     walk_.OpenError());
            return false;
        }
        return false;
    }

    void RemoveFolder(const std::string& folder) {
        if (std::string stopped; !EnterWayTo(folder, stopped, outcome_.foldersKept))
            return;
        const std::string path = walk_.FullPath(folder);
        const std::wstring widePath = base::Wide(path);
        ScopedFileHandle opened(
            nofollow::OpenFolderIn(walk_.Innermost(), base::Wide(NameOf(folder)),
                                   DELETE | FILE_READ_ATTRIBUTES, nofollow::kShareAll));
        if (!opened) {
            const DWORD error = ::GetLastError();
            // Missing, or a file stands at its name: no folder of the install's is there.
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                !FolderByName(widePath))
                return;
            if (IsLinkAttributes(::GetFileAttributesW(widePath.c_str())))
                return Keep(outcome_.foldersKept, texts::LinkKeptLine(path), folder);
            return Fail(outcome_.foldersKept, error, path);
        }
        switch (nofollow::JudgeFolder(::GetFileAttributesW(widePath.c_str()),
                                      nofollow::AttributesOfHandle(opened.Get()))) {
        case Folder::Link:
            return Keep(outcome_.foldersKept, texts::LinkKeptLine(path), folder);
        case Folder::NotFolder:
            return;
        case Folder::Enter:
            break;
        }
        if (!MarkForDeletion(opened.Get())) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_DIR_NOT_EMPTY)
                return Keep(outcome_.foldersKept, texts::FolderNotEmptyLine(path));
            return Fail(outcome_.foldersKept, error, path);
        }
        opened.Reset();
        // Wine accepts the mark on a folder that is not empty, and keeps the folder when the
        // handle closes.
        if (FolderByName(widePath))
            Keep(outcome_.foldersKept, texts::FolderNotEmptyLine(path));
    }

    static bool FolderByName(const std::wstring& path) {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // An olive line, for something that stays; `once` names a folder whose line is said once, and
    // `error`, when a call failed, goes to the log after the line.
    void Keep(int& kept, const std::string& line, const std::string& once = {},
              DWORD error = ERROR_SUCCESS) {
        ++kept;
        if (once.empty())
            ReportFailedCall(report_, kColorWarning, static_cast<long>(error), line);
        else
            NoteOnce(once, line, kColorWarning, error);
    }

    // A red line: what the record lists could not be removed.
    void Fail(int& kept, DWORD error, const std::string& path) {
        ++kept;
        outcome_.failure = setup::kExitInUse;
        // The line in use names no code: the log has it.
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            ReportFailedCall(report_, kColorError, static_cast<long>(error),
                             texts::FileInUseLine(path));
        else
            report_.AddMessage(texts::CannotRemoveLine(path, error), kColorError);
    }

    // A line about a folder (a link, or one that cannot be entered), said once however many
    // entries lie below it.
    // `error`, when a call failed, goes to the log after the line.
    void NoteOnce(const std::string& folder, const std::string& line, MessageColor color,
                  DWORD error = ERROR_SUCCESS) {
        for (const std::string& noted : notedFolders_)
            if (record::SamePath(noted, folder))
                return;
        notedFolders_.push_back(folder);
        ReportFailedCall(report_, color, static_cast<long>(error), line);
    }

    const std::string& installFolder_;
    FolderWalk walk_;
    IInstallView& report_;
    UninstallOutcome outcome_;
    std::vector<std::string> notedFolders_;
};

// The target a shortcut file names: the path of its item list, else its path string (Wine
// writes that in the ANSI code page only). Nothing when it is no shortcut.
std::optional<std::wstring> ShortcutTarget(const std::wstring& linkPath) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  link.ReceiveVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) ||
        FAILED(file->Load(linkPath.c_str(), STGM_READ)))
        return std::nullopt;
    wchar_t target[MAX_PATH] = {};
    ScopedPidl items;
    if (SUCCEEDED(link->GetIDList(items.Receive())) && items.Get() &&
        ::SHGetPathFromIDListW(items.Get(), target) && target[0] != L'\0')
        return std::wstring(target);
    if (SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) && target[0] != L'\0')
        return std::wstring(target);
    return std::nullopt;
}

// Whether `path` lies inside `folder` (no trailing backslash), ignoring case.
bool LiesInside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' &&
           base::SameIgnoringCase(std::wstring_view(path).substr(0, folder.size()), folder);
}

// The folder part of a full path, and its last segment.
std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
std::wstring LastSegmentOf(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

void SuiteRemoval::RemoveShortcuts(const std::vector<std::string>& shortcuts) {
    // The shell's link object needs COM on this thread; in whatever apartment it already has.
    ScopedCoInitialize com;
    const std::wstring folder = base::Wide(installFolder_);
    std::vector<std::wstring> groups;
    for (const std::string& shortcut : shortcuts) {
        const std::wstring link = base::Wide(shortcut);
        const std::wstring parent = ParentOf(link);
        // The desktop and the Programs folder are the system's, followed wherever they lead;
        // the suite's group folder below Programs is entered only when it is no link.
        ScopedFileHandle group;
        if (base::SameIgnoringCase(LastSegmentOf(parent), base::Wide(suite::kMenuGroupFolder))) {
            const Folder verdict = nofollow::HoldFolder(parent.c_str(), group);
            if (verdict == Folder::Link) {
                Keep(outcome_.shortcutsKept, texts::LinkKeptLine(base::Utf8(parent)),
                     base::Utf8(parent));
                continue;
            }
            if (verdict == Folder::NotFolder)
                continue;
            if (std::none_of(groups.begin(), groups.end(), [&](const std::wstring& known) {
                    return base::SameIgnoringCase(known, parent);
                }))
                groups.push_back(parent);
        }
        const DWORD attributes = ::GetFileAttributesW(link.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;
        const std::optional<std::wstring> target =
            attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)
                ? std::nullopt
                : ShortcutTarget(link);
        if (!target || !LiesInside(*target, folder)) {
            Keep(outcome_.shortcutsKept, texts::ShortcutKeptLine(shortcut));
            continue;
        }
        // As the install: a shortcut that cannot be removed is a warning.
        if (nofollow::RemoveFile(link.c_str()) == nofollow::Removal::Refused)
            Keep(outcome_.shortcutsKept, texts::CannotDeleteLine(shortcut), {}, ::GetLastError());
    }
    // A group folder goes once it is empty, through a handle on the folder judged anew.
    for (const std::wstring& group : groups) {
        ScopedFileHandle emptied;
        if (nofollow::HoldFolder(group.c_str(), emptied, FILE_READ_ATTRIBUTES | DELETE) ==
            Folder::Enter)
            MarkForDeletion(emptied.Get());
    }
}

// Whether every path the record names is one this uninstall may act on: relative paths inside
// the folder, and shortcut files by their full paths.
bool IsWholeRecord(const record::InstallRecord& installed) {
    for (const record::File& file : installed.files)
        if (!record::IsRecordedPath(file.path))
            return false;
    for (const std::string& folder : installed.folders)
        if (!record::IsRecordedPath(folder))
            return false;
    for (const std::string& shortcut : installed.shortcuts) {
        const std::optional<std::wstring> link = base::TryWide(shortcut);
        if (!link || !paths::IsAbsoluteFolder(shortcut) || link->size() <= 4 ||
            !base::SameIgnoringCase(link->substr(link->size() - 4), L".lnk") ||
            link->find(L'/') != std::wstring::npos)
            return false;
    }
    return true;
}

// A folder as compared: '\' separators, none repeated (but a share's leading two), 8.3 names
// made long where the folder exists, no trailing separator.
std::wstring ComparedFolder(std::wstring path) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    std::wstring single;
    for (std::size_t at = 0; at < path.size(); ++at)
        if (!(path[at] == L'\\' && at > 1 && path[at - 1] == L'\\'))
            single += path[at];
    const DWORD size = ::GetLongPathNameW(single.c_str(), nullptr, 0);
    if (size > 0) {
        std::wstring longer(size, L'\0');
        const DWORD written = ::GetLongPathNameW(single.c_str(), longer.data(), size);
        if (written > 0 && written < size)
            single.assign(longer.data(), written);
    }
    while (single.size() > 1 && single.back() == L'\\')
        single.pop_back();
    return single;
}

// The system's and the profiles' folders on this machine, as ComparedFolder gives them.
std::vector<std::wstring> ProtectedFolders() {
    static const KNOWNFOLDERID* const kKnown[] = {
        &FOLDERID_Windows,
        &FOLDERID_System,
        &FOLDERID_SystemX86,
        &FOLDERID_ProgramFiles,
        &FOLDERID_ProgramFilesX86,
        &FOLDERID_ProgramFilesX64,
        &FOLDERID_ProgramFilesCommon,
        &FOLDERID_ProgramFilesCommonX86,
        &FOLDERID_ProgramFilesCommonX64,
        &FOLDERID_ProgramData,
        &FOLDERID_UserProfiles,
        &FOLDERID_Profile,
        &FOLDERID_Public,
        &FOLDERID_Desktop,
        &FOLDERID_PublicDesktop,
        &FOLDERID_Documents,
        &FOLDERID_PublicDocuments,
        &FOLDERID_Downloads,
        &FOLDERID_RoamingAppData,
        &FOLDERID_LocalAppData,
        &FOLDERID_LocalAppDataLow,
        &FOLDERID_StartMenu,
        &FOLDERID_CommonStartMenu,
        &FOLDERID_Programs,
        &FOLDERID_CommonPrograms,
        &FOLDERID_Startup,
        &FOLDERID_CommonStartup,
        &FOLDERID_Fonts,
    };
    std::vector<std::wstring> folders;
    for (const KNOWNFOLDERID* known : kKnown) {
        PWSTR path = nullptr;
        const HRESULT result = ::SHGetKnownFolderPath(*known, KF_FLAG_DONT_VERIFY, nullptr, &path);
        const ScopedCoTaskMemory owner(path);
        if (SUCCEEDED(result) && path && path[0] != L'\0')
            folders.push_back(ComparedFolder(path));
    }
    // A 32-bit program is told the 32-bit Program Files only; Windows names the other in its
    // environment.
    for (const wchar_t* variable :
         {L"ProgramW6432", L"CommonProgramW6432", L"SystemRoot", L"USERPROFILE", L"PUBLIC"}) {
        wchar_t value[MAX_PATH] = {};
        const DWORD length = ::GetEnvironmentVariableW(variable, value, MAX_PATH);
        if (length > 0 && length < MAX_PATH)
            folders.push_back(ComparedFolder(value));
    }
    return folders;
}

} // namespace

bool IsRefusedUninstallFolder(const std::string& installFolder) {
    const std::optional<std::wstring> wide = base::TryWide(installFolder);
    if (!wide || !paths::IsAbsoluteFolder(installFolder))
        return true;
    const std::wstring folder = ComparedFolder(*wide);
    // A drive ("C:") or a share ("\\server\share"): its root.
    if (folder.size() == 2 && folder[1] == L':')
        return true;
    if (folder.rfind(L"\\\\", 0) == 0 && std::count(folder.begin() + 2, folder.end(), L'\\') < 2)
        return true;
    for (const std::wstring& known : ProtectedFolders())
        if (base::SameIgnoringCase(known, folder) || LiesInside(known, folder))
            return true;
    return false;
}

UninstallOutcome RemoveRecordedSuite(const std::string& installFolderText,
                                     const record::InstallRecord& installed, IInstallView& report) {
    const std::string installFolder = paths::TrimInstallFolder(installFolderText);
    UninstallOutcome refused;
    if (IsRefusedUninstallFolder(installFolder)) {
        report.AddMessage(texts::RefusedUninstallFolderLine(installFolderText), kColorError);
        refused.failure = setup::kExitFolder;
        return refused;
    }
    if (!IsWholeRecord(installed)) {
        report.AddMessage(texts::kDamagedRecord, kColorError);
        refused.failure = setup::kExitNotInstalled;
        return refused;
    }

    // The install folder itself is followed where it leads, as the administrator chose it; it
    // is held, so that it stays the same folder while the work goes on below it.
    const ScopedFileHandle top(::CreateFileW(base::Wide(installFolder).c_str(),
                                             nofollow::kHoldAccess,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const DWORD topError = top ? ERROR_SUCCESS : ::GetLastError();
    SuiteRemoval removal(top.Get(), installFolder, report);
    if (!installed.shortcuts.empty()) {
        // First, so that no shortcut is left that leads to a program already removed.
        report.AddMessage(texts::kRemovingShortcuts, kColorProgress);
        removal.RemoveShortcuts(installed.shortcuts);
    }
    report.AddMessage(texts::kRemovingFiles, kColorProgress);
    if (top) {
        for (const record::File& file : installed.files)
            removal.RemoveFile(file);
        removal.RemoveFolders(installed.folders);
    } else if (topError != ERROR_FILE_NOT_FOUND && topError != ERROR_PATH_NOT_FOUND) {
        removal.FolderUnreadable(topError, installed.files.size());
    }
    return removal.Outcome();
}
