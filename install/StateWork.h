// The file work of the install states: plain functions that take what they need, report their
// lines to `report` and return a result of their own type. They run on the worker thread and
// know nothing of the engine; the engine applies each result on the dialog's thread.
#pragma once

#include "install/CommandLine.h"
#include "install/Components.h"
#include "install/ExitCode.h"
#include "install/FailedCall.h"
#include "install/InstallView.h"
#include "payload/InstallRecord.h"
#include "win32/Handles.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// The archive process started by state 30; its handles live as long as the engine.
struct ArchiveProcess {
    // The job the archive runs in: closing it ends the archive and whatever it started, so the
    // archive ends with the setup however the setup ends. Invalid where Windows refused a job
    // (an older Windows that nests none, inside a job of a deployment tool).
    ScopedHandle job;
    ScopedHandle process;
    DWORD processId = 0;
    // Its progress block, made before it ran (ArchiveProgress::MakeBlock).
    ScopedHandle progressBlock;
};

// Every result says how its work failed; setup::kExitSuccess when it did not.
struct FolderMade {
    setup::ExitCode failure = setup::kExitSuccess;
    // The folders this run made, outermost first: the install folder and its missing parents.
    std::vector<std::string> made;
};
struct PayloadCopied {
    setup::ExitCode failure = setup::kExitSuccess;
    std::int64_t imageLength = 0;
    std::int32_t payloadLength = 0;
    // Where the payload starts in the image: the setup program's own bytes end there.
    std::int64_t payloadOffset = 0;
    // The record of the install in the folder before this run, if there is one.
    std::optional<record::InstallRecord> previous;
    // The payload's program is sfx.exe, which publishes its progress (ArchiveProgress) and
    // says by its exit code whether every entry is written.
    bool publishesProgress = false;
    // The copy, open for reading only and shared only for reading (InstallEngine::archiveLock).
    ScopedFileHandle lock;
};
struct ArchiveStarted {
    setup::ExitCode failure = setup::kExitSuccess;
    ArchiveProcess archive;
};
struct FlagLook {
    bool flagFound = false;
    // The archive made no progress since the look before: this look counts toward the limit.
    bool countsAsLook = true;
};
struct FlagsFound {
    std::array<bool, kComponentCount> found{};
};
// Shortcut and clean-up work report lines only.
struct WorkReported {};
struct ShortcutsWritten {
    std::vector<std::string> links; // the shortcut files written, full paths
};

// What state 57 needs to complete the record of the run.
struct RecordRequest {
    std::string installFolder;
    std::string imagePath;
    std::int64_t programLength = 0; // the setup program's bytes at the start of the image
    std::string label;
    std::string publisher;
    std::vector<std::string> foldersMade;
    std::vector<std::string> shortcutsWritten;
    // The record of the install this run replaces, read before its archive ran.
    std::optional<record::InstallRecord> previous;
    ComponentTable components;
};
struct InstallRecorded {};
struct SuiteRemoved {
    setup::ExitCode failure = setup::kExitSuccess;
    // A file the uninstaller could not remove yet goes at the next restart.
    bool restartNeeded = false;
};

using WorkResult = std::variant<WorkReported, FolderMade, PayloadCopied, ArchiveStarted, FlagLook,
                                FlagsFound, ShortcutsWritten, InstallRecorded, SuiteRemoved>;

// State 10: makes the install folder and its missing parents (an existing one is a warning).
FolderMade CreateFolder(const std::string& installFolder, IInstallView& report);
// Removes the folders a run made (FolderMade::made) that are empty, innermost first.
void RemoveFoldersMade(const std::vector<std::string>& made);
// State 20: copies the payload and its trailer out of `sourcePath` into `archivePath` with byte
// progress, and holds the copy.
PayloadCopied CopyPayloadFile(const std::string& sourcePath, const std::string& archivePath,
                              IInstallView& report);
// State 30: removes stale flags and starts the archive hidden, suspended until its progress
// block is made, in `installFolder`.
ArchiveStarted StartArchiveProcess(const std::string& archivePath, const std::string& installFolder,
                                   IInstallView& report);
// A look of state 40: whether the completion flag is there; a flag found is deleted with its
// folder. A ZZZ that is a link is never entered.
bool LookForCompletionFlag(const std::string& installFolder, IInstallView& report);
// State 45: which component flags are there, each deleted once found.
FlagsFound FindComponentFlags(const std::string& installFolder, IInstallView& report);
// States 50 and 55: the shortcut of every found component in the special folder `folder`
// (CSIDL_*), in its folder `subfolder` (empty: none); `notFound` when the folder cannot be
// resolved.
ShortcutsWritten WriteShortcuts(int folder, const char* subfolder, const char* notFound,
                                const std::string& installFolder, const ComponentTable& components,
                                IInstallView& report);

// State 57: completes the record the archive left with the label, the shortcuts and the folders
// this run made, removes the shortcuts of components the suite no longer has, and writes the
// uninstaller. What cannot be written is a warning: the suite is installed.
InstallRecorded RecordInstall(const RecordRequest& request, IInstallView& report);

// State 70, the uninstaller's: removes what the install record of `installFolder` lists
// (RemoveRecordedSuite), then the uninstaller, the record, the Apps & Features entry and the
// folders the setup made. A folder with no readable record is no install
// (setup::kExitNotInstalled).
SuiteRemoved UninstallSuite(const std::string& installFolder, IInstallView& report);

// Deletes the file if it can be opened for reading; a refused delete is a warning line. Whether
// it could be opened, that is, whether it was there. A link at its name is neither followed nor
// believed: it loses only itself (nofollow::RemoveFile).
bool DeleteFileIfExists(const std::string& path, IInstallView& report);
// Deletes the payload copy, which may be large, or says why it could not.
void DeleteCopy(const std::string& path, IInstallView& report);
// Marks the payload copy for deletion at once, for a program about to end; nothing when it is
// not there or not ours to delete (a link at its name loses only itself).
void DeleteCopyNow(const std::string& path);
