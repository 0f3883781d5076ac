#include "app/Uninstaller.h"

#include "app/SilentInstall.h"
#include "base/BinaryFile.h"
#include "install/ExitCode.h"
#include "install/FailedCall.h"
#include "install/InstallRecordFile.h"
#include "install/InstallTexts.h"
#include "install/PathRules.h"
#include "install/RunStart.h"
#include "payload/InstallRecord.h"
#include "payload/SuiteContract.h"
#include "ui/SetupDlg.h"
#include "win32/Handles.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <commctrl.h>

#include <vector>

namespace {

constexpr wchar_t kCaption[] = L"Torvane Software Suite Uninstall";

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A copy of this program in the running account's temporary folder, which only SYSTEM, the
// Administrators and this run may write, held for reading from its last byte until it has
// started; empty when it cannot be made, with `error` the failed call's (none for a check).
std::wstring CopyIntoTemporaryFolder(const std::string& self, ScopedFileHandle& held,
                                     DWORD& error) {
    const auto failed = [&error](bool call) {
        error = call ? ::GetLastError() : ERROR_SUCCESS;
        return std::wstring();
    };
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return failed(length == 0);
    const std::wstring copy = std::wstring(temp, length) + L"TorvaneUninstall-" +
                              std::to_wstring(::GetCurrentProcessId()) + L".exe";
    base::BinaryFile own;
    // The C runtime's open leaves the error of the Windows call that failed.
    if (!own.Open(self, "rb"))
        return failed(true);
    const std::int64_t size = own.Length();
    std::string bytes(size > 0 && size < (256LL << 20) ? static_cast<std::size_t>(size) : 0, '\0');
    if (bytes.empty() || !own.Seek(0) || !own.ReadExact(bytes.data(), bytes.size()))
        return failed(false);
    nofollow::RemoveFile(copy.c_str());
    const ScopedLocalMemory security = ProtectedFileSecurity(false);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security.Get(), FALSE};
    BY_HANDLE_FILE_INFORMATION written{};
    {
        const ScopedFileHandle out(::CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                 security ? &attributes : nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (!out ||
            !::WriteFile(out.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                         nullptr) ||
            !::GetFileInformationByHandle(out.Get(), &written))
            return failed(true);
        if (done != bytes.size())
            return failed(false);
    }
    held.Reset(::CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION opened{};
    if (!held)
        return failed(true);
    if (!::GetFileInformationByHandle(held.Get(), &opened) ||
        opened.nFileIndexHigh != written.nFileIndexHigh ||
        opened.nFileIndexLow != written.nFileIndexLow ||
        opened.dwVolumeSerialNumber != written.dwVolumeSerialNumber || opened.nNumberOfLinks != 1) {
        held.Reset();
        return failed(false);
    }
    return copy;
}

// Runs the uninstall from a copy in the temporary folder and passes its exit code on.
int RunFromTemporaryCopy(const std::string& self, const std::string& folder,
                         const setup::CommandLine& options, RunLog& log) {
    ScopedFileHandle held;
    DWORD error = ERROR_SUCCESS;
    const std::wstring copy = CopyIntoTemporaryFolder(self, held, error);
    if (copy.empty()) {
        const texts::FailedCallText text = DescribeFailedCall(
            static_cast<long>(error), texts::CannotRecordLine("a copy of " + self));
        log.Write(text.line, kColorError);
        if (!text.logDetail.empty())
            log.WriteDetail(text.logDetail);
        return setup::kExitCopy;
    }
    std::wstring command = L"\"" + copy + L"\" /UNINSTALL";
    if (options.silent)
        command += L" /S";
    if (!options.logFile.empty())
        command += L" \"/LOG=" + options.logFile + L"\"";
    command += L" /D=" + base::Wide(folder);
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(L'\0');
    // The log is the copy's to write.
    log.Close();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(copy.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        held.Reset();
        nofollow::RemoveFile(copy.c_str());
        return setup::kExitCopy;
    }
    const ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
    held.Reset();
    ::WaitForSingleObject(processHandle.Get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(processHandle.Get(), &exitCode);
    // It has ended: its file can go now.
    nofollow::RemoveFile(copy.c_str());
    return static_cast<int>(exitCode);
}

} // namespace

bool RunsAsUninstaller(const setup::CommandLine& options, const std::string& modulePath) {
    return options.uninstall || record::SamePath(NameOf(modulePath), suite::kUninstallerName);
}

int RunUninstaller(const setup::CommandLine& options, RunLog& log) {
    const std::string self = OwnModulePath();
    const std::string folder = options.installFolder.empty()
                                   ? FolderOf(self)
                                   : paths::TrimInstallFolder(base::Utf8(options.installFolder));
    if (!options.uninstall)
        return RunFromTemporaryCopy(self, folder, options, log);

    InstallSettings settings;
    settings.modulePath = self;
    settings.installFolder = folder;
    settings.uninstall = true;
    if (options.silent)
        return RunWithoutWindow(settings, log);

    const std::string question = "Remove the Torvane Software Suite from " + folder + "?";
    if (::MessageBoxW(nullptr, base::WideForDisplay(question).c_str(), kCaption,
                      MB_YESNO | MB_ICONQUESTION) != IDYES)
        return setup::kExitDeclined;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    CSetupDlg dialog(nullptr, DialogStart{.installFolder = base::Wide(folder),
                                          .log = log.IsOpen() ? &log : nullptr,
                                          .uninstall = true});
    dialog.DoModal();
    return 0;
}
