// How sfx.exe tells the setup program how far it has got while it unpacks: a small block of
// named shared memory (backed by the paging file) that the archive creates and fills, and that
// the setup reads once per tick. The setup finds it by the archive's process id, which it has
// from starting the archive:
//
//   name    "Local\TorvaneUnpack-<process id in decimal>"
//   layout  three little-endian 32-bit values at offsets 0, 4 and 8 (12 bytes):
//             blockSize   12, the size of this layout; a reader ignores a block whose size
//                         field holds anything else (another layout, or not filled in yet)
//             totalKiB    the archive's uncompressed size, the sum of its entries' sizes, in
//                         KiB rounded up (at most 0xFFFFFFFF)
//             writtenKiB  the bytes written so far, in KiB rounded up; totalKiB at the end
//
// The archive writes totalKiB first and blockSize after it, then only writtenKiB as it goes.
// Each value is aligned and written with one store, so a reader on a 32-bit processor never
// sees half of an update, as it could of a 64-bit count. A reader takes whatever it finds with
// suspicion: an archive that is not ours may have made a block of that name.
#pragma once

#include <cstdint>
#include <string>

namespace unpack {

inline constexpr char kProgressBlockPrefix[] = "Local\\TorvaneUnpack-";

inline std::string ProgressBlockName(std::uint32_t processId) {
    return kProgressBlockPrefix + std::to_string(processId);
}

struct ProgressBlock {
    std::uint32_t blockSize = 0;
    std::uint32_t totalKiB = 0;
    std::uint32_t writtenKiB = 0;
};
static_assert(sizeof(ProgressBlock) == 12, "the layout is shared by two programs");

inline constexpr std::uint32_t kProgressBlockSize = sizeof(ProgressBlock);

inline std::uint32_t KiBRoundedUp(std::uint64_t bytes) {
    const std::uint64_t kib = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
    return kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

} // namespace unpack
