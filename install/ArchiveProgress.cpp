#include "install/ArchiveProgress.h"

#include "install/Progress.h"

ScopedHandle ArchiveProgress::MakeBlock(DWORD processId) {
    const std::string name = unpack::ProgressBlockName(processId);
    ScopedHandle block(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            unpack::kProgressBlockSize, name.c_str()));
    if (block && ::GetLastError() == ERROR_ALREADY_EXISTS)
        block.Reset();
    return block;
}

void ArchiveProgress::Follow(ScopedHandle block, int rangeMaximum) {
    Stop();
    bar_ = progress::UnpackProgress(rangeMaximum);
    looks_ = progress::LookCounter();
    mapping_ = std::move(block);
    if (mapping_)
        view_.Reset(
            ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, unpack::kProgressBlockSize));
}

ArchiveProgress::Reading ArchiveProgress::Poll() {
    Reading reading;
    if (!view_)
        return reading;
    const unpack::ProgressBlock block = Read(false);
    reading.barPosition = bar_.Advance(block);
    reading.published = block.blockSize == unpack::kProgressBlockSize;
    reading.countsAsLook = looks_.Counts(block);
    return reading;
}

std::optional<std::string> ArchiveProgress::RefusedFolder() const {
    if (!view_)
        return std::nullopt;
    return texts::RefusedFolder(Read(true));
}

texts::ArchiveFailure ArchiveProgress::Failure(DWORD archiveExit) const {
    return texts::ReadArchiveFailure(Read(true), archiveExit);
}

std::uint32_t ArchiveProgress::RestartPending() const {
    const unpack::ProgressBlock block = Read(false);
    return block.blockSize == unpack::kProgressBlockSize ? block.restartPending : 0;
}

void ArchiveProgress::Stop() {
    view_.Reset();
    mapping_.Reset();
}

unpack::ProgressBlock ArchiveProgress::Read(bool withPaths) const {
    if (!view_)
        return {};
    // One aligned 32-bit load per value: each is whole, whatever the archive writes meanwhile.
    const auto* shared = static_cast<const volatile unpack::ProgressBlock*>(view_.Get());
    unpack::ProgressBlock block;
    block.blockSize = shared->blockSize;
    block.totalKiB = shared->totalKiB;
    block.writtenKiB = shared->writtenKiB;
    block.entriesDone = shared->entriesDone;
    block.refusedLength = shared->refusedLength;
    block.failureCause = shared->failureCause;
    block.windowsError = shared->windowsError;
    block.neededKiB = shared->neededKiB;
    block.freeKiB = shared->freeKiB;
    block.restartPending = shared->restartPending;
    block.failedLength = shared->failedLength;
    if (withPaths)
        for (std::uint32_t at = 0; at < unpack::kRefusedFolderCapacity; ++at) {
            block.refusedFolder[at] = shared->refusedFolder[at];
            block.failedPath[at] = shared->failedPath[at];
        }
    return block;
}
