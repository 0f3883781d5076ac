#include "install/ArchiveProgress.h"

void ArchiveProgress::Follow(DWORD processId, int rangeMaximum) {
    Stop();
    processId_ = processId;
    bar_ = texts::UnpackProgress(rangeMaximum);
}

std::optional<int> ArchiveProgress::Poll() {
    if (!view_ && !OpenBlock())
        return std::nullopt;
    // One aligned 32-bit load per value: each is whole, whatever the archive writes meanwhile.
    const auto* shared = static_cast<const volatile unpack::ProgressBlock*>(view_.Get());
    unpack::ProgressBlock block;
    block.blockSize = shared->blockSize;
    block.totalKiB = shared->totalKiB;
    block.writtenKiB = shared->writtenKiB;
    return bar_.Advance(block);
}

void ArchiveProgress::Stop() {
    view_.Reset();
    mapping_.Reset();
}

bool ArchiveProgress::OpenBlock() {
    if (processId_ == 0)
        return false;
    const std::string name = unpack::ProgressBlockName(processId_);
    mapping_.Reset(::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    if (!mapping_)
        return false;
    // A mapping smaller than the layout cannot be viewed whole: it is no block of ours.
    view_.Reset(::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, unpack::kProgressBlockSize));
    if (!view_) {
        mapping_.Reset();
        return false;
    }
    return true;
}
