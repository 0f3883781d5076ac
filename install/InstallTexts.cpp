#include "install/InstallTexts.h"

#include "install/ProductEntryTexts.h"

#include "base/Text.h"

#include <algorithm>

namespace texts {

std::string InstallLine(const std::string& installFolder) {
    return kInstallPrefix + installFolder + " ...";
}

std::string UninstallLine(const std::string& installFolder) {
    return kUninstallPrefix + installFolder + " ...";
}

std::string NotInstalledLine(const std::string& installFolder) {
    return "Error: The Torvane Software Suite is not installed in " + installFolder + ".";
}

std::string InterruptedRunFinishedLine(const std::string& installFolder) {
    return "Warning: An interrupted installation in " + installFolder + " was put right first.";
}

std::string InterruptedRunLeftLine(const std::string& path, unsigned long error) {
    return "Error: An interrupted installation could not be put right at " + path +
           " (Windows error " + std::to_string(error) + ").";
}

std::string RemovedAtRestartLine(const std::string& path) {
    return "Warning: " + path + " is in use and is removed at the next restart.";
}

std::string CannotRecordLine(const std::string& path) {
    return "Warning: Unable to write " + path + ".";
}

std::string CannotRegisterLine(unsigned long error) {
    return "Warning: Unable to register the suite in Apps & Features (error " +
           std::to_string(error) + ").";
}

std::string NewerVersionInstalledLine(const std::string& installedLabel, const std::string& label) {
    return "Error: Version " + DisplayVersion(installedLabel) +
           " is installed, newer than this setup's " + DisplayVersion(label) + ".";
}

std::string ErrorNumberLine(long code) {
    return "Error: Number " + std::to_string(code);
}

std::string CannotOpenImageLine(const std::string& sourcePath) {
    return "Error: Unable to open file " + sourcePath + " for copying.";
}

std::string NoValidPayloadLine(const std::string& sourcePath) {
    return "Error: File " + sourcePath + " holds no valid payload.";
}

std::string CannotWriteArchiveLine(const std::string& archivePath) {
    return "Error: Unable to write new archive " + archivePath + ".";
}

std::string CannotDeleteLine(const std::string& path) {
    return "Warning: Unable to delete " + path + ".";
}

std::string CannotCreateShortcutLine(const std::string& linkFile) {
    return "Warning: Unable to create shortcut " + linkFile + ".";
}

std::string LinkInTheWayLine(const std::string& path) {
    return "Error: A link or a file that cannot be replaced was found at " + path +
           "; nothing was written through it.";
}

std::string ArchiveCommandLine(const std::string& archivePath) {
    return "\"" + archivePath + "\" -Y";
}

std::string CutSystemText(const char* text) {
    std::string cut;
    if (!text)
        return cut;
    for (const char* p = text; static_cast<unsigned char>(*p) >= 0x20; ++p)
        cut += *p;
    return cut;
}

FailedCallText FailedCall(long code, const char* systemText, const std::string& fixedLine) {
    const std::string system = CutSystemText(systemText);
    FailedCallText text;
    text.line = !fixedLine.empty() ? fixedLine : !system.empty() ? system : ErrorNumberLine(code);
    // No code (a check of ours failed, not a call), or the line shows it: nothing to add.
    if (code == 0 || text.line == ErrorNumberLine(code))
        return text;
    // The code in hex as well: an HRESULT is looked up that way, and only that way when it is
    // negative (a failure). No printf in the shipped program (see setup::LogLine).
    std::string hex = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        hex += "0123456789ABCDEF"[(static_cast<unsigned long>(code) >> shift) & 0xF];
    text.logDetail = "Windows error " + (code < 0 ? hex : std::to_string(code) + " (" + hex + ")");
    if (!system.empty())
        text.logDetail += ": " + system;
    if (!text.logDetail.ends_with('.'))
        text.logDetail += '.';
    return text;
}

std::string ComponentSummaryLine(const std::vector<std::string>& foundNames) {
    std::string line = "Installed components:  ";
    if (foundNames.empty())
        return line + kNoComponents;
    for (size_t i = 0; i < foundNames.size(); ++i) {
        if (i > 0)
            line += ",  ";
        line += foundNames[i];
    }
    return line;
}

namespace {

// A name from the block that may go behind the install folder into a line of the log.
std::optional<std::string> PlainRelativePath(const char* bytes, std::uint32_t length) {
    if (length == 0 || length > unpack::kRefusedFolderCapacity)
        return std::nullopt;
    const std::string folder(bytes, length);
    std::size_t start = 0;
    for (std::size_t at = 0; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '\\') {
            const unsigned char c = static_cast<unsigned char>(folder[at]);
            if (c < 0x20 || c == 0x7F || c == '/' || c == ':')
                return std::nullopt;
            continue;
        }
        const std::string segment = folder.substr(start, at - start);
        if (segment.empty() || segment == "." || segment == "..")
            return std::nullopt;
        start = at + 1;
    }
    return folder;
}

// The causes of the archive's exit codes, for a block that says nothing.
std::uint32_t CauseOfExit(std::uint32_t archiveExit) {
    switch (archiveExit) {
    case 6:
        return unpack::kDiskFull;
    case 7:
        return unpack::kInUse;
    case 8:
        return unpack::kNoAccess;
    case unpack::kExitLinkRefused:
        return unpack::kLinkFound;
    default:
        return unpack::kDamagedPayload;
    }
}

} // namespace

