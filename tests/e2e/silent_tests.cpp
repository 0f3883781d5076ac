// The command line end to end: the real installer image run with /S as deployment tools run it
// (its exit code, its log, what it leaves on disk and in the shell, and no window at all), and
// what the command line does to a run with the dialog.
//
//   silent_tests --images DIR --suite DIR --artifacts DIR [gtest options]
#include "../windows/UnixLinks.h"
#include "setup_fixture.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>
#include <atomic>

namespace {

using namespace e2e;

// Every case works under this folder, whose name has a blank, as the default folder's has.
const std::string kRoot = "C:\\e2e silent";
const char* const kUsageLine =
    "Usage: setup.exe [/S] [/NODESKTOP] [/ALLUSERS] [/ALLOWDOWNGRADE] [/LOG=<file>] [/D=<folder>]";

// The local time as the log writes it, to the millisecond.
std::string localStamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

// The lines of a log, each "<local time> <colour> <text>" and a line feed, the colour named as
// the harness names it ("detail" for a line only the log has); their times go to `stamps`.
std::vector<Line> readLog(const std::string& path, std::vector<std::string>& stamps) {
    static const std::regex format(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\S+) (.*))");
    const std::string content = readFile(path).value_or("");
    EXPECT_TRUE(!content.empty() && content.back() == '\n') << "no log, or no end to its last line";
    std::vector<Line> lines;
    std::istringstream in(content);
    for (std::string text; std::getline(in, text);) {
        std::smatch match;
        if (!std::regex_match(text, match, format)) {
            ADD_FAILURE() << "not a log line: \"" << text << "\"";
            continue;
        }
        stamps.push_back(match[1]);
        lines.push_back({match[3], 0xFFFFFFFFu});
        for (std::uint32_t word : {color::kBlack, color::kOlive, color::kRed, color::kNavy,
                                   color::kGreenEmphasis, color::kRedEmphasis, color::kLogDetail})
            if (colorName(word) == match[2])
                lines.back().color = word;
    }
    return lines;
}

// The titles of the top-level windows of process `id`, visible or not.
struct WindowSearch {
    DWORD id;
    std::vector<std::string> titles;
};
BOOL CALLBACK noteWindow(HWND window, LPARAM parameter) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.id)
        search.titles.push_back(SetupWindow(window).title() +
                                (IsWindowVisible(window) ? " (visible)" : " (hidden)"));
    return TRUE;
}
std::vector<std::string> windowsOf(DWORD id) {
    WindowSearch search{id, {}};
    EnumWindows(noteWindow, reinterpret_cast<LPARAM>(&search));
    return search.titles;
}

// A disk of 64 KiB (tmpfs) mounted at an existing folder from the Unix side, where root may;
// unmounted when the case is over.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& folder)
        : folder_(folder), unixFolder_(unixlinks::UnixPath(unixlinks::Widen(folder))) {
        mounted_ =
            !unixFolder_.empty() &&
            unixlinks::RunUnix("/bin/mount", "-t tmpfs -o size=64k tmpfs \"" + unixFolder_ + "\"",
                               [this] { return small(); });
    }
    ~SmallDisk() {
        if (mounted_ && !unixlinks::RunUnix("/bin/umount", "\"" + unixFolder_ + "\"",
                                            [this] { return !small(); }))
            unixlinks::RunUnix("/bin/umount", "-l \"" + unixFolder_ + "\"",
                               [this] { return !small(); });
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }

private:
    bool small() const {
        ULARGE_INTEGER total{};
        return GetDiskFreeSpaceExA((folder_ + "\\").c_str(), nullptr, &total, nullptr) &&
               total.QuadPart <= (1u << 20);
    }
    std::string folder_;
    std::string unixFolder_;
    bool mounted_ = false;
};

