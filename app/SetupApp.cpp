#include "app/SetupApp.h"

#include "app/SilentInstall.h"
#include "app/Uninstaller.h"
#include "install/CommandLine.h"
#include "install/ExitCode.h"
#include "install/InstallTexts.h"
#include "install/RunLock.h"
#include "install/RunLog.h"
#include "install/RunStart.h"
#include "ui/SetupDlg.h"
#include "win32/Handles.h"
#include "win32/SafeDllSearch.h"
#include "win32/WideText.h"

#include <commctrl.h>

#include <vector>

CSetupApp theApp;

namespace {

constexpr wchar_t kUsageCaption[] = L"Torvane Software Suite Setup";

// Whether the process runs as the local system account, as deployment tools run it.
bool RunningAsLocalSystem() {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return false;
    const ScopedHandle token(opened);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size))
        return false;
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    return ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) &&
           ::EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, system);
}

// A command line that is not understood: why, to the log if there is one, and with a window in a
// message box with the usage. A silent run never waits for a person.
void ReportUsageError(const std::string& error, bool silent, RunLog& log) {
    log.Write("Error: " + error, kColorError);
    log.Write(setup::kUsage, kColorProgress);
    if (silent)
        return;
    const std::string text =
        "The command line is not understood: " + error + "\n\n" + setup::kUsage;
    ::MessageBoxW(nullptr, base::WideForDisplay(text).c_str(), kUsageCaption,
                  MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

BOOL CSetupApp::InitInstance() {
    const setup::ParsedCommandLine parsed = setup::ParseCommandLine(::GetCommandLineW());
    const setup::CommandLine& options = parsed.options;
    // No prompt for a missing disk or a file that cannot be opened, here or in the archive,
    // which inherits the mode.
    if (options.silent)
        ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    RunLog log;
    std::string error = parsed.error;
    if (!options.logFile.empty() && !log.Open(options.logFile) && error.empty())
        error = "cannot write the log file " + base::Utf8(options.logFile);
    if (!error.empty()) {
        ReportUsageError(error, options.silent, log);
        exitCode = setup::kExitUsage;
        return FALSE;
    }

    if (RunsAsUninstaller(options, OwnModulePath())) {
        exitCode = RunUninstaller(options, log);
        return FALSE;
    }

    // Another setup is installing: this one does nothing, and says so.
    if (RunLock::HeldElsewhere()) {
        log.Write(texts::kAnotherRun, kColorError);
        if (!options.silent)
            ShowAnotherRunBox(nullptr);
        exitCode = setup::kExitAnotherRun;
        return FALSE;
    }

    const bool commonShortcutFolders =
        setup::UseCommonShortcutFolders(options, RunningAsLocalSystem());
    if (options.silent) {
        exitCode = RunSilentInstall(options, commonShortcutFolders, log);
        return FALSE;
    }

    // The progress bar's window class lives in the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    const RunChoices choices = ChoicesOf(options);
    CSetupDlg dialog(nullptr, DialogStart{.installFolder = choices.installFolder,
                                          .createDesktopIcons = choices.createDesktopIcons,
                                          .commonShortcutFolders = commonShortcutFolders,
                                          .allowDowngrade = options.allowDowngrade,
                                          .log = log.IsOpen() ? &log : nullptr});
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the process ends once the dialog is gone.
    return FALSE;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadLibrariesFromSystemFolderOnly();
    theApp.InitInstance();
    return theApp.exitCode;
}
