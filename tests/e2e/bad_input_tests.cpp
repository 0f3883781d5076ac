// Bad input, end to end: install folder texts, installer images, payload archives and files in
// the way, each run through the real setup program under Wine. Every case must end with a clear
// last line (or, for Escape, with the end of the program), write nothing outside its install
// folder, and neither crash nor hang.
//
//   bad_input_tests --images DIR --artifacts DIR [gtest options]
#include "../windows/UnixLinks.h"
#include "setup_fixture.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <ostream>
#include <thread>

namespace {

using namespace e2e;

// A failing run ends within a few ticks; this allows for a slow machine.
constexpr auto kFailedRunLimit = 60s;

// Every case works under this folder; the setup's current folder is a sub-folder of it, so that
// a relative path would land where the test looks.
const std::string kCaseRoot = "C:\\bad-input";
const char* const kFlagFiles[] = {"pellisar.flg", "torvane.flg", "dromlet.flg"};

// The lines of a run that fails because the archive stopped with an error.
std::vector<Line> archiveFailedRun(
    const std::string& folder, bool folderExisted = false,
    const std::string& cause = "Error: The payload is damaged; download the setup again.") {
    std::vector<Line> lines = {installLine(folder), black("Creating directory ...")};
    if (folderExisted)
        lines.push_back(olive("Warning: Directory already exists."));
    for (const char* text : {"Copying necessary files ...", "Decompressing archive ...",
                             "Decompression process failure!"})
        lines.push_back(black(text));
    lines.push_back(red(cause));
    lines.push_back(failure());
    return lines;
}

// The red line for a link, or a file that cannot be removed, where the setup would write.
std::string inTheWayLine(const std::string& path) {
    return "Error: A link or a file that cannot be replaced was found at " + path +
           "; nothing was written through it.";
}

// The lines of a run that gets through, with the desktop box ticked.
std::vector<Line> successfulRun(const std::string& folder, const std::string& summary,
                                bool folderExisted = false) {
    std::vector<Line> lines = {installLine(folder), black("Creating directory ...")};
    if (folderExisted)
        lines.push_back(olive("Warning: Directory already exists."));
    for (const char* text :
         {"Copying necessary files ...", "Decompressing archive ...", "Decompression completed."})
        lines.push_back(black(text));
    lines.push_back(navy(summary));
    for (const char* text :
         {"Creating desktop shortcuts ...", "Creating start menu shortcuts ...", "Cleaning up ..."})
        lines.push_back(black(text));
    lines.push_back(success());
    return lines;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

// The names directly in `folder`; folders end in a backslash.
std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    ScopedFind search(FindFirstFileA(joinPath(folder, "*").c_str(), &found));
    if (!search)
        return names;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        names.push_back(name + ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
    } while (FindNextFileA(search.Get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}

std::uint64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// What the platform says to creating `folder`, as the setup reports a refusal: the invalid-path
// line for ERROR_BAD_PATHNAME, else the code. Empty when the folder could be created.
std::string refusalLineFor(const std::string& folder) {
    if (CreateDirectoryA(folder.c_str(), nullptr)) {
        RemoveDirectoryA(folder.c_str());
        return {};
    }
    DWORD code = GetLastError();
    if (code == ERROR_BAD_PATHNAME)
        return "Error: Directory path is invalid.";
    return "Error: Number " + std::to_string(static_cast<int>(code));
}

// Base of every case: a fresh case folder, no suite shortcuts, one installer image started with
// the case folder's "cwd" as its current folder, and the drive's root remembered.
class BadInputTest : public SetupTest {
protected:
    void SetUp() override {
        expectCleanExit = true;
        ASSERT_NO_FATAL_FAILURE(removeSuiteShortcuts());
        ASSERT_TRUE(removeTree(kCaseRoot)) << kCaseRoot;
        ASSERT_TRUE(createFolders(workingFolder()));
        ASSERT_TRUE(createFolders(elsewhere()));
        ASSERT_TRUE(writeFile(joinPath(elsewhere(), "kept.txt"), "kept"));
        driveRoot = listFolder("C:\\");
    }

    void TearDown() override {
        SetupTest::TearDown();
        held.Reset();
        removeTree(kCaseRoot);
    }

    static std::string workingFolder() { return kCaseRoot + "\\cwd"; }
    // A folder outside the install folder, holding only "kept.txt", that planted links lead to.
    static std::string elsewhere() { return kCaseRoot + "\\elsewhere"; }
    static std::string caseFolder(const std::string& name) { return joinPath(kCaseRoot, name); }

    // Started in the case folder's "cwd"; the desktop box is ticked as the dialog starts.
    bool launch(const std::string& image) {
        if (!SetupTest::launch(image, workingFolder()))
            return false;
        if (!window.checked(control::kDesktopIcons)) {
            ADD_FAILURE() << "the desktop box is not ticked at the start";
            return false;
        }
        return true;
    }

    // The run is over when Close can be pressed again; nothing may be logged after that.
    std::vector<Line> runToEnd(std::chrono::milliseconds limit = kFailedRunLimit) {
        const auto deadline = Clock::now() + limit;
        while (!window.enabled(control::kClose) && window.exists() && Clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
        runTime = Clock::now() - installPressed;
        std::vector<Line> lines = window.lines();
        EXPECT_TRUE(window.enabled(control::kClose))
            << "the run did not end within "
            << std::chrono::duration_cast<std::chrono::seconds>(limit).count()
            << " s; lines so far:\n"
            << describe(lines);
        // Three more ticks: a run that is over logs nothing more.
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(window.lines(), lines) << "lines were logged after Close was enabled again";
        return lines;
    }

    // Starts `image`, installs it into `folder` (as typed) and returns the lines of the run.
    std::vector<Line> install(const std::string& image, const std::string& folder) {
        if (!launch(image) || !startInstall(folder)) {
            ADD_FAILURE() << "cannot start an install of " << image << " into " << folder;
            return {};
        }
        return runToEnd();
    }

    // Nothing was written outside `installFolder` (a folder under the case folder, or none): the
    // drive's root is as it was, the case folder holds only that folder and the empty current
    // folder, and the shell folders hold the suite's shortcuts only when the run made them.
    void expectNothingOutside(const std::string& installFolder, bool shortcutsMade = false) {
        EXPECT_EQ(listFolder("C:\\"), driveRoot) << "the drive's root changed";
        EXPECT_EQ(listTree(workingFolder()), std::vector<std::string>{})
            << "the setup wrote into its current folder";
        EXPECT_EQ(listTree(elsewhere()), std::vector<std::string>{"kept.txt"})
            << "something was written through a link";
        std::string prefix = kCaseRoot + "\\";
        std::string inside = installFolder.compare(0, prefix.size(), prefix) == 0
                                 ? installFolder.substr(prefix.size()) + "\\"
                                 : std::string();
        for (const std::string& entry : listTree(kCaseRoot)) {
            bool expected = entry == "cwd\\" || entry == "elsewhere\\" ||
                            entry == "elsewhere\\kept.txt" ||
                            (!inside.empty() && (entry == inside || entry.rfind(inside, 0) == 0));
            EXPECT_TRUE(expected) << kCaseRoot << "\\" << entry << " is outside the install folder";
        }
        if (!shortcutsMade) {
            EXPECT_FALSE(folderExists(groupFolder())) << groupFolder();
            for (const char* name : kComponents)
                EXPECT_FALSE(fileExists(desktopLink(name))) << desktopLink(name);
        }
    }

    // Presses Escape in the dialog, as the keyboard would: the dialog manager turns it into the
    // cancel command.
    void pressEscape() {
        HWND list = window.item(control::kMessages);
        PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(list, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
    }

    ScopedFileHandle held; // a file a case holds open for the whole run
    std::vector<std::string> driveRoot;
};

// --- Install folder texts ----------------------------------------------------------------------

struct FolderCase {
    const char* name;
    std::string text;           // typed into the folder box
    std::string shown;          // the folder as the install line shows it
    bool probe;                 // the refusal is the platform's: ask it for the code
    std::wstring wideText = {}; // typed instead of `text` when set
};

class FolderTextTest : public BadInputTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FolderTextTest, IsRefusedWithARedLineAndNothingIsWritten) {
    const FolderCase& folderCase = GetParam();
    std::string refusal = "Error: Directory path is invalid.";
    if (folderCase.probe) {
        refusal = refusalLineFor(folderCase.shown);
        ASSERT_FALSE(refusal.empty()) << "this system creates " << folderCase.shown;
    }
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(folderCase.wideText.empty() ? startInstall(folderCase.text)
                                            : startInstall(folderCase.wideText));
    std::vector<Line> lines = runToEnd();
    EXPECT_EQ(lines, (std::vector<Line>{installLine(folderCase.shown),
                                        black("Creating directory ..."), red(refusal), failure()}))
        << describe(lines);
    EXPECT_LT(runTime, 10s) << "a refused folder should end the run within a few ticks";
    expectEndState();
    expectNothingOutside({});
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderTextTest,
    ::testing::Values(
        // No folder at all: the install line holds two blanks in a row.
        FolderCase{"Empty", "", "", false},
        // Relative to the setup's current folder, which the user never sees.
        FolderCase{"Relative", "Torvane", "Torvane", false},
        // Its one trailing backslash goes, leaving the drive-relative "C:".
        FolderCase{"DriveRoot", "C:\\", "C:", false},
        FolderCase{"LongerThanMaxPath", kCaseRoot + "\\" + std::string(255, 'L'),
                   kCaseRoot + "\\" + std::string(255, 'L'), true},
        FolderCase{"InvalidCharacters", "C:\\a<b|c", "C:\\a<b|c", true},
        FolderCase{"UncPathToNoHost", "\\\\no-such-host-e2e\\share\\Torvane",
                   "\\\\no-such-host-e2e\\share\\Torvane", true},
        // An unpaired surrogate, which no character is: the text names no folder (never one
        // with a replacement character); the install line shows it as the list can.
        FolderCase{"UnpairedSurrogate", "", "C:\\bad-input\\x\uFFFD\uFFFDy", false,
                   L"C:\\bad-input\\x\xD800y"}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST_F(BadInputTest, FolderWithATrailingBlankIsRefused) {
    // Windows drops a trailing blank when it creates a folder, so the folder made would not be
    // the one every later path goes through: the text is refused before anything is created.
    std::string typed = caseFolder("Torvane ");
    std::vector<Line> lines = install("demo.exe", typed);
    EXPECT_EQ(lines, (std::vector<Line>{installLine(typed), black("Creating directory ..."),
                                        red("Error: Directory path is invalid."), failure()}))
        << describe(lines);
    expectEndState();
    expectNothingOutside({});
}

// --- Installer images ----------------------------------------------------------------------------

struct BrokenImage {
    const char* name;
    const char* image;
};

class BrokenImageTest : public BadInputTest, public ::testing::WithParamInterface<BrokenImage> {};

TEST_P(BrokenImageTest, IsRefusedBeforeAnyCopyIsMade) {
    std::string image = GetParam().image;
    std::string folder = caseFolder("Torvane");
    std::vector<Line> lines = install(image, folder);
    ASSERT_EQ(lines.size(), 5u) << describe(lines);
    EXPECT_EQ(lines[0], installLine(folder));
    EXPECT_EQ(lines[1], black("Creating directory ..."));
    EXPECT_EQ(lines[2], black("Copying necessary files ..."));
    EXPECT_EQ(lines[3].color, color::kRed);
    EXPECT_TRUE(
        equalNoCase(lines[3].text, "Error: File " + imagePath(image) + " holds no valid payload."))
        << lines[3].text;
    EXPECT_EQ(lines[4], failure());
    expectEndState();
    EXPECT_EQ(listTree(folder), std::vector<std::string>{}) << "a copy was made";
    expectNothingOutside(folder);
}

// Every other length field that does not fit the file: the engine's tests.
INSTANTIATE_TEST_SUITE_P(
    Images, BrokenImageTest,
    ::testing::Values(BrokenImage{"LengthAllOnes", "bad-length-all-ones.exe"},
                      BrokenImage{"ProgramWithoutPayload", "bare-program.exe"},
                      // The certificate table no longer ends the file: an unsigned image whose
                      // last four bytes, zeros, are read as the length.
                      BrokenImage{"BytesAfterTheCertificateTable", "signed-appended.exe"}),
    [](const ::testing::TestParamInfo<BrokenImage>& info) { return std::string(info.param.name); });

// --- Payload archives --------------------------------------------------------------------------

class ArchiveTest : public BadInputTest {};

struct DamagedArchive {
    const char* name;
    const char* image;
    const char* cause; // the red line after "Decompression process failure!"
};

class DamagedArchiveTest : public ArchiveTest,
                           public ::testing::WithParamInterface<DamagedArchive> {};

// Wherever the damage, the folder is as it was before the run: the one it made is gone.
TEST_P(DamagedArchiveTest, FailsAndLeavesNothingBehind) {
    std::string folder = caseFolder("Torvane");
    std::vector<Line> lines = install(GetParam().image, folder);
    EXPECT_EQ(lines, archiveFailedRun(folder, false, GetParam().cause)) << describe(lines);
    EXPECT_LT(runTime, 15s) << "the failure took as long as the look limit";
    expectEndState();
    EXPECT_FALSE(folderExists(folder));
    // Where "../evil.txt" of the unsafe name would land.
    EXPECT_FALSE(fileExists(caseFolder("evil.txt")));
    expectNothingOutside(folder);
}

constexpr char kDamagedAtTorvaneText[] =
    "Error: The payload is damaged at Torvane.txt; download the setup again.";
constexpr char kDamaged[] = "Error: The payload is damaged; download the setup again.";

INSTANTIATE_TEST_SUITE_P(
    Archives, DamagedArchiveTest,
    ::testing::Values(DamagedArchive{"CrcMismatch", "crc-mismatch.exe", kDamagedAtTorvaneText},
                      DamagedArchive{"EntrySizeFarLargerThanItsData", "lying-size.exe",
                                     kDamagedAtTorvaneText},
                      DamagedArchive{"Truncated", "truncated.exe", kDamaged},
                      // "../evil.txt" next to the whole suite: the archive writes nothing at all.
                      DamagedArchive{"NameClimbingOutOfTheFolder", "unsafe-name.exe", kDamaged}),
    [](const ::testing::TestParamInfo<DamagedArchive>& info) {
        return std::string(info.param.name);
    });

TEST_F(ArchiveTest, DuplicateNamesInstallWithTheLastOneWinning) {
    std::string folder = caseFolder("Torvane");
    std::vector<Line> lines = install("duplicate-names.exe", folder);
    EXPECT_EQ(lines, successfulRun(folder, kAllComponents)) << describe(lines);
    expectEndState();
    EXPECT_EQ(readFile(joinPath(folder, "dup-a.txt")), std::string("second version\r\n"));
    EXPECT_FALSE(fileExists(joinPath(folder, "dup-b.txt")));
    expectNothingOutside(folder, /*shortcutsMade=*/true);
}

// --- Files in the way ----------------------------------------------------------------------------

class FilesTest : public BadInputTest {
protected:
    // An earlier run left `path` behind with `content`, and it is read-only.
    static void placeReadOnly(const std::string& path, const std::string& content) {
        ASSERT_TRUE(createFolders(path.substr(0, path.rfind('\\'))));
        ASSERT_TRUE(writeFile(path, content));
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }

    // An earlier run left `flag` behind ("old"), and someone holds it open for reading, sharing
    // only `share` with others, for the whole run.
    void holdOldFlag(const std::string& flag, DWORD share) {
        ASSERT_TRUE(createFolders(flag.substr(0, flag.rfind('\\'))));
        ASSERT_TRUE(writeFile(flag, "old"));
        held.Reset(CreateFileA(flag.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held.IsValid());
    }
};

TEST_F(FilesTest, ReadOnlyCopyFromAnEarlierRunIsKeptAndTheRunEndsClearly) {
    std::string folder = caseFolder("Torvane");
    std::string copy = joinPath(folder, "FARROWPK.EXE");
    ASSERT_NO_FATAL_FAILURE(placeReadOnly(copy, "an earlier copy"));
    std::vector<Line> lines = install("demo.exe", folder);
    // The copy replaces an older one by a new file, and a read-only file is not deleted, also
    // where it could be written: the failure line comes first; deleting the copy after it is
    // refused with a warning.
    EXPECT_EQ(lines,
              (std::vector<Line>{installLine(folder), black("Creating directory ..."),
                                 olive("Warning: Directory already exists."),
                                 black("Copying necessary files ..."),
                                 red("Error: Unable to create new archive for copying."), failure(),
                                 olive("Warning: Unable to delete " + copy + ".")}))
        << describe(lines);
    EXPECT_TRUE(readFile(copy) == std::optional<std::string>("an earlier copy"));
    EXPECT_EQ(listTree(folder), std::vector<std::string>{"FARROWPK.EXE"});
    expectEndState();
    EXPECT_TRUE(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY);
    expectNothingOutside(folder, /*shortcutsMade=*/false);
}

// A flag left from an earlier run that cannot be removed before the archive starts (copied from
// a CD and read-only, or held open by someone who lets others write, or nothing at all) would be
// taken for this run's: the run fails before the archive starts, naming it, and it stays.
TEST_F(FilesTest, FlagThatCannotBeRemovedFailsTheRunBeforeTheArchiveStarts) {
    std::string folder = caseFolder("Torvane");
    std::string flag = joinPath(folder, "torvane.flg");
    for (const DWORD hold : {DWORD{0xFFFFFFFF}, DWORD{FILE_SHARE_WRITE}, DWORD{0}}) {
        SCOPED_TRACE(hold == 0xFFFFFFFF ? "read-only" : "held sharing " + std::to_string(hold));
        ASSERT_TRUE(removeTree(folder));
        if (hold == 0xFFFFFFFF)
            ASSERT_NO_FATAL_FAILURE(placeReadOnly(flag, "old"));
        else
            ASSERT_NO_FATAL_FAILURE(holdOldFlag(flag, hold));
        std::vector<Line> lines = install("demo.exe", folder);
        EXPECT_EQ(lines, (std::vector<Line>{installLine(folder), black("Creating directory ..."),
                                            olive("Warning: Directory already exists."),
                                            black("Copying necessary files ..."),
                                            black("Decompressing archive ..."),
                                            red(inTheWayLine(flag)), failure()}))
            << describe(lines);
        expectEndState();
        held.Reset();
        EXPECT_EQ(readFile(flag), std::string("old"));
        EXPECT_EQ(listTree(folder), std::vector<std::string>{"torvane.flg"});
        expectNothingOutside(folder);
        SetupTest::TearDown();
    }
}

// Links a standard user could plant in an existing install folder: a folder of the suite that is
// a link to a folder elsewhere stops the archive, a flag folder that is one stops the run before
// the archive starts, and names that are also names of a file elsewhere (hard links) lose only
// themselves. Nothing is written through any of them.
TEST_F(FilesTest, PlantedLinksAreNeverWrittenThrough) {
    std::string folder = caseFolder("Torvane");
    const std::vector<Line> refusedStart = {installLine(folder), black("Creating directory ..."),
                                            olive("Warning: Directory already exists."),
                                            black("Copying necessary files ..."),
                                            black("Decompressing archive ...")};
    for (const char* linked : {"Drivers\\Video", "ZZZ"}) {
        SCOPED_TRACE(linked);
        ASSERT_TRUE(removeTree(folder));
        ASSERT_TRUE(createFolders(joinPath(folder, "Drivers")));
        unixlinks::FolderLink link(joinPath(folder, linked), elsewhere());
        ASSERT_TRUE(link.Planted());
        std::vector<Line> lines = install("demo.exe", folder);
        std::vector<Line> expected = refusedStart;
        expected.push_back(red(inTheWayLine(joinPath(folder, linked))));
        expected.push_back(failure());
        EXPECT_EQ(lines, expected) << describe(lines);
        expectEndState();
        EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
        EXPECT_FALSE(fileExists(joinPath(folder, "ZZZ\\COMP.FLG")));
        expectNothingOutside(folder);
        SetupTest::TearDown();
    }

    ASSERT_TRUE(removeTree(folder));
    ASSERT_TRUE(createFolders(folder));
    const std::string kept = joinPath(elsewhere(), "kept.txt");
    ASSERT_TRUE(CreateHardLinkA(joinPath(folder, "Torvane.txt").c_str(), kept.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkA(joinPath(folder, "FARROWPK.EXE").c_str(), kept.c_str(), nullptr));
    std::vector<Line> lines = install("demo.exe", folder);
    EXPECT_EQ(lines, successfulRun(folder, kAllComponents, /*folderExisted=*/true))
        << describe(lines);
    EXPECT_EQ(readFile(kept), std::string("kept"));
    EXPECT_NE(readFile(joinPath(folder, "Torvane.txt")), std::string("kept"));
    EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
    expectNothingOutside(folder, /*shortcutsMade=*/true);
}

// --- Escape during a run -------------------------------------------------------------------------

class EscapeTest : public BadInputTest {
protected:
    // Presses Escape and waits for the dialog to go away and the program to end cleanly.
    // Returns how long the program ran on after Escape. (Had it ended the dialog first, it would
    // run on for 2 s under Xvfb: with no window manager, Wine waits that long for a hidden
    // window to be withdrawn.)
    Clock::duration escapeAndWaitForTheEnd(std::chrono::milliseconds limit) {
        const auto pressed = Clock::now();
        pressEscape();
        while (IsWindowVisible(window.handle()) && Clock::now() - pressed < limit)
            std::this_thread::sleep_for(2ms);
        const auto dialogGone = Clock::now() - pressed;
        EXPECT_FALSE(IsWindowVisible(window.handle()))
            << "the dialog still shows "
            << std::chrono::duration_cast<std::chrono::seconds>(limit).count() << " s after Escape";
        EXPECT_TRUE(process.waitForExit(10s)) << "the dialog has gone but the program still runs";
        const auto programGone = Clock::now() - pressed;
        EXPECT_EQ(process.exitCode(), std::optional<DWORD>(0)) << "the setup did not end well";
        std::cout << "[ figures  ] Escape to the end of the dialog: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(dialogGone).count()
                  << " ms, of the program: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(programGone).count()
                  << " ms\n";
        return programGone;
    }
};

TEST_F(EscapeTest, DuringTheCopyTheDialogAnswersAndEscapeEndsTheProgramAtOnce) {
    // The copy runs beside the dialog: the dialog answers while the copy grows, and Escape ends
    // the program without waiting for the rest of the copy.
    std::string folder = caseFolder("Torvane");
    std::string copy = joinPath(folder, "FARROWPK.EXE");
    const std::uint64_t copyLength =
        std::uint64_t{payloadLengthOf(imagePath("big-payload.exe"))} + 20;
    ASSERT_GT(copyLength, 512u << 20);
    ASSERT_TRUE(launch("big-payload.exe"));
    ASSERT_TRUE(startInstall(folder));
    std::uint64_t seen = 0;
    for (auto deadline = Clock::now() + 20s; seen == 0 && Clock::now() < deadline;
         std::this_thread::sleep_for(2ms))
        seen = fileSize(copy);
    ASSERT_GT(seen, 0u) << "the copy never started";

    const auto asked = Clock::now();
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendMessageTimeoutW(window.handle(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer))
        << "the dialog did not answer within 2 s while the copy ran";
    const auto answeredAfter = Clock::now() - asked;
    const std::uint64_t grown = fileSize(copy);
    ASSERT_LT(grown, copyLength) << "the copy was over before the test saw it: make it bigger";
    std::cout << "[ figures  ] the dialog answered during the copy after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(answeredAfter).count()
              << " ms; copied " << (grown >> 20) << " MiB of " << (copyLength >> 20) << "\n";

    escapeAndWaitForTheEnd(10s);
    // The archive was never started, and the copy, marked for deletion until it is whole, went
    // with the program.
    EXPECT_EQ(listTree(folder), std::vector<std::string>{});
    EXPECT_FALSE(processRunning("FARROWPK.EXE"));
    expectNothingOutside(folder);
}

TEST_F(EscapeTest, DuringTheExtractionEndsTheArchiveAndRemovesItsCopy) {
    std::string folder = caseFolder("Torvane");
    ASSERT_TRUE(launch("large-suite.exe"));
    ASSERT_TRUE(startInstall(folder));
    ASSERT_TRUE(window.waitForLine("Decompressing archive ...", 20s)) << describe(window.lines());
    for (auto deadline = Clock::now() + 10s;
         !processRunning("FARROWPK.EXE") && Clock::now() < deadline;
         std::this_thread::sleep_for(2ms)) {
    }
    ASSERT_TRUE(processRunning("FARROWPK.EXE")) << "the archive was over before Escape";
    EXPECT_LT(escapeAndWaitForTheEnd(10s), 300ms) << "Escape did not end the program at once";
    std::this_thread::sleep_for(1s);
    EXPECT_FALSE(processRunning("FARROWPK.EXE")) << "the archive runs on after the setup";
    EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
}

TEST_F(EscapeTest, DuringTheWaitEndsTheProgramAtOnce) {
    // This archive never writes its completion flag, so the setup waits for up to 200 ticks.
    std::string folder = caseFolder("Torvane");
    ASSERT_TRUE(launch("no-completion-flag.exe"));
    ASSERT_TRUE(startInstall(folder));
    ASSERT_TRUE(window.waitForLine("Decompressing archive ...", 20s)) << describe(window.lines());
    for (auto deadline = Clock::now() + 10s;
         !fileExists(joinPath(folder, "torvane.flg")) && Clock::now() < deadline;
         std::this_thread::sleep_for(50ms)) {
    }
    ASSERT_TRUE(fileExists(joinPath(folder, "torvane.flg"))) << "the archive unpacked nothing";
    std::this_thread::sleep_for(500ms);
    std::vector<Line> lines = window.lines();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back(), black("Decompressing archive ...")) << describe(lines);
    screenshot("bad-input-escape-wait.png");
    EXPECT_LT(escapeAndWaitForTheEnd(10s), 1s) << "Escape did not end the program at once";
    // No later state ran: the flags are still there and no shortcut was made.
    std::this_thread::sleep_for(300ms);
    for (const char* flag : kFlagFiles)
        EXPECT_TRUE(fileExists(joinPath(folder, flag))) << flag;
    expectNothingOutside(folder);
}

} // namespace
