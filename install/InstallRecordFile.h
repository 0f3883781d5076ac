// The install record on disk (payload/InstallRecord.h) and the uninstaller beside it: read without
// following links, written whole or not at all, both with permissions of their own, since the
// program that reads them runs elevated.
#pragma once

#include "install/CommandLine.h"
#include "install/ExitCode.h"
#include "install/InstallView.h"
#include "payload/InstallRecord.h"
#include "win32/Handles.h"

#include <windows.h>

#include <optional>
#include <string>

// Permissions inherited from nothing that let SYSTEM and the Administrators do anything, and
// nobody else write: the running account may too when it is no administrator (a setup run
// without elevation, into a folder of its own); with `othersRead`, every user may read and run
// it. Null when they cannot be made.
ScopedLocalMemory ProtectedFileSecurity(bool othersRead);

// The record in `installFolder`, when one is there, is a plain file (no link, one name) and
// reads as a whole record.
std::optional<record::InstallRecord> ReadInstallRecord(const std::string& installFolder);

// Replaces the record in `installFolder` by `installed` whole: written under another name,
// flushed, then renamed over it. False, with the Windows error set, when it could not be.
bool WriteInstallRecord(const std::string& installFolder, const record::InstallRecord& installed);

// Writes `bytes` as `path` whole (another name first, then renamed over it) with `security`.
bool ReplaceFileWhole(const std::string& path, const std::string& bytes,
                      PSECURITY_DESCRIPTOR security);

// The uninstaller: the setup program's own bytes (the image's first `programLength` bytes),
// without the image's signature entry, which would describe bytes it does not have.
bool WriteUninstaller(const std::string& imagePath, std::int64_t programLength,
                      const std::string& uninstallerPath);

// Finishes what an earlier run that was killed left in the folder (its staging, backups and
// plan: payload/sfx/InstallJournal.h) before anything reads the record: the folder is the old
// install again, or the committed new one. False, with a red line naming the file, when it
// cannot be put back; `failure` says why (a file in use, or no access).
bool FinishInterruptedInstall(const std::string& installFolder, IInstallView& view,
                              setup::ExitCode& failure);
