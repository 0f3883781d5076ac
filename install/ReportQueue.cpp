#include "install/ReportQueue.h"

#include <utility>

void ReportQueue::AddMessage(std::string text, MessageColor color) {
    Keep({Kind::Line, 0, color, std::move(text)});
}

void ReportQueue::LogDetail(std::string text) {
    Keep({Kind::Detail, 0, 0, std::move(text)});
}

void ReportQueue::SetProgressRange(int maximum) {
    Keep({Kind::Range, maximum, 0, {}});
}

void ReportQueue::SetProgressPos(int position) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.empty() && pending_.back().kind == Kind::Position)
        pending_.back().value = position;
    else
        pending_.push_back({Kind::Position, position, 0, {}});
}

void ReportQueue::EnableClose() {
    Keep({Kind::Close, 0, 0, {}});
}

void ReportQueue::Keep(Report report) {
    const std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(report));
}

void ReportQueue::ReplayInto(IInstallView& view, std::uint64_t nowMs) {
    std::vector<Report> reports;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        reports.swap(pending_);
        const bool tooSoon = positionHandedOn_ && nowMs - lastPositionMs_ < kPaintIntervalMs;
        if (!reports.empty() && reports.back().kind == Kind::Position &&
            reports.back().value != 0 && tooSoon) {
            pending_.push_back(std::move(reports.back()));
            reports.pop_back();
        }
    }
    // The view is called without the lock, so the work never waits for the window.
    for (Report& report : reports) {
        switch (report.kind) {
        case Kind::Line:
            view.AddMessage(std::move(report.text), report.color);
            break;
        case Kind::Detail:
            view.LogDetail(std::move(report.text));
            break;
        case Kind::Range:
            view.SetProgressRange(report.value);
            break;
        case Kind::Position:
            view.SetProgressPos(report.value);
            lastPositionMs_ = nowMs;
            positionHandedOn_ = true;
            break;
        case Kind::Close:
            view.EnableClose();
            break;
        }
    }
}
