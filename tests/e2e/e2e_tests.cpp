// End-to-end tests: each case starts a real installer image built for it (make-images.sh), works
// the setup dialog from outside through its controls, and checks what the dialog shows and what
// the run leaves on disk and in the shell.
//
//   e2e_tests --images DIR --suite DIR --artifacts DIR [gtest options]
#include "../windows/ShellFolderOverride.h"
#include "setup_fixture.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <thread>

namespace {

using namespace e2e;

// 200 looks at 100 ms each, with room for a slow machine.
constexpr auto kTimeOutRunLimit = 120s;

const char* const kDescription = "Farrow Desktop Shortcut";
const char* const kDefaultFolder = "C:\\Program Files\\Torvane";

// The lines of a run that gets through the archive: what comes between the start of the run and
// the final line depends on how the archive ended, what it carried and the check box.
struct RunShape {
    std::string folder;
    bool folderExisted = false;
    std::string archiveEnd = "Decompression completed.";
    std::string summary = kAllComponents;
    bool componentsFound = true;
    bool desktopIcons = true;
};

std::vector<Line> linesOfRun(const RunShape& shape) {
    std::vector<Line> lines = {installLine(shape.folder), black("Creating directory ...")};
    if (shape.folderExisted)
        lines.push_back(olive("Warning: Directory already exists."));
    lines.push_back(black("Copying necessary files ..."));
    lines.push_back(black("Decompressing archive ..."));
    lines.push_back(black(shape.archiveEnd));
    lines.push_back(navy(shape.summary));
    if (shape.componentsFound && shape.desktopIcons)
        lines.push_back(black("Creating desktop shortcuts ..."));
    if (shape.componentsFound)
        lines.push_back(black("Creating start menu shortcuts ..."));
    lines.push_back(black("Cleaning up ..."));
    lines.push_back(success());
    return lines;
}

// The lines of a run whose archive was cut off by the time-out: the run fails there.
std::vector<Line> linesOfTimedOutRun(const std::string& folder) {
    return {installLine(folder),
            black("Creating directory ..."),
            black("Copying necessary files ..."),
            black("Decompressing archive ..."),
            black("Decompression process time out!"),
            failure()};
}

// A case that installs: its folder and the suite's shortcuts are cleared before it starts.
class InstallTest : public SetupTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(settings.suite.empty()) << "no --suite DIR to compare the installs with";
        ASSERT_NO_FATAL_FAILURE(removeSuiteShortcuts());
    }

    // A fresh folder for this case, gone before the case starts.
    std::string freshFolder(const std::string& name) {
        std::string folder = "C:\\e2e\\" + name;
        EXPECT_TRUE(removeTree(folder)) << folder;
        createFolders("C:\\e2e");
        return folder;
    }

    // Starts `image`, installs it into `folder` and returns the lines of the run.
    std::vector<Line> install(const std::string& image, const std::string& folder) {
        if (!launch(image) || !startInstall(folder)) {
            ADD_FAILURE() << "cannot start an install of " << image << " into " << folder;
            return {};
        }
        return finish();
    }

    // The run went as the demo image's does: its lines, the whole suite and nothing else in the
    // folder, and the six shortcuts.
    void expectInstalledAsTheDemo(const std::vector<Line>& lines, const std::string& folder) {
        EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
        expectEndState();
        expectSuiteInstalled(folder);
        expectNoLeftovers(folder);
        expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, true);
    }

    template <class Path>
    void expectShortcut(const Path& link, const std::string& folder, const std::string& component) {
        std::optional<Shortcut> shortcut = readShortcut(link);
        ASSERT_TRUE(shortcut) << "no readable shortcut " << link;
        EXPECT_TRUE(
            lstrcmpiA(shortcut->target.c_str(), joinPath(folder, component + ".exe").c_str()) == 0)
            << link << " points at " << shortcut->target;
        EXPECT_TRUE(lstrcmpiA(shortcut->workingFolder.c_str(), (folder + "\\").c_str()) == 0)
            << link << " works in " << shortcut->workingFolder;
        EXPECT_EQ(shortcut->description, kDescription) << link;
    }

    // Exactly the shortcuts of `components`, on the desktop (when asked) and in the group folder.
    void expectShortcuts(const std::string& folder, const std::vector<std::string>& components,
                         bool onDesktop) {
        for (const char* name : kComponents) {
            bool wanted = std::find(components.begin(), components.end(), name) != components.end();
            std::string desktopLink = e2e::desktopLink(name);
            std::string menuLink = joinPath(groupFolder(), std::string(name) + ".lnk");
            EXPECT_EQ(fileExists(desktopLink), wanted && onDesktop) << desktopLink;
            EXPECT_EQ(fileExists(menuLink), wanted) << menuLink;
            if (wanted && onDesktop)
                expectShortcut(desktopLink, folder, name);
            if (wanted)
                expectShortcut(menuLink, folder, name);
        }
    }

    // The suite's files, as the demo suite holds them, less the flag files the setup removes,
    // and the record of the install with the uninstaller beside it.
    void expectSuiteInstalled(const std::string& folder) {
        std::vector<std::string> expected = {"install.rec", "uninstall.exe"};
        for (const std::string& entry : listTree(windowsPath(settings.suite)))
            if (entry.size() < 4 || entry.compare(entry.size() - 4, 4, ".flg") != 0)
                expected.push_back(entry);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(listTree(folder), expected);
        for (const std::string& entry : expected) {
            if (entry.back() == '\\' || entry == "install.rec" || entry == "uninstall.exe")
                continue;
            EXPECT_EQ(readFile(joinPath(folder, entry)),
                      readFile(joinPath(windowsPath(settings.suite), entry)))
                << entry << " differs from the suite's file";
        }
    }

    // Closes the setup of a case that runs a second one.
    void closeTheSetup() { SetupTest::TearDown(); }

    void expectNoLeftovers(const std::string& folder) {
        EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
        EXPECT_FALSE(folderExists(joinPath(folder, "ZZZ")));
        for (const char* flag : {"pellisar.flg", "torvane.flg", "dromlet.flg"})
            EXPECT_FALSE(fileExists(joinPath(folder, flag))) << flag;
    }

    ScopedCoInitialize com;
};

