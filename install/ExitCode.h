// What the setup program's exit code says of a run: deployment tools read it.
#pragma once

namespace setup {

// The exit codes of a run (the interactive program always exits with 0).
enum ExitCode : int {
    kExitSuccess = 0,
    kExitUsage = 2,         // the command line is not understood
    kExitFolder = 3,        // the install folder is invalid or cannot be made
    kExitImage = 4,         // the program's own image cannot be read or is damaged
    kExitCopy = 5,          // the payload cannot be copied out (disk full, no access)
    kExitArchive = 6,       // the archive failed or timed out (a damaged payload too)
    kExitPlantedObject = 7, // a link or a stale flag under the folder was refused
    kExitInUse = 8,         // a file of the suite is in use (an install puts everything back)
    kExitNewerInstalled =
        9,                // a newer version is installed (/ALLOWDOWNGRADE installs it all the same)
    kExitDeclined = 1602, // the uninstaller's question was answered No
    kExitNotInstalled = 1605, // the uninstaller finds no install in its folder (no readable record)
    kExitAnotherRun = 1618,   // another setup is installing on this machine: try again later
    kExitRestartNeeded = 3010, // installed; a restart completes it
};

} // namespace setup
