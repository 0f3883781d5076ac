#include "setup_fixture.h"

#include <shlobj.h>

#include <iostream>

namespace e2e {

Settings settings;

std::string imagePath(const std::string& name) {
    const bool absolute = name.size() > 2 && name[1] == ':';
    return absolute ? name : joinPath(settings.images, name);
}
std::string desktopLink(const std::string& component) {
    return joinPath(specialFolder(CSIDL_DESKTOPDIRECTORY), component + ".lnk");
}
std::string groupFolder() {
    return joinPath(specialFolder(CSIDL_PROGRAMS), kGroupName);
}

void SetupTest::TearDown() {
    if (window.exists() && window.enabled(control::kClose)) {
        window.click(control::kClose);
        EXPECT_TRUE(process.waitForExit(10s)) << "the setup did not end through Close";
        if (expectCleanExit) {
            EXPECT_EQ(process.exitCode(), std::optional<DWORD>(0)) << "the setup did not end well";
        }
    }
    process.kill();
    forgetSuiteEntry();
}

// An install registers the suite, and the next dialog would open on its folder: each case
// starts on a machine where the suite is not registered.
void SetupTest::forgetSuiteEntry() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        ::RegDeleteTreeW(
            root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorvaneSoftwareSuite");
}

bool SetupTest::launch(const std::string& image, const std::string& workingFolder) {
    std::string path = imagePath(image);
    if (!fileExists(path)) {
        ADD_FAILURE() << "no image " << path << " (the e2e_images fixture builds them)";
        return false;
    }
    std::string error;
    if (!process.start(path, {}, workingFolder, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    std::optional<SetupWindow> found = SetupWindow::find(process.id(), kStartLimit);
    if (!found) {
        ADD_FAILURE() << "no setup dialog from " << image << " within "
                      << std::chrono::seconds(kStartLimit).count() << " s";
        return false;
    }
    window = *found;
    return true;
}

std::vector<Line> SetupTest::finish(std::chrono::milliseconds limit) {
    bool ended = window.waitForEnd(limit);
    std::vector<Line> lines = window.lines();
    runTime = Clock::now() - installPressed;
    EXPECT_TRUE(ended) << "the run did not end within "
                       << std::chrono::duration_cast<std::chrono::seconds>(limit).count()
                       << " s; lines so far:\n"
                       << describe(lines);
    return lines;
}

void SetupTest::expectEndState() {
    EXPECT_TRUE(window.enabled(control::kClose));
    EXPECT_FALSE(window.enabled(control::kInstall));
    EXPECT_FALSE(window.enabled(control::kAccept));
    EXPECT_FALSE(window.enabled(control::kInstallPath));
    EXPECT_EQ(window.progressPosition(), 0);
}

void SetupTest::screenshot(const std::string& name) {
    std::string error;
    window.repaint();
    EXPECT_TRUE(saveScreenshot(window.handle(), joinPath(settings.artifacts, name), &error))
        << error;
}

void SetupTest::removeSuiteShortcuts() {
    ASSERT_FALSE(specialFolder(CSIDL_DESKTOPDIRECTORY).empty());
    ASSERT_FALSE(specialFolder(CSIDL_PROGRAMS).empty());
    ASSERT_TRUE(removeTree(groupFolder())) << groupFolder();
    for (const char* name : kComponents)
        ASSERT_TRUE(removeTree(desktopLink(name))) << desktopLink(name);
}

} // namespace e2e

int main(int argc, char** argv) {
    using e2e::settings;
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        std::string value = e2e::windowsPath(argv[i + 1]);
        if (option == "--images")
            settings.images = value;
        else if (option == "--suite")
            settings.suite = value;
        else if (option == "--artifacts")
            settings.artifacts = value;
        else {
            std::cerr << "unknown option " << option << "\n";
            return 2;
        }
    }
    if (settings.images.empty() || settings.artifacts.empty()) {
        std::cerr << "usage: " << argv[0]
                  << " --images DIR --artifacts DIR [--suite DIR] [gtest options]\n";
        return 2;
    }
    e2e::createFolders(settings.artifacts);
    return RUN_ALL_TESTS();
}
