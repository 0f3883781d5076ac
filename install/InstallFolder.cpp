// The install folder: making it (state 10), and deleting files from it without following links.
#include "install/StateWork.h"

#include "install/InstallTexts.h"
#include "install/PathRules.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

namespace {

// Deletes a file, which may be large: marks it for deletion, so that a file that cannot be deleted
// keeps its bytes, then cuts it 4 MiB at a time from its end, and it goes when the handle closes.
// Why the steps: under Wine one server process changes the files of every program, and no window
// of any program answers while it frees the blocks of a large file in one go. False when the
// file could not be opened and marked.
bool DeleteInSteps(const std::string& path) {
    constexpr LONGLONG kStep = 4LL * 1024 * 1024;
    const ScopedFileHandle file(
        ::CreateFileW(base::Wide(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!file || !::GetFileInformationByHandle(file.Get(), &info) ||
        !::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                      sizeof disposition))
        return false;
    // The setup runs elevated and the folder may be writable by others: a name that is one of
    // several links to a file, or a link to another file, may have been put in place of the
    // copy, and loses only the name.
    if (info.nNumberOfLinks != 1 || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    LARGE_INTEGER length{};
    length.LowPart = info.nFileSizeLow;
    length.HighPart = static_cast<LONG>(info.nFileSizeHigh);
    while (length.QuadPart > 0) {
        length.QuadPart = (length.QuadPart - 1) / kStep * kStep;
        if (!::SetFilePointerEx(file.Get(), length, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(file.Get()))
            break;
    }
    return true;
}

} // namespace

// A folder text that is not UTF-8 (the user typed an unpaired surrogate) names no folder at all.
FolderMade CreateFolder(const std::string& installFolder, IInstallView& view) {
    const FolderMade kFailed{setup::kExitFolder, {}};
    const std::optional<std::wstring> folder = base::TryWide(installFolder);
    if (!folder || !paths::IsAbsoluteFolder(installFolder)) {
        view.AddMessage(texts::kDirectoryInvalid, kColorError);
        return kFailed;
    }
    // Windows makes no folder longer than this without the "\\?\" prefix, and nothing could be
    // started from it; Wine's wide calls would make it all the same.
    if (folder->size() > MAX_PATH - 12) {
        ReportFailedCall(view, kColorError, ERROR_FILENAME_EXCED_RANGE,
                         texts::ErrorNumberLine(ERROR_FILENAME_EXCED_RANGE));
        return kFailed;
    }
    FolderMade made;
    if (::CreateDirectoryW(folder->c_str(), nullptr)) {
        made.made.push_back(installFolder);
        return made;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        view.AddMessage(texts::kDirectoryExists, kColorWarning);
        return made;
    }
    // Missing parents are made too, outermost first; those that exist are taken as they are,
    // as the folder itself would be.
    if (error == ERROR_PATH_NOT_FOUND) {
        error = ERROR_SUCCESS;
        for (const std::string& step : paths::FolderChain(installFolder)) {
            if (::CreateDirectoryW(base::Wide(step).c_str(), nullptr))
                made.made.push_back(step);
            else if ((error = ::GetLastError()) != ERROR_ALREADY_EXISTS)
                break;
            error = ERROR_SUCCESS;
        }
        if (error == ERROR_SUCCESS)
            return made;
        RemoveFoldersMade(made.made);
    }
    ReportFailedCall(view, kColorError, static_cast<long>(error),
                     error == ERROR_BAD_PATHNAME
                         ? std::string(texts::kDirectoryInvalid)
                         : texts::ErrorNumberLine(static_cast<long>(error)));
    return kFailed;
}

void RemoveFoldersMade(const std::vector<std::string>& made) {
    // Innermost first; a folder that holds anything (or stands as something else now) stays.
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
        ::RemoveDirectoryW(base::Wide(*folder).c_str());
}

bool DeleteFileIfExists(const std::string& path, IInstallView& view) {
    const std::wstring wide = base::Wide(path);
    if (!ScopedFileHandle(::CreateFileW(wide.c_str(), GENERIC_READ, nofollow::kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)))
        return false;
    if (nofollow::RemoveFile(wide.c_str()) == nofollow::Removal::Refused)
        ReportFailedCall(view, kColorWarning, static_cast<long>(::GetLastError()),
                         texts::CannotDeleteLine(path));
    return true;
}

void DeleteCopy(const std::string& path, IInstallView& view) {
    if (!DeleteInSteps(path))
        DeleteFileIfExists(path, view);
}

void DeleteCopyNow(const std::string& path) {
    if (!path.empty())
        nofollow::RemoveFile(base::Wide(path).c_str());
}