// --- The dialog ------------------------------------------------------------------------------

TEST_F(SetupTest, StartsWithItsTitleDefaultsAndButtonStates) {
    ASSERT_TRUE(launch("demo.exe"));
    EXPECT_EQ(window.title(), "Torvane Software Suite Setup v1.0.0");
    EXPECT_EQ(window.text(control::kInstallPath), kDefaultFolder);
    EXPECT_TRUE(window.checked(control::kDesktopIcons));
    EXPECT_TRUE(window.enabled(control::kAccept));
    EXPECT_TRUE(window.enabled(control::kClose));
    EXPECT_TRUE(window.enabled(control::kInstallPath));
    EXPECT_TRUE(window.enabled(control::kDesktopIcons));
    EXPECT_FALSE(window.enabled(control::kInstall));
    EXPECT_TRUE(window.lines().empty()) << describe(window.lines());
    EXPECT_EQ(window.progressPosition(), 0);
    // The template's default button never shows.
    EXPECT_FALSE(window.visible(1021));
    // Ticks before Install do nothing.
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(window.lines().empty());
    EXPECT_FALSE(window.click(control::kInstall)) << "Install must not be pressable yet";
}

TEST_F(SetupTest, ShowsTheAgreementWithItsHeadingsOnLinesOfTheirOwn) {
    ASSERT_TRUE(launch("demo.exe"));
    std::string text = window.text(control::kAgreement);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.rfind("\r\n\r\nEND-USER LICENSE AGREEMENT FOR TORVANE\r\n\r\n", 0), 0u)
        << text.substr(0, 80);
    size_t at = 0;
    for (const char* heading :
         {"END-USER LICENSE AGREEMENT FOR TORVANE", "LICENSE TERMS", "OTHER LIMITATIONS",
          "GOVERNING LAW", "PROPRIETARY RIGHTS", "DISCLAIMER OF WARRANTY"}) {
        std::string line = std::string("\r\n") + heading + "\r\n\r\n";
        size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << heading << " is missing or out of order";
        at = found + line.size();
    }
    // Only CR-LF pairs break lines, and the last sentence has none after it.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
        }
        if (text[i] == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare return at " << i;
        }
    }
    EXPECT_NE(text.back(), '\n');
}

