// The one worker thread of the engine: it runs one state's file work at a time, so that the
// dialog's thread never waits for the disk or the network (a folder on a share that stops
// answering). The work reports into a queue that the dialog's thread replays into the real view.
#pragma once

#include "install/ReportQueue.h"
#include "install/StateWork.h"
#include "win32/Handles.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

class WorkerThread {
public:
    using Work = std::function<WorkResult(IInstallView& report)>;

    WorkerThread() = default;
    // Lets the thread go: work under way runs to its end and is forgotten; the thread then ends.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Where a message is posted once a piece of work is done; without a window, none.
    void NotifyWhenDone(HWND window, UINT message);
    // Hands `work` to the thread, started on first use. The work must hold copies of what it
    // needs: the engine may be gone before it ends. With no thread to be had, it runs here.
    void Run(Work work);
    // Replays what the work has reported so far into `view`; its result once it is done.
    std::optional<WorkResult> Collect(IInstallView& view);
    // Waits up to `milliseconds` for the work handed over to end; true when none is under way.
    bool Wait(DWORD milliseconds) const;

    // What the thread and this object share: the thread holds it as long as it runs.
    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    ScopedHandle thread_;
};

// Ends the process at once with exit code 0, whatever the worker thread is doing. Not through
// the C runtime's shutdown (ExitProcess runs it): that flushes every stream, taking each one's
// lock, and a worker stopped in the middle of a read or write may hold one for ever.
void EndProcessNow();
