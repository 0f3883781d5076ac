// States 50 and 55 and their helpers against the real shell of the test's prefix: the special
// folders, shortcut files written through the shell's link object and read back through it.
#include "ShellFolderOverride.h"
#include "TestSupport.h"
#include "UnixLinks.h"
#include "install/Shortcuts.h"

using namespace enginetest;

namespace {

constexpr char kDescription[] = "Farrow Desktop Shortcut";
const LoggedLine kDesktopLine{"Creating desktop shortcuts ...", kColorProgress};
const LoggedLine kMenuLine{"Creating start menu shortcuts ...", kColorProgress};

class ShortcutsTest : public testing::Test {
protected:
    ShortcutsTest() {
        ::CreateDirectoryA(folder.c_str(), nullptr);
        engine.Start(SettingsFor(folder));
        SetToDetect(engine);
    }

    // Detection finds the flags written, then both shortcut states run, each on the worker thread.
    void DetectAndLink(std::initializer_list<const char*> flags) {
        for (const char* flag : flags)
            WriteFileBytes(folder + "\\" + flag, "flag");
        TickUntilState(engine, STATE_RECORD, 3);
        ASSERT_EQ(engine.InstallState, STATE_RECORD);
        // The shortcuts are written off the ticking thread; its lines come through the ticks.
        EXPECT_EQ(view.reportsFromOtherThreads, 0);
    }

    // The shortcut of one component: its program in the install folder, started there.
    template <class Path>
    void ExpectComponentShortcut(const Path& linkPath, const std::string& name) {
        SCOPED_TRACE(linkPath);
        const std::optional<ShortcutFile> link = ReadShortcut(linkPath);
        ASSERT_TRUE(link);
        EXPECT_EQ(link->target, folder + "\\" + name + ".exe");
        EXPECT_EQ(link->workingFolder, folder + "\\");
        EXPECT_EQ(link->description, kDescription);
    }

    SuiteShortcutsCleaner shortcuts;
    TempFolder temp;
    const std::string folder = temp / "Torvane";
    RecordingView view;
    InstallEngine engine{view};
};

TEST_F(ShortcutsTest, SpecialFoldersResolveToTheShellsFolders) {
    std::wstring path = L"left over";
    ASSERT_TRUE(GetSpecialFolderPath(path, CSIDL_DESKTOP));
    EXPECT_EQ(path, Wide(DesktopFolder()));
    EXPECT_TRUE(FolderExists(path));

    ASSERT_TRUE(GetSpecialFolderPath(path, CSIDL_PROGRAMS));
    EXPECT_EQ(path, Wide(ProgramsFolder()));
    EXPECT_TRUE(FolderExists(path));

    // Folders with no place in the file system, and numbers that name no folder.
    for (int folderNumber : {CSIDL_DRIVES, 0x00FF}) {
        SCOPED_TRACE(folderNumber);
        path = L"left over";
        HRESULT why = S_OK;
        EXPECT_FALSE(GetSpecialFolderPath(path, folderNumber, &why));
        EXPECT_EQ(path, L"");
        EXPECT_TRUE(FAILED(why)) << why;                        // the log's detail names it
        EXPECT_FALSE(GetSpecialFolderPath(path, folderNumber)); // and none is asked for
    }
}

TEST_F(ShortcutsTest, AShortcutHoldsItsTargetWorkingFolderAndDescription) {
    const std::string linkPath = temp / "Torvane.lnk";

    const HRESULT result =
        CreateShortcut(folder + "\\Torvane.exe", Wide(linkPath), folder + "\\", kDescription);

    EXPECT_TRUE(SUCCEEDED(result)) << std::hex << result;
    ExpectComponentShortcut(linkPath, "Torvane");
}

TEST_F(ShortcutsTest, AShortcutThatCannotBeWrittenIsAFailureCodeAndNoFile) {
    const HRESULT missingFolder = CreateShortcut(
        folder + "\\Torvane.exe", Wide(temp / "Missing\\Torvane.lnk"), folder + "\\", kDescription);
    EXPECT_TRUE(FAILED(missingFolder));
    EXPECT_FALSE(FolderExists(temp / "Missing"));

    // A link path longer than the classic path limit is written whole or not at all, never
    // under a cut name.
    ASSERT_LT(temp.Path().size(), 200u);
    const std::string deep = temp / std::string(230 - temp.Path().size(), 'd');
    ASSERT_TRUE(::CreateDirectoryA(deep.c_str(), nullptr));
    const std::string longName = std::string(120, 'L') + ".lnk";
    ASSERT_GT(deep.size() + 1 + longName.size(), static_cast<size_t>(MAX_PATH));
    const HRESULT tooLong = CreateShortcut(folder + "\\Torvane.exe", Wide(deep + "\\" + longName),
                                           folder + "\\", kDescription);
    std::vector<std::wstring> written;
    WIN32_FIND_DATAW entry;
    const std::wstring wideDeep(deep.begin(), deep.end());
    const ScopedFind find(::FindFirstFileW((wideDeep + L"\\*.lnk").c_str(), &entry));
    if (find) {
        do
            written.push_back(entry.cFileName);
        while (::FindNextFileW(find.Get(), &entry));
    }
    // Paths this long are beyond the A forms that clean the folder up.
    for (const std::wstring& name : written)
        ::DeleteFileW((wideDeep + L"\\" + name).c_str());
    if (SUCCEEDED(tooLong))
        EXPECT_EQ(written,
                  (std::vector<std::wstring>{std::wstring(longName.begin(), longName.end())}));
    else
        EXPECT_TRUE(written.empty()) << "a shortcut was written under a cut name";
}

TEST_F(ShortcutsTest, FoundComponentsGetDesktopAndStartMenuShortcuts) {
    DetectAndLink({"pellisar.flg", "dromlet.flg"});

    EXPECT_EQ(view.lines, (Lines{{"Installed components:  Pellisar,  Dromlet", 0x00800000u},
                                 kDesktopLine,
                                 kMenuLine}));
    for (const char* name : {"Pellisar", "Dromlet"}) {
        ExpectComponentShortcut(SuiteShortcutsCleaner::DesktopLink(name), name);
        ExpectComponentShortcut(SuiteShortcutsCleaner::GroupLink(name), name);
    }
    EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::DesktopLink("Torvane")));
    EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::GroupLink("Torvane")));
    EXPECT_EQ(view.closeEnabled, 0);
}

