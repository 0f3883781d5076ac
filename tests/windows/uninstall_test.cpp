// Removing what the install record lists, against real folders: files as installed and changed
// since, hard links and folder links planted as a standard user would plant them, a file in use,
// the shortcuts in the prefix's shell folders, and the folders an uninstall refuses.
#include "TestSupport.h"
#include "UnixLinks.h"
#include "install/AppsAndFeatures.h"
#include "install/InstallRecordFile.h"
#include "install/Shortcuts.h"
#include "install/StateWork.h"
#include "install/Uninstall.h"

#include <shlobj.h>
#include <zlib.h>

using namespace enginetest;

namespace {

const LoggedLine kRemovingFiles{"Removing files ...", 0x00000000u};
const LoggedLine kRemovingShortcuts{"Removing shortcuts ...", 0x00000000u};

LoggedLine Warning(const std::string& text) {
    return {text, 0x00008080u};
}
LoggedLine Error(const std::string& text) {
    return {text, 0x000000C0u};
}

class UninstallTest : public EngineTest {
protected:
    UninstallTest() { installed.label = "v2.1.0"; }

    // Writes `bytes` at `path` in the install folder and records it as the install wrote it.
    void Installed(const std::string& path, const std::string& bytes) {
        WriteFileBytes(folder + "\\" + path, bytes);
        Recorded(path, bytes);
    }
    // Records `path` with the size and CRC-32 of `bytes`, whatever the folder holds there.
    void Recorded(const std::string& path, const std::string& bytes) {
        const auto crc = ::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()),
                                 static_cast<uInt>(bytes.size()));
        installed.files.push_back({path, bytes.size(), static_cast<std::uint32_t>(crc)});
    }
    void MadeFolder(const std::string& path) {
        ASSERT_TRUE(::CreateDirectoryA((folder + "\\" + path).c_str(), nullptr)) << path;
        installed.folders.push_back(path);
    }
    void Shortcut(const std::string& linkPath, const std::string& target) {
        ASSERT_TRUE(SUCCEEDED(CreateShortcut(target, Wide(linkPath), folder, "Torvane")))
            << linkPath;
        installed.shortcuts.push_back(linkPath);
    }
    UninstallOutcome Uninstall() { return RemoveRecordedSuite(folder, installed, view); }

    record::InstallRecord installed;
};

