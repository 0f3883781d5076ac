#include "install/InstallEngine.h"

#include "install/FileHolder.h"
#include "install/InstallRecordFile.h"
#include "install/InstallTexts.h"
#include "install/ProductEntryTexts.h"
#include "install/Progress.h"
#include "payload/SuiteContract.h"

#include <utility>

bool InstallEngine::Start(const InstallSettings& runSettings) {
    if (!runLock.Acquire()) {
        exitCode = setup::kExitAnotherRun;
        return false;
    }
    settings = runSettings;
    exitCode = setup::kExitSuccess;
    InstallState = settings.uninstall ? STATE_UNINSTALL : STATE_CREATE_DIR;
    return true;
}

void InstallEngine::Tick() {
    if (busy != 0) {
        Collect();
        return;
    }
    RunState(nullptr);
}

void InstallEngine::Collect() {
    if (busy == 0)
        return;
    std::optional<WorkResult> done = worker.Collect(view);
    if (!done)
        return;
    busy = 0;
    RunState(&*done);
}

void InstallEngine::RunState(WorkResult* done) {
    switch (InstallState) {
    case STATE_CREATE_DIR:
        CreateInstallFolder(done);
        break;
    case STATE_COPY_PAYLOAD:
        CopyPayload(done);
        break;
    case STATE_EXPAND:
        StartArchive(done);
        break;
    case STATE_WAIT_EXPAND:
        WaitForArchive(done);
        break;
    case STATE_RETRY:
        AskToRetry(done);
        break;
    case STATE_DETECT:
        DetectComponents(done);
        break;
    case STATE_DESKTOP_LINKS:
        CreateDesktopShortcuts(done);
        break;
    case STATE_MENU_LINKS:
        CreateMenuShortcuts(done);
        break;
    case STATE_RECORD:
        RecordTheInstall(done);
        break;
    case STATE_CLEANUP:
        CleanUp(done);
        break;
    case STATE_UNINSTALL:
        Uninstall(done);
        break;
    case STATE_SUCCESS:
        Succeed();
        break;
    case STATE_FAILURE:
        Fail(done);
        break;
    default:
        // STATE_IDLE, STATE_DONE and any value that is not a state: nothing to do.
        break;
    }
}

void InstallEngine::BeginWork(WorkerThread::Work work) {
    busy = 1;
    worker.Run(std::move(work));
}

void InstallEngine::GoOn(setup::ExitCode failure, int next) {
    if (failure != setup::kExitSuccess)
        exitCode = failure;
    InstallState = failure == setup::kExitSuccess ? next : STATE_FAILURE;
}

void InstallEngine::CreateInstallFolder(WorkResult* done) {
    if (done) {
        FolderMade& made = std::get<FolderMade>(*done);
        foldersMade = std::move(made.made);
        GoOn(made.failure, STATE_COPY_PAYLOAD);
        return;
    }
    view.AddMessage(texts::kCreatingDirectory, kColorProgress);
    components = SuiteComponents();
    componentCount = 0;
    // CreateDirectoryW waits a long time for a network path that does not answer.
    BeginWork([folder = settings.installFolder](IInstallView& report) -> WorkResult {
        return CreateFolder(folder, report);
    });
}

void InstallEngine::CopyPayload(WorkResult* done) {
    if (done) {
        PayloadCopied& copied = std::get<PayloadCopied>(*done);
        imageLength = copied.imageLength;
        payloadLength = copied.payloadLength;
        payloadOffset = copied.payloadOffset;
        previousRecord = std::move(copied.previous);
        archivePublishesProgress = copied.publishesProgress;
        archiveLock = std::move(copied.lock);
        GoOn(copied.failure, STATE_EXPAND);
        return;
    }
    view.AddMessage(texts::kCopying, kColorProgress);
    archivePath = settings.installFolder + "\\" + settings.archiveBaseName + ".EXE";
    BeginWork([source = settings.modulePath, archive = archivePath, folder = settings.installFolder,
               label = settings.label,
               allowDowngrade = settings.allowDowngrade](IInstallView& report) -> WorkResult {
        PayloadCopied refused;
        if (!FinishInterruptedInstall(folder, report, refused.failure))
            return refused;
        // The install this run replaces, if any: an older setup must not take a newer suite
        // back, unless asked to.
        std::optional<record::InstallRecord> previous = ReadInstallRecord(folder);
        if (previous && !allowDowngrade &&
            texts::CompareDottedVersions(texts::DisplayVersion(label),
                                         texts::DisplayVersion(previous->label)) ==
                texts::VersionOrder::Older) {
            report.AddMessage(texts::NewerVersionInstalledLine(previous->label, label),
                              kColorError);
            refused.failure = setup::kExitNewerInstalled;
            return refused;
        }
        PayloadCopied copied = CopyPayloadFile(source, archive, report);
        copied.previous = std::move(previous);
        return copied;
    });
}