TEST_F(SetupTest, AcceptEnablesInstallAndCannotBePressedTwice) {
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(window.click(control::kAccept));
    EXPECT_TRUE(window.enabled(control::kInstall));
    EXPECT_FALSE(window.enabled(control::kAccept));
    EXPECT_TRUE(window.enabled(control::kInstallPath));
    EXPECT_TRUE(window.enabled(control::kClose));
    EXPECT_TRUE(window.enabled(control::kDesktopIcons));
    EXPECT_FALSE(window.click(control::kAccept));
    EXPECT_TRUE(window.lines().empty());
}

// --- Runs: the dialog's side -----------------------------------------------------------------

class RunTest : public InstallTest {};

TEST_F(RunTest, ClosingTheWindowDuringARunEndsTheProgram) {
    std::string folder = freshFolder("closed-mid-run");
    ASSERT_TRUE(launch("no-completion-flag.exe"));
    ASSERT_TRUE(window.click(control::kAccept));
    ASSERT_TRUE(window.setText(control::kInstallPath, folder));
    ASSERT_TRUE(window.click(control::kInstall));
    ASSERT_TRUE(window.waitForLine("Creating directory ...", 10s));
    // A close request is never blocked, not even while Close is disabled.
    PostMessageA(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(process.waitForExit(10s)) << "the setup kept running after a close request";
}

TEST_F(RunTest, IntoANewFolderDisablesTheDialogThenEndsInSuccess) {
    std::string folder = freshFolder("new-folder");
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(startInstall(folder));
    // While the run is under way only the check box stays usable.
    EXPECT_FALSE(window.enabled(control::kInstall));
    EXPECT_FALSE(window.enabled(control::kAccept));
    EXPECT_FALSE(window.enabled(control::kInstallPath));
    EXPECT_FALSE(window.enabled(control::kClose));
    EXPECT_TRUE(window.enabled(control::kDesktopIcons));

    std::vector<Line> lines = finish();
    ASSERT_GE(lines.size(), 3u) << describe(lines);
    EXPECT_EQ(lines[0], installLine(folder));
    EXPECT_EQ(lines[1], black("Creating directory ..."));
    EXPECT_EQ(lines.back(), success()) << describe(lines);
    for (const Line& line : lines)
        EXPECT_TRUE(line.color != color::kRed && line.color != color::kOlive)
            << "unexpected warning or error: " << line.text;
    expectEndState();
    EXPECT_TRUE(folderExists(folder));
    // Ticks after the end change nothing.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(window.lines(), lines);
}

TEST_F(RunTest, DropsOneTrailingBackslashFromTheFolder) {
    std::string folder = freshFolder("trailing");
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(startInstall(folder + "\\"));
    std::vector<Line> lines = finish();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], installLine(folder));
    EXPECT_EQ(lines.back(), success()) << describe(lines);
    EXPECT_TRUE(folderExists(folder));
}

// --- Labels ------------------------------------------------------------------------------------

struct LabelCase {
    const char* image;
    const char* title;
};

class LabelTest : public SetupTest, public ::testing::WithParamInterface<LabelCase> {};