class SilentTest : public SetupTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(removeSuiteShortcuts());
        ASSERT_TRUE(removeTree(kRoot)) << kRoot;
        ASSERT_TRUE(createFolders(workingFolder()));
        ASSERT_TRUE(createFolders(kRoot + "\\logs"));
    }
    void TearDown() override {
        SetupTest::TearDown();
        removeTree(kRoot);
    }

    // The current folder of every run: a relative folder would land there.
    static std::string workingFolder() { return kRoot + "\\cwd"; }
    static std::string logFile() { return kRoot + "\\logs\\setup log.txt"; }
    static std::string logSwitch() { return "/LOG=\"" + logFile() + "\""; }

    // Runs `image` with `arguments` to its end, looking for windows all the while; its exit code.
    std::optional<DWORD> runSilently(const std::string& image, const std::string& arguments) {
        runStart = localStamp();
        std::string error;
        if (!process.start(imagePath(image), arguments, workingFolder(), &error)) {
            ADD_FAILURE() << error;
            return std::nullopt;
        }
        std::vector<std::string> windows;
        for (const auto deadline = Clock::now() + kRunLimit;
             !process.waitForExit(5ms) && Clock::now() < deadline;)
            for (const std::string& title : windowsOf(process.id()))
                if (std::find(windows.begin(), windows.end(), title) == windows.end())
                    windows.push_back(title);
        runEnd = localStamp();
        EXPECT_FALSE(process.running()) << "the silent run did not end within "
                                        << std::chrono::seconds(kRunLimit).count() << " s";
        EXPECT_EQ(windows, std::vector<std::string>{}) << "a silent run made windows";
        return process.exitCode();
    }

    // The lines of the log, which must have been written during the run, in order.
    std::vector<Line> loggedLines() {
        std::vector<std::string> stamps;
        std::vector<Line> lines = readLog(logFile(), stamps);
        EXPECT_TRUE(std::is_sorted(stamps.begin(), stamps.end()));
        for (const std::string& stamp : stamps)
            EXPECT_TRUE(runStart <= stamp && stamp <= runEnd)
                << stamp << " is not within the run, " << runStart << " to " << runEnd;
        return lines;
    }

    // Each component's shortcut in `linkFolder` leads to its program in `folder`, or, when not
    // `wanted`, none is there.
    void expectShortcutsIn(const std::string& linkFolder, const std::string& folder,
                           bool wanted = true) {
        for (const char* name : kComponents) {
            const std::string link = joinPath(linkFolder, std::string(name) + ".lnk");
            ASSERT_EQ(fileExists(link), wanted) << link;
            if (!wanted)
                continue;
            const std::optional<Shortcut> shortcut = readShortcut(link);
            ASSERT_TRUE(shortcut) << link;
            EXPECT_EQ(shortcut->target, folder + "\\" + name + ".exe");
            EXPECT_EQ(shortcut->workingFolder, folder + "\\");
            EXPECT_EQ(shortcut->description, "Farrow Desktop Shortcut");
        }
    }

    void expectSuiteIn(const std::string& folder) {
        for (const char* file : {"Torvane.exe", "Pellisar.exe", "Dromlet.exe", "Torvane.txt"})
            EXPECT_TRUE(fileExists(joinPath(folder, file))) << file;
        for (const char* leftover : {"FARROWPK.EXE", "ZZZ", "torvane.flg"})
            EXPECT_FALSE(fileExists(joinPath(folder, leftover))) << leftover;
    }

    std::string runStart, runEnd;
    ScopedCoInitialize com;
};

// --- Silent runs --------------------------------------------------------------------------------

TEST_F(SilentTest, InstallsIntoAFolderWithBlanksWithNoWindowAndLogsEveryLine) {
    const std::string folder = kRoot + "\\Torvane Suite";
    EXPECT_EQ(runSilently("demo.exe", "/S " + logSwitch() + " /D=" + folder), 0u);
    EXPECT_EQ(
        loggedLines(),
        (std::vector<Line>{navy("Installing Torvane into C:\\e2e silent\\Torvane Suite ..."),
                           black("Creating directory ..."), black("Copying necessary files ..."),
                           black("Decompressing archive ..."), black("Decompression completed."),
                           navy("Installed components:  Pellisar,  Torvane,  Dromlet"),
                           black("Creating desktop shortcuts ..."),
                           black("Creating start menu shortcuts ..."), black("Cleaning up ..."),
                           success()}));
    expectSuiteIn(folder);
    expectShortcutsIn(specialFolder(CSIDL_DESKTOPDIRECTORY), folder);
    expectShortcutsIn(groupFolder(), folder);
    // UTF-8 without a byte-order mark: the log starts with the year.
    EXPECT_EQ(readFile(logFile()).value_or("").substr(0, 2), "20");
}

