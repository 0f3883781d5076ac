// The setup program's command line, for deployment tools that install with no one at the screen.
// Portable: the program hands GetCommandLineW's text to ParseCommandLine.
#pragma once

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

// Shortcuts go to the common folders with /ALLUSERS, and always for the local system account,
// whose own Desktop no one sees.
bool UseCommonShortcutFolders(const CommandLine& options, bool runningAsLocalSystem);

} // namespace setup
