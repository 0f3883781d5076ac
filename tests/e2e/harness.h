// Drives a real installer image from outside, as a user would: starts it, finds the setup dialog
// by its title, presses its buttons, types into it and reads back what it shows. Also the file
// system and shell helpers the end-to-end tests and the demo driver need around a run.
#pragma once

#include "../windows/ShortcutFile.h"
#include "win32/Handles.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Control ids of the setup dialog.
namespace control {
constexpr int kClose = 1;
constexpr int kInstall = 1000;
constexpr int kInstallPath = 1002;
constexpr int kMessages = 1003;
constexpr int kAccept = 1010;
constexpr int kAgreement = 1019;
constexpr int kProgress = 1022;
constexpr int kDesktopIcons = 1023;
} // namespace control

// The colour words the setup stores as item data with every message-list line.
namespace color {
constexpr std::uint32_t kBlack = 0x00000000;
constexpr std::uint32_t kOlive = 0x00008080;
constexpr std::uint32_t kRed = 0x000000C0;
constexpr std::uint32_t kNavy = 0x00800000;
constexpr std::uint32_t kGreenEmphasis = 0x80008000;
constexpr std::uint32_t kRedEmphasis = 0x800000C0;
// Not the list's: a line only the log has, "detail" where the others name their colour.
constexpr std::uint32_t kLogDetail = 0xFFFFFFFE;
} // namespace color

constexpr const char* kTitlePrefix = "Torvane Software Suite Setup ";
constexpr const char* kSuccessLine = "Installation completed successfully!";
constexpr const char* kFailureLine = "Installation failed!";

struct Line {
    std::string text;
    std::uint32_t color = 0;
    bool operator==(const Line&) const = default;
};
std::string describe(const std::vector<Line>& lines);
std::string colorName(std::uint32_t color);

// A program started by a test, in a job of its own so that everything it starts in turn (the
// archive it runs) ends with it. Whatever still runs when the object goes is ended.
// Starts `commandLine` (with `program` as CreateProcess's application name, or found as the
// command line says when null) suspended, puts it in a new `job` that ends everything in it when
// its last handle goes, and resumes it. The job stays empty if the system refuses it.
bool startInJob(const char* program, const std::string& commandLine,
                const std::string& workingFolder, STARTUPINFOA startup, DWORD creationFlags,
                ScopedHandle& job, ScopedHandle& process, DWORD& id, std::string& error);

// Ends `job` and everything in it, and `process` too if it still runs (a program the system
// would not put in the job); the job's handle goes, the process's stays.
void endInJob(ScopedHandle& job, const ScopedHandle& process);

class Process {
public:
    Process() = default;
    Process(Process&&) = default;
    Process& operator=(Process&&) = default;
    ~Process() { kill(); }

    // Starts `program` (a Windows path) with `arguments` in `workingFolder` (empty: ours).
    bool start(const std::string& program, const std::string& arguments = {},
               const std::string& workingFolder = {}, std::string* error = nullptr);
    DWORD id() const { return id_; }
    bool running() const;
    // Waits for the end of the process; false when it still runs after `limit`.
    bool waitForExit(std::chrono::milliseconds limit) const;
    std::optional<DWORD> exitCode() const;
    // Ends the process and everything it started.
    void kill();

private:
    ScopedHandle job_;
    ScopedHandle process_;
    DWORD id_ = 0;
};

// The setup dialog of a running installer image, seen from another process.
class SetupWindow {
public:
    SetupWindow() = default;
    explicit SetupWindow(HWND window) : window_(window) {}

    // The first visible top-level dialog of process `processId` whose title starts with the
    // setup's title prefix, waited for up to `limit`.
    static std::optional<SetupWindow> find(DWORD processId, std::chrono::milliseconds limit);

    HWND handle() const { return window_; }
    bool exists() const { return IsWindow(window_) != FALSE; }
    std::string title() const;
    HWND item(int id) const { return GetDlgItem(window_, id); }
    bool enabled(int id) const;
    bool visible(int id) const;
    bool checked(int id) const;
    std::string text(int id) const;
    bool setText(int id, const std::string& text) const;
    // Text as a user of any language could type it.
    bool setText(int id, const std::wstring& text) const;
    // Presses a push button or check box like a mouse click would. Refuses (false) when the
    // control is disabled, as a user could not press it either.
    bool click(int id) const;
    std::vector<Line> lines() const;
    int progressPosition() const;
    // Lower and upper limit of the progress bar's range.
    std::pair<int, int> progressRange() const;

    // Waits until a line with `text` is in the list; false after `limit`.
    bool waitForLine(const std::string& text, std::chrono::milliseconds limit) const;
    // Waits until the list's last line is the success or the failure line; false after `limit`.
    bool waitForEnd(std::chrono::milliseconds limit) const;
    // Asks the dialog to repaint itself and all its controls, and gives it a moment to do so.
    void repaint() const;

private:
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam, int id = 0) const;
    HWND window_ = nullptr;
};

// Paths and files. Windows paths throughout; a Unix path (starting with '/') is taken as the
// same file seen through Wine's drive Z:.
std::string windowsPath(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
std::optional<std::string> readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& content);
// The payload length an installer image ends with (its last four bytes, little-endian); 0 when
// the file cannot be read.
std::uint32_t payloadLengthOf(const std::string& image);
// Creates a folder and all its missing parents.
bool createFolders(const std::string& path);
// Deletes a file or a folder with everything in it; true when nothing is left.
bool removeTree(const std::string& path);
bool removeTree(const std::wstring& path);
// Every file under `folder`, as paths relative to it, sorted; folders end in a backslash.
std::vector<std::string> listTree(const std::string& folder);
// The path of a shell special folder (CSIDL_...) of the current user.
std::string specialFolder(int csidl);
// Whether a process whose program file is named `exeName` runs (case-insensitive).
bool processRunning(const std::string& exeName);

using Shortcut = ShortcutFile;
// Reads a shortcut file back through the shell's link object. Needs COM on this thread. The
// shortcut's texts come back in UTF-8.
std::optional<Shortcut> readShortcut(const std::string& linkPath);
std::optional<Shortcut> readShortcut(const std::wstring& linkPath);

// What the screen shows of a window: 8-bit RGB pixels, rows top to bottom, 3 bytes a pixel.
struct Picture {
    int left = 0; // screen position of the first pixel
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    // How many pixels inside `area` (screen coordinates) have exactly this colour.
    int count(COLORREF color, const RECT& area) const;
};
std::optional<Picture> captureWindow(HWND window, std::string* error = nullptr);
std::string encodePng(const Picture& picture);
// Captures `window` and saves it as a PNG file.
bool saveScreenshot(HWND window, const std::string& pngPath, std::string* error = nullptr);

} // namespace e2e
