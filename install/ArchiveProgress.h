// Follows the progress block that the running archive publishes (payload/UnpackProgress.h):
// opened by the archive's process id once the archive has made it, held for the rest of the wait
// so that its last values stay readable after the archive has ended.
#pragma once

#include "framework/Handles.h"
#include "install/InstallTexts.h"

#include <windows.h>

#include <optional>

class ArchiveProgress {
public:
    // Follows the archive with process id `processId` on a bar of range 0..rangeMaximum.
    void Follow(DWORD processId, int rangeMaximum);
    // The bar's next position from the block as it stands, when it has moved on. Nothing while
    // the archive has published no block (any other archive never does) or a block that makes
    // no sense.
    std::optional<int> Poll();
    // Lets go of the block.
    void Stop();

private:
    bool OpenBlock();

    DWORD processId_ = 0;
    texts::UnpackProgress bar_{0};
    ScopedHandle mapping_;
    ScopedMappedView view_;
};