TEST_P(LabelTest, TitleShowsTheLabelField) {
    ASSERT_TRUE(launch(GetParam().image));
    EXPECT_EQ(window.title(), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Images, LabelTest,
    ::testing::Values(
        // A field that starts with its zero byte: empty label, the title keeps its blank.
        LabelCase{"empty-label.exe", "Torvane Software Suite Setup "},
        LabelCase{"label15.exe", "Torvane Software Suite Setup Release-15chars"},
        // Sixteen bytes without a zero: only the first fifteen count.
        LabelCase{"label16.exe", "Torvane Software Suite Setup ABCDEFGHIJKLMNO"},
        // Read in front of the certificate table that signing appends.
        LabelCase{"signed.exe", "Torvane Software Suite Setup v1.0.0"},
        // Bytes appended after signing: the trailer does not fit, so no label, not "appended".
        LabelCase{"signed-appended.exe", "Torvane Software Suite Setup "}),
    [](const ::testing::TestParamInfo<LabelCase>& info) {
        std::string name = info.param.image;
        name = name.substr(0, name.find('.'));
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// --- The payload copy --------------------------------------------------------------------------

class PayloadTest : public InstallTest {};

TEST_F(PayloadTest, CopiesThePayloadWithProgressInKilobytes) {
    std::string folder = freshFolder("payload-copy");
    std::vector<Line> lines = install("demo.exe", folder);
    ASSERT_GE(lines.size(), 4u) << describe(lines);
    EXPECT_EQ(lines[2], black("Copying necessary files ...")) << describe(lines);
    EXPECT_EQ(lines.back(), success()) << describe(lines);
    // The range stays as the copy set it; the position is back at 0.
    std::uint32_t payloadLength = payloadLengthOf(imagePath("demo.exe"));
    ASSERT_GT(payloadLength, 0u);
    EXPECT_EQ(window.progressRange(), std::make_pair(0, static_cast<int>(payloadLength / 1024)));
    expectEndState();
    EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE"))) << "the copy was not cleaned up";
}

TEST_F(PayloadTest, FailsWhenTheFolderIsAFile) {
    // The folder "exists" for the folder step, but no copy can be created inside a file.
    std::string folder = freshFolder("a-file");
    ASSERT_TRUE(writeFile(folder, "not a folder"));
    std::vector<Line> lines = install("demo.exe", folder);
    EXPECT_EQ(lines, (std::vector<Line>{installLine(folder), black("Creating directory ..."),
                                        olive("Warning: Directory already exists."),
                                        black("Copying necessary files ..."),
                                        red("Error: Unable to create new archive for copying."),
                                        failure()}))
        << describe(lines);
    expectEndState();
    EXPECT_EQ(readFile(folder), std::string("not a folder"));
}

// Polls the bar until the run ends: the positions it showed while the archive was unpacking,
// that is while "Decompressing archive ..." was the last line, before and after the look.
std::vector<int> barWhileUnpacking(const SetupWindow& window, std::chrono::milliseconds limit) {
    const auto unpacking = [&window] {
        const std::vector<Line> lines = window.lines();
        return !lines.empty() && lines.back().text == "Decompressing archive ...";
    };
    std::vector<int> positions;
    for (auto deadline = Clock::now() + limit; Clock::now() < deadline;
         std::this_thread::sleep_for(5ms)) {
        const bool before = unpacking();
        const int position = window.progressPosition();
        if (before && unpacking())
            positions.push_back(position);
        const std::vector<Line> lines = window.lines();
        if (!lines.empty() &&
            (lines.back().text == kSuccessLine || lines.back().text == kFailureLine))
            break;
    }
    return positions;
}

// Installs `image` into a fresh folder named `folderName`, which must succeed with the demo's
// lines; the bar's positions while the archive unpacked.
class BarTest : public PayloadTest {
protected:
    std::vector<int> installWatchingTheBar(const std::string& image,
                                           const std::string& folderName) {
        folder = freshFolder(folderName);
        std::vector<int> positions;
        if (!launch(image) || !startInstall(folder)) {
            ADD_FAILURE() << "cannot start " << image;
            return positions;
        }
        positions = barWhileUnpacking(window, kRunLimit);
        std::vector<Line> lines = finish();
        EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
        return positions;
    }
    std::string folder;
};

TEST_F(BarTest, TheBarMovesWhileTheArchiveUnpacks) {
    std::vector<int> positions = installWatchingTheBar("large-suite.exe", "large-suite");
    ASSERT_FALSE(positions.empty()) << "never saw the archive unpacking";
    const int range = window.progressRange().second;
    EXPECT_GT(*std::max_element(positions.begin(), positions.end()), 0)
        << "the bar stood at 0 all through the unpacking";
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end())) << "the bar moved back";
    EXPECT_LE(positions.back(), range);
    std::sort(positions.begin(), positions.end());
    std::cout << "[ figures  ] Distinct bar positions while unpacking: "
              << std::unique(positions.begin(), positions.end()) - positions.begin() << " of "
              << range << "\n";
    expectEndState();
    EXPECT_TRUE(fileExists(joinPath(folder, "Data\\part255.txt")));
}

TEST_F(BarTest, AnArchiveThatPublishesNothingLeavesTheBarAtZero) {
    std::vector<int> positions = installWatchingTheBar("lingering.exe", "lingering-bar");
    EXPECT_EQ(std::count(positions.begin(), positions.end(), 0),
              static_cast<std::ptrdiff_t>(positions.size()))
        << "the bar moved for an archive that publishes no progress";
    expectEndState();
}

// --- Whole installations -----------------------------------------------------------------------

TEST_F(InstallTest, DemoImageInstallsTheSuiteWithSixShortcuts) {
    // The default folder, blanks and all.
    std::string folder = kDefaultFolder;
    ASSERT_TRUE(removeTree(folder));
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(window.click(control::kAccept));
    ASSERT_TRUE(window.click(control::kInstall));
    installPressed = Clock::now();
    expectInstalledAsTheDemo(finish(), folder);
    std::cout << "[ figures  ] Install to success line: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(runTime).count() << " ms\n";

    // The success line shows in its green, dots included, on the screen.
    window.repaint();
    std::string error;
    std::optional<Picture> picture = captureWindow(window.handle(), &error);
    ASSERT_TRUE(picture) << error;
    RECT list;
    GetWindowRect(window.item(control::kMessages), &list);
    EXPECT_GT(picture->count(RGB(0, 128, 0), list), 30) << "no green success line on the screen";
    EXPECT_GT(picture->count(RGB(0, 0, 128), list), 10) << "no navy lines on the screen";
    std::string png = encodePng(*picture);
    EXPECT_TRUE(writeFile(joinPath(settings.artifacts, "e2e-demo-run.png"), png));

    // The installed program starts from its shortcut and shows its window.
    std::optional<Shortcut> shortcut =
        readShortcut(joinPath(groupFolder(), std::string("Torvane.lnk")));
    ASSERT_TRUE(shortcut);
    Process component;
    ASSERT_TRUE(component.start(shortcut->target, {}, shortcut->workingFolder, &error)) << error;
    HWND componentWindow = nullptr;
    for (auto deadline = Clock::now() + 20s; !componentWindow && Clock::now() < deadline;
         std::this_thread::sleep_for(100ms))
        componentWindow = FindWindowA("TorvaneDemoComponent", "Torvane");
    EXPECT_TRUE(componentWindow) << "Torvane.exe showed no window";
}

// The suite packed another way installs as the demo image does. 7-Zip sorts the entries: the
// completion flag stands before the component flags, and is still written last.
struct SuiteImage {
    const char* name;
    const char* image;
    const char* folder;
};

class SuiteImageTest : public InstallTest, public ::testing::WithParamInterface<SuiteImage> {};

TEST_P(SuiteImageTest, InstallsAsTheDemoImageDoes) {
    std::string folder = freshFolder(GetParam().folder);
    expectInstalledAsTheDemo(install(GetParam().image, folder), folder);
}

INSTANTIATE_TEST_SUITE_P(Images, SuiteImageTest,
                         ::testing::Values(SuiteImage{"Signed", "signed.exe", "signed"},
                                           SuiteImage{"ZippedBy7Zip", "sevenzip.exe", "sevenzip"},
                                           SuiteImage{"PackedWithLzma", "lzma.exe", "lzma"}),
                         [](const ::testing::TestParamInfo<SuiteImage>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(InstallTest, UntickedBeforeInstallWritesNoDesktopShortcuts) {
    std::string folder = freshFolder("no-desktop-icons");
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(startInstall(folder, /*desktopIcons=*/false));
    std::vector<Line> lines = finish();
    EXPECT_EQ(lines, linesOfRun({.folder = folder, .desktopIcons = false})) << describe(lines);
    expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, false);
}

TEST_F(InstallTest, UntickingAfterInstallDoesNotReachTheRun) {
    std::string folder = freshFolder("untick-after");
    ASSERT_TRUE(launch("demo.exe"));
    ASSERT_TRUE(startInstall(folder));
    ASSERT_TRUE(window.click(control::kDesktopIcons));
    EXPECT_FALSE(window.checked(control::kDesktopIcons));
    std::vector<Line> lines = finish();
    EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
    expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, true);
}

TEST_F(InstallTest, OnlyDromletCarriedGetsOnlyDromletShortcuts) {
    std::string folder = freshFolder("dromlet-only");
    std::vector<Line> lines = install("dromlet-only.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder, .summary = "Installed components:  Dromlet"}))
        << describe(lines);
    expectShortcuts(folder, {"Dromlet"}, true);
    expectNoLeftovers(folder);
}

TEST_F(InstallTest, NoComponentCarriedSucceedsWithoutShortcuts) {
    std::string folder = freshFolder("no-components");
    std::vector<Line> lines = install("no-components.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder,
                                 .summary = "Installed components:  No components installed!",
                                 .componentsFound = false}))
        << describe(lines);
    expectShortcuts(folder, {}, true);
    EXPECT_FALSE(folderExists(groupFolder())) << "a group folder with nothing in it";
    EXPECT_TRUE(fileExists(joinPath(folder, "Torvane.txt")));
    expectNoLeftovers(folder);
}

