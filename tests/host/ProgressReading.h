// Readings of the archive's progress block, for the tests of what the setup makes of them.
#pragma once

#include "payload/UnpackProgress.h"

#include <cstdint>

// A reading of the archive's progress block: size 2092, total and written in KiB, entries done.
inline unpack::ProgressBlock Reading(std::uint32_t totalKiB, std::uint32_t writtenKiB,
                                     std::uint32_t blockSize = 2092,
                                     std::uint32_t entriesDone = 0) {
    unpack::ProgressBlock block;
    block.blockSize = blockSize;
    block.totalKiB = totalKiB;
    block.writtenKiB = writtenKiB;
    block.entriesDone = entriesDone;
    return block;
}
