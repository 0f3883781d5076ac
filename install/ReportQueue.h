// What a state's work reports while it runs off the dialog's thread: the queue keeps it, and the
// dialog's thread hands it to the real view, in the order it was reported. Portable.
#pragma once

#include "install/InstallView.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class ReportQueue final : public IInstallView {
public:
    // The bar takes at most one position per this many milliseconds, and always the final 0: a
    // copy moves it tens of thousands of times, and each repaint of a visible bar costs.
    static constexpr std::uint64_t kPaintIntervalMs = 50;

    void AddMessage(std::string text, MessageColor color) override;
    void LogDetail(std::string text) override;
    void SetProgressRange(int maximum) override;
    // A position not yet handed on is replaced by a newer one, unless something else was
    // reported after it.
    void SetProgressPos(int position) override;
    void EnableClose() override;

    // Hands every report kept so far to `view`, oldest first, and forgets them; `nowMs` is a
    // monotonic clock. A position last in the queue, other than 0, that would come within
    // kPaintIntervalMs of the one handed on before stays for the next call.
    void ReplayInto(IInstallView& view, std::uint64_t nowMs);

private:
    enum class Kind { Line, Detail, Range, Position, Close };
    struct Report {
        Kind kind;
        int value;
        MessageColor color;
        std::string text;
    };
    void Keep(Report report);

    std::mutex mutex_;
    std::vector<Report> pending_;
    // Only the dialog's thread reads and writes it.
    std::uint64_t lastPositionMs_ = 0;
    bool positionHandedOn_ = false;
};
