#include "install/InstallEngine.h"

#include "base/WideText.h"
#include "install/InstallTexts.h"
#include "payload/sfx/NoFollowWin32.h"

#include <cstdio>
#include <utility>

namespace {

// State 10's work: the next state, and any warning or error reported to `view`. A folder text
// that is not UTF-8 (the user typed an unpaired surrogate) names no folder at all.
int CreateFolder(const std::string& installFolder, IInstallView& view) {
    const std::optional<std::wstring> folder = base::TryWide(installFolder);
    if (!folder || !texts::IsAbsoluteFolder(installFolder)) {
        view.AddMessage(texts::kDirectoryInvalid, kColorError);
        return STATE_FAILURE;
    }
    // Windows makes no folder longer than this without the "\\?\" prefix, and nothing could be
    // started from it; Wine's wide calls would make it all the same.
    if (folder->size() > MAX_PATH - 12) {
        view.AddMessage(texts::ErrorNumberLine(ERROR_FILENAME_EXCED_RANGE), kColorError);
        return STATE_FAILURE;
    }
    if (::CreateDirectoryW(folder->c_str(), nullptr))
        return STATE_COPY_PAYLOAD;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        view.AddMessage(texts::kDirectoryExists, kColorWarning);
        return STATE_COPY_PAYLOAD;
    }
    view.AddMessage(error == ERROR_BAD_PATHNAME ? std::string(texts::kDirectoryInvalid)
                                                : texts::ErrorNumberLine(static_cast<long>(error)),
                    kColorError);
    return STATE_FAILURE;
}

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

void InstallEngine::Start(const InstallSettings& settings) {
    modulePath = settings.modulePath;
    archiveBaseName = settings.archiveBaseName;
    installFolder = settings.installFolder;
    createDesktopIcons = settings.createDesktopIcons;
    commonShortcutFolders = settings.commonShortcutFolders;
    exitCode = setup::kExitSuccess;
    InstallState = STATE_CREATE_DIR;
}

void InstallEngine::Tick() {
    if (busy != 0) {
        CollectWorker();
        return;
    }
    busy = 1;
    switch (InstallState) {
    case STATE_CREATE_DIR:
        CreateInstallFolder();
        break;
    case STATE_COPY_PAYLOAD:
        CopyPayload();
        break;
    case STATE_EXPAND:
        StartArchive();
        break;
    case STATE_WAIT_EXPAND:
        WaitForArchive();
        break;
    case STATE_DETECT:
        DetectComponents();
        break;
    case STATE_DESKTOP_LINKS:
        CreateDesktopShortcuts();
        break;
    case STATE_MENU_LINKS:
        CreateMenuShortcuts();
        break;
    case STATE_CLEANUP:
        CleanUp();
        break;
    case STATE_SUCCESS:
        Succeed();
        break;
    case STATE_FAILURE:
        Fail();
        break;
    default:
        // STATE_IDLE, STATE_DONE and any value that is not a state: nothing to do.
        break;
    }
    if (!workerJob)
        busy = 0;
}

void InstallEngine::RunOnWorker(WorkerFunction work, WorkerContinuation then) {
    workerThen = std::move(then);
    // Not make_shared: built without type information, it needs the standard library's
    // exception machinery, a quarter of the program's size (cmake/ShippedProgram.cmake).
    const std::shared_ptr<WorkerJob> job(new WorkerJob);
    job->work = std::move(work);
    job->outcome.nextState = InstallState;
    job->outcome.imageLength = imageLength;
    job->outcome.payloadLength = payloadLength;
    job->outcome.exitCode = exitCode;
    job->notifyWindow = workerDoneWindow;
    job->notifyMessage = workerDoneMessage;
    workerJob = job;
    workerThread = StartWorkerThread(job);
    if (!workerThread) {
        // No thread to be had: the work runs here, within this tick.
        job->work(job->reports, job->outcome);
        job->done.store(true);
        CollectWorker();
    }
}

