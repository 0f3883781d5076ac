// The progress block of the running archive (payload/UnpackProgress.h): made by the setup before
// the archive runs and held for the whole wait, so that every value the archive publishes, up to
// its last, stays readable after the archive has ended.
#pragma once

#include "install/InstallTexts.h"
#include "install/Progress.h"
#include "win32/Handles.h"

#include <windows.h>

#include <optional>
#include <string>

class ArchiveProgress {
public:
    // Makes the block for the archive with process id `processId`, which must not run yet.
    // Invalid when the name is taken already: a block someone else made is not followed.
    static ScopedHandle MakeBlock(DWORD processId);

    // Follows `block` (from MakeBlock; invalid: none) on a bar of range 0..rangeMaximum.
    void Follow(ScopedHandle block, int rangeMaximum);

    struct Reading {
        // The bar's next position, when it has moved on.
        std::optional<int> barPosition;
        // The archive has filled the block in (any other archive never does).
        bool published = false;
        // The look this reading goes with counts toward the look limit (progress::LookCounter).
        bool countsAsLook = true;
    };
    // The block as it stands.
    Reading Poll();
    // The folder the archive reported as the link it stopped at, relative to its working
    // directory; nothing when it reported none or nothing that makes sense.
    std::optional<std::string> RefusedFolder() const;
    // Why the archive that ended with `archiveExit` failed, as far as its block says.
    texts::ArchiveFailure Failure(DWORD archiveExit) const;
    // The old files whose removal the archive left to the next restart.
    std::uint32_t RestartPending() const;
    // Lets go of the block.
    void Stop();

private:
    // A copy of the block as it stands (a block of zeros without one); the paths' bytes only
    // when `withPaths`.
    unpack::ProgressBlock Read(bool withPaths) const;

    progress::UnpackProgress bar_{0};
    progress::LookCounter looks_;
    ScopedHandle mapping_;
    ScopedMappedView view_;
};
