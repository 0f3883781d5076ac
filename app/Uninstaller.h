// The uninstaller: uninstall.exe in the install folder is the setup's own program, and runs in
// its other mode when it has that name or is given /UNINSTALL.
#pragma once

#include "install/CommandLine.h"
#include "install/RunLog.h"

#include <string>

// Whether the program runs as the uninstaller.
bool RunsAsUninstaller(const setup::CommandLine& options, const std::string& modulePath);

// Removes the suite: from the program's own folder, or /D='s. Started from the install folder,
// it runs the work from a copy of itself in the temporary folder, which can remove this file,
// waits for it and exits with its exit code. With /S there is no window and no question; else
// one confirmation, then the setup's dialog with its message list.
int RunUninstaller(const setup::CommandLine& options, RunLog& log);