TEST_F(SilentTest, NoDesktopWritesOnlyTheStartMenuShortcutsAndTheLogReplacesAPlantedName) {
    const std::string folder = kRoot + "\\No Desktop";
    // A name of another file planted where the log goes: that file is left as it is.
    const std::string kept = kRoot + "\\kept.txt";
    ASSERT_TRUE(writeFile(kept, "kept"));
    ASSERT_TRUE(CreateHardLinkA(logFile().c_str(), kept.c_str(), nullptr));
    EXPECT_EQ(runSilently("demo.exe", "/nodesktop /s " + logSwitch() + " /D=" + folder), 0u);
    EXPECT_EQ(readFile(kept), std::string("kept"));
    EXPECT_EQ(loggedLines(), demoRunLines(folder, /*desktopIcons=*/false));
    expectShortcutsIn(specialFolder(CSIDL_DESKTOPDIRECTORY), folder, /*wanted=*/false);
    expectShortcutsIn(groupFolder(), folder);
}

TEST_F(SilentTest, AllUsersPutsTheShortcutsInTheCommonFoldersWithTheSameLines) {
    const std::string commonDesktop = specialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
    const std::string commonGroup = joinPath(specialFolder(CSIDL_COMMON_PROGRAMS), kGroupName);
    ASSERT_FALSE(commonDesktop.empty());
    const auto removeCommonShortcuts = [&] {
        EXPECT_TRUE(removeTree(commonGroup));
        for (const char* name : kComponents)
            EXPECT_TRUE(removeTree(joinPath(commonDesktop, std::string(name) + ".lnk")));
    };
    removeCommonShortcuts();
    const std::string folder = kRoot + "\\All Users";
    EXPECT_EQ(runSilently("demo.exe", "/S /ALLUSERS " + logSwitch() + " \"/D=" + folder + "\""),
              0u);
    EXPECT_EQ(loggedLines(), demoRunLines(folder));
    expectShortcutsIn(commonDesktop, folder);
    expectShortcutsIn(commonGroup, folder);
    expectShortcutsIn(specialFolder(CSIDL_DESKTOPDIRECTORY), folder, /*wanted=*/false);
    EXPECT_FALSE(folderExists(groupFolder()));
    removeCommonShortcuts();
}

// Each kind of failure has its exit code, and the log ends in the failure line.
TEST_F(SilentTest, EachFailureExitsWithItsOwnCode) {
    struct Failure {
        const char* name;
        const char* image;
        std::string folder;
        DWORD exitCode;
        std::vector<Line> lines;
        std::function<void()> prepare = [] {};
    };
    const std::string damaged = kRoot + "\\Damaged";
    const std::string aFile = kRoot + "\\A File";
    const std::string planted = kRoot + "\\Planted";
    const std::string elsewhere = kRoot + "\\elsewhere";
    std::optional<unixlinks::FolderLink> link;
    const Failure failures[] = {
        {"relative folder",
         "demo.exe",
         "Torvane",
         3,
         {navy("Installing Torvane into Torvane ..."), black("Creating directory ..."),
          red("Error: Directory path is invalid."), failure()}},
        {"damaged payload",
         "crc-mismatch.exe",
         damaged,
         6,
         {navy("Installing Torvane into C:\\e2e silent\\Damaged ..."),
          black("Creating directory ..."), black("Copying necessary files ..."),
          black("Decompressing archive ..."), black("Decompression process failure!"),
          red("Error: The payload is damaged at Torvane.txt; download the setup again."),
          failure()}},
        {"image without a payload",
         "bad-length-all-ones.exe",
         damaged,
         4,
         // The damaged run before it removed the folder it had made.
         {navy("Installing Torvane into C:\\e2e silent\\Damaged ..."),
          black("Creating directory ..."), black("Copying necessary files ..."),
          red("Error: File " + imagePath("bad-length-all-ones.exe") + " holds no valid payload."),
          failure()}},
        // The line names no code: the log has it after the line.
        {"install folder is a file",
         "demo.exe",
         aFile,
         5,
         {navy("Installing Torvane into C:\\e2e silent\\A File ..."),
          black("Creating directory ..."), olive("Warning: Directory already exists."),
          black("Copying necessary files ..."),
          red("Error: Unable to create new archive for copying."),
          detail("Windows error 3 (0x00000003): Path not found."), failure()},
         [&] { ASSERT_TRUE(writeFile(aFile, "not a folder")); }},
        {"flag folder planted as a link",
         "demo.exe",
         planted,
         7,
         {navy("Installing Torvane into C:\\e2e silent\\Planted ..."),
          black("Creating directory ..."), olive("Warning: Directory already exists."),
          black("Copying necessary files ..."), black("Decompressing archive ..."),
          red("Error: A link or a file that cannot be replaced was found at C:\\e2e "
              "silent\\Planted\\ZZZ; nothing was written through it."),
          failure()},
         [&] {
             ASSERT_TRUE(createFolders(planted) && createFolders(elsewhere));
             link.emplace(planted + "\\ZZZ", elsewhere);
             ASSERT_TRUE(link->Planted());
         }},
    };
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.name);
        ASSERT_NO_FATAL_FAILURE(failure.prepare());
        EXPECT_EQ(runSilently(failure.image, logSwitch() + " /S /D=" + failure.folder),
                  failure.exitCode);
        const std::vector<Line> lines = loggedLines();
        EXPECT_EQ(lines, failure.lines) << describe(lines);
        EXPECT_FALSE(fileExists(joinPath(failure.folder, "FARROWPK.EXE")));
    }
    EXPECT_EQ(listTree(workingFolder()), std::vector<std::string>{})
        << "a relative folder was made in the current folder";
    EXPECT_EQ(listTree(elsewhere), std::vector<std::string>{}) << "written through the link";
}