void InstallEngine::StartArchive(WorkResult* done) {
    if (done) {
        ArchiveStarted& started = std::get<ArchiveStarted>(*done);
        // The archive runs (or could not be started): the copy need not be held any longer.
        archiveLock.Reset();
        GoOn(started.failure, STATE_WAIT_EXPAND);
        if (started.failure != setup::kExitSuccess)
            return;
        processInfo = std::move(started.archive);
        waitTicks = 0;
        // The bar keeps the range the copy gave it.
        archiveProgress.Follow(std::move(processInfo.progressBlock),
                               progress::CopyProgress(payloadLength).RangeMaximum());
        return;
    }
    view.AddMessage(texts::kDecompressing, kColorProgress);
    BeginWork([archive = archivePath,
               folder = settings.installFolder](IInstallView& report) -> WorkResult {
        return StartArchiveProcess(archive, folder, report);
    });
}

bool InstallEngine::ArchiveEnded(DWORD& exitCode) const {
    return processInfo.process && ::GetExitCodeProcess(processInfo.process.Get(), &exitCode) &&
           exitCode != STILL_ACTIVE;
}

std::string InstallEngine::LinkRefusedLine() const {
    const std::optional<std::string> folder = archiveProgress.RefusedFolder();
    return texts::LinkInTheWayLine(folder ? settings.installFolder + "\\" + *folder
                                          : settings.installFolder);
}

void InstallEngine::WaitForArchive(WorkResult* done) {
    if (done) {
        AfterLook(std::get<FlagLook>(*done));
        return;
    }
    const ArchiveProgress::Reading reading = archiveProgress.Poll();
    if (reading.barPosition)
        view.SetProgressPos(*reading.barPosition);
    // sfx.exe says by its exit code whether it wrote every entry and its flag: until it has
    // ended with 0, a flag in the folder is not its own, whoever put it there, also before it
    // has filled its progress block in. Another stub's flag is believed when it is there.
    DWORD archiveExit = 0;
    const bool endedWell = ArchiveEnded(archiveExit) && archiveExit == 0;
    if ((archivePublishesProgress || reading.published) && !endedWell) {
        AfterLook({.flagFound = false, .countsAsLook = reading.countsAsLook});
        return;
    }
    BeginWork([folder = settings.installFolder,
               counts = reading.countsAsLook](IInstallView& report) -> WorkResult {
        return FlagLook{.flagFound = LookForCompletionFlag(folder, report), .countsAsLook = counts};
    });
}

void InstallEngine::AfterLook(const FlagLook& look) {
    waitTicks = look.countsAsLook ? waitTicks + 1 : 0;

    DWORD archiveExit = 0;
    if (look.flagFound) {
        view.AddMessage(texts::kDecompressionCompleted, kColorProgress);
        // Old files still held open go when Windows restarts: a restart completes the install.
        if (const std::uint32_t pending = archiveProgress.RestartPending(); pending != 0) {
            view.AddMessage(texts::RestartPendingLine(pending), kColorWarning);
            exitCode = setup::kExitRestartNeeded;
        }
        InstallState = STATE_DETECT;
    } else if (ArchiveEnded(archiveExit) && archiveExit != 0) {
        // An archive that has ended with an error will never write its flag.
        ArchiveFailed(archiveExit);
    } else if (waitTicks >= kLookLimit) {
        // Cut off half-way, the install is not complete: the run fails.
        view.AddMessage(texts::kDecompressionTimeOut, kColorProgress);
        GoOn(setup::kExitArchive, STATE_FAILURE);
    } else {
        return;
    }
    archiveProgress.Stop();
    TerminateArchive();
}

