// The progress bar's arithmetic during the payload copy and the archive's unpacking, and which
// looks for the archive's completion flag count: plain arithmetic, no Windows.
#pragma once

#include "payload/UnpackProgress.h"

#include <cstdint>
#include <optional>

namespace progress {

// Progress of the payload copy: the bar's range and positions are in whole units of 1024 bytes,
// scaled to a multiple of 1024 when the payload would not fit the bar's 16-bit range.
class CopyProgress {
public:
    static constexpr std::int64_t kStepBytes = 10000;

    explicit CopyProgress(std::int64_t payloadLength);
    int RangeMaximum() const { return rangeMaximum_; }
    std::int64_t UnitBytes() const { return unitBytes_; }

    // The counter went from `before` to `after` bytes: `send` gets the position for every
    // multiple of the step passed, skipping a position equal to the one sent before it.
    template <class Send> void Advance(std::int64_t before, std::int64_t after, Send&& send) {
        for (std::int64_t mark = (before / kStepBytes + 1) * kStepBytes; mark <= after;
             mark += kStepBytes) {
            const int position = static_cast<int>(mark / unitBytes_);
            if (position != lastPosition_) {
                lastPosition_ = position;
                send(position);
            }
        }
    }

private:
    std::int64_t unitBytes_;
    int rangeMaximum_;
    int lastPosition_ = -1;
};

// Progress of the archive's unpacking, from the block the archive publishes: the bar keeps the
// range the copy gave it (CopyProgress of the payload length) and fills evenly with the share of
// the archive's total size written so far.
class UnpackProgress {
public:
    explicit UnpackProgress(int rangeMaximum) : rangeMaximum_(rangeMaximum) {}

    // The position for one reading of the block, when the bar should move to it. A block of
    // another size or with a total of 0 moves nothing; more written than the total counts as the
    // total. The bar never moves back, and a position it already shows is not sent again.
    std::optional<int> Advance(const unpack::ProgressBlock& block);

private:
    int rangeMaximum_;
    int lastPosition_ = 0;
};

// Whether a look for the completion flag counts toward the look limit. An archive that publishes
// its progress block is slow, not stalled, while it gets on: a look counts only when the archive
// has made no progress since the look before. For any other archive every look counts.
class LookCounter {
public:
    bool Counts(const unpack::ProgressBlock& block);

private:
    std::uint32_t writtenKiB_ = 0;
    std::uint32_t entriesDone_ = 0;
};

} // namespace progress
