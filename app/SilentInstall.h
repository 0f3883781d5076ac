// /S: the whole install with no window at all, for deployment tools. The same engine runs the
// same sequence and logs the same lines as the dialog's Install does; they go to the log only.
#pragma once

#include "install/CommandLine.h"
#include "install/ExitCode.h"
#include "install/RunLog.h"

#include "install/InstallEngine.h"

// Installs into the command line's folder (the default without /D=) and returns the run's exit
// code. `log` may be closed: the lines then go nowhere.
setup::ExitCode RunSilentInstall(const setup::CommandLine& options, bool commonShortcutFolders,
                                 RunLog& log);
// Runs `settings` (an install or an uninstall) to its end with no window; its exit code.
setup::ExitCode RunWithoutWindow(const InstallSettings& settings, RunLog& log);