void InstallEngine::ArchiveFailed(DWORD archiveExit) {
    if (archiveExit == static_cast<DWORD>(unpack::kExitLinkRefused)) {
        view.AddMessage(LinkRefusedLine(), kColorError);
        GoOn(setup::kExitPlantedObject, STATE_FAILURE);
        return;
    }
    view.AddMessage(texts::kDecompressionFailure, kColorProgress);
    // Another vendor's stub says nothing of why: its code means nothing to the setup.
    if (!archivePublishesProgress) {
        GoOn(setup::kExitArchive, STATE_FAILURE);
        return;
    }
    // sfx.exe has put the folder back as it was; the line says why it could not go on.
    const texts::ArchiveFailure failure = archiveProgress.Failure(archiveExit);
    fileHolder.clear();
    if (failure.cause == unpack::kInUse && failure.file)
        fileHolder = ProgramHoldingFile(settings.installFolder + "\\" + *failure.file);
    view.AddMessage(texts::ArchiveFailureLine(failure, settings.installFolder, fileHolder),
                    kColorError);
    switch (failure.cause) {
    case unpack::kInUse:
        InstallState = STATE_RETRY;
        break;
    case unpack::kDiskFull:
    case unpack::kNoAccess:
        GoOn(setup::kExitCopy, STATE_FAILURE);
        break;
    default:
        GoOn(setup::kExitArchive, STATE_FAILURE);
        break;
    }
}

// The question is modal: the dialog's timer ticks on while it waits, and those ticks find the
// question already asked.
void InstallEngine::AskToRetry(WorkResult* done) {
    if (done) {
        InstallState = STATE_COPY_PAYLOAD;
        return;
    }
    if (askingToRetry)
        return;
    askingToRetry = true;
    const bool retry = view.AskToRetry(texts::CloseAndRetryText(fileHolder));
    askingToRetry = false;
    if (!retry) {
        GoOn(setup::kExitInUse, STATE_FAILURE);
        return;
    }
    // The archive runs again from a copy of its own.
    processInfo = ArchiveProcess{};
    BeginWork([path = archivePath](IInstallView& report) -> WorkResult {
        DeleteCopy(path, report);
        return WorkReported{};
    });
}

void InstallEngine::TerminateArchive() {
    DWORD archiveExit = 0;
    if (processInfo.job)
        ::TerminateJobObject(processInfo.job.Get(), 0);
    else if (::GetExitCodeProcess(processInfo.process.Get(), &archiveExit) &&
             archiveExit == STILL_ACTIVE)
        ::TerminateProcess(processInfo.process.Get(), 0);
}

void InstallEngine::EndArchiveNow() {
    if (!processInfo.process) {
        // Not started yet: the copy, if it is whole, is held by this program alone.
        archiveLock.Reset();
        DeleteCopyNow(archivePath);
        return;
    }
    TerminateArchive();
    // A process goes down within milliseconds once terminated; its file can be deleted after.
    if (::WaitForSingleObject(processInfo.process.Get(), 250) == WAIT_OBJECT_0)
        DeleteCopyNow(archivePath);
}

void InstallEngine::DetectComponents(WorkResult* done) {
    if (done) {
        const FlagsFound& flags = std::get<FlagsFound>(*done);
        componentCount = 0;
        std::vector<std::string> foundNames;
        for (int row = 0; row < kComponentCount; ++row) {
            components[row].found = flags.found[row] ? 1 : 0;
            if (!flags.found[row])
                continue;
            foundNames.push_back(components[row].displayName);
            ++componentCount;
        }
        view.AddMessage(texts::ComponentSummaryLine(foundNames), kColorSummary);
        InstallState = STATE_DESKTOP_LINKS;
        return;
    }
    components = SuiteComponents();
    BeginWork([folder = settings.installFolder](IInstallView& report) -> WorkResult {
        return FindComponentFlags(folder, report);
    });
}

// Shell calls can take long (a redirected or synchronised profile folder): both shortcut states
// write on the worker thread, like the folder and the copy.
void InstallEngine::CreateDesktopShortcuts(WorkResult* done) {
    if (done)
        for (std::string& link : std::get<ShortcutsWritten>(*done).links)
            shortcutsWritten.push_back(std::move(link));
    if (done || componentCount == 0 || settings.createDesktopIcons == 0) {
        InstallState = STATE_MENU_LINKS;
        return;
    }
    view.AddMessage(texts::kCreatingDesktopLinks, kColorProgress);
    const int folder =
        settings.commonShortcutFolders ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOP;
    BeginWork([folder, install = settings.installFolder,
               found = components](IInstallView& report) -> WorkResult {
        return WriteShortcuts(folder, "", texts::kDesktopNotFound, install, found, report);
    });
}

