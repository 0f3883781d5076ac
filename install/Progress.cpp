#include "install/Progress.h"

#include <algorithm>

namespace progress {

CopyProgress::CopyProgress(std::int64_t payloadLength) {
    constexpr std::int64_t kKiB = 1024;
    constexpr std::int64_t kRangeLimit = 0xFFFF;
    const std::int64_t kibs = payloadLength > 0 ? payloadLength / kKiB : 0;
    const std::int64_t scale = kibs <= kRangeLimit ? 1 : (kibs + kRangeLimit - 1) / kRangeLimit;
    unitBytes_ = kKiB * scale;
    rangeMaximum_ = static_cast<int>(payloadLength > 0 ? payloadLength / unitBytes_ : 0);
}

std::optional<int> UnpackProgress::Advance(const unpack::ProgressBlock& block) {
    if (block.blockSize != unpack::kProgressBlockSize || block.totalKiB == 0 || rangeMaximum_ <= 0)
        return std::nullopt;
    const std::uint64_t written = std::min(block.writtenKiB, block.totalKiB);
    const int position =
        static_cast<int>(written * static_cast<std::uint64_t>(rangeMaximum_) / block.totalKiB);
    if (position <= lastPosition_)
        return std::nullopt;
    lastPosition_ = position;
    return position;
}

bool LookCounter::Counts(const unpack::ProgressBlock& block) {
    if (block.blockSize != unpack::kProgressBlockSize)
        return true;
    const bool progressed = block.writtenKiB != writtenKiB_ || block.entriesDone != entriesDone_;
    writtenKiB_ = block.writtenKiB;
    entriesDone_ = block.entriesDone;
    return !progressed;
}

} // namespace progress
