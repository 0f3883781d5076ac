// Runs the demo installer image with nobody at the keyboard: presses Accept and Install, prints
// every message-list line as it appears, saves a screenshot of the dialog at the end, closes it,
// and lists what the installation left behind.
//
//   demo-driver IMAGE --screenshot PNG [--folder FOLDER]   a whole run
//   demo-driver --report [--folder FOLDER]                 only the list of what is installed
//
// Each line is printed as "[colour] text", so that a script can colour it for a terminal.
// Exit code 0 when the run ends with the success line.
#include "harness.h"

#include <shlobj.h>

#include <cstdio>
#include <thread>

namespace {

using namespace e2e;

const char* const kComponents[] = {"Pellisar", "Torvane", "Dromlet"};
const char* const kDefaultFolder = "C:\\Program Files\\Torvane";
constexpr auto kRunLimit = 120s;

struct Options {
    std::string image;
    std::string screenshot;
    std::string folder = kDefaultFolder;
    bool reportOnly = false;
};

std::string groupFolder() {
    return joinPath(specialFolder(CSIDL_PROGRAMS), "Torvane Software Suite");
}

std::vector<std::string> shortcutFiles() {
    std::vector<std::string> links;
    for (const char* name : kComponents)
        links.push_back(
            joinPath(specialFolder(CSIDL_DESKTOPDIRECTORY), std::string(name) + ".lnk"));
    for (const char* name : kComponents)
        links.push_back(joinPath(groupFolder(), std::string(name) + ".lnk"));
    return links;
}

void say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void printLine(const Line& line) {
    say("[" + colorName(line.color) + "] " + line.text);
}

// The lines of `now` that follow what was printed already. The list keeps only its newest lines,
// so the overlap is found from the end of what was printed.
std::vector<Line> newLines(const std::vector<Line>& printed, const std::vector<Line>& now) {
    for (size_t overlap = std::min(printed.size(), now.size());; --overlap) {
        if (std::equal(now.begin(), now.begin() + static_cast<long>(overlap),
                       printed.end() - static_cast<long>(overlap)))
            return {now.begin() + static_cast<long>(overlap), now.end()};
        if (overlap == 0)
            return now;
    }
}

void report(const std::string& folder) {
    ScopedCoInitialize com;
    say("");
    if (!folderExists(folder)) {
        say("Nothing installed in " + folder + ".");
    } else {
        say("Installed in " + folder + ":");
        for (const std::string& entry : listTree(folder)) {
            std::string path = joinPath(folder, entry);
            if (entry.back() == '\\') {
                say("  " + entry);
                continue;
            }
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
            char size[32];
            std::snprintf(size, sizeof size, "%10lu",
                          static_cast<unsigned long>(data.nFileSizeLow));
            say(std::string("  ") + size + "  " + entry);
        }
    }
    say("");
    say("Shortcuts:");
    bool any = false;
    for (const std::string& link : shortcutFiles()) {
        std::optional<Shortcut> shortcut = readShortcut(link);
        if (!shortcut)
            continue;
        any = true;
        say("  " + link);
        say("      -> " + shortcut->target + "  (starts in " + shortcut->workingFolder + ", \"" +
            shortcut->description + "\")");
    }
    if (!any)
        say("  none");
}

// Clears what an earlier demo run left in this prefix, so that every run starts fresh.
void clearEarlierRun(const std::string& folder) {
    bool earlier = folderExists(folder) || folderExists(groupFolder());
    for (const std::string& link : shortcutFiles())
        earlier = fileExists(link) || earlier;
    if (!earlier)
        return;
    say("Removing the earlier demo installation from this Wine prefix.");
    removeTree(folder);
    removeTree(groupFolder());
    for (const std::string& link : shortcutFiles())
        removeTree(link);
}

int run(const Options& options) {
    clearEarlierRun(options.folder);
    Process setup;
    std::string error;
    if (!setup.start(options.image, {}, {}, &error)) {
        say("demo-driver: " + error);
        return 1;
    }
    std::optional<SetupWindow> found = SetupWindow::find(setup.id(), 30s);
    if (!found) {
        say("demo-driver: the setup dialog did not appear within 30 s");
        return 1;
    }
    const SetupWindow& window = *found;
    say("Dialog: \"" + window.title() + "\"");
    if (!window.click(control::kAccept)) {
        say("demo-driver: cannot press Accept");
        return 1;
    }
    if (window.text(control::kInstallPath) != options.folder)
        window.setText(control::kInstallPath, options.folder);
    say("Accept pressed; installing into " + options.folder + ".");
    say("");
    if (!window.click(control::kInstall)) {
        say("demo-driver: cannot press Install");
        return 1;
    }

    std::vector<Line> printed;
    const auto started = Clock::now();
    bool ended = false;
    while (!ended && Clock::now() - started < kRunLimit && window.exists()) {
        std::vector<Line> now = window.lines();
        for (const Line& line : newLines(printed, now)) {
            printLine(line);
            printed.push_back(line);
        }
        ended =
            !now.empty() && (now.back().text == kSuccessLine || now.back().text == kFailureLine);
        if (!ended)
            std::this_thread::sleep_for(50ms);
    }
    const auto seconds = std::chrono::duration<double>(Clock::now() - started).count();
    say("");
    if (!ended) {
        say("demo-driver: the run did not end within 120 s");
        return 1;
    }
    char took[64];
    std::snprintf(took, sizeof took, "The run took %.1f s.", seconds);
    say(took);

    window.repaint();
    if (saveScreenshot(window.handle(), options.screenshot, &error))
        say("Screenshot: " + options.screenshot);
    else
        say("demo-driver: no screenshot: " + error);

    window.click(control::kClose);
    if (!setup.waitForExit(10s))
        say("demo-driver: the setup did not end through Close");
    setup.kill();
    report(options.folder);
    return printed.back().text == kSuccessLine ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--report")
            options.reportOnly = true;
        else if (argument == "--screenshot" && i + 1 < argc)
            options.screenshot = windowsPath(argv[++i]);
        else if (argument == "--folder" && i + 1 < argc)
            options.folder = argv[++i];
        else if (options.image.empty() && argument.rfind("--", 0) != 0)
            options.image = windowsPath(argument);
        else {
            std::fprintf(stderr, "demo-driver: unexpected argument %s\n", argument.c_str());
            return 2;
        }
    }
    if (options.reportOnly) {
        report(options.folder);
        return 0;
    }
    if (options.image.empty() || options.screenshot.empty()) {
        std::fprintf(stderr, "usage: demo-driver IMAGE --screenshot PNG [--folder FOLDER]\n"
                             "       demo-driver --report [--folder FOLDER]\n");
        return 2;
    }
    return run(options);
}