void InstallEngine::CollectWorker() {
    if (!workerJob)
        return;
    const std::shared_ptr<WorkerJob> job = workerJob;
    // Read first: once the work is done, everything it reported is in the queue.
    const bool done = job->done.load(std::memory_order_acquire);
    job->reports.ReplayInto(view);
    if (!done)
        return;
    workerJob.reset();
    workerThread.Reset();
    InstallState = job->outcome.nextState;
    imageLength = job->outcome.imageLength;
    payloadLength = job->outcome.payloadLength;
    exitCode = job->outcome.exitCode;
    // Only the copy's work takes the lock; other work leaves it as it is.
    if (job->outcome.archiveLock)
        archiveLock = std::move(job->outcome.archiveLock);
    busy = 0;
    if (const WorkerContinuation then = std::exchange(workerThen, nullptr))
        then(job->outcome);
}

bool InstallEngine::WaitForWorker(DWORD milliseconds) const {
    return !workerThread ||
           ::WaitForSingleObject(workerThread.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool DeleteFileIfExists(const std::string& path, IInstallView& view) {
    const std::wstring wide = base::Wide(path);
    if (!ScopedFileHandle(::CreateFileW(wide.c_str(), GENERIC_READ, nofollow::kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)))
        return false;
    if (nofollow::RemoveFile(wide.c_str()) == nofollow::Removal::Refused)
        view.AddMessage(texts::CannotDeleteLine(path), kColorWarning);
    return true;
}

void DeleteCopy(const std::string& path, IInstallView& view) {
    if (!DeleteInSteps(path))
        DeleteFileIfExists(path, view);
}

void InstallEngine::CreateInstallFolder() {
    view.AddMessage(texts::kCreatingDirectory, kColorProgress);
    for (ComponentEntry& component : components)
        component.found = 0;
    // CreateDirectoryW waits a long time for a network path that does not answer.
    RunOnWorker([folder = installFolder](IInstallView& report, WorkerOutcome& outcome) {
        outcome.nextState = CreateFolder(folder, report);
        if (outcome.nextState == STATE_FAILURE)
            outcome.exitCode = setup::kExitFolder;
    });
}

void InstallEngine::CleanUp() {
    InstallState = STATE_SUCCESS;
    view.AddMessage(texts::kCleaningUp, kColorProgress);
    // Deleting the copy of a large payload takes a while.
    RunOnWorker(
        [path = archivePath](IInstallView& report, WorkerOutcome&) { DeleteCopy(path, report); });
}

void InstallEngine::Succeed() {
    InstallState = STATE_DONE;
    view.AddMessage(texts::kSuccess, kColorSuccess);
    FinishRun();
}

void InstallEngine::Fail() {
    view.AddMessage(texts::kFailure, kColorFailure);
    archiveLock.Reset();
    // An archive cut off by the time-out may still be going down, and its file cannot be deleted
    // before it has: the work waits a moment for it, on a handle of its own. The run ends once
    // the copy is deleted: until then Escape ends the program, as during any other state's work,
    // rather than the dialog while the worker still runs.
    HANDLE archive = nullptr;
    if (processInfo.process)
        ::DuplicateHandle(::GetCurrentProcess(), processInfo.process.Get(), ::GetCurrentProcess(),
                          &archive, SYNCHRONIZE, FALSE, 0);
    RunOnWorker(
        [path = archivePath, archive = std::shared_ptr<ScopedHandle>(new ScopedHandle(archive))](
            IInstallView& report, WorkerOutcome& outcome) {
            if (*archive)
                ::WaitForSingleObject(archive->Get(), 5000);
            DeleteCopy(path, report);
            outcome.nextState = STATE_DONE;
        },
        [this](WorkerOutcome&) { FinishRun(); });
}

void InstallEngine::FinishRun() {
    view.EnableClose();
    view.SetProgressPos(0);
}
