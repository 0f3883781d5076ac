// The file work of one sequencer state on a thread of its own, so that the dialog's thread never
// waits for the disk or the network (a folder on a share that stops answering): the work reports
// into a queue, and the dialog's thread replays the queue into the real view, in the order the
// work reported.
#pragma once

#include "framework/Handles.h"
#include "install/CommandLine.h"
#include "install/InstallView.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A view that only keeps what it is told, for another thread to hand on.
class ReportQueue final : public IInstallView {
public:
    void AddMessage(std::string text, MessageColor color) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPos(int position) override;
    void EnableClose() override;

    // Hands every report kept so far to `view`, oldest first, and forgets them.
    void ReplayInto(IInstallView& view);

private:
    enum class Kind { Line, Range, Position, Close };
    struct Report {
        Kind kind;
        int value;
        MessageColor color;
        std::string text;
    };
    void Keep(Report report);

    std::mutex mutex_;
    std::vector<Report> pending_;
};

// The archive process started by STATE_EXPAND; its handles live as long as the engine.
struct ArchiveProcess {
    ScopedHandle process;
    ScopedHandle thread;
    DWORD processId = 0;
    DWORD threadId = 0;
    // Its progress block, made before it ran (ArchiveProgress::MakeBlock); handed on to
    // ArchiveProgress.
    ScopedHandle progressBlock;
};

// What the work hands back to the engine besides its reports. It starts as the engine's own
// values, so that work that leaves a field alone leaves it as it was.
struct WorkerOutcome {
    int nextState = 0;
    std::int64_t imageLength = 0;
    std::int32_t payloadLength = 0;
    // How the run failed, when the work sends it to STATE_FAILURE.
    setup::ExitCode exitCode = setup::kExitSuccess;
    // The payload copy, open for reading only (see InstallEngine::archiveLock).
    ScopedFileHandle archiveLock;
    // The archive process, once started.
    ArchiveProcess archive;
    // Whether a look found the completion flag, and which component flags it found.
    bool flagFound = false;
    std::array<bool, 3> componentsFound{};
};

using WorkerFunction = std::function<void(IInstallView& report, WorkerOutcome& outcome)>;
// What the dialog's thread does with the outcome once the work is done and its reports are in.
using WorkerContinuation = std::function<void(WorkerOutcome& outcome)>;

// One piece of work and what it produced. The thread holds the job as long as it runs, so the
// engine may be gone (the dialog has ended) while the work is still under way.
struct WorkerJob {
    WorkerFunction work;
    ReportQueue reports;
    // Written by the work; read by the engine only once `done` is set.
    WorkerOutcome outcome;
    std::atomic<bool> done{false};
    // Posted `notifyMessage` once the work is done; no window, no message.
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;
};

// Runs `job` on a new thread; the thread's handle, null when no thread could be started.
ScopedHandle StartWorkerThread(std::shared_ptr<WorkerJob> job);

// Ends the process at once with exit code 0, whatever the worker thread is doing. Not through
// the C runtime's shutdown (ExitProcess runs it): that flushes every stream, taking each one's
// lock, and a worker stopped in the middle of a read or write may hold one for ever.
void EndProcessNow();