TEST_F(ShortcutsTest, WithoutDesktopIconsOnlyTheStartMenuGetsShortcuts) {
    engine.settings.createDesktopIcons = 0;
    DetectAndLink({"pellisar.flg", "torvane.flg", "dromlet.flg"});

    EXPECT_EQ(
        view.lines,
        (Lines{{"Installed components:  Pellisar,  Torvane,  Dromlet", 0x00800000u}, kMenuLine}));
    for (const char* name : {"Pellisar", "Torvane", "Dromlet"}) {
        EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::DesktopLink(name))) << name;
        ExpectComponentShortcut(SuiteShortcutsCleaner::GroupLink(name), name);
    }
}

TEST_F(ShortcutsTest, NoComponentsMeansNoLinesNoFolderAndNoShortcuts) {
    DetectAndLink({});

    EXPECT_EQ(view.lines,
              (Lines{{"Installed components:  No components installed!", 0x00800000u}}));
    EXPECT_FALSE(FolderExists(SuiteShortcutsCleaner::GroupFolder()));
    for (const char* name : {"Pellisar", "Torvane", "Dromlet"})
        EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::DesktopLink(name))) << name;
}

TEST_F(ShortcutsTest, AnExistingGroupFolderIsUsedAsItIs) {
    const std::string group = SuiteShortcutsCleaner::GroupFolder();
    ASSERT_TRUE(::CreateDirectoryA(group.c_str(), nullptr));
    WriteFileBytes(group + "\\Earlier.txt", "from an earlier installation");

    DetectAndLink({"torvane.flg"});

    EXPECT_EQ(view.lines.back(), kMenuLine);
    ExpectComponentShortcut(SuiteShortcutsCleaner::GroupLink("Torvane"), "Torvane");
    EXPECT_EQ(ReadFileBytes(group + "\\Earlier.txt"), "from an earlier installation");
}

TEST_F(ShortcutsTest, ShortcutsThatCannotBeWrittenAreWarningsAndTheRestAreWritten) {
    // A folder where the first desktop shortcut would go, a file where the group folder would.
    ASSERT_TRUE(
        ::CreateDirectoryA(SuiteShortcutsCleaner::DesktopLink("Pellisar").c_str(), nullptr));
    WriteFileBytes(SuiteShortcutsCleaner::GroupFolder(), "not a folder");

    DetectAndLink({"pellisar.flg", "torvane.flg", "dromlet.flg"});

    const auto warning = [](const std::string& link) {
        return LoggedLine{"Warning: Unable to create shortcut " + link + ".", 0x00008080u};
    };
    EXPECT_EQ(view.lines,
              (Lines{{"Installed components:  Pellisar,  Torvane,  Dromlet", 0x00800000u},
                     kDesktopLine,
                     warning(DesktopFolder() + "\\Pellisar.lnk"),
                     kMenuLine,
                     warning(ProgramsFolder() + "\\Torvane Software Suite\\Pellisar.lnk"),
                     warning(ProgramsFolder() + "\\Torvane Software Suite\\Torvane.lnk"),
                     warning(ProgramsFolder() + "\\Torvane Software Suite\\Dromlet.lnk")}));
    EXPECT_TRUE(FolderExists(SuiteShortcutsCleaner::DesktopLink("Pellisar")));
    ExpectComponentShortcut(SuiteShortcutsCleaner::DesktopLink("Torvane"), "Torvane");
    ExpectComponentShortcut(SuiteShortcutsCleaner::DesktopLink("Dromlet"), "Dromlet");
    EXPECT_EQ(ReadFileBytes(SuiteShortcutsCleaner::GroupFolder()), "not a folder");

    // The run goes on to its success line.
    TickUntilState(engine, STATE_DONE, 4);
    EXPECT_EQ(view.lines.back(), (LoggedLine{"Installation completed successfully!", 0x80008000u}));
}