TEST_F(InstallTest, MissingCompletionFlagTimesOutAndTheRunFails) {
    std::string folder = freshFolder("no-completion-flag");
    ASSERT_TRUE(launch("no-completion-flag.exe"));
    ASSERT_TRUE(startInstall(folder));
    std::vector<Line> lines = finish(kTimeOutRunLimit);
    EXPECT_EQ(lines, linesOfTimedOutRun(folder)) << describe(lines);
    expectEndState();
    // 200 looks, one a tick of 100 ms, after the archive's last progress.
    EXPECT_GE(runTime, 19s) << "the wait gave up after fewer than 200 looks";
    // What it unpacked stays, but is not taken for an installation: no shortcut.
    EXPECT_TRUE(fileExists(joinPath(folder, "Torvane.exe")));
    expectShortcuts(folder, {}, true);
    EXPECT_FALSE(folderExists(groupFolder()));
    EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
}

// An archive that publishes its progress is waited for as long as it gets on, here 25 s, past
// the 200 looks; one that stops getting on is cut off 200 looks later, and the run fails.
TEST_F(InstallTest, ASlowArchiveIsWaitedForAndAStalledOneTimesOut) {
    std::string folder = freshFolder("slow");
    ASSERT_TRUE(launch("slow.exe"));
    ASSERT_TRUE(startInstall(folder));
    std::vector<Line> lines = finish(kTimeOutRunLimit);
    EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
    EXPECT_GE(runTime, 25s);
    EXPECT_TRUE(fileExists(joinPath(folder, "Slow\\part250.txt")));
    expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, true);
    expectNoLeftovers(folder);
    closeTheSetup();

    ASSERT_NO_FATAL_FAILURE(removeSuiteShortcuts());
    folder = freshFolder("stalled");
    ASSERT_TRUE(launch("stalled.exe"));
    ASSERT_TRUE(startInstall(folder));
    lines = finish(kTimeOutRunLimit);
    EXPECT_EQ(lines, linesOfTimedOutRun(folder)) << describe(lines);
    EXPECT_GE(runTime, 21s) << "2 s of progress, then 200 looks without";
    EXPECT_TRUE(fileExists(joinPath(folder, "Slow\\part20.txt")));
    expectShortcuts(folder, {}, true);
    // Terminated, and waited for: its file goes too.
    EXPECT_FALSE(processRunning("FARROWPK.EXE"));
    EXPECT_FALSE(fileExists(joinPath(folder, "FARROWPK.EXE")));
}

