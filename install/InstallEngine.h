// The install engine: every piece of state of one installation, and the timer-driven sequencer
// that walks through the states, one state's work per tick, reporting to an IInstallView.
#pragma once

#include "framework/Handles.h"
#include "install/ArchiveProgress.h"
#include "install/CommandLine.h"
#include "install/InstallView.h"
#include "install/WorkerThread.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum : int {
    STATE_IDLE = 0,
    STATE_CREATE_DIR = 10,
    STATE_COPY_PAYLOAD = 20,
    STATE_EXPAND = 30,
    STATE_WAIT_EXPAND = 40,
    STATE_DETECT = 45,
    STATE_DESKTOP_LINKS = 50,
    STATE_MENU_LINKS = 55,
    STATE_CLEANUP = 60,
    STATE_SUCCESS = 1000,
    STATE_FAILURE = 1010,
    STATE_DONE = 1020,
};

// One component of the suite: how it is detected, named and started.
struct ComponentEntry {
    std::string flagFile;
    std::string displayName;
    std::string executable;
    std::string workingSubfolder;
    int found = 0;
};

// What the dialog gives the engine when Install is pressed.
struct InstallSettings {
    std::string modulePath;      // the program's own file: the installer image
    std::string archiveBaseName; // the payload copy's name in the install folder, without ".EXE"
    std::string installFolder;   // as typed, trimmed, in UTF-8
    int createDesktopIcons = 1;
    // The shortcuts go to the folders every user of the machine sees.
    bool commonShortcutFolders = false;
};

// Deletes the file if it can be opened for reading; a refused delete is a warning line. Whether
// it could be opened, that is, whether it was there. A link at its name is neither followed nor
// believed: it loses only itself (nofollow::RemoveFile).
bool DeleteFileIfExists(const std::string& path, IInstallView& view);
// The component flag files in the install folder, in the rows' order.
std::vector<std::string> ComponentFlagPaths(const std::string& installFolder);
// Deletes the payload copy, which may be large (see DeleteInSteps), or says why it could not.
void DeleteCopy(const std::string& path, IInstallView& view);

class InstallEngine {
public:
    static constexpr int kComponentCount = 3;
    static constexpr int kLookLimit = 200;

    explicit InstallEngine(IInstallView& view) : view(view) {}
    InstallEngine(const InstallEngine&) = delete;
    InstallEngine& operator=(const InstallEngine&) = delete;

    // Takes the dialog's settings and starts the run: STATE_CREATE_DIR on the next tick.
    void Start(const InstallSettings& settings);

    // One timer tick: unless a tick is already running, the current state's work once. The
    // file work of every state runs on a worker thread: `busy` stays set until it is done, and
    // ticks meanwhile only collect what it has reported (CollectWorker).
    void Tick();

    // Hands what the worker thread has reported so far to the view; once its work is done,
    // applies its outcome (the next state) and clears `busy`. Ticks call it while `busy` is
    // set, and the dialog when the worker's message arrives.
    void CollectWorker();
    // Whether work of this engine is under way on the worker thread.
    bool WorkerRunning() const { return workerJob != nullptr; }
    // Whether Install was pressed and the run has not ended yet.
    bool RunUnderWay() const { return InstallState != STATE_IDLE && InstallState != STATE_DONE; }
    // Waits up to `milliseconds` for the worker thread to end; true when none runs.
    bool WaitForWorker(DWORD milliseconds) const;

    // Set by the dialog.
    std::string modulePath;
    std::string archiveBaseName;
    // UTF-8; text that is not (an unpaired surrogate was typed) is refused by state 10.
    std::string installFolder;
    int createDesktopIcons = 1;
    bool commonShortcutFolders = false;
    // Where the worker thread posts `workerDoneMessage` when its work is done (the dialog);
    // without a window, the next tick finds it done.
    HWND workerDoneWindow = nullptr;
    UINT workerDoneMessage = 0;

    int InstallState = STATE_IDLE;
    int busy = 0;
    // How the run failed, set where a state goes to STATE_FAILURE; a silent run exits with it.
    setup::ExitCode exitCode = setup::kExitSuccess;

    std::string sourcePath;
    std::string archivePath;
    std::int64_t imageLength = 0;
    std::int32_t payloadLength = 0;

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

    std::array<ComponentEntry, kComponentCount> components;
    int componentCount = 0;

private:
    void CreateInstallFolder();
    void CopyPayload();
    void StartArchive();
    void WaitForArchive();
    void DetectComponents();
    void CreateDesktopShortcuts();
    void CreateMenuShortcuts();
    void CleanUp();
    void Succeed();
    void Fail();
    void FinishRun();

    // Whether the archive has ended, and with which exit code.
    bool ArchiveEnded(DWORD& exitCode) const;
    // The red line for an archive that stopped at a link: the folder it names, else the install
    // folder.
    std::string LinkRefusedLine() const;
    // Starts `work` on the worker thread; `busy` stays set until CollectWorker applies it, and
    // then runs `then` on the dialog's thread.
    void RunOnWorker(WorkerFunction work, WorkerContinuation then = {});
    // The rest of a look of STATE_WAIT_EXPAND, once the worker has looked for the flag;
    // `countsAsLook`: the archive has made no progress since the look before (ArchiveProgress).
    void AfterLook(bool flagFound, bool countsAsLook);
    // The rest of STATE_DETECT, once the worker has looked for the component flags.
    void CountComponents(const std::array<bool, kComponentCount>& found);

    IInstallView& view;
    // The work under way on the worker thread, shared with that thread, and the thread.
    std::shared_ptr<WorkerJob> workerJob;
    ScopedHandle workerThread;
    WorkerContinuation workerThen;
};
