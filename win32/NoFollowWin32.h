// The no-follow rule of NoFollow.h, asked of Windows: entering a folder under the install folder
// and removing a file's name there without going through a link. Header only: sfx.exe and the
// setup's engine both use it, with UTF-16 paths (any name, in any script).
#pragma once

#include "win32/Handles.h"
#include "win32/NoFollow.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <vector>

namespace nofollow {

namespace detail {

inline DWORD AttributesOf(const wchar_t* path) {
    return ::GetFileAttributesW(path);
}
inline HANDLE OpenExisting(const wchar_t* path, DWORD access, DWORD sharing, DWORD flags) {
    return ::CreateFileW(path, access, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
}
// The attributes of what `opened` is open on, or kNoAttributes. Only the basic information:
// GetFileInformationByHandle also asks for the volume's serial number, which Wine fetches from
// its mount manager in another process, several server round trips for every folder and file.
inline std::uint32_t AttributesOf(HANDLE opened) {
    FILE_BASIC_INFO basic{};
    return opened != INVALID_HANDLE_VALUE && opened != nullptr &&
                   ::GetFileInformationByHandleEx(opened, FileBasicInfo, &basic, sizeof basic)
               ? basic.FileAttributes
               : kNoAttributes;
}

// NtCreateFile of `name` (one segment) inside the open folder `folder`: the handle, or
// INVALID_HANDLE_VALUE with the Windows error code set as the Win32 calls set it. An empty name
// would open the folder itself, and one longer than a counted string holds would be cut short:
// both are refused.
inline HANDLE CreateIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG sharing,
                       ULONG disposition, ULONG options, PSECURITY_DESCRIPTOR security = nullptr) {
    if (name.empty() || name.size() > 0x7FFF) {
        ::SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    UNICODE_STRING string{};
    string.Buffer = const_cast<wchar_t*>(name.c_str());
    string.Length = string.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &string, OBJ_CASE_INSENSITIVE, folder, security);
    HANDLE opened = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                           FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                                           options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status >= 0)
        return opened;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return INVALID_HANDLE_VALUE;
}

} // namespace detail

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a hold of a folder asks for. Windows checks an open against the sharing of the others
// only when it reads, writes or deletes; reading attributes alone takes part in no such check,
// and such a hold would let anyone rename the folder. Traversal counts as reading: with it, the
// hold's sharing (no deletion) refuses every rename and removal of the folder while it is held.
inline constexpr DWORD kHoldAccess = FILE_READ_ATTRIBUTES | FILE_TRAVERSE;

// Opens the folder at `path` without following a link there and judges it (JudgeFolder). When it
// may be entered, `held` keeps it open, sharing no deletion, so that nobody can rename or remove
// it, and put a link in its place, while work goes on inside; otherwise `held` is closed.
// `access` with DELETE (to remove the folder through the handle) makes the hold clash with any
// other hold.
template <class Char>
Folder HoldFolder(const Char* path, ScopedFileHandle& held, DWORD access = kHoldAccess) {
    held.Reset(detail::OpenExisting(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    // Asked once the folder is held: the name can no longer be made to lead elsewhere.
    const Folder verdict =
        JudgeFolder(detail::AttributesOf(path), detail::AttributesOf(held.Get()));
    if (verdict != Folder::Enter)
        held.Reset();
    return verdict;
}

// Opens, or makes when nothing stands there, the folder `name` (one segment) inside the held
// folder `parent`, without following a link, and judges and holds it as HoldFolder does; `path`
// is the same folder's whole path, by which its name is judged. The folder opened is the one in
// that very parent, wherever its path leads meanwhile; and Windows, and Wine above all, resolve
// one segment instead of the whole path. `disposition` FILE_OPEN enters an existing folder only
// (one that is missing is NotFolder), as removing does.
// `security`, when given, is a new folder's security descriptor instead of the one it would
// inherit. `access` adds to what a hold asks for (FILE_LIST_DIRECTORY, to list it as well).
inline Folder HoldFolderIn(HANDLE parent, const std::wstring& name, const wchar_t* path,
                           ScopedFileHandle& held, ULONG disposition = FILE_OPEN_IF,
                           PSECURITY_DESCRIPTOR security = nullptr, ACCESS_MASK access = 0) {
    held.Reset(detail::CreateIn(
        parent, name, kHoldAccess | access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT, security));
    const DWORD openError = held ? ERROR_DIRECTORY : ::GetLastError();
    // By the whole path: Wine's NtQueryAttributesFile looks a name inside a folder handle up in
    // the working directory instead.
    const Folder verdict =
        JudgeFolder(detail::AttributesOf(path), detail::AttributesOf(held.Get()));
    if (verdict != Folder::Enter) {
        held.Reset();
        // Why it is no folder to enter: the open's error, for the caller to report.
        ::SetLastError(openError);
    }
    return verdict;
}

// Creates the new file `name` (one segment) inside the held folder `parent` for writing; fails
// with ERROR_ALREADY_EXISTS when anything stands at that name. `security`, when given, is the
// new file's security descriptor instead of the one it would inherit.
inline HANDLE CreateNewFileIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                              DWORD sharing, PSECURITY_DESCRIPTOR security = nullptr) {
    return detail::CreateIn(parent, name, access, sharing, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                            security);
}

// Opens the existing file `name` (one segment) inside the held folder `parent`, without following
// a link at that name: a reparse point there is opened itself. Fails with the Windows error set
// (ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION, ...); a folder at that name is refused too.
inline HANDLE OpenFileIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                         DWORD sharing) {
    return detail::CreateIn(parent, name, access, sharing, FILE_OPEN,
                            FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT);
}

