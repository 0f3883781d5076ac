// How a run starts, from the dialog's Install button or from a silent run's command line: the
// same settings from the same folder text, and the same first line.
#pragma once

#include "install/CommandLine.h"
#include "install/InstallEngine.h"
#include "install/InstallView.h"
#include "win32/Handles.h"

#include <string>
#include <string_view>

// The pace of a run, with a window or without: one state's work each tick.
inline constexpr unsigned kTickMilliseconds = 100;

// What a run's thread and process hold for the whole run, with a window or without: COM on the
// thread, and the process at high priority, as the archive runs.
class PreparedRun {
public:
    PreparedRun();

private:
    ScopedCoInitialize com_;
};

// What a run is started with before anyone changes it: the command line's folder and desktop
// choice, or their defaults.
struct RunChoices {
    std::wstring installFolder;
    int createDesktopIcons = 1;
};
RunChoices ChoicesOf(const setup::CommandLine& options);

// The folder a run installs into when none is given: that of the suite's Apps & Features entry,
// when one is registered, else suite::kDefaultInstallFolder.
std::wstring DefaultInstallFolder();

// The program's own file, the installer image, in UTF-8 whatever folder it was saved in.
std::string OwnModulePath();

// The engine's settings for a folder text as typed or given: taken exactly as it is, in any
// script, less one trailing backslash; text that names no folder is refused by state 10.
InstallSettings MakeInstallSettings(const std::string& modulePath, std::wstring_view folderText,
                                    int createDesktopIcons, bool commonShortcutFolders,
                                    bool allowDowngrade = false);

// Hands the settings to the engine and logs the run's first line. False, with nothing logged,
// when another setup's run is under way on the machine (InstallEngine::Start).
bool StartRun(InstallEngine& engine, IInstallView& view, const InstallSettings& settings);