// The completion folder holds another file and a stale completion flag, which an interrupted
// earlier run left (or anyone planted): the flag is not taken for this run's, the archive runs
// to its end, and the other file stays.
TEST_F(InstallTest, CompletionFolderHoldingAnotherFileAndAStaleFlag) {
    std::string folder = freshFolder("zzz-shared");
    ASSERT_TRUE(createFolders(joinPath(folder, "ZZZ")));
    ASSERT_TRUE(writeFile(joinPath(folder, "ZZZ\\keep.txt"), "keep"));
    ASSERT_TRUE(writeFile(joinPath(folder, "ZZZ\\COMP.FLG"), "stale"));
    std::vector<Line> lines = install("demo.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder, .folderExisted = true})) << describe(lines);
    EXPECT_FALSE(fileExists(joinPath(folder, "ZZZ\\COMP.FLG")));
    EXPECT_TRUE(fileExists(joinPath(folder, "ZZZ\\keep.txt")));
    ASSERT_TRUE(removeTree(joinPath(folder, "ZZZ")));
    expectSuiteInstalled(folder);
    expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, true);
}

// Component flags that an earlier run left behind, or that anyone planted, are never taken for
// this run's: it gets shortcuts only for what its payload carries.
TEST_F(InstallTest, StaleComponentFlagsAreNotBelieved) {
    std::string folder = freshFolder("stale-component-flags");
    ASSERT_TRUE(createFolders(folder));
    ASSERT_TRUE(writeFile(joinPath(folder, "torvane.flg"), "stale"));
    ASSERT_TRUE(writeFile(joinPath(folder, "pellisar.flg"), "stale"));
    std::vector<Line> lines = install("dromlet-only.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder,
                                 .folderExisted = true,
                                 .summary = "Installed components:  Dromlet"}))
        << describe(lines);
    expectShortcuts(folder, {"Dromlet"}, true);
    expectNoLeftovers(folder);
}

