// The second half of sfx.exe's run, once every entry is unpacked and checked in the staging
// folder: the plan, the moves into place, the commit, and what follows it or, on a failure
// before the commit, the rollback (payload/sfx/InstallJournal.h says how the pieces fit).
#pragma once

#include "payload/InstallRecord.h"
#include "payload/NameEncoding.h"
#include "payload/sfx/InstallJournal.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace journal {

// What the staging holds: relative, '\'-separated paths.
struct StagedPayload {
    std::vector<record::File> files;  // each once, in archive order, the completion flag too
    std::vector<std::string> folders; // folder entries and the folders on the way, each once
    std::string completionFlag;       // its path among the files, or empty: moved in last
};

class StagedInstall {
public:
    // `top` is the install folder, held; `base` its path with a trailing '\'.
    StagedInstall(HANDLE top, std::wstring base, StagedPayload payload);

    StagedInstall(const StagedInstall&) = delete;
    StagedInstall& operator=(const StagedInstall&) = delete;
    ~StagedInstall();

    // Reads the record of the install before (whole, or not at all) and starts judging the
    // payload's folders and the record's in the install folder on a thread of its own, while the
    // staging is written: which stand, and which hold only what the payload ships. Nothing in
    // the install folder is changed by it.
    void StartJudging();
    // Judges the folders (waits for the judging started before), a link among the payload's
    // refused, and writes the plan.
    bool WritePlan(Trouble& trouble);
    // Moves each file that a file of the payload replaces, and each file of the install before
    // that the payload no longer ships and that nobody changed, into the backup, and each staged
    // file into its place. A folder this run makes (the plan's new folders) is moved whole, with
    // everything in it, but for those on the way to the completion flag, which are made.
    bool MoveIntoPlace(Trouble& trouble);
    // Renames the plan over the record.
    bool Commit(Trouble& trouble);
    // After the commit: removes the backups (those Windows cannot remove now at the next
    // restart), the staging, the install's folders that are left empty, then moves the
    // completion flag into place. False with `trouble` when the flag could not be placed.
    bool Finish(Trouble& trouble);
    unsigned RestartPending() const { return restartPending_; }
    // Before the commit: puts the folder back as it was.
    bool RollBack(Trouble& trouble);

    const record::InstallRecord& Plan() const { return plan_; }

private:
    // Each thread holds folders of its own: `place` in the install, `staging`, `backup`.
    bool MoveAside(HeldFolders& backup, HANDLE opened, const std::string& path, Trouble& trouble);
    bool MoveAsideIfThere(HeldFolders& place, HeldFolders& backup, const std::string& path,
                          Trouble& trouble);
    // `replace`: a name standing in the way goes (the completion flag's).
    bool MoveStaged(HeldFolders& place, HeldFolders& staging, const std::string& path,
                    Trouble& trouble, bool replace = false);
    // Moves the staged folder `folder`, a folder this run makes, into its place whole.
    bool MoveStagedFolder(HeldFolders& place, const std::string& folder, Trouble& trouble);
    bool MoveAsideIfUnchanged(const record::File& file, Trouble& trouble);
    enum class Swap { Swapped, NotSwapped, Failed };
    // Moves `folder` of the install into the backup whole and its staged copy into its place,
    // when the plan found it holding nothing but the payload's files and folders and no link;
    // NotSwapped, with nothing moved, otherwise. Failed when the old folder cannot be put back.
    Swap SwapFolder(const std::string& folder, Trouble& trouble);

    void ReadPreviousRecord();
    bool JudgeFolders(Trouble& trouble);
    static unsigned __stdcall JudgeOnItsThread(void* self);

    HANDLE top_;
    std::wstring base_;
    StagedPayload payload_;
    PathSet shippedFiles_, shippedFolders_; // the payload's
    std::optional<record::InstallRecord> previous_;
    record::InstallRecord plan_;
    bool planWritten_ = false;
    HeldFolders staged_, backup_;
    ScopedHandle judging_; // the thread StartJudging started, until it is waited for
    Trouble judgingTrouble_;
    PathSet standing_;                 // folders that stand (no link), of the payload or the record
    PathSet swappable_;                // folders that hold only what the payload ships
    std::vector<std::string> swapped_; // folders moved whole into the backup
    unsigned restartPending_ = 0;
};

} // namespace journal
