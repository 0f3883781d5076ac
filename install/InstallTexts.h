// The texts the install engine logs and the strings it builds: plain text work, no Windows.
#pragma once

#include "payload/UnpackProgress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace texts {

inline constexpr char kInstallPrefix[] = "Installing Torvane into ";
inline constexpr char kCreatingDirectory[] = "Creating directory ...";
inline constexpr char kDirectoryExists[] = "Warning: Directory already exists.";
inline constexpr char kDirectoryInvalid[] = "Error: Directory path is invalid.";
inline constexpr char kCopying[] = "Copying necessary files ...";
inline constexpr char kCannotCreateArchive[] = "Error: Unable to create new archive for copying.";
inline constexpr char kDecompressing[] = "Decompressing archive ...";
inline constexpr char kCannotDecompress[] = "Unable to decompress archive.";
inline constexpr char kDecompressionCompleted[] = "Decompression completed.";
inline constexpr char kDecompressionTimeOut[] = "Decompression process time out!";
inline constexpr char kDecompressionFailure[] = "Decompression process failure!";
inline constexpr char kNoComponents[] = "No components installed!";
inline constexpr char kCreatingDesktopLinks[] = "Creating desktop shortcuts ...";
inline constexpr char kCreatingMenuLinks[] = "Creating start menu shortcuts ...";
inline constexpr char kDesktopNotFound[] = "Warning: Desktop folder not found.";
inline constexpr char kMenuNotFound[] = "Warning: Start menu folder not found.";
inline constexpr char kCleaningUp[] = "Cleaning up ...";
inline constexpr char kSuccess[] = "Installation completed successfully!";
inline constexpr char kFailure[] = "Installation failed!";
inline constexpr char kAnotherRun[] = "Another installation is in progress.";
inline constexpr char kUninstallPrefix[] = "Removing Torvane from ";
inline constexpr char kUninstallSuccess[] = "Uninstallation completed successfully!";
inline constexpr char kUninstallFailure[] = "Uninstallation failed!";

// "Installing Torvane into <folder> ..."
std::string InstallLine(const std::string& installFolder);

// "Removing Torvane from <folder> ...": the uninstaller's first line.
std::string UninstallLine(const std::string& installFolder);
// No install record in the folder (or none that reads whole): nothing to remove.
std::string NotInstalledLine(const std::string& installFolder);
// The uninstaller's own program, still running, goes at the next restart.
std::string RemovedAtRestartLine(const std::string& path);
// A part of the install's record that could not be written: the suite is installed, but the
// uninstaller and the next upgrade will not know all of it.
std::string CannotRecordLine(const std::string& path);
// An earlier run that was killed had left its work half done in the folder: put right first.
std::string InterruptedRunFinishedLine(const std::string& installFolder);
// ... or not: the file that could not be put back, with the Windows error.
std::string InterruptedRunLeftLine(const std::string& path, unsigned long error);
// The Apps & Features entry could not be written, with the Windows error.
std::string CannotRegisterLine(unsigned long error);
// "Error: Version 2.1.0 is installed, newer than this setup's 1.0.0."
std::string NewerVersionInstalledLine(const std::string& installedLabel, const std::string& label);
// "Error: Number <code>", the code as a signed decimal number.
std::string ErrorNumberLine(long code);
std::string CannotOpenImageLine(const std::string& sourcePath);
std::string NoValidPayloadLine(const std::string& sourcePath);
std::string CannotWriteArchiveLine(const std::string& archivePath);
std::string CannotDeleteLine(const std::string& path);
// "Warning: Unable to create shortcut <link file>."
std::string CannotCreateShortcutLine(const std::string& linkFile);
// A link, or a file left there that cannot be removed, where the install would write, delete or
// believe a file: "Error: A link or a file that cannot be replaced was found at <path>; nothing
// was written through it."
std::string LinkInTheWayLine(const std::string& path);
// The archive's command line: the quoted path, a blank and "-Y".
std::string ArchiveCommandLine(const std::string& archivePath);
// The system's error text up to its first control character (0x00-0x1F): its CR-LF goes.
std::string CutSystemText(const char* text);
// What a failed Windows call shows: `line` in the message list and the log, and `logDetail`,
// which only the log adds after it, when the line does not show the code.
struct FailedCallText {
    std::string line;
    std::string logDetail; // "Windows error 5 (0x00000005): Access is denied.", or empty
};
// `code`, a Windows error or an HRESULT, with the system's text for it (UTF-8, null when it has
// none). `fixedLine` is the caller's own line; empty, the line is the system's text as
// CutSystemText leaves it, or ErrorNumberLine when that is empty. The line ErrorNumberLine gives
// shows the code already, and a code of 0 is none: no detail then. A negative code (an HRESULT
// that failed) is named in hex only.
FailedCallText FailedCall(long code, const char* systemText, const std::string& fixedLine = {});
// "Installed components:  " and the names joined by ",  ", or "No components installed!".
std::string ComponentSummaryLine(const std::vector<std::string>& foundNames);

// The folder an archive reported as the link it stopped at, when it is a plain relative path
// ('\'-separated names, no "." or "..", no drive or stream, printable bytes): the block may hold
// anything, and the name goes behind the install folder into a line of the log.
std::optional<std::string> RefusedFolder(const unpack::ProgressBlock& block);

// Why the archive failed, from its progress block, or from its exit code when it filled in no
// block: the file only when it is a plain relative path, as for RefusedFolder.
struct ArchiveFailure {
    std::uint32_t cause = unpack::kDamagedPayload; // unpack::FailureCause
    std::uint32_t windowsError = 0;
    std::uint32_t neededKiB = 0;
    std::uint32_t freeKiB = 0;
    std::optional<std::string> file; // relative to the install folder
};
ArchiveFailure ReadArchiveFailure(const unpack::ProgressBlock& block, std::uint32_t archiveExit);
// The red line after "Decompression process failure!": what went wrong and with which file;
// `holder` names the program that holds a file in use (empty: not known).
std::string ArchiveFailureLine(const ArchiveFailure& failure, const std::string& installFolder,
                               const std::string& holder);
// "Warning: 2 old files of the suite are removed at the next restart."
std::string RestartPendingLine(std::uint32_t files);
// The question the dialog asks when a program holds a file of the suite.
std::string CloseAndRetryText(const std::string& holder);
// Thousands separated by commas: 1234567 gives "1,234,567".
std::string GroupedNumber(std::uint64_t number);

} // namespace texts
