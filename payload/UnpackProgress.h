// How sfx.exe tells the setup program how far it has got while it unpacks, and where it stopped
// when a folder on the way was a link: a small block of named shared memory (backed by the paging
// file) that the archive fills and the setup reads once per tick. The setup finds it by the
// archive's process id, which it has from starting the archive:
//
//   name    "Local\TorvaneUnpack-<process id in decimal>"
//   layout  little-endian 32-bit values and two byte fields (2092 bytes in all):
//             blockSize      2092, the size of this layout; a reader ignores a block whose size
//                            field holds anything else (another layout, or not filled in yet)
//             totalKiB       the archive's uncompressed size, the sum of its entries' sizes, in
//                            KiB rounded up (at most 0xFFFFFFFF)
//             writtenKiB     the bytes written so far, in KiB rounded up; totalKiB at the end
//             entriesDone    the entries unpacked so far: progress a run of empty files shows too
//             refusedLength  0; or, when the archive stopped at a folder below its working
//                            directory that is a link (exit code kExitLinkRefused), the length of
//             refusedFolder  (offset 20, 1024 bytes) that folder relative to the working
//                            directory, '\'-separated, in UTF-8, not terminated
//             failureCause   (offset 1044) why the archive failed (FailureCause), 0 while it
//                            goes on and when it succeeded
//             windowsError   the Windows error of the call that failed, 0 when none
//             neededKiB      when the free space was short: what the staging needs, in KiB
//             freeKiB        and what the volume had free, in KiB
//             restartPending the old files whose removal Windows completes at the next restart
//                            (they were held open; the new ones are in place)
//             failedLength   0; or the length of
//             failedPath     (offset 1068, 1024 bytes) the entry or the file of the install
//                            folder that failed, relative to the working directory, '\'-separated,
//                            in UTF-8, not terminated
//
// The setup makes the block before the archive runs (it starts the archive suspended), so that
// it can read the block to its last word even when the archive ends at once; the archive fills
// the block it finds, or makes one when someone else started it. The archive writes totalKiB
// first and blockSize after it, then writtenKiB and entriesDone as it goes, and refusedFolder
// before refusedLength, failedPath before failedLength, and failureCause after every field that
// describes it. Each value is aligned and written with one store, so a reader on a 32-bit
// processor never sees half of an update, as it could of a 64-bit count. A reader takes whatever
// it finds with suspicion: an archive that is not ours may write anything there.
#pragma once

#include <cstdint>
#include <string>

namespace unpack {

inline constexpr char kProgressBlockPrefix[] = "Local\\TorvaneUnpack-";

inline std::string ProgressBlockName(std::uint32_t processId) {
    return kProgressBlockPrefix + std::to_string(processId);
}

// The archive's exit code when it stopped at a folder that is a link, writing nothing through it
// and no completion flag.
inline constexpr int kExitLinkRefused = 5;

inline constexpr std::uint32_t kRefusedFolderCapacity = 1024;

// Why unpacking failed, as the setup reports it; the archive ends with kExitFailed (or
// kExitLinkRefused) and the install folder as it was before the run.
enum FailureCause : std::uint32_t {
    kNoFailure = 0,
    kDamagedPayload = 1, // an entry's data, CRC-32 or size is wrong, or a name is unsafe
    kDiskFull = 2,       // not enough free space for the staging, or a write ran out of space
    kNoAccess = 3,       // Windows refused a folder or a file (access denied)
    kInUse = 4,          // a file of the install is held open by a program
    kLinkFound = 5,      // a folder on the way is a link (refusedFolder)
};

struct ProgressBlock {
    std::uint32_t blockSize = 0;
    std::uint32_t totalKiB = 0;
    std::uint32_t writtenKiB = 0;
    std::uint32_t entriesDone = 0;
    std::uint32_t refusedLength = 0;
    char refusedFolder[kRefusedFolderCapacity] = {};
    std::uint32_t failureCause = kNoFailure;
    std::uint32_t windowsError = 0;
    std::uint32_t neededKiB = 0;
    std::uint32_t freeKiB = 0;
    std::uint32_t restartPending = 0;
    std::uint32_t failedLength = 0;
    char failedPath[kRefusedFolderCapacity] = {};
};
static_assert(sizeof(ProgressBlock) == 2092, "the layout is shared by two programs");

inline constexpr std::uint32_t kProgressBlockSize = sizeof(ProgressBlock);

inline std::uint32_t KiBRoundedUp(std::uint64_t bytes) {
    const std::uint64_t kib = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
    return kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

} // namespace unpack
