// State 70's work: the uninstaller's whole run.
#include "install/StateWork.h"

#include "install/AppsAndFeatures.h"
#include "install/InstallRecordFile.h"
#include "install/InstallTexts.h"
#include "install/Uninstall.h"
#include "payload/SuiteContract.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

namespace {

// The uninstaller that started this run from a temporary copy is still running, and waiting for
// it: its file cannot be deleted yet, but can be renamed. It goes into the temporary folder
// (on the same volume as a rule) and from there at the next restart; else it stays in the
// install folder until the restart.
void RemoveUninstaller(const std::string& path, SuiteRemoved& removed, IInstallView& view) {
    const std::wstring name = base::Wide(path);
    if (nofollow::RemoveFile(name.c_str()) != nofollow::Removal::Refused)
        return;
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring away = std::wstring(temp, length > MAX_PATH ? 0 : length) +
                              L"TorvaneUninstall-old-" + std::to_wstring(::GetCurrentProcessId()) +
                              L".exe";
    if (length > 0 && length <= MAX_PATH && ::MoveFileExW(name.c_str(), away.c_str(), 0)) {
        ::MoveFileExW(away.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    if (::MoveFileExW(name.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        removed.restartNeeded = true;
        view.AddMessage(texts::RemovedAtRestartLine(path), kColorWarning);
        return;
    }
    view.AddMessage(texts::CannotRemoveLine(path, ::GetLastError()), kColorError);
    removed.failure = setup::kExitInUse;
}

} // namespace

SuiteRemoved UninstallSuite(const std::string& installFolder, IInstallView& view) {
    SuiteRemoved removed;
    // A drive's root or a system or profile folder is never taken for an install, whatever
    // record someone put there.
    if (IsRefusedUninstallFolder(installFolder)) {
        view.AddMessage(texts::RefusedUninstallFolderLine(installFolder), kColorError);
        removed.failure = setup::kExitNotInstalled;
        return removed;
    }
    if (!FinishInterruptedInstall(installFolder, view, removed.failure))
        return removed;
    const std::optional<record::InstallRecord> installed = ReadInstallRecord(installFolder);
    if (!installed) {
        view.AddMessage(texts::NotInstalledLine(installFolder), kColorError);
        removed.failure = setup::kExitNotInstalled;
        return removed;
    }
    const UninstallOutcome outcome = RemoveRecordedSuite(installFolder, *installed, view);
    // What could not be removed keeps its record, its entry and the uninstaller: a second run
    // finishes the work.
    if (outcome.failure != setup::kExitSuccess) {
        removed.failure = outcome.failure;
        return removed;
    }
    RemoveUninstaller(installFolder + "\\" + suite::kUninstallerName, removed, view);
    nofollow::RemoveFile(base::Wide(installFolder + "\\" + record::kRecordName).c_str());
    DeleteProductEntry(installFolder);
    RemoveFoldersMade(installed->madeFolders);
    return removed;
}