// The install folder is itself a disk too small for the payload's copy.
TEST_F(SilentTest, AFullDiskExitsWithTheCopyCodeAndKeepsNothing) {
    const std::string folder = kRoot + "\\Small Disk";
    ASSERT_TRUE(createFolders(folder));
    SmallDisk disk(folder);
    if (!disk.mounted())
        GTEST_SKIP() << "no small disk at " << folder << ": mounting one needs root";
    EXPECT_EQ(runSilently("demo.exe", "/S " + logSwitch() + " /D=" + folder), 5u);
    EXPECT_EQ(loggedLines(),
              (std::vector<Line>{navy("Installing Torvane into C:\\e2e silent\\Small Disk ..."),
                                 black("Creating directory ..."),
                                 olive("Warning: Directory already exists."),
                                 black("Copying necessary files ..."),
                                 red("Error: Unable to write new archive C:\\e2e silent\\Small "
                                     "Disk\\FARROWPK.EXE."),
                                 failure()}));
    EXPECT_EQ(listTree(folder), std::vector<std::string>{});
}

// Whoever may write into the install folder plants the completion flag again and again while the
// run goes on: a run that ends with 0 has every file of the suite, whatever the moment of a look.
TEST_F(SilentTest, AFlagPlantedThroughoutTheRunNeverEndsItEarly) {
    const std::string folder = kRoot + "\\Planted Flag";
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        ASSERT_TRUE(removeTree(folder));
        std::atomic<bool> planting{true};
        std::thread planter([&] {
            while (planting) {
                createFolders(folder + "\\ZZZ");
                writeFile(folder + "\\ZZZ\\COMP.FLG", "planted");
                std::this_thread::sleep_for(1ms);
            }
        });
        const std::optional<DWORD> code =
            runSilently("large-suite.exe", "/S " + logSwitch() + " /D=" + folder);
        planting = false;
        planter.join();
        ASSERT_TRUE(code);
        if (*code != 0)
            continue;
        for (int part = 0; part < 256; ++part) {
            char name[32];
            std::snprintf(name, sizeof name, "Data\\part%03d.txt", part);
            ASSERT_EQ(readFile(joinPath(folder, name)).value_or("").size(), 256u * 1024) << name;
        }
        EXPECT_EQ(loggedLines().back(), success());
    }
}