// Installing again over an earlier installation, with nothing planted, is the common case.
TEST_F(InstallTest, ASecondInstallIntoTheSameFolderSucceeds) {
    std::string folder = freshFolder("reinstall");
    expectInstalledAsTheDemo(install("demo.exe", folder), folder);
    closeTheSetup();
    std::vector<Line> lines = install("demo.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder, .folderExisted = true})) << describe(lines);
    expectSuiteInstalled(folder);
    expectNoLeftovers(folder);
    expectShortcuts(folder, {"Pellisar", "Torvane", "Dromlet"}, true);
}

// An image saved in a folder named in scripts beyond the ANSI code page, as a browser saves it
// for a user named so: the setup reads itself by its UTF-16 path, shows its label and installs.
TEST_F(InstallTest, AnImageInAFolderNamedInAnyScriptStartsAndInstalls) {
    const std::string downloads = "C:\\e2e\\Загрузки 张伟";
    ASSERT_TRUE(removeTree(downloads));
    ASSERT_TRUE(createFolders(downloads));
    const std::optional<std::string> demo = readFile(imagePath("demo.exe"));
    ASSERT_TRUE(demo && writeFile(downloads + "\\TorvaneSetup.exe", *demo));
    std::string folder = freshFolder("from-any-script");
    ASSERT_TRUE(launch(downloads + "\\TorvaneSetup.exe"));
    EXPECT_EQ(window.title(), "Torvane Software Suite Setup v1.0.0");
    ASSERT_TRUE(startInstall(folder));
    expectInstalledAsTheDemo(finish(), folder);
    closeTheSetup();
    EXPECT_TRUE(removeTree(downloads));
}

// An install folder typed in a script beyond the ANSI code page: the suite lands there, the first
// line names it exactly as typed, and the shortcuts lead there.
TEST_F(InstallTest, AFolderNamedInAnyScriptIsInstalledInto) {
    ASSERT_TRUE(removeTree("C:\\Программы"));
    ASSERT_TRUE(createFolders("C:\\Программы")); // the setup makes the last folder only
    const std::string folder = "C:\\Программы\\Torvane";
    const std::vector<Line> lines = install("demo.exe", folder);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), navy("Installing Torvane into C:\\Программы\\Torvane ..."));
    EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
    expectEndState();
    expectSuiteInstalled(folder);
    expectNoLeftovers(folder);
    // Wine writes a link's path string in the ANSI code page only ('?' here); its item list,
    // which the shell opens, holds the names exactly.
    for (const char* name : kComponents)
        for (const std::string& link :
             {desktopLink(name), joinPath(groupFolder(), std::string(name) + ".lnk")}) {
            const std::optional<Shortcut> shortcut = readShortcut(link);
            ASSERT_TRUE(shortcut) << link;
            EXPECT_EQ(shortcut->itemTarget,
                      "C:\\Программы\\Torvane\\" + std::string(name) + ".exe");
            EXPECT_EQ(shortcut->workingFolder, "C:\\Программы\\Torvane\\");
        }
    closeTheSetup();
    EXPECT_TRUE(removeTree("C:\\Программы"));
}

