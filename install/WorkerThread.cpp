#include "install/WorkerThread.h"

#include "win32/Thread.h"

#include <mutex>
#include <utility>

struct WorkerThread::Shared {
    std::mutex mutex;
    Work work;
    std::optional<WorkResult> result;
    bool quit = false;
    ReportQueue reports;
    // Auto-reset: work or the request to quit is waiting. Manual-reset: no work under way.
    ScopedHandle wake{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    ScopedHandle idle{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;
};

namespace {

unsigned __stdcall RunWorker(void* parameter) {
    const std::unique_ptr<std::shared_ptr<WorkerThread::Shared>> owner(
        static_cast<std::shared_ptr<WorkerThread::Shared>*>(parameter));
    WorkerThread::Shared& shared = **owner;
    for (;;) {
        ::WaitForSingleObject(shared.wake.Get(), INFINITE);
        WorkerThread::Work work;
        {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            if (shared.quit)
                return 0;
            work = std::exchange(shared.work, nullptr);
        }
        if (!work)
            continue;
        WorkResult result = work(shared.reports);
        {
            const std::lock_guard<std::mutex> lock(shared.mutex);
            shared.result = std::move(result);
        }
        ::SetEvent(shared.idle.Get());
        // The window may be gone by now; then the post fails and nobody minds.
        if (shared.notifyWindow)
            ::PostMessageW(shared.notifyWindow, shared.notifyMessage, 0, 0);
    }
}

} // namespace

WorkerThread::~WorkerThread() {
    if (!shared_)
        return;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->quit = true;
    }
    ::SetEvent(shared_->wake.Get());
}

void WorkerThread::NotifyWhenDone(HWND window, UINT message) {
    if (!shared_)
        shared_ = std::shared_ptr<Shared>(new Shared);
    shared_->notifyWindow = window;
    shared_->notifyMessage = message;
}

void WorkerThread::Run(Work work) {
    // Not make_shared: built without type information, it needs the standard library's
    // exception machinery, a quarter of the program's size (cmake/ShippedProgram.cmake).
    if (!shared_)
        shared_ = std::shared_ptr<Shared>(new Shared);
    if (!thread_) {
        auto owner = std::make_unique<std::shared_ptr<Shared>>(shared_);
        thread_ = win32::StartThread(&RunWorker, owner.get());
        if (thread_)
            owner.release();
    }
    if (!thread_) {
        // No thread to be had: the work runs here, within this tick.
        WorkResult result = work(shared_->reports);
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->result = std::move(result);
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->work = std::move(work);
        shared_->result.reset();
    }
    ::ResetEvent(shared_->idle.Get());
    ::SetEvent(shared_->wake.Get());
}

std::optional<WorkResult> WorkerThread::Collect(IInstallView& view) {
    if (!shared_)
        return std::nullopt;
    // Taken first: once the result is there, everything the work reported is in the queue.
    std::optional<WorkResult> result;
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        result = std::exchange(shared_->result, std::nullopt);
    }
    shared_->reports.ReplayInto(view, ::GetTickCount64());
    return result;
}

bool WorkerThread::Wait(DWORD milliseconds) const {
    return !shared_ || !thread_ ||
           ::WaitForSingleObject(shared_->idle.Get(), milliseconds) == WAIT_OBJECT_0;
}

void EndProcessNow() {
    ::TerminateProcess(::GetCurrentProcess(), 0);
}