// One run at a time on the machine: a second setup started while one installs does nothing.
TEST_F(SilentTest, ASecondSetupWhileOneInstallsExitsWith1618) {
    const std::string folder = kRoot + "\\First";
    ASSERT_TRUE(launch("large-suite.exe"));
    ASSERT_TRUE(startInstall(folder));
    ASSERT_TRUE(window.waitForLine("Decompressing archive ...", 20s)) << describe(window.lines());
    Process second;
    std::string error;
    ASSERT_TRUE(second.start(imagePath("demo.exe"),
                             "/S " + logSwitch() + " /D=" + kRoot + "\\Second", workingFolder(),
                             &error))
        << error;
    ASSERT_TRUE(second.waitForExit(30s));
    EXPECT_EQ(second.exitCode(), std::optional<DWORD>(1618));
    std::vector<std::string> stamps;
    EXPECT_EQ(readLog(logFile(), stamps),
              (std::vector<Line>{red("Another installation is in progress.")}));
    EXPECT_FALSE(folderExists(kRoot + "\\Second"));
    window.waitForLine("Installation completed successfully!", 60s);
}

// --- After the install: the entry, upgrades and the uninstaller ---------------------------------

// A value of the suite's Apps & Features entry in the machine's hive, as `reg query` shows it.
std::optional<std::string> entryValue(const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                       L"TorvaneSoftwareSuite",
                       name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    char text[2048] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, nullptr, nullptr);
    return std::string(text);
}

// Installed with its missing parent, registered; the quiet uninstall string removes everything
// but the user's own file, and the entry; a second uninstall finds nothing to remove.
TEST_F(SilentTest, TheQuietUninstallStringLeavesOnlyTheUsersFilesAndNoEntry) {
    const std::string folder = kRoot + "\\Acme Tools\\Torvane";
    ASSERT_EQ(runSilently("demo.exe", "/S " + logSwitch() + " /D=" + folder), 0u);
    expectSuiteIn(folder);
    EXPECT_EQ(entryValue(L"DisplayVersion"), std::string("1.0.0"));
    EXPECT_EQ(entryValue(L"InstallLocation"), folder);
    EXPECT_EQ(entryValue(L"Publisher"), std::nullopt); // the image names none
    const std::string quiet = "\"" + folder + "\\uninstall.exe\" /S";
    EXPECT_EQ(entryValue(L"QuietUninstallString"), quiet);
    ASSERT_TRUE(writeFile(folder + "\\Drivers\\my notes.txt", "mine"));

    EXPECT_EQ(runSilently(folder + "\\uninstall.exe", "/S " + logSwitch()), 0u);
    EXPECT_EQ(listTree(folder), (std::vector<std::string>{"Drivers\\", "Drivers\\my notes.txt"}));
    expectShortcutsIn(specialFolder(CSIDL_DESKTOPDIRECTORY), folder, /*wanted=*/false);
    EXPECT_FALSE(folderExists(groupFolder()));
    EXPECT_EQ(entryValue(L"InstallLocation"), std::nullopt);
    EXPECT_EQ(loggedLines().back(),
              (Line{"Uninstallation completed successfully!", color::kGreenEmphasis}));

    EXPECT_EQ(runSilently("demo.exe", "/UNINSTALL /S " + logSwitch() + " /D=" + folder), 1605u);
    EXPECT_EQ(readFile(folder + "\\Drivers\\my notes.txt"), std::string("mine"));
}