std::optional<std::string> RefusedFolder(const unpack::ProgressBlock& block) {
    if (block.blockSize != unpack::kProgressBlockSize)
        return std::nullopt;
    return PlainRelativePath(block.refusedFolder, block.refusedLength);
}

ArchiveFailure ReadArchiveFailure(const unpack::ProgressBlock& block, std::uint32_t archiveExit) {
    ArchiveFailure failure;
    failure.cause = CauseOfExit(archiveExit);
    if (block.blockSize != unpack::kProgressBlockSize)
        return failure;
    if (block.failureCause >= unpack::kDamagedPayload && block.failureCause <= unpack::kLinkFound)
        failure.cause = block.failureCause;
    failure.windowsError = block.windowsError;
    failure.neededKiB = block.neededKiB;
    failure.freeKiB = block.freeKiB;
    failure.file = PlainRelativePath(block.failedPath, block.failedLength);
    return failure;
}

std::string GroupedNumber(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string ArchiveFailureLine(const ArchiveFailure& failure, const std::string& installFolder,
                               const std::string& holder) {
    const std::string file = failure.file ? installFolder + "\\" + *failure.file : installFolder;
    const std::string error = failure.windowsError != 0
                                  ? " (Windows error " + std::to_string(failure.windowsError) + ")"
                                  : std::string();
    switch (failure.cause) {
    case unpack::kDiskFull:
        if (failure.neededKiB != 0)
            return "Error: Not enough free space for the suite in " + installFolder + ": " +
                   GroupedNumber(failure.neededKiB) + " KiB needed, " +
                   GroupedNumber(failure.freeKiB) + " KiB free.";
        return "Error: The disk is full: " + file + " could not be written" + error + ".";
    case unpack::kNoAccess:
        return "Error: Access to " + file + " was denied" + error + ".";
    case unpack::kInUse:
        return "Error: " + file + " is in use by " + (holder.empty() ? "another program" : holder) +
               error + ".";
    case unpack::kLinkFound:
        return LinkInTheWayLine(file);
    default:
        return failure.file
                   ? "Error: The payload is damaged at " + *failure.file +
                         "; download the setup again."
                   : std::string("Error: The payload is damaged; download the setup again.");
    }
}

std::string RestartPendingLine(std::uint32_t files) {
    return files == 1
               ? std::string("Warning: 1 old file of the suite is removed at the next restart.")
               : "Warning: " + std::to_string(files) +
                     " old files of the suite are removed at the next restart.";
}

std::string CloseAndRetryText(const std::string& holder) {
    return "Close " +
           (holder.empty() ? std::string("the program that uses the suite's files") : holder) +
           " and press Retry";
}

} // namespace texts