TEST_F(UninstallTest, OnlyTheRecordsUnchangedPlainFilesAndEmptyMadeFoldersGo) {
    const std::string elsewhere = temp / "elsewhere";
    ASSERT_TRUE(::CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFileBytes(elsewhere + "\\data.bin", "linked data");
    WriteFileBytes(temp / "outside.dat", "outside data");

    MadeFolder("docs");
    MadeFolder("empty");
    MadeFolder("kept");
    MadeFolder("deep");
    MadeFolder("deep\\er");
    Installed("Torvane.exe", PatternBytes(200000, 1));
    Installed("deep\\er\\nested.txt", "nested");
    Installed("docs\\readme.txt", "read me");
    Installed("ReadOnly.txt", "read only");
    SetReadOnly(folder + "\\ReadOnly.txt");
    // Changed: other bytes of the same size, and another size.
    Recorded("docs\\a.txt", "as installed");
    WriteFileBytes(folder + "\\docs\\a.txt", "as CHANGED!!");
    Recorded("docs\\b.txt", "short");
    WriteFileBytes(folder + "\\docs\\b.txt", "longer than it was");
    Recorded("docs\\missing.txt", "removed by the user already");
    // The user's own files, one in a folder the install made.
    WriteFileBytes(folder + "\\docs\\user.txt", "the user's");
    WriteFileBytes(folder + "\\kept\\user.txt", "the user's");
    // A second name of a file outside, with the recorded name and content.
    ASSERT_TRUE(::CreateHardLinkA((folder + "\\hard.dat").c_str(), (temp / "outside.dat").c_str(),
                                  nullptr));
    Recorded("hard.dat", "outside data");
    // A made folder replaced by a link to a folder holding a file of the recorded name and content.
    unixlinks::FolderLink linked(folder + "\\linked", elsewhere);
    ASSERT_TRUE(linked.Planted());
    installed.folders.push_back("linked");
    Recorded("linked\\data.bin", "linked data");
    Recorded("linked\\more.bin", "more");
    // The uninstaller: its caller removes it.
    Installed("uninstall.exe", "the uninstaller");

    const UninstallOutcome outcome = Uninstall();

    const std::string kept = " is a link and is kept; nothing was removed through it.";
    EXPECT_EQ(view.lines,
              (Lines{kRemovingFiles,
                     Warning("Warning: " + folder +
                             "\\docs\\a.txt was changed since the install "
                             "and is kept."),
                     Warning("Warning: " + folder +
                             "\\docs\\b.txt was changed since the install "
                             "and is kept."),
                     Warning("Warning: " + folder + "\\hard.dat" + kept),
                     Warning("Warning: " + folder + "\\linked" + kept),
                     Warning("Warning: " + folder + "\\docs is not empty and is kept."),
                     Warning("Warning: " + folder + "\\kept is not empty and is kept.")}));
    EXPECT_EQ(ListTree(folder),
              (std::vector<std::string>{"docs\\", "docs\\a.txt", "docs\\b.txt", "docs\\user.txt",
                                        "hard.dat", "kept\\", "kept\\user.txt", "linked\\",
                                        "uninstall.exe"}));
    EXPECT_EQ(ReadFileBytes(temp / "outside.dat"), "outside data");
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\data.bin"), "linked data");
    EXPECT_EQ(outcome.failure, setup::kExitSuccess);
    EXPECT_EQ(outcome.filesRemoved, 4);
    EXPECT_EQ(outcome.filesKept, 5);
    EXPECT_EQ(outcome.foldersKept, 3);
    EXPECT_FALSE(outcome.Complete());
}

TEST_F(UninstallTest, AFileInUseIsAnErrorAndTheRestStillGoes) {
    Installed("Torvane.exe", "running");
    Installed("Pellisar.exe", "not running");
    const HeldFile running(folder + "\\Torvane.exe", GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(running.IsOpen());

    const UninstallOutcome outcome = Uninstall();

    EXPECT_EQ(view.lines,
              (Lines{kRemovingFiles,
                     Error("Error: " + folder + "\\Torvane.exe is in use and was not removed.")}));
    EXPECT_EQ(ListTree(folder), (std::vector<std::string>{"Torvane.exe"}));
    EXPECT_EQ(outcome.failure, setup::kExitInUse);
    EXPECT_EQ(outcome.filesRemoved, 1);
    EXPECT_EQ(outcome.filesKept, 1);
}

TEST_F(UninstallTest, ARefusedFolderOrADamagedRecordRemovesNothing) {
    Installed("Torvane.exe", "suite");
    MadeFolder("empty");
    const record::InstallRecord whole = installed;
    const auto with = [&](auto change) {
        record::InstallRecord changed = whole;
        change(changed);
        return changed;
    };
    const struct {
        std::string folder;
        record::InstallRecord installed;
        LoggedLine line;
        setup::ExitCode failure;
    } cases[] = {
        {"C:\\Windows", whole,
         Error("Error: Torvane cannot be uninstalled from C:\\Windows; nothing was removed."),
         setup::kExitFolder},
        {"Torvane", whole,
         Error("Error: Torvane cannot be uninstalled from Torvane; nothing was removed."),
         setup::kExitFolder},
        {folder, with([](record::InstallRecord& r) {
             r.files.push_back({"..\\outside.txt", 1, 0});
         }),
         Error("Error: The install record is damaged; nothing was removed."),
         setup::kExitNotInstalled},
        {folder, with([](record::InstallRecord& r) { r.folders.push_back("C:\\Windows"); }),
         Error("Error: The install record is damaged; nothing was removed."),
         setup::kExitNotInstalled},
        {folder, with([](record::InstallRecord& r) {
             r.shortcuts.push_back("C:\\Windows\\System32\\kernel32.dll");
         }),
         Error("Error: The install record is damaged; nothing was removed."),
         setup::kExitNotInstalled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        view.lines.clear();
        const UninstallOutcome outcome = RemoveRecordedSuite(c.folder, c.installed, view);
        EXPECT_EQ(view.lines, (Lines{c.line}));
        EXPECT_EQ(outcome.failure, c.failure);
        EXPECT_EQ(ListTree(folder), (std::vector<std::string>{"Torvane.exe", "empty\\"}));
    }
}

class UninstallShortcutsTest : public UninstallTest {
protected:
    SuiteShortcutsCleaner shortcuts;
    const std::string group = SuiteShortcutsCleaner::GroupFolder();
};

TEST_F(UninstallShortcutsTest, OnlyShortcutsIntoTheFolderGoAndTheirGroupOnceEmpty) {
    Installed("Torvane.exe", "suite");
    Installed("Dromlet.exe", "suite");
    ASSERT_TRUE(::CreateDirectoryA(group.c_str(), nullptr));
    Shortcut(SuiteShortcutsCleaner::DesktopLink("Torvane"), folder + "\\Torvane.exe");
    Shortcut(SuiteShortcutsCleaner::GroupLink("Torvane"), folder + "\\Torvane.exe");
    Shortcut(SuiteShortcutsCleaner::GroupLink("Dromlet"), folder + "\\Dromlet.exe");
    installed.shortcuts.push_back(SuiteShortcutsCleaner::GroupLink("Pellisar")); // never written

    EXPECT_EQ(Uninstall().shortcutsKept, 0);

    EXPECT_EQ(view.lines, (Lines{kRemovingShortcuts, kRemovingFiles}));
    EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::DesktopLink("Torvane")));
    EXPECT_FALSE(FolderExists(group));
}

TEST_F(UninstallShortcutsTest, AShortcutLeadingElsewhereStaysAndSoDoesItsGroup) {
    Installed("Torvane.exe", "suite");
    ASSERT_TRUE(::CreateDirectoryA(group.c_str(), nullptr));
    Shortcut(SuiteShortcutsCleaner::GroupLink("Torvane"), folder + "\\Torvane.exe");
    // Pointed by the user at another copy, in a folder whose name begins like the install's.
    Shortcut(SuiteShortcutsCleaner::GroupLink("Pellisar"), folder + "2\\Pellisar.exe");

    EXPECT_EQ(Uninstall().shortcutsKept, 1);

    EXPECT_EQ(view.lines,
              (Lines{kRemovingShortcuts,
                     Warning("Warning: The shortcut " + group +
                             "\\Pellisar.lnk does not lead into the install folder and is kept."),
                     kRemovingFiles}));
    EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::GroupLink("Torvane")));
    EXPECT_TRUE(FileExists(SuiteShortcutsCleaner::GroupLink("Pellisar")));
}

