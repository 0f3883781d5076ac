// STATE_EXPAND starts the copied archive hidden in the install folder; STATE_WAIT_EXPAND looks
// for its completion flag once per tick until it is there or kLookLimit looks have counted, and
// moves the progress bar as far as the archive says it has got.
#include "install/InstallEngine.h"

#include "base/WideText.h"
#include "install/InstallTexts.h"
#include "payload/sfx/NoFollowWin32.h"

#include <cstdio>
#include <vector>

namespace {

// Flags are believed only when this run's archive wrote them: those an earlier run or anyone
// else left in the folder are removed before the archive starts, without following links. The
// path of one that stays (it cannot be removed, or ZZZ is a link), else empty.
std::string RemoveStaleFlags(const std::string& installFolder) {
    const std::string flagFolder = installFolder + "\\ZZZ";
    std::vector<std::string> flags = ComponentFlagPaths(installFolder);
    ScopedFileHandle held;
    switch (nofollow::HoldFolder(base::Wide(flagFolder).c_str(), held)) {
    case nofollow::Folder::Link:
        return flagFolder;
    case nofollow::Folder::Enter:
        flags.insert(flags.begin(), flagFolder + "\\COMP.FLG");
        break;
    case nofollow::Folder::NotFolder:
        // None yet; a file of that name stops the archive when it comes to its flag.
        break;
    }
    for (const std::string& flag : flags)
        if (nofollow::RemoveFile(base::Wide(flag).c_str()) == nofollow::Removal::Refused)
            return flag;
    return {};
}

// State 30's work, off the dialog's thread: starts the archive hidden in the install folder; the
// next state, with the started process in `started` or how it failed in `failure`.
int StartArchiveProcess(const std::string& archivePath, const std::string& installFolder,
                        IInstallView& view, ArchiveProcess& started, setup::ExitCode& failure) {
    const std::string inTheWay = RemoveStaleFlags(installFolder);
    if (!inTheWay.empty()) {
        view.AddMessage(texts::LinkInTheWayLine(inTheWay), kColorError);
        failure = setup::kExitPlantedObject;
        return STATE_FAILURE;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    const std::wstring command = base::Wide(texts::ArchiveCommandLine(archivePath));
    std::vector<wchar_t> commandBuffer(command.begin(), command.end());
    commandBuffer.push_back(L'\0');

    // Started suspended: its progress block is made before it runs (ArchiveProgress).
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, commandBuffer.data(), nullptr, nullptr, FALSE,
                         HIGH_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                         base::Wide(installFolder).c_str(), &startup, &process)) {
        ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
        ScopedHandle block = ArchiveProgress::MakeBlock(process.dwProcessId);
        if (::ResumeThread(threadHandle.Get()) != static_cast<DWORD>(-1)) {
            started.process = std::move(processHandle);
            started.thread = std::move(threadHandle);
            started.processId = process.dwProcessId;
            started.threadId = process.dwThreadId;
            started.progressBlock = std::move(block);
            return STATE_WAIT_EXPAND;
        }
        const DWORD error = ::GetLastError();
        ::TerminateProcess(processHandle.Get(), 1);
        ::SetLastError(error);
    }

    const DWORD error = ::GetLastError();
    wchar_t* systemText = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    ScopedLocalMemory systemTextOwner(systemText);
    view.AddMessage(texts::kCannotDecompress, kColorError);
    view.AddMessage(systemText ? texts::CutSystemText(base::Utf8(systemText).c_str())
                               : texts::ErrorNumberLine(static_cast<long>(error)),
                    kColorError);
    failure = setup::kExitArchive;
    return STATE_FAILURE;
}