// v2 over v1 into the registered folder: what v2 no longer ships goes, the user's file stays;
// an older version is refused unless asked for.
TEST_F(SilentTest, AnUpgradeLeavesExactlyTheNewVersionAndAnOlderOneIsRefused) {
    const std::string folder = kRoot + "\\Upgraded";
    ASSERT_EQ(runSilently("demo.exe", "/S " + logSwitch() + " /D=" + folder), 0u);
    ASSERT_TRUE(writeFile(folder + "\\mine.txt", "mine"));
    const std::vector<std::string> v1 = listTree(folder);

    ASSERT_EQ(runSilently("v2.exe", "/S " + logSwitch()), 0u); // no /D=: the installed folder
    EXPECT_EQ(listTree(folder), (std::vector<std::string>{
                                    "Drivers\\", "Drivers\\Audio\\", "Drivers\\Audio\\tvaudio.inf",
                                    "Drivers\\Video\\", "Drivers\\Video\\tvvideo.inf", "News.txt",
                                    "Pellisar.exe", "Pellisar.txt", "Torvane.exe", "Torvane.txt",
                                    "install.rec", "mine.txt", "uninstall.exe"}));
    EXPECT_EQ(readFile(folder + "\\Torvane.txt"), std::string("Torvane 2.1.0\r\n"));
    EXPECT_FALSE(fileExists(desktopLink("Dromlet")));
    EXPECT_FALSE(fileExists(joinPath(groupFolder(), "Dromlet.lnk")));
    EXPECT_TRUE(fileExists(desktopLink("Torvane")));
    EXPECT_EQ(entryValue(L"DisplayVersion"), std::string("2.1.0"));
    EXPECT_EQ(entryValue(L"Publisher"), std::string("Torvane Software"));

    EXPECT_EQ(runSilently("older.exe", "/S " + logSwitch() + " /D=" + folder), 9u);
    const std::vector<Line> refused = loggedLines();
    ASSERT_GE(refused.size(), 2u);
    EXPECT_EQ(refused[refused.size() - 2],
              red("Error: Version 2.1.0 is installed, newer than this setup's 0.9.0."));
    EXPECT_EQ(refused.back(), failure());
    EXPECT_EQ(readFile(folder + "\\Torvane.txt"), std::string("Torvane 2.1.0\r\n"));
    EXPECT_EQ(entryValue(L"DisplayVersion"), std::string("2.1.0"));
    EXPECT_EQ(entryValue(L"Publisher"), std::string("Torvane Software"));

    EXPECT_EQ(runSilently("older.exe", "/S /ALLOWDOWNGRADE " + logSwitch() + " /D=" + folder), 0u);
    EXPECT_EQ(listTree(folder), v1);
    EXPECT_EQ(entryValue(L"DisplayVersion"), std::string("0.9.0"));
}

// Every file and folder under `folder` with its bytes.
std::vector<std::pair<std::string, std::string>> snapshot(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& entry : listTree(folder))
        files.emplace_back(entry, entry.back() == '\\'
                                      ? std::string()
                                      : readFile(joinPath(folder, entry)).value_or("?"));
    return files;
}

// An upgrade that cannot be completed leaves the installed version as it was, byte for byte, and
// its red line and exit code say why; a program of the suite still running is no obstacle: its
// old file goes at the next restart (3010).
TEST_F(SilentTest, AFailedUpgradeLeavesTheInstalledVersionAsItWas) {
    const std::string folder = kRoot + "\\Kept";
    ASSERT_EQ(runSilently("demo.exe", "/S " + logSwitch() + " /D=" + folder), 0u);
    const auto installed = snapshot(folder);
    const std::string held = folder + "\\Torvane.txt";
    struct Failure {
        const char* name;
        const char* image;
        DWORD exitCode;
        std::string line;
        bool holdFile;
    };
    for (const Failure& failed :
         {Failure{"a file held open", "v2.exe", 8,
                  "Error: " + held + " is in use by another program (Windows error 32).", true},
          Failure{"a damaged entry", "v2-damaged.exe", 6,
                  "Error: The payload is damaged at Torvane.txt; download the setup again.",
                  false}}) {
        SCOPED_TRACE(failed.name);
        ScopedFileHandle holder;
        if (failed.holdFile)
            holder.Reset(
                ::CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(runSilently(failed.image, "/S " + logSwitch() + " /D=" + folder),
                  failed.exitCode);
        holder.Reset();
        const std::vector<Line> lines = loggedLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[lines.size() - 3], black("Decompression process failure!"));
        EXPECT_EQ(lines[lines.size() - 2], red(failed.line));
        EXPECT_EQ(lines.back(), failure());
        EXPECT_EQ(snapshot(folder), installed);
        EXPECT_EQ(entryValue(L"DisplayVersion"), std::string("1.0.0"));
    }

    Process running;
    std::string error;
    ASSERT_TRUE(running.start(folder + "\\Torvane.exe", {}, folder, &error)) << error;
    const std::optional<DWORD> code = runSilently("v2.exe", "/S " + logSwitch() + " /D=" + folder);
    running.kill();
    EXPECT_EQ(code, std::optional<DWORD>(3010));
    const std::vector<Line> lines = loggedLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        olive("Warning: 1 old file of the suite is removed at the next restart.")),
              lines.end())
        << describe(lines);
    EXPECT_EQ(lines.back(), success());
    EXPECT_EQ(readFile(held), std::string("Torvane 2.1.0\r\n"));
}