TEST_F(UninstallShortcutsTest, AGroupFolderThatIsALinkIsNotEntered) {
    Installed("Torvane.exe", "suite");
    const std::string elsewhere = temp / "elsewhere";
    ASSERT_TRUE(::CreateDirectoryA(elsewhere.c_str(), nullptr));
    Shortcut(elsewhere + "\\Torvane.lnk", folder + "\\Torvane.exe");
    installed.shortcuts = {SuiteShortcutsCleaner::GroupLink("Torvane")};
    unixlinks::FolderLink link(group, elsewhere);
    ASSERT_TRUE(link.Planted());

    EXPECT_EQ(Uninstall().shortcutsKept, 1);

    EXPECT_EQ(view.lines, (Lines{kRemovingShortcuts,
                                 Warning("Warning: " + group +
                                         " is a link and is kept; nothing was removed through it."),
                                 kRemovingFiles}));
    EXPECT_TRUE(FileExists(elsewhere + "\\Torvane.lnk"));
}

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path
                                                                                            : "";
}

// The record replaces the one before it whole, or leaves it as it was, and a name planted where
// the new one is written loses only itself.
TEST_F(UninstallTest, TheRecordIsReplacedWholeOrNotAtAll) {
    Recorded("Torvane.exe", "v2");
    ASSERT_TRUE(WriteInstallRecord(folder, installed));
    const std::string recordPath = folder + "\\install.rec";
    const std::string first = ReadFileBytes(recordPath);

    record::InstallRecord next = installed;
    next.label = "v2.2.0";
    {
        // Held by a reader that shares no deletion: the rename cannot replace it.
        const ScopedFileHandle reader(::CreateFileA(
            recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_FALSE(WriteInstallRecord(folder, next));
    }
    EXPECT_EQ(ReadFileBytes(recordPath), first);
    EXPECT_FALSE(FileExists(folder + "\\install.rec.tmp"));

    WriteFileBytes(temp / "outside.txt", "not the record's");
    ASSERT_TRUE(::CreateHardLinkA((folder + "\\install.rec.tmp").c_str(),
                                  (temp / "outside.txt").c_str(), nullptr));
    ASSERT_TRUE(WriteInstallRecord(folder, next));
    EXPECT_EQ(ReadFileBytes(temp / "outside.txt"), "not the record's");
    ASSERT_TRUE(ReadInstallRecord(folder));
    EXPECT_EQ(ReadInstallRecord(folder)->label, "v2.2.0");

    // A record with a second name may be anyone's file: it is no record.
    ASSERT_TRUE(::CreateHardLinkA((temp / "second-name.rec").c_str(), recordPath.c_str(), nullptr));
    EXPECT_FALSE(ReadInstallRecord(folder));
}

// After the shortcuts: the archive's record gains the label, this run's shortcuts and the folders
// it made; a component the suite no longer has loses its shortcut; the uninstaller is the image's
// program part; the entry names the folder.
TEST_F(UninstallShortcutsTest, RecordingCompletesTheArchivesRecordAndRegistersTheSuite) {
    Installed("Torvane.exe", "suite");
    ASSERT_TRUE(WriteInstallRecord(folder, installed)); // as the archive leaves it
    ASSERT_TRUE(::CreateDirectoryA(group.c_str(), nullptr));
    record::InstallRecord previous;
    previous.label = "v1.0.0";
    Shortcut(SuiteShortcutsCleaner::GroupLink("Dromlet"), folder + "\\Dromlet.exe");
    previous.shortcuts = {SuiteShortcutsCleaner::GroupLink("Dromlet"),
                          SuiteShortcutsCleaner::GroupLink("Torvane")};
    previous.madeFolders = {folder};
    WriteFileBytes(temp / "image.exe", "the setup program|the payload");

    RecordRequest request{.installFolder = folder,
                          .imagePath = temp / "image.exe",
                          .programLength = 17,
                          .label = "v2.1.0",
                          .publisher = "",
                          .foldersMade = {},
                          .shortcutsWritten = {SuiteShortcutsCleaner::DesktopLink("Torvane")},
                          .previous = previous,
                          .components = SuiteComponents()};
    request.components[1].found = 1; // Torvane only
    RecordInstall(request, view);

    EXPECT_EQ(view.lines, (Lines{}));
    EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::GroupLink("Dromlet")));
    const std::optional<record::InstallRecord> written = ReadInstallRecord(folder);
    ASSERT_TRUE(written);
    EXPECT_EQ(written->label, "v2.1.0");
    EXPECT_EQ(written->files.size(), 1u);
    EXPECT_EQ(written->shortcuts,
              (std::vector<std::string>{SuiteShortcutsCleaner::DesktopLink("Torvane"),
                                        SuiteShortcutsCleaner::GroupLink("Torvane")}));
    EXPECT_EQ(written->madeFolders, (std::vector<std::string>{folder}));
    EXPECT_EQ(ReadFileBytes(folder + "\\uninstall.exe"), "the setup program");

    const auto entry = ReadProductEntry();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->first.installLocation, folder);
    EXPECT_EQ(entry->first.displayVersion, "2.1.0");
    EXPECT_EQ(entry->first.uninstallString, "\"" + folder + "\\uninstall.exe\"");
    EXPECT_EQ(entry->first.quietUninstallString, "\"" + folder + "\\uninstall.exe\" /S");
    EXPECT_TRUE(DeleteProductEntry(folder));
}

