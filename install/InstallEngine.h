// The install engine: every piece of state of one installation, and the timer-driven sequencer
// that walks through the states on the dialog's thread, one state's work per tick, reporting to
// an IInstallView. The file work of a state runs on the worker thread (install/StateWork.h) and
// comes back as a result that the state applies: that is where its next state is decided.
#pragma once

#include "install/ArchiveProgress.h"
#include "install/ExitCode.h"
#include "install/InstallView.h"
#include "install/RunLock.h"
#include "install/StateWork.h"
#include "install/WorkerThread.h"
#include "win32/Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>

enum : int {
    STATE_IDLE = 0,
    STATE_CREATE_DIR = 10,
    STATE_COPY_PAYLOAD = 20,
    STATE_EXPAND = 30,
    STATE_WAIT_EXPAND = 40,
    // A program holds a file of the suite: the user closes it and the archive runs again.
    STATE_RETRY = 42,
    STATE_DETECT = 45,
    STATE_DESKTOP_LINKS = 50,
    STATE_MENU_LINKS = 55,
    STATE_RECORD = 57,
    STATE_CLEANUP = 60,
    // The uninstaller's one state: everything the install record lists goes.
    STATE_UNINSTALL = 70,
    STATE_SUCCESS = 1000,
    STATE_FAILURE = 1010,
    STATE_DONE = 1020,
};

// What the dialog gives the engine when Install is pressed.
struct InstallSettings {
    std::string modulePath;      // the program's own file: the installer image
    std::string archiveBaseName; // the payload copy's name in the install folder, without ".EXE"
    std::string installFolder;   // as typed, trimmed, in UTF-8; text that is not is refused
    int createDesktopIcons = 1;
    // The shortcuts every user of the machine sees, rather than the running account's.
    bool commonShortcutFolders = false;
    // The image's label ("v2.1.0"): the version recorded, and compared with an installed one.
    std::string label;
    // Who publishes the suite, for Apps & Features: the image's version resource says.
    std::string publisher;
    // Installs over a newer version too.
    bool allowDowngrade = false;
    // The uninstaller's run: removes the suite from installFolder instead.
    bool uninstall = false;
};

class InstallEngine {
public:
    static constexpr int kLookLimit = 200;

    explicit InstallEngine(IInstallView& view) : view(view) {}
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;

    // Where the worker posts `message` once a state's work is done (the dialog, which then calls
    // Collect); without a window, the next tick finds it done.
    void NotifyWhenWorkDone(HWND window, UINT message) { worker.NotifyWhenDone(window, message); }

    // Takes the dialog's settings and starts the run: STATE_CREATE_DIR on the next tick. False,
    // with exitCode setup::kExitAnotherRun and nothing started, while another setup's run holds
    // the machine's run lock.
    bool Start(const InstallSettings& runSettings);
    // One timer tick: the current state's work, or while it is under way, Collect.
    void Tick();
    // Hands what the state's work has reported so far to the view, and once it is done, its
    // result to the state.
    void Collect();
    // Whether Install was pressed and the run has not ended yet.
    bool RunUnderWay() const { return InstallState != STATE_IDLE && InstallState != STATE_DONE; }
    // Escape or Close while the run is under way, just before the program ends: the archive
    // and whatever it started end now, and the copy goes once they have.
    void EndArchiveNow();
    // Waits up to `milliseconds` for the state's work under way; true when none is.
    bool WaitForWorker(DWORD milliseconds) const { return worker.Wait(milliseconds); }

    InstallSettings settings;
    int InstallState = STATE_IDLE;
    // Set while a state's work is under way on the worker thread.
    int busy = 0;
    // How the run failed; setup::kExitSuccess while it has not.
    setup::ExitCode exitCode = setup::kExitSuccess;

    std::string archivePath;
    // The folders state 10 made (the install folder and its missing parents), outermost first.
    std::vector<std::string> foldersMade;
    std::int64_t imageLength = 0;
    std::int32_t payloadLength = 0;
    // The payload's program is sfx.exe: its completion flag counts only once it has ended with 0.
    bool archivePublishesProgress = false;

    // The payload copy, opened again for reading as soon as it is written, sharing only
    // reading, and held until state 30 has started the archive from it: the setup runs
    // elevated and an existing install folder may be writable by others, so nobody may change,
    // replace or delete the copy in between.
    ScopedFileHandle archiveLock;

    ArchiveProcess processInfo;
    // Looks that count toward kLookLimit: every look, or for an archive that publishes its
    // progress the looks since it last got on.
    int waitTicks = 0;
    ArchiveProgress archiveProgress;

    ComponentTable components = SuiteComponents();
    int componentCount = 0;

    // Where the payload starts in the image (state 20), the record of the install this run
    // replaces (read before its archive runs) and the shortcuts states 50 and 55 wrote: what
    // state 57 records.
    std::int64_t payloadOffset = 0;
    std::optional<record::InstallRecord> previousRecord;
    std::vector<std::string> shortcutsWritten;
    // The program that holds a file of the suite, when the archive failed on one (state 42),
    // and whether its question is on the screen.
    std::string fileHolder;
    bool askingToRetry = false;

private:
    // One function per state: called with no result to begin the state, and again with the
    // result of the work it handed to the worker.
    void RunState(WorkResult* done);
    void CreateInstallFolder(WorkResult* done);
    void CopyPayload(WorkResult* done);
    void StartArchive(WorkResult* done);
    void WaitForArchive(WorkResult* done);
    void AskToRetry(WorkResult* done);
    void DetectComponents(WorkResult* done);
    void CreateDesktopShortcuts(WorkResult* done);
    void CreateMenuShortcuts(WorkResult* done);
    void RecordTheInstall(WorkResult* done);
    void CleanUp(WorkResult* done);
    void Uninstall(WorkResult* done);
    void Succeed();
    void Fail(WorkResult* done);

    // Hands `work` to the worker; `busy` stays set until Collect hands its result back.
    void BeginWork(WorkerThread::Work work);
    // The run goes to STATE_FAILURE for `failure`, unless it is setup::kExitSuccess; then to
    // `next`.
    void GoOn(setup::ExitCode failure, int next);
    // Ends the archive and every process it started.
    void TerminateArchive();
    // Whether the archive has ended, and with which exit code.
    bool ArchiveEnded(DWORD& exitCode) const;
    // The rest of a look of state 40, with what the look found.
    void AfterLook(const FlagLook& look);
    // The red line for an archive that stopped at a link: the folder it names, else the install
    // folder.
    std::string LinkRefusedLine() const;
    // The archive ended with `archiveExit`, not 0: its lines, and the state that follows.
    void ArchiveFailed(DWORD archiveExit);

    IInstallView& view;
    RunLock runLock;
    WorkerThread worker;
};
