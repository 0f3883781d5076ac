// STATE_EXPAND starts the copied archive hidden in the install folder; STATE_WAIT_EXPAND looks
// for its completion flag once per tick, at most kLookLimit times, and moves the progress bar as
// far as the archive says it has got.
#include "install/InstallEngine.h"

#include "base/BinaryFile.h"
#include "install/InstallTexts.h"

#include <cstdio>
#include <vector>

void InstallEngine::StartArchive() {
    view.AddMessage(texts::kDecompressing, kColorProgress);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    const std::string command = texts::ArchiveCommandLine(archivePath);
    std::vector<char> commandBuffer(command.begin(), command.end());
    commandBuffer.push_back('\0');

    PROCESS_INFORMATION started{};
    if (::CreateProcessA(nullptr, commandBuffer.data(), nullptr, nullptr, FALSE,
                         HIGH_PRIORITY_CLASS, nullptr, installFolder.c_str(), &startup, &started)) {
        processInfo.process.Reset(started.hProcess);
        processInfo.thread.Reset(started.hThread);
        processInfo.processId = started.dwProcessId;
        processInfo.threadId = started.dwThreadId;
        waitTicks = 0;
        // The bar keeps the range the copy gave it.
        archiveProgress.Follow(started.dwProcessId,
                               texts::CopyProgress(payloadLength).RangeMaximum());
        InstallState = STATE_WAIT_EXPAND;
        return;
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
    InstallState = STATE_FAILURE;
}

// An archive that has ended with a non-zero exit code will never write its flag.
bool InstallEngine::ArchiveFailedWithoutFlag() {
    DWORD exitCode = 0;
    return processInfo.process && ::GetExitCodeProcess(processInfo.process.Get(), &exitCode) &&
           exitCode != STILL_ACTIVE && exitCode != 0;
}

void InstallEngine::WaitForArchive() {
    const std::string flagFolder = installFolder + "\\ZZZ";
    const std::string flagPath = flagFolder + "\\COMP.FLG";

    if (const std::optional<int> position = archiveProgress.Poll())
        view.SetProgressPos(*position);

    const bool present = base::BinaryFile::OpensForReading(flagPath);
    if (present) {
        DeleteIfExists(flagPath);
        ::RemoveDirectoryA(flagFolder.c_str());
    }
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
