// The setup program's command line, for deployment tools that install with no one at the screen.
// Portable: the program hands GetCommandLineW's text to ParseCommandLine.
#pragma once

#include "install/MessageColor.h"

#include <string>
#include <string_view>

namespace setup {

struct CommandLine {
    bool silent = false;         // /S: no window at all
    bool noDesktop = false;      // /NODESKTOP: no desktop shortcuts
    bool allUsers = false;       // /ALLUSERS: the shortcuts every user of the machine sees
    bool allowDowngrade = false; // /ALLOWDOWNGRADE: install over a newer version
    bool uninstall = false;      // /UNINSTALL: remove the suite (the uninstaller's own mode)
    std::wstring installFolder;  // /D=<folder>, empty when not given
    std::wstring logFile;        // /LOG=<file>, empty when not given
};

struct ParsedCommandLine {
    CommandLine options;
    // Empty when the line is understood; otherwise its first mistake, e.g. "unknown switch
    // /X". The switches around a mistake are read all the same.
    std::string error;
};

// `commandLine` is the whole line, the program's own name first. Switches are case-insensitive
// and may stand in any order; everything after /D= is the folder, blanks included, so /D= comes
// last (a quoted /D="..." works too, and so does "/D=..." anywhere). /LOG= takes one word, or a
// quoted text with blanks.
ParsedCommandLine ParseCommandLine(std::wstring_view commandLine);

// Shown with an unknown switch, and written to the log of a silent run that cannot start.
inline constexpr char kUsage[] =
    "Usage: setup.exe [/S] [/NODESKTOP] [/ALLUSERS] [/ALLOWDOWNGRADE] [/LOG=<file>] [/D=<folder>]";

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

// Shortcuts go to the common folders with /ALLUSERS, and always for the local system account,
// whose own Desktop no one sees.
bool UseCommonShortcutFolders(const CommandLine& options, bool runningAsLocalSystem);

// One line of a run's log: local time with milliseconds, the colour's name ("*" after it for an
// emphasised line) and the text, e.g. "2026-12-08 14:03:11.250 red Error: Directory path is
// invalid.\n". `utf8Text` is the line as UTF-8.
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
std::string LogLine(const LocalTime& time, MessageColor color, std::string_view utf8Text);
// "black", "navy", "olive", "red", "green", or the colour as six hex digits when it is none of
// the message table's.
std::string ColorName(MessageColor color);

} // namespace setup