// A suite whose names go beyond ASCII, packed by pack: stored as UTF-8, unpacked by that name.
TEST_F(InstallTest, NamesBeyondAsciiInTheSuiteUnpackByTheirName) {
    const std::string folder = freshFolder("named-suite");
    const std::vector<Line> lines = install("named.exe", folder);
    EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
    EXPECT_EQ(readFile(folder + "\\Документы\\Лицензия.txt"), "Лицензия Torvane\n");
}

// A profile whose Desktop and Programs folders have names beyond the ANSI code page (a Russian
// user name, a redirected Desktop): the shortcuts land in them all the same.
TEST_F(InstallTest, ShellFoldersNamedBeyondTheCodePageGetTheShortcuts) {
    std::string folder = freshFolder("shell-folders-ru");
    const std::wstring profile = L"C:\\e2e\\profile-ru";
    const std::wstring desktop = profile + L"\\Рабочий стол";
    const std::wstring menu = profile + L"\\Главное меню";
    const std::wstring programs = menu + L"\\Программы";
    ASSERT_TRUE(removeTree(profile));
    for (const std::wstring& created : {profile, desktop, menu, programs})
        ASSERT_TRUE(CreateDirectoryW(created.c_str(), nullptr));
    {
        ShellFolderOverride desktopOverride(L"Desktop", desktop);
        ShellFolderOverride programsOverride(L"Programs", programs);
        ASSERT_TRUE(desktopOverride.Applied() && programsOverride.Applied());
        ASSERT_TRUE(launch("demo.exe"));
        ASSERT_TRUE(startInstall(folder));
        std::vector<Line> lines = finish();
        EXPECT_EQ(lines, linesOfRun({.folder = folder})) << describe(lines);
    }
    for (const char* name : kComponents) {
        const std::wstring link = L"\\" + std::wstring(name, name + std::strlen(name)) + L".lnk";
        expectShortcut(desktop + link, folder, name);
        expectShortcut(programs + L"\\Torvane Software Suite" + link, folder, name);
    }
    EXPECT_TRUE(removeTree(profile));
}

} // namespace