void InstallEngine::CreateMenuShortcuts(WorkResult* done) {
    if (done)
        for (std::string& link : std::get<ShortcutsWritten>(*done).links)
            shortcutsWritten.push_back(std::move(link));
    if (done || componentCount == 0) {
        InstallState = STATE_RECORD;
        return;
    }
    view.AddMessage(texts::kCreatingMenuLinks, kColorProgress);
    const int folder = settings.commonShortcutFolders ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
    BeginWork([folder, install = settings.installFolder,
               found = components](IInstallView& report) -> WorkResult {
        return WriteShortcuts(folder, suite::kMenuGroupFolder, texts::kMenuNotFound, install, found,
                              report);
    });
}

// No line of its own: a first install logs what it always has.
void InstallEngine::RecordTheInstall(WorkResult* done) {
    if (done) {
        InstallState = STATE_CLEANUP;
        return;
    }
    RecordRequest request{.installFolder = settings.installFolder,
                          .imagePath = settings.modulePath,
                          .programLength = payloadOffset,
                          .label = settings.label,
                          .publisher = settings.publisher,
                          .foldersMade = foldersMade,
                          .shortcutsWritten = shortcutsWritten,
                          .previous = previousRecord,
                          .components = components};
    BeginWork([request = std::move(request)](IInstallView& report) -> WorkResult {
        return RecordInstall(request, report);
    });
}

void InstallEngine::CleanUp(WorkResult* done) {
    if (done) {
        InstallState = STATE_SUCCESS;
        return;
    }
    view.AddMessage(texts::kCleaningUp, kColorProgress);
    // Deleting the copy of a large payload takes a while.
    BeginWork([path = archivePath](IInstallView& report) -> WorkResult {
        DeleteCopy(path, report);
        return WorkReported{};
    });
}

void InstallEngine::Uninstall(WorkResult* done) {
    if (done) {
        const SuiteRemoved& removed = std::get<SuiteRemoved>(*done);
        if (removed.failure == setup::kExitSuccess && removed.restartNeeded)
            exitCode = setup::kExitRestartNeeded;
        GoOn(removed.failure, STATE_SUCCESS);
        return;
    }
    BeginWork([folder = settings.installFolder](IInstallView& report) -> WorkResult {
        return UninstallSuite(folder, report);
    });
}

void InstallEngine::Succeed() {
    InstallState = STATE_DONE;
    runLock.Release();
    view.AddMessage(settings.uninstall ? texts::kUninstallSuccess : texts::kSuccess, kColorSuccess);
    view.EnableClose();
    view.SetProgressPos(0);
}

void InstallEngine::Fail(WorkResult* done) {
    if (done) {
        // The run ends once the copy is deleted: until then Escape ends the program, as during
        // any other state's work, rather than the dialog while the worker still runs.
        InstallState = STATE_DONE;
        runLock.Release();
        view.EnableClose();
        view.SetProgressPos(0);
        return;
    }
    view.AddMessage(settings.uninstall ? texts::kUninstallFailure : texts::kFailure, kColorFailure);
    archiveLock.Reset();
    // An archive cut off by the time-out may still be going down, and its file cannot be deleted
    // before it has: the work waits a moment for it, on a handle of its own.
    HANDLE archive = nullptr;
    if (processInfo.process)
        ::DuplicateHandle(::GetCurrentProcess(), processInfo.process.Get(), ::GetCurrentProcess(),
                          &archive, SYNCHRONIZE, FALSE, 0);
    BeginWork([path = archivePath, made = foldersMade,
               archive = std::shared_ptr<ScopedHandle>(new ScopedHandle(archive))](
                  IInstallView& report) -> WorkResult {
        if (*archive)
            ::WaitForSingleObject(archive->Get(), 5000);
        DeleteCopy(path, report);
        // A failed run into a new folder leaves no folder behind.
        RemoveFoldersMade(made);
        return WorkReported{};
    });
}