TEST_F(SilentTest, AnUnknownSwitchExitsWithTheUsageCodeAndLogsWhy) {
    // The switches after the mistake are still read: no box, and the log says why.
    EXPECT_EQ(runSilently("demo.exe", "/X /S " + logSwitch()), 2u);
    EXPECT_EQ(loggedLines(),
              (std::vector<Line>{red("Error: unknown switch /X"), black(kUsageLine)}));
    // A log that cannot be written is a usage error too: nothing is installed without it.
    const std::string folder = kRoot + "\\Unlogged";
    EXPECT_EQ(runSilently("demo.exe", "/S /LOG=\"" + kRoot + "\\missing\\setup.log\" /D=" + folder),
              2u);
    EXPECT_FALSE(folderExists(folder));
}

// --- The command line with the dialog -----------------------------------------------------------

class CommandLineDialogTest : public SilentTest {
protected:
    bool launchWith(const std::string& image, const std::string& arguments) {
        std::string error;
        if (!process.start(imagePath(image), arguments, workingFolder(), &error)) {
            ADD_FAILURE() << error;
            return false;
        }
        const std::optional<SetupWindow> found = SetupWindow::find(process.id(), kStartLimit);
        if (found)
            window = *found;
        return found.has_value();
    }
};

TEST_F(CommandLineDialogTest, FolderAndNoDesktopOpenTheDialogWithThemAndTheLogFollowsTheList) {
    expectCleanExit = true;
    const std::string folder = kRoot + "\\Chosen Folder";
    ASSERT_TRUE(launchWith("demo.exe", "/NODESKTOP " + logSwitch() + " /D=" + folder));
    EXPECT_EQ(window.text(control::kInstallPath), folder);
    EXPECT_FALSE(window.checked(control::kDesktopIcons));
    EXPECT_FALSE(window.enabled(control::kInstall)) << "the agreement must still be accepted";
    runStart = localStamp();
    ASSERT_TRUE(window.click(control::kAccept));
    ASSERT_TRUE(window.click(control::kInstall));
    const std::vector<Line> lines = finish();
    runEnd = localStamp();
    EXPECT_EQ(lines, demoRunLines(folder, /*desktopIcons=*/false)) << describe(lines);
    EXPECT_EQ(loggedLines(), lines);
    expectShortcutsIn(specialFolder(CSIDL_DESKTOPDIRECTORY), folder, /*wanted=*/false);
}

TEST_F(CommandLineDialogTest, AnUnknownSwitchShowsTheUsageInABoxAndNoDialog) {
    std::string error;
    ASSERT_TRUE(process.start(imagePath("demo.exe"), "/S- " + logSwitch(), workingFolder(), &error))
        << error;
    HWND box = nullptr;
    DWORD owner = 0;
    for (const auto deadline = Clock::now() + kStartLimit; !box && Clock::now() < deadline;
         std::this_thread::sleep_for(50ms))
        box = FindWindowA("#32770", "Torvane Software Suite Setup");
    ASSERT_TRUE(box) << "no message box";
    GetWindowThreadProcessId(box, &owner);
    EXPECT_EQ(owner, process.id());
    EXPECT_EQ(SetupWindow(box).text(0xFFFF),
              std::string("The command line is not understood: unknown switch /S-\n\n") +
                  kUsageLine);
    EXPECT_TRUE(saveScreenshot(box, joinPath(settings.artifacts, "silent-usage-box.png"), &error))
        << error;
    EXPECT_FALSE(SetupWindow::find(process.id(), 0ms)) << "the dialog opened";
    ASSERT_TRUE(SetupWindow(box).click(IDOK));
    EXPECT_TRUE(process.waitForExit(10s));
    EXPECT_EQ(process.exitCode(), 2u);
    std::vector<std::string> stamps;
    EXPECT_EQ(readLog(logFile(), stamps),
              (std::vector<Line>{red("Error: unknown switch /S-"), black(kUsageLine)}));
}

} // namespace