// A group folder that someone made a link to a folder of theirs is not written into: each of its
// shortcuts is a warning, the desktop's are written, and the run still succeeds.
TEST_F(ShortcutsTest, AGroupFolderThatIsALinkCostsOnlyItsShortcuts) {
    const std::string elsewhere = temp / "elsewhere";
    ASSERT_TRUE(::CreateDirectoryA(elsewhere.c_str(), nullptr));
    unixlinks::FolderLink group(SuiteShortcutsCleaner::GroupFolder(), elsewhere);
    ASSERT_TRUE(group.Planted());

    DetectAndLink({"torvane.flg", "dromlet.flg"});
    TickUntilState(engine, STATE_DONE, 4);

    const auto warning = [](const std::string& name) {
        return LoggedLine{"Warning: Unable to create shortcut " + ProgramsFolder() +
                              "\\Torvane Software Suite\\" + name + ".lnk.",
                          0x00008080u};
    };
    EXPECT_EQ(view.lines, (Lines{{"Installed components:  Torvane,  Dromlet", 0x00800000u},
                                 kDesktopLine,
                                 kMenuLine,
                                 warning("Torvane"),
                                 warning("Dromlet"),
                                 {"Cleaning up ...", kColorProgress},
                                 {"Installation completed successfully!", 0x80008000u}}));
    EXPECT_FALSE(FileExists(elsewhere + "\\Torvane.lnk"));
    EXPECT_FALSE(FileExists(elsewhere + "\\Dromlet.lnk"));
    ExpectComponentShortcut(SuiteShortcutsCleaner::DesktopLink("Torvane"), "Torvane");
}

// A profile whose Programs folder has a name beyond the ANSI code page, as a Russian user name or
// a redirected Start menu gives: the group folder and its shortcuts land there all the same, and
// a shortcut that cannot be written there is said with its path exactly, in UTF-8. (Wine
// fixes the desktop's path for the life of a process: the end-to-end tests cover that folder.)
TEST_F(ShortcutsTest, AProgramsFolderNamedBeyondTheCodePageGetsItsShortcuts) {
    const std::wstring menu = Wide(temp.Path()) + L"\\Главное меню";
    const std::wstring programs = menu + L"\\Программы";
    const std::wstring group = programs + L"\\Torvane Software Suite";
    for (const std::wstring& created : {menu, programs, group})
        ASSERT_TRUE(::CreateDirectoryW(created.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((group + L"\\Dromlet.lnk").c_str(), nullptr));
    engine.settings.createDesktopIcons = 0;
    {
        ShellFolderOverride programsOverride(L"Programs", programs);
        ASSERT_TRUE(programsOverride.Applied());
        std::wstring path;
        ASSERT_TRUE(GetSpecialFolderPath(path, CSIDL_PROGRAMS));
        EXPECT_EQ(path, programs);

        DetectAndLink({"pellisar.flg", "torvane.flg", "dromlet.flg"});
    }

    ASSERT_EQ(view.lines.size(), 3u);
    EXPECT_EQ(view.lines[1], kMenuLine);
    EXPECT_EQ(view.lines[2].color, 0x00008080u);
    EXPECT_EQ(view.lines[2].text,
              "Warning: Unable to create shortcut " + temp.Path() +
                  "\\Главное меню\\Программы\\Torvane Software Suite\\Dromlet.lnk.");
    for (const char* name : {"Pellisar", "Torvane"})
        ExpectComponentShortcut(group + L"\\" + Wide(name) + L".lnk", name);
}

TEST_F(ShortcutsTest, AStartMenuThatCannotBeFoundIsAWarningAndItsSetIsSkipped) {
    {
        ShellFolderOverride programs(L"Programs", L"Q:\\No Such Drive\\Programs");
        ASSERT_TRUE(programs.Applied());
        std::wstring path;
        if (GetSpecialFolderPath(path, CSIDL_PROGRAMS))
            GTEST_SKIP() << "this shell still resolves a folder that points nowhere: " << path;
        EXPECT_EQ(path, L"");

        DetectAndLink({"torvane.flg"});
    }

    EXPECT_EQ(view.lines, (Lines{{"Installed components:  Torvane", 0x00800000u},
                                 kDesktopLine,
                                 kMenuLine,
                                 {"Warning: Start menu folder not found.", 0x00008080u}}));
    // The desktop set is not affected.
    ExpectComponentShortcut(SuiteShortcutsCleaner::DesktopLink("Torvane"), "Torvane");
    EXPECT_FALSE(FolderExists(SuiteShortcutsCleaner::GroupFolder()));
    // No shortcut was built from a path that was never set.
    char current[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_FALSE(FolderExists(std::string(current) + "\\Torvane Software Suite"));
    EXPECT_FALSE(FolderExists("\\Torvane Software Suite"));
}

} // namespace
