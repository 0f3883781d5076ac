// STATE_EXPAND starts the copied archive hidden in the install folder; STATE_WAIT_EXPAND looks
// for its completion flag once per tick, at most kLookLimit times, and moves the progress bar as
// far as the archive says it has got.
#include "install/InstallEngine.h"

#include "install/InstallTexts.h"

#include <cstdio>
#include <vector>

namespace {

// State 30's work, off the dialog's thread: starts the archive hidden in the install folder; the
// next state, with the started process in `started`.
int StartArchiveProcess(const std::string& archivePath, const std::string& installFolder,
                        IInstallView& view, ArchiveProcess& started) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    const std::string command = texts::ArchiveCommandLine(archivePath);
    std::vector<char> commandBuffer(command.begin(), command.end());
    commandBuffer.push_back('\0');

    PROCESS_INFORMATION process{};
    if (::CreateProcessA(nullptr, commandBuffer.data(), nullptr, nullptr, FALSE,
                         HIGH_PRIORITY_CLASS, nullptr, installFolder.c_str(), &startup, &process)) {
        started.process.Reset(process.hProcess);
        started.thread.Reset(process.hThread);
        started.processId = process.dwProcessId;
        started.threadId = process.dwThreadId;
        return STATE_WAIT_EXPAND;
    }

    const DWORD error = ::GetLastError();
    char* systemText = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    ScopedLocalMemory systemTextOwner(systemText);
    view.AddMessage(texts::kCannotDecompress, kColorError);
    view.AddMessage(systemText ? texts::CutSystemText(systemText)
                               : texts::ErrorNumberLine(static_cast<long>(error)),
                    kColorError);
    return STATE_FAILURE;
}

// A look of state 40, off the dialog's thread: whether the completion flag is there; a flag
// found is deleted with its folder.
bool LookForCompletionFlag(const std::string& installFolder, IInstallView& view) {
    const std::string flagFolder = installFolder + "\\ZZZ";
    const std::string flagPath = flagFolder + "\\COMP.FLG";
    if (!DeleteFileIfExists(flagPath, view))
        return false;
    ::RemoveDirectoryA(flagFolder.c_str());
    return true;
}

} // namespace

void InstallEngine::StartArchive() {
    view.AddMessage(texts::kDecompressing, kColorProgress);
    RunOnWorker(
        [archive = archivePath, folder = installFolder](IInstallView& report,
                                                        WorkerOutcome& outcome) {
            outcome.nextState = StartArchiveProcess(archive, folder, report, outcome.archive);
        },
        [this](WorkerOutcome& outcome) {
            // The archive runs (or could not be started): the copy need not be held any longer.
            archiveLock.Reset();
            if (!outcome.archive.process)
                return;
            processInfo = std::move(outcome.archive);
            waitTicks = 0;
            // The bar keeps the range the copy gave it.
            archiveProgress.Follow(processInfo.processId,
                                   texts::CopyProgress(payloadLength).RangeMaximum());
        });
}

// An archive that has ended with a non-zero exit code will never write its flag.
bool InstallEngine::ArchiveFailedWithoutFlag() {
    DWORD exitCode = 0;
    return processInfo.process && ::GetExitCodeProcess(processInfo.process.Get(), &exitCode) &&
           exitCode != STILL_ACTIVE && exitCode != 0;
}

void InstallEngine::WaitForArchive() {
    if (const std::optional<int> position = archiveProgress.Poll())
        view.SetProgressPos(*position);
    RunOnWorker(
        [folder = installFolder](IInstallView& report, WorkerOutcome& outcome) {
            outcome.flagFound = LookForCompletionFlag(folder, report);
        },
        [this](WorkerOutcome& outcome) { AfterLook(outcome.flagFound); });
}

void InstallEngine::AfterLook(bool present) {
    ++waitTicks;

    if (present) {
        view.AddMessage(texts::kDecompressionCompleted, kColorProgress);
        InstallState = STATE_DETECT;
    } else if (ArchiveFailedWithoutFlag()) {
        view.AddMessage(texts::kDecompressionFailure, kColorProgress);
        InstallState = STATE_FAILURE;
        archiveProgress.Stop();
        return;
    } else if (waitTicks >= kLookLimit) {
        view.AddMessage(texts::kDecompressionTimeOut, kColorProgress);
        InstallState = STATE_DETECT;
    } else {
        return;
    }
    archiveProgress.Stop();

    DWORD exitCode = 0;
    if (::GetExitCodeProcess(processInfo.process.Get(), &exitCode) && exitCode == STILL_ACTIVE)
        ::TerminateProcess(processInfo.process.Get(), 0);
}
