// The work of states 30 and 40: starting the copied archive hidden in the install folder, and
// a look for its completion flag.
#include "install/StateWork.h"
#include "payload/SuiteContract.h"

#include "install/ArchiveProgress.h"

#include "install/InstallTexts.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <cstdio>
#include <vector>

namespace {

// Flags are believed only when this run's archive wrote them: those an earlier run or anyone
// else left in the folder are removed before the archive starts, without following links. The
// path of one that stays (it cannot be removed, or ZZZ is a link), else empty.
std::string RemoveStaleFlags(const std::string& installFolder) {
    const std::string flagFolder = installFolder + "\\" + suite::kFlagFolder;
    std::vector<std::string> flags = ComponentFlagPaths(installFolder);
    ScopedFileHandle held;
    switch (nofollow::HoldFolder(base::Wide(flagFolder).c_str(), held)) {
    case nofollow::Folder::Link:
        return flagFolder;
    case nofollow::Folder::Enter:
        flags.insert(flags.begin(), installFolder + "\\" + suite::kCompletionFlag);
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

// A job that ends every process in it when its last handle closes: when the setup ends, however
// it ends, so does the archive. Invalid when Windows makes none.
ScopedHandle MakeArchiveJob() {
    ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                          sizeof limits))
        job.Reset();
    return job;
}

} // namespace

ArchiveStarted StartArchiveProcess(const std::string& archivePath, const std::string& installFolder,
                                   IInstallView& view) {
    ArchiveStarted started;
    const std::string inTheWay = RemoveStaleFlags(installFolder);
    if (!inTheWay.empty()) {
        view.AddMessage(texts::LinkInTheWayLine(inTheWay), kColorError);
        started.failure = setup::kExitPlantedObject;
        return started;
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
        // Before it runs a single instruction. A job refused (Windows 7 inside a deployment
        // tool's job) leaves the archive to be ended by the engine alone.
        ScopedHandle job = MakeArchiveJob();
        if (job && !::AssignProcessToJobObject(job.Get(), processHandle.Get()))
            job.Reset();
        if (::ResumeThread(threadHandle.Get()) != static_cast<DWORD>(-1)) {
            started.archive.job = std::move(job);
            started.archive.process = std::move(processHandle);
            started.archive.processId = process.dwProcessId;
            started.archive.progressBlock = std::move(block);
            return started;
        }
        const DWORD error = ::GetLastError();
        ::TerminateProcess(processHandle.Get(), 1);
        ::SetLastError(error);
    }

    const DWORD error = ::GetLastError();
    view.AddMessage(texts::kCannotDecompress, kColorError);
    ReportFailedCall(view, kColorError, static_cast<long>(error));
    started.failure = setup::kExitArchive;
    return started;
}

bool LookForCompletionFlag(const std::string& installFolder, IInstallView& view) {
    const std::string flagFolder = installFolder + "\\" + suite::kFlagFolder;
    {
        // Held as the archive holds its folders, sharing reading and writing: the two holds
        // never clash.
        ScopedFileHandle held;
        if (nofollow::HoldFolder(base::Wide(flagFolder).c_str(), held) != nofollow::Folder::Enter ||
            !DeleteFileIfExists(installFolder + "\\" + suite::kCompletionFlag, view))
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
