// What the engine tests share: a view that records what a run reports, a temporary folder per
// test, file helpers, installer images built from parts, and a reader for shortcut files.
#pragma once

#include "ShortcutFile.h"
#include "install/InstallEngine.h"
#include "install/InstallView.h"
#include "win32/Handles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace enginetest {

struct LoggedLine {
    std::string text;
    MessageColor color = 0;
    bool operator==(const LoggedLine&) const = default;
};
void PrintTo(const LoggedLine& line, std::ostream* out);
using Lines = std::vector<LoggedLine>;

// Records every report of a run, in order; no window. Like the dialog's controls, it belongs
// to the thread that made it: reports from any other thread are counted.
class RecordingView final : public IInstallView {
public:
    void AddMessage(std::string text, MessageColor color) override {
        NoteThread();
        lines.push_back({std::move(text), color});
    }
    void SetProgressRange(int maximum) override {
        NoteThread();
        ranges.push_back(maximum);
    }
    void SetProgressPos(int position) override {
        NoteThread();
        positions.push_back(position);
    }
    void EnableClose() override {
        NoteThread();
        ++closeEnabled;
    }
    // What only the log would have: the failed call behind the line before.
    void LogDetail(std::string text) override {
        NoteThread();
        details.push_back(std::move(text));
    }
    // What `answer` says, Retry or Cancel; Cancel without one.
    bool AskToRetry(const std::string& question) override {
        NoteThread();
        questions.push_back(question);
        return answer && answer();
    }

    std::function<bool()> answer;
    std::vector<std::string> questions;
    std::vector<LoggedLine> lines;
    std::vector<std::string> details;
    std::vector<int> ranges;
    std::vector<int> positions;
    int closeEnabled = 0;
    int reportsFromOtherThreads = 0;

private:
    void NoteThread() {
        if (::GetCurrentThreadId() != ownThread_)
            ++reportsFromOtherThreads;
    }
    DWORD ownThread_ = ::GetCurrentThreadId();
};

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Removes a file or a folder with everything in it; read-only files too, and names that the
// ANSI code page cannot hold.
void RemoveTree(const std::string& path);
void RemoveTree(const std::wstring& path);

// ANSI text (the test's own paths) as UTF-16.
std::wstring Wide(const std::string& text);

// A file held open through the platform's own open, with the sharing it is given.
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD access, DWORD sharing);
    bool IsOpen() const { return handle_.IsValid(); }

private:
    ScopedFileHandle handle_;
};

// Everything below `folder`, relative and sorted, each folder with a trailing backslash; a link
// is listed as a folder and not entered.
std::vector<std::string> ListTree(const std::string& folder);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
bool FolderExists(const std::wstring& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
void SetReadOnly(const std::string& path);
// Bytes that follow no pattern a copy could get right by accident.
std::string PatternBytes(size_t length, std::uint32_t seed);

// An installer image: program bytes, the payload, a label field and the payload length.
std::string ImageBytes(const std::string& program, const std::string& payload,
                       const std::string& label = "v1.4.2");
// An image whose length field holds `lengthField` whatever the payload is.
std::string ImageBytesWithLength(const std::string& program, const std::string& payload,
                                 std::uint32_t lengthField);

// Run with this option and a folder, the test program is the child EndProcessNowTest watches:
// it writes into one stream without flushing it, has a second thread lock another stream for
// good, then ends through EndProcessNow (RunEndProcessChild).
inline constexpr char kEndProcessChildOption[] = "--end-process-now-in";
int RunEndProcessChild(const std::string& folder);

// The folder the test program runs from, and the stand-in archive built beside it.
std::string OwnFolder();
std::string TestArchivePath();

// One tick as the dialog's timer gives it; waits for any work it handed to the worker thread and
// collects it, as the dialog does on the worker's message.
void TickAndCollect(InstallEngine& engine);

// Ticks (TickAndCollect) until `InstallState` is `state` or `maxTicks` ticks have run, sleeping
// `sleepMs` between ticks; returns the number of ticks run.
int TickUntilState(InstallEngine& engine, int state, int maxTicks, DWORD sleepMs = 0);

// What a shortcut file holds, read back through the shell's link object.
std::optional<ShortcutFile> ReadShortcut(const std::string& linkPath);
inline std::optional<ShortcutFile> ReadShortcut(const std::wstring& linkPath) {
    return ReadShortcutFile(linkPath);
}

// The shell folders that the shortcut states write into.
std::string DesktopFolder();
std::string ProgramsFolder();

// The suite's shortcuts on the desktop and its group folder in the Programs folder: removed when
// a test starts and again when it ends, so that every test sees only what it wrote itself.
class SuiteShortcutsCleaner {
public:
    SuiteShortcutsCleaner() { RemoveAll(); }
    ~SuiteShortcutsCleaner() { RemoveAll(); }
    SuiteShortcutsCleaner(const SuiteShortcutsCleaner&) = delete;
    SuiteShortcutsCleaner& operator=(const SuiteShortcutsCleaner&) = delete;

    static void RemoveAll();
    static std::string DesktopLink(const std::string& name);
    static std::string GroupFolder();
    static std::string GroupLink(const std::string& name);
};

// What Install hands the engine for `folder`, the image being `imagePath`.
InstallSettings SettingsFor(const std::string& folder, const std::string& imagePath = "");

// Sets `engine` to copy the payload out of `imagePath` into `folder` on its next tick.
void SetToCopy(InstallEngine& engine, const std::string& folder, const std::string& imagePath);
// As if the copy and the archive had run: detection next, with an image whose program part is
// known, as the copy would have read it, for the uninstaller that the record's state writes.
void SetToDetect(InstallEngine& engine);

// An engine set to copy the payload out of `imagePath` into `folder`, a fresh install folder in
// a temporary folder of its own. No archive the engine started may outlive the test: Wine keeps
// the test runner's output open for it.
class EngineTest : public testing::Test {
protected:
    explicit EngineTest(const std::string& folderName = "Torvane");
    ~EngineTest() override;

    TempFolder temp;
    std::string folder;
    const std::string imagePath = temp / "setup.exe";
    RecordingView view;
    InstallEngine engine{view};
};

} // namespace enginetest