// Opens the existing file `name` (one segment) inside the held folder `parent` to be deleted as
// the handle closes, without following a link at that name: a link there is deleted itself. A
// folder, or a read-only file, is refused.
inline HANDLE OpenFileToDeleteIn(HANDLE parent, const std::wstring& name) {
    return detail::CreateIn(parent, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                            FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                                FILE_DELETE_ON_CLOSE);
}

// Opens the existing folder `name` (one segment) inside the held folder `parent` with `access`
// (DELETE, to remove it through the handle), without following a link at that name.
inline HANDLE OpenFolderIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                           DWORD sharing) {
    return detail::CreateIn(parent, name, access, sharing, FILE_OPEN,
                            FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                                FILE_OPEN_FOR_BACKUP_INTENT);
}

// Opens whatever stands at `name` (one segment) inside the held folder `parent`, file or folder,
// without following a link there: a link is opened itself, to be moved or removed.
inline HANDLE OpenAnyIn(HANDLE parent, const std::wstring& name, ACCESS_MASK access,
                        DWORD sharing) {
    return detail::CreateIn(parent, name, access, sharing, FILE_OPEN,
                            FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
}

// Renames what `opened` (opened with DELETE) is open on to `name` (one segment) inside the held
// folder `folder`, which may be another folder of the same volume. Without `replace` it fails
// with ERROR_ALREADY_EXISTS when anything stands at that name; with it, a file there (a link
// itself) is replaced.
inline bool RenameInto(HANDLE opened, HANDLE folder, const std::wstring& name, bool replace) {
    if (name.empty() || name.size() > 0x7FFF) {
        ::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // NtSetInformationFile itself: Wine's SetFileInformationByHandle makes the name a whole
    // path in the working directory, which the root folder then contradicts.
    const std::size_t bytes = sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t);
    // Aligned as the structure's handle field asks.
    std::vector<std::uint64_t> buffer((bytes + 7) / 8 + 1, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    name.copy(rename->FileName, name.size());
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(opened, &io, rename, static_cast<ULONG>(bytes),
                                                   FileRenameInformation);
    if (status >= 0)
        return true;
    ::SetLastError(::RtlNtStatusToDosError(status));
    return false;
}

// What a handle opened without following a link shows of its object, for the rule's decisions:
// attributes as kNoAttributes when they cannot be read.
inline std::uint32_t AttributesOfHandle(HANDLE opened) {
    return detail::AttributesOf(opened);
}

enum class Removal { Absent, Removed, Refused };

// Removes the name `path` of a file without following a link there: a symbolic link loses only
// itself, a file with other names (hard links) only this name. A folder, or a link to one, is
// refused and left as it is, and so is a file that cannot be removed (in use, read-only). The
// refusal of a file leaves the failed call's error as the last error; that of a folder changes
// nothing (a caller may still read the error that brought it here).
template <class Char> Removal RemoveFile(const Char* path) {
    const DWORD byName = detail::AttributesOf(path);
    if (byName == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Removal::Absent
                                                                              : Removal::Refused;
    }
    if (byName & FILE_ATTRIBUTE_DIRECTORY)
        return Removal::Refused;
    DWORD error = ERROR_SUCCESS;
    {
        const ScopedFileHandle file(detail::OpenExisting(path, DELETE | FILE_READ_ATTRIBUTES,
                                                         kShareAll, FILE_FLAG_OPEN_REPARSE_POINT));
        const std::uint32_t byHandle = detail::AttributesOf(file.Get());
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (byHandle == kNoAttributes)
            error = ::GetLastError();
        else if (byHandle & FILE_ATTRIBUTE_DIRECTORY)
            return Removal::Refused;
        else if (::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                              sizeof disposition))
            return Removal::Removed;
        else
            error = ::GetLastError();
    }
    // Set once the handle is closed, which may leave an error of its own.
    ::SetLastError(error);
    return Removal::Refused;
}

} // namespace nofollow