TEST(UninstallFolder, RootsAndTheSystemsAndProfilesFoldersAreRefused) {
    const std::string profile = ShellFolder(CSIDL_PROFILE);
    const std::string programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    ASSERT_FALSE(profile.empty());
    ASSERT_FALSE(programFiles.empty());
    const std::string users = profile.substr(0, profile.rfind('\\'));
    char shortName[MAX_PATH] = {};
    ::GetShortPathNameA(programFiles.c_str(), shortName, MAX_PATH);

    for (const std::string& refused : {std::string("C:\\"),
                                       std::string("d:\\"),
                                       std::string("C:"),
                                       std::string(""),
                                       std::string("Torvane"),
                                       std::string("\\\\server\\share"),
                                       std::string("\\\\server\\share\\"),
                                       std::string("C:\\Windows"),
                                       std::string("c:\\WINDOWS\\"),
                                       std::string("C:\\\\Windows"),
                                       std::string("C:/Windows/System32"),
                                       std::string("C:\\Windows\\..\\Temp"),
                                       ShellFolder(CSIDL_SYSTEM),
                                       programFiles,
                                       programFiles + "\\",
                                       std::string(shortName),
                                       ShellFolder(CSIDL_COMMON_APPDATA),
                                       users,
                                       profile,
                                       ShellFolder(CSIDL_DESKTOPDIRECTORY),
                                       ShellFolder(CSIDL_PERSONAL),
                                       ShellFolder(CSIDL_APPDATA),
                                       ShellFolder(CSIDL_LOCAL_APPDATA),
                                       ShellFolder(CSIDL_COMMON_DOCUMENTS),
                                       std::string("C:\\Windows\\\xC3")})
        EXPECT_TRUE(IsRefusedUninstallFolder(refused)) << refused;

    const TempFolder temp;
    for (const std::string& allowed :
         {std::string("C:\\Program Files\\Torvane"), programFiles + "\\Torvane",
          std::string("C:\\Torvane\\"), std::string("C:\\Windows2"),
          std::string("\\\\server\\share\\Torvane"), profile + "\\Torvane", temp.Path()})
        EXPECT_FALSE(IsRefusedUninstallFolder(allowed)) << allowed;
}

} // namespace
