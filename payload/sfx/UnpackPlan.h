// How sfx.exe shares the files of an archive among threads: the portable decisions (SfxMain.cpp
// runs them). The files are cut into batches of neighbours in archive order; each thread takes
// the next batch when it is free and unpacks its files one after another, so that large entries
// run side by side on different threads while small ones go in runs that share their folders.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace unpack {

inline constexpr unsigned kMaxThreads = 8;
// What the threads may hold together: each its own (kThreadMemory) and the decoder of the entry
// it unpacks. With the program's own few MiB the whole stays within 64 MiB.
inline constexpr std::uint64_t kThreadsMemoryBudget = 56u << 20;
// A thread's stack reserve, its reader's buffers and file.
inline constexpr std::uint64_t kThreadMemory = 512u << 10;
// An entry of at least this many bytes is a batch of its own; smaller neighbours go together up
// to this many bytes, or kBatchEntries entries.
inline constexpr std::uint64_t kBatchBytes = 1u << 20;
inline constexpr std::size_t kBatchEntries = 32;

// Positions [first, end) in the list of files.
struct Batch {
    std::size_t first = 0, end = 0;
    bool operator==(const Batch&) const = default;
};

// The batches of the files whose sizes are `sizes`, in archive order.
inline std::vector<Batch> Batches(const std::vector<std::uint64_t>& sizes) {
    std::vector<Batch> batches;
    std::uint64_t bytes = 0; // in the last batch
    for (std::size_t at = 0; at < sizes.size(); ++at) {
        // A large entry joins no batch, and nothing joins its own (its bytes reach the limit).
        if (!batches.empty() && at - batches.back().first < kBatchEntries &&
            bytes + sizes[at] < kBatchBytes) {
            ++batches.back().end;
            bytes += sizes[at];
        } else {
            batches.push_back({at, at + 1});
            bytes = sizes[at];
        }
    }
    return batches;
}

// How many threads unpack: one a processor, at most kMaxThreads, no more than there are batches,
// and no more than the budget holds when each runs the decoder that needs the most memory
// (`largestDecoder`); at least one.
inline unsigned ThreadCount(unsigned processors, std::size_t batches,
                            std::uint64_t largestDecoder) {
    const std::uint64_t withinBudget = kThreadsMemoryBudget / (kThreadMemory + largestDecoder);
    const std::uint64_t threads = std::min<std::uint64_t>(
        {processors, kMaxThreads, static_cast<std::uint64_t>(batches), withinBudget});
    return threads > 0 ? static_cast<unsigned>(threads) : 1;
}

} // namespace unpack
