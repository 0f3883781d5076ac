// The fixture every end-to-end case starts from: one installer image, started and found by its
// dialog, worked through its controls and ended when the case is over. Also the folders both
// test programs are given on their command line, and their main().
#pragma once

#include "expected_lines.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

// --images DIR --artifacts DIR [--suite DIR], as Windows paths.
struct Settings {
    std::string images;
    std::string suite;
    std::string artifacts;
};
extern Settings settings;

constexpr auto kStartLimit = 30s;
constexpr auto kRunLimit = 90s;

// An image of the images folder by its name; an absolute path as it is.
std::string imagePath(const std::string& name);
std::string desktopLink(const std::string& component);
std::string groupFolder();

class SetupTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Starts an image from the images folder in `workingFolder` (empty: ours) and waits for its
    // dialog.
    bool launch(const std::string& image, const std::string& workingFolder = {});

    // Types the folder, accepts the agreement, sets the check box and presses Install.
    template <class Text> bool startInstall(const Text& folder, bool desktopIcons = true) {
        if (!window.setText(control::kInstallPath, folder)) {
            ADD_FAILURE() << "cannot type the install folder";
            return false;
        }
        if (!window.click(control::kAccept)) {
            ADD_FAILURE() << "cannot press Accept";
            return false;
        }
        if (window.checked(control::kDesktopIcons) != desktopIcons &&
            !window.click(control::kDesktopIcons)) {
            ADD_FAILURE() << "cannot change the check box";
            return false;
        }
        if (!window.click(control::kInstall)) {
            ADD_FAILURE() << "cannot press Install";
            return false;
        }
        installPressed = Clock::now();
        return true;
    }

    // Waits for the final line and gives back every line.
    std::vector<Line> finish(std::chrono::milliseconds limit = kRunLimit);

    // The dialog's state once a run has ended, success or failure alike.
    void expectEndState();

    // Saves what the dialog shows as `name` in the artifacts folder.
    void screenshot(const std::string& name);

    // No suite shortcut on the desktop and no group folder: a case that installs starts so.
    void removeSuiteShortcuts();
    // Deletes the suite's Apps & Features entry, in both hives.
    static void forgetSuiteEntry();

    Process process;
    SetupWindow window;
    Clock::time_point installPressed;
    Clock::duration runTime{};
    // Whether a setup ended through Close must report exit code 0.
    bool expectCleanExit = false;
};

} // namespace e2e
