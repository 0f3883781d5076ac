#include "install/WorkerThread.h"

#include <process.h>

#include <utility>

void ReportQueue::AddMessage(std::string text, MessageColor color) {
    Keep({Kind::Line, 0, color, std::move(text)});
}

void ReportQueue::SetProgressRange(int maximum) {
    Keep({Kind::Range, maximum, 0, {}});
}

void ReportQueue::SetProgressPos(int position) {
    Keep({Kind::Position, position, 0, {}});
}

void ReportQueue::EnableClose() {
    Keep({Kind::Close, 0, 0, {}});
}

void ReportQueue::Keep(Report report) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(report));
}

void ReportQueue::ReplayInto(IInstallView& view) {
    std::vector<Report> reports;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        reports.swap(pending_);
    }
    // The view is called without the lock, so the work never waits for the window.
    for (Report& report : reports) {
        switch (report.kind) {
        case Kind::Line:
            view.AddMessage(std::move(report.text), report.color);
            break;
        case Kind::Range:
            view.SetProgressRange(report.value);
            break;
        case Kind::Position:
            view.SetProgressPos(report.value);
            break;
        case Kind::Close:
            view.EnableClose();
            break;
        }
    }
}

namespace {

unsigned __stdcall RunJob(void* parameter) {
    const std::unique_ptr<std::shared_ptr<WorkerJob>> owner(
        static_cast<std::shared_ptr<WorkerJob>*>(parameter));
    WorkerJob& job = **owner;
    job.work(job.reports, job.outcome);
    job.done.store(true, std::memory_order_release);
    // The window may be gone by now; then the post fails and nobody minds.
    if (job.notifyWindow)
        ::PostMessageA(job.notifyWindow, job.notifyMessage, 0, 0);
    return 0;
}

} // namespace

ScopedHandle StartWorkerThread(std::shared_ptr<WorkerJob> job) {
    auto owner = std::make_unique<std::shared_ptr<WorkerJob>>(std::move(job));
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &RunJob, owner.get(), 0, nullptr);
    if (thread == 0)
        return ScopedHandle();
    owner.release();
    return ScopedHandle(reinterpret_cast<HANDLE>(thread));
}

void EndProcessNow() {
    ::TerminateProcess(::GetCurrentProcess(), 0);
}