// A look of state 40, off the dialog's thread: whether the completion flag is there; a flag
// found is deleted with its folder. A ZZZ that is a link is never entered.
bool LookForCompletionFlag(const std::string& installFolder, IInstallView& view) {
    const std::string flagFolder = installFolder + "\\ZZZ";
    {
        // Held only for reading its attributes: that never clashes with the archive's own hold
        // while it writes the flag.
        ScopedFileHandle held;
        if (nofollow::HoldFolder(base::Wide(flagFolder).c_str(), held) != nofollow::Folder::Enter ||
            !DeleteFileIfExists(flagFolder + "\\COMP.FLG", view))
            return false;
    }
    // The folder goes when it is empty, through a handle on the folder judged anew: removing it
    // by name would remove whatever a link put there leads to.
    ScopedFileHandle emptied;
    if (nofollow::HoldFolder(base::Wide(flagFolder).c_str(), emptied,
                             FILE_READ_ATTRIBUTES | DELETE) == nofollow::Folder::Enter) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        ::SetFileInformationByHandle(emptied.Get(), FileDispositionInfo, &disposition,
                                     sizeof disposition);
    }
    return true;
}

} // namespace

void InstallEngine::StartArchive() {
    view.AddMessage(texts::kDecompressing, kColorProgress);
    RunOnWorker(
        [archive = archivePath, folder = installFolder](IInstallView& report,
                                                        WorkerOutcome& outcome) {
            outcome.nextState =
                StartArchiveProcess(archive, folder, report, outcome.archive, outcome.exitCode);
        },
        [this](WorkerOutcome& outcome) {
            // The archive runs (or could not be started): the copy need not be held any longer.
            archiveLock.Reset();
            if (!outcome.archive.process)
                return;
            processInfo = std::move(outcome.archive);
            waitTicks = 0;
            // The bar keeps the range the copy gave it.
            archiveProgress.Follow(std::move(processInfo.progressBlock),
                                   texts::CopyProgress(payloadLength).RangeMaximum());
        });
}

bool InstallEngine::ArchiveEnded(DWORD& exitCode) const {
    return processInfo.process && ::GetExitCodeProcess(processInfo.process.Get(), &exitCode) &&
           exitCode != STILL_ACTIVE;
}

std::string InstallEngine::LinkRefusedLine() const {
    const std::optional<std::string> folder = archiveProgress.RefusedFolder();
    return texts::LinkInTheWayLine(folder ? installFolder + "\\" + *folder : installFolder);
}

void InstallEngine::WaitForArchive() {
    const ArchiveProgress::Reading reading = archiveProgress.Poll();
    if (reading.barPosition)
        view.SetProgressPos(*reading.barPosition);
    // An archive that publishes its progress writes its flag last and then ends: a flag found
    // while it still runs was put there by someone else.
    DWORD exitCode = 0;
    const bool mayLook = !reading.published || ArchiveEnded(exitCode);
    RunOnWorker(
        [folder = installFolder, mayLook](IInstallView& report, WorkerOutcome& outcome) {
            outcome.flagFound = mayLook && LookForCompletionFlag(folder, report);
        },
        [this, counts = reading.countsAsLook](WorkerOutcome& outcome) {
            AfterLook(outcome.flagFound, counts);
        });
}

void InstallEngine::AfterLook(bool present, bool countsAsLook) {
    waitTicks = countsAsLook ? waitTicks + 1 : 0;

    DWORD exitCode = 0;
    if (present) {
        view.AddMessage(texts::kDecompressionCompleted, kColorProgress);
        InstallState = STATE_DETECT;
    } else if (ArchiveEnded(exitCode) && exitCode != 0) {
        // An archive that has ended with an error will never write its flag.
        const bool linkRefused = exitCode == static_cast<DWORD>(unpack::kExitLinkRefused);
        if (linkRefused)
            view.AddMessage(LinkRefusedLine(), kColorError);
        else
            view.AddMessage(texts::kDecompressionFailure, kColorProgress);
        InstallState = STATE_FAILURE;
        this->exitCode = linkRefused ? setup::kExitPlantedObject : setup::kExitArchive;
        archiveProgress.Stop();
        return;
    } else if (waitTicks >= kLookLimit) {
        // Cut off half-way, the install is not complete: the run fails.
        view.AddMessage(texts::kDecompressionTimeOut, kColorProgress);
        InstallState = STATE_FAILURE;
        this->exitCode = setup::kExitArchive;
    } else {
        return;
    }
    archiveProgress.Stop();

    if (::GetExitCodeProcess(processInfo.process.Get(), &exitCode) && exitCode == STILL_ACTIVE)
        ::TerminateProcess(processInfo.process.Get(), 0);
}
