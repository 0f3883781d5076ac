// run-bench: times the shipped programs as whole processes, and reads their peak working set.
//
//   run-bench extract --payload PAYLOAD.EXE --into DIR [--runs N] [--key NAME]
//       Runs the payload as the setup runs it (hidden, high priority, `-Y`, DIR as its working
//       directory, emptied before each run), timed from CreateProcess to its end: this includes
//       the start of a Windows process under an already running Wine, not Wine's own start-up.
//       The same payload started without `-Y` (it ends at once, writing nothing) gives that
//       process start-up on its own.
//
//   run-bench upgrade --payload PAYLOAD.EXE --into DIR [--runs N] [--key NAME]
//       The same over an install of the same payload, unpacked into DIR (emptied) just before
//       each timed run and not timed: every file of the install is replaced.
//
//   run-bench nsis --installer SETUP.EXE --into DIR [--runs N] [--key NAME]
//       The same for an NSIS installer of the same files, installed silently into DIR
//       (`/S /D=DIR`), for comparison; no start-up probe (without /S it would open its window).
//
//   run-bench install --image IMAGE.EXE --folder DIR [--runs N] [--key NAME]
//       Starts the installer image, presses Accept, sets the install folder and presses
//       Install; timed from the Install click to the success line in the message list, which is
//       polled every 5 ms. How long each poll waits for the dialog to answer is how long its
//       message loop was blocked; the longest wait is reported. While "Decompressing archive ..."
//       is the last line (the archive unpacks), each poll also reads the progress bar's position
//       (PBM_GETPOS); the number of distinct positions above 0 is reported.
//
//   run-bench escape --image IMAGE.EXE --folder DIR [--runs N] [--key NAME]
//       Starts the install the same way, and as soon as the payload copy shows in DIR presses
//       Escape; timed from the key press to the end of the process. The copy's length at the
//       end tells whether the Escape came during the copy.
//
// Every figure goes to a "result KEY VALUE" line for run-bench.sh; the rest is for people.
#include "BenchSupport.h"
#include "win32/Thread.h"

#include <commctrl.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <set>

namespace {

using bench::Child;
using bench::Now;
using bench::Say;

struct Options {
    std::string mode;
    std::string payload;
    std::string image;
    std::string folder;
    std::string key;
    int runs = 3;
};

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string MiB(std::uint64_t bytes) {
    return Format("%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
}

// --- extract ----------------------------------------------------------------------------------

int Extract(const Options& options) {
    const bool nsis = options.mode == "nsis", upgrade = options.mode == "upgrade";
    const std::string quoted = "\"" + options.payload + "\"";
    const std::string commandLine = quoted + (nsis ? " /S /D=" + options.folder : " -Y");
    std::vector<double> seconds, startup;
    std::uint64_t sampledPeak = 0, peakAfterExit = 0;
    int samples = 0;
    std::size_t files = 0;
    for (int run = 0; run < options.runs; ++run) {
        std::string error;
        // Process start-up alone: without -Y the payload ends at once and writes nothing.
        e2e::removeTree(options.folder);
        if (!e2e::createFolders(options.folder)) {
            Say("run-bench: cannot create " + options.folder);
            return 1;
        }
        if (!nsis) {
            Child probe;
            const double started = Now();
            if (!probe.Start(quoted, options.folder, Child::Show::HiddenHighPriority, error) ||
                !probe.Wait(60000)) {
                Say("run-bench: " + (error.empty() ? "the start-up probe did not end" : error));
                return 1;
            }
            startup.push_back(Now() - started);
        }
        if (upgrade) {
            Child first;
            if (!first.Start(commandLine, options.folder, Child::Show::HiddenHighPriority, error) ||
                !first.Wait(600000) || first.ExitCode() != 0) {
                Say("run-bench: the install to upgrade failed " + error);
                return 1;
            }
        }

        Child archive;
        const double started = Now();
        if (!archive.Start(commandLine, options.folder, Child::Show::HiddenHighPriority, error)) {
            Say("run-bench: " + error);
            return 1;
        }
        if (!archive.Wait(600000)) {
            Say("run-bench: the payload did not finish within 600 s");
            return 1;
        }
        seconds.push_back(Now() - started);
        if (archive.ExitCode() != 0) {
            Say("run-bench: the payload ended with exit code " +
                std::to_string(archive.ExitCode()));
            return 1;
        }
        sampledPeak = std::max(sampledPeak, archive.SampledPeak());
        peakAfterExit = std::max(peakAfterExit, archive.PeakNow());
        samples += archive.Samples();
        Say("  " + options.key + " run " + std::to_string(run + 1) +
            Format(": unpacked in %.3f s", seconds.back()) +
            (nsis ? "" : Format(" (process start-up alone %.3f s)", startup.back())) +
            ", peak working set " + MiB(archive.SampledPeak()));
    }
    for (const std::string& entry : e2e::listTree(options.folder))
        files += entry.back() == '\\' ? 0 : 1;
    const std::string& key = options.key;
    bench::Results(key + "_seconds", seconds);
    bench::Results(key + "_startup_seconds", startup);
    bench::Result(key + "_peak_sampled", sampledPeak);
    bench::Result(key + "_peak_after_exit", peakAfterExit);
    bench::Result(key + "_memory_samples", static_cast<std::uint64_t>(samples));
    bench::Result(key + "_files", static_cast<std::uint64_t>(files));
    return 0;
}

// --- install ----------------------------------------------------------------------------------

constexpr UINT kAnswerLimitMs = 120000;
constexpr LRESULT kListCapacity = 16;
constexpr const char* kTimeOutLine = "Decompression process time out!";
constexpr const char* kUnpackingLine = "Decompressing archive ...";
constexpr const char* kCopyingLine = "Copying necessary files ...";

// Sends to the list box, waiting as long as the dialog needs; nullopt when it does not answer.
std::optional<LRESULT> AskList(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(list, message, wParam, lParam, SMTO_NORMAL, kAnswerLimitMs, &result))
        return std::nullopt;
    return static_cast<LRESULT>(result);
}

std::string LineText(HWND list, LRESULT index) {
    const std::optional<LRESULT> length = AskList(list, LB_GETTEXTLEN, index, 0);
    if (!length || *length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> copied =
        AskList(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(wide.data()));
    wide.resize(static_cast<std::size_t>(copied ? std::max<LRESULT>(*copied, 0) : 0));
    std::string text(wide.size() * 2 + 1, '\0');
    const int size =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), text.data(),
                            static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(static_cast<std::size_t>(std::max(size, 0)));
    return text;
}

// Times round trips to the Wine server from a thread of its own, one every millisecond, and keeps
// the ones that took over 10 ms. Every Wine program waits for that one server process (a message
// sent to the dialog goes through it), so while the server is held up, by a file operation of any
// program, no dialog can answer, whatever its own threads do.
class ServerPulse {
public:
    ServerPulse()
        : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(win32::StartThread(&ServerPulse::Run, this)) {}
    ~ServerPulse() {
        stop_ = true;
        if (thread_)
            ::WaitForSingleObject(thread_.Get(), INFINITE);
    }
    ServerPulse(const ServerPulse&) = delete;
    ServerPulse& operator=(const ServerPulse&) = delete;

    // How long the server did not answer between `from` and `to` (seconds on Now()'s clock).
    double StalledWithin(double from, double to) {
        const std::lock_guard<std::mutex> lock(mutex_);
        double stalled = 0;
        for (const auto& [begin, end] : stalls_)
            stalled += std::max(0.0, std::min(end, to) - std::max(begin, from));
        return stalled;
    }

private:
    static unsigned __stdcall Run(void* self) {
        auto& pulse = *static_cast<ServerPulse*>(self);
        while (!pulse.stop_) {
            const double before = Now();
            ::SetEvent(pulse.event_.Get()); // a request to the server under Wine
            const double after = Now();
            if (after - before > 0.010) {
                const std::lock_guard<std::mutex> lock(pulse.mutex_);
                pulse.stalls_.emplace_back(before, after);
            }
            ::Sleep(1);
        }
        return 0;
    }

    ScopedHandle event_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::pair<double, double>> stalls_;
    ScopedHandle thread_; // last: started when everything it uses is there
};

struct InstallRun {
    bool succeeded = false;
    double seconds = 0;
    double longestBlock = 0;
    std::set<int> unpackPositions; // distinct bar positions above 0 while the archive unpacks
    // When the longest block began, from the click, and the last line seen before it.
    double longestBlockAt = 0;
    std::string longestBlockAfter;
    // How much of the longest block the Wine server itself did not answer.
    double longestBlockServerStall = 0;
    // The longest while the payload copy ran (its line the last one seen).
    double longestCopyBlock = 0;
    std::vector<std::pair<double, std::string>> timeline;
};

// Starts the image and presses Accept, sets the install folder and presses Install; the
// dialog, or nullopt when any of it failed (said why).
std::optional<e2e::SetupWindow> StartInstall(const Options& options, Child& setup) {
    std::string error;
    if (!setup.Start("\"" + options.image + "\"", "", Child::Show::Window, error)) {
        Say("run-bench: " + error);
        return std::nullopt;
    }
    const std::optional<e2e::SetupWindow> found =
        e2e::SetupWindow::find(setup.Id(), std::chrono::seconds(60));
    if (!found) {
        Say("run-bench: the setup dialog did not appear within 60 s");
        return std::nullopt;
    }
    if (!found->click(e2e::control::kAccept) ||
        !found->setText(e2e::control::kInstallPath, options.folder) ||
        found->text(e2e::control::kInstallPath) != options.folder) {
        Say("run-bench: cannot press Accept and set the install folder");
        return std::nullopt;
    }
    return found;
}

// One run, from the start of the image to the end of its process.
bool RunInstall(const Options& options, Child& setup, InstallRun& result) {
    const std::optional<e2e::SetupWindow> found = StartInstall(options, setup);
    if (!found)
        return false;
    const e2e::SetupWindow& window = *found;
    const HWND list = window.item(e2e::control::kMessages);

    const double clicked = Now();
    if (!window.click(e2e::control::kInstall)) {
        Say("run-bench: cannot press Install");
        return false;
    }
    LRESULT seen = 0;
    std::string last;
    ServerPulse server;
    while (Now() - clicked < 600) {
        const double asked = Now();
        const std::optional<LRESULT> count = AskList(list, LB_GETCOUNT, 0, 0);
        const double answered = Now();
        if (!count) {
            Say("run-bench: the dialog did not answer within 120 s");
            return false;
        }
        if (last == kCopyingLine)
            result.longestCopyBlock = std::max(result.longestCopyBlock, answered - asked);
        if (answered - asked > result.longestBlock) {
            result.longestBlock = answered - asked;
            result.longestBlockAt = asked - clicked;
            result.longestBlockAfter = last;
        }
        setup.SampleMemory();
        for (LRESULT index = seen; index < *count; ++index) {
            last = LineText(list, index);
            result.timeline.emplace_back(answered - clicked, last);
        }
        // The list keeps only its newest lines: once full, new lines come in without changing
        // the count.
        if (*count == seen && *count >= kListCapacity)
            last = LineText(list, *count - 1);
        seen = *count;
        if (last == kUnpackingLine) {
            const HWND bar = window.item(e2e::control::kProgress);
            DWORD_PTR position = 0;
            if (SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, kAnswerLimitMs,
                                    &position) &&
                static_cast<int>(position) > 0)
                result.unpackPositions.insert(static_cast<int>(position));
        }
        if (last == e2e::kSuccessLine || last == e2e::kFailureLine) {
            result.seconds = answered - clicked;
            result.succeeded = last == e2e::kSuccessLine;
            break;
        }
        Sleep(5);
    }
    Sleep(20); // the pulse's last round trip is in
    const double blockStart = clicked + result.longestBlockAt;
    result.longestBlockServerStall =
        server.StalledWithin(blockStart, blockStart + result.longestBlock);
    setup.SampleMemory();
    if (result.seconds == 0) {
        Say("run-bench: no final line within 600 s");
        return false;
    }
    window.click(e2e::control::kClose);
    if (!setup.Wait(30000))
        Say("run-bench: the setup did not end through Close");
    return true;
}

int Install(const Options& options) {
    std::vector<double> seconds, ticks, blocks, serverStalls, unpackPositions, copyBlocks;
    std::uint64_t sampledPeak = 0, peakAfterExit = 0;
    int succeeded = 0, timedOut = 0;
    for (int run = 0; run < options.runs; ++run) {
        if (!e2e::removeTree(options.folder)) {
            Say("run-bench: cannot clear " + options.folder);
            return 1;
        }
        Child setup;
        InstallRun result;
        if (!RunInstall(options, setup, result))
            return 1;
        sampledPeak = std::max(sampledPeak, setup.SampledPeak());
        peakAfterExit = std::max(peakAfterExit, setup.PeakNow());
        setup.Kill();
        seconds.push_back(result.seconds);
        blocks.push_back(result.longestBlock);
        serverStalls.push_back(result.longestBlockServerStall);
        unpackPositions.push_back(static_cast<double>(result.unpackPositions.size()));
        copyBlocks.push_back(result.longestCopyBlock);
        succeeded += result.succeeded ? 1 : 0;
        // The install line comes from the click; every later line from a tick, 100 ms apart.
        if (result.timeline.size() >= 2)
            ticks.push_back(1 +
                            std::floor((result.seconds - result.timeline[1].first) / 0.1 + 0.5));
        for (const auto& [at, text] : result.timeline)
            timedOut += text == kTimeOutLine ? 1 : 0;
        Say("  run " + std::to_string(run + 1) +
            Format(": %.3f s to the final line", result.seconds) +
            Format(", longest block of the message loop %.3f s", result.longestBlock) +
            Format(" (at +%.3f s, after \"", result.longestBlockAt) + result.longestBlockAfter +
            Format("\"; the Wine server stalled %.3f s of it), ", result.longestBlockServerStall) +
            std::to_string(result.unpackPositions.size()) +
            " distinct bar positions while unpacking" + ", peak working set " +
            MiB(setup.SampledPeak()));
        for (const auto& [at, text] : result.timeline)
            Say(Format("      +%7.3f s  ", at) + text);
    }
    e2e::removeTree(options.folder);
    const std::string& key = options.key;
    bench::Results(key + "_seconds", seconds);
    bench::Results(key + "_ticks", ticks);
    bench::Results(key + "_longest_block", blocks);
    bench::Results(key + "_longest_block_server_stall", serverStalls);
    bench::Results(key + "_unpack_positions", unpackPositions);
    bench::Results(key + "_longest_copy_block", copyBlocks);
    bench::Result(key + "_wait_timed_out", static_cast<std::uint64_t>(timedOut));
    bench::Result(key + "_succeeded", static_cast<std::uint64_t>(succeeded));
    bench::Result(key + "_runs", static_cast<std::uint64_t>(options.runs));
    bench::Result(key + "_peak_sampled", sampledPeak);
    bench::Result(key + "_peak_after_exit", peakAfterExit);
    return succeeded == options.runs ? 0 : 1;
}

// --- escape -----------------------------------------------------------------------------------

// The length of the payload copy once complete: the payload and the image's 20 trailer bytes.
std::uint64_t CopyLengthOf(const std::string& image) {
    const std::uint32_t payload = e2e::payloadLengthOf(image);
    return payload == 0 ? 0 : std::uint64_t{payload} + 20;
}

int Escape(const Options& options) {
    const std::string copy = options.folder + "\\FARROWPK.EXE";
    std::vector<double> seconds;
    int duringTheCopy = 0;
    for (int run = 0; run < options.runs; ++run) {
        if (!e2e::removeTree(options.folder)) {
            Say("run-bench: cannot clear " + options.folder);
            return 1;
        }
        Child setup;
        const std::optional<e2e::SetupWindow> window = StartInstall(options, setup);
        if (!window)
            return 1;
        const HWND list = window->item(e2e::control::kMessages);
        if (!window->click(e2e::control::kInstall)) {
            Say("run-bench: cannot press Install");
            return 1;
        }
        const double clicked = Now();
        std::uint64_t seen = 0;
        while (seen == 0 && Now() - clicked < 60) {
            Sleep(1);
            seen = bench::FileSize(copy);
        }
        if (seen == 0) {
            Say("run-bench: the copy did not start within 60 s");
            return 1;
        }
        // The keys as the keyboard sends them; the dialog manager makes the cancel command.
        const double pressed = Now();
        PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(list, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
        if (WaitForSingleObject(setup.Get(), 30000) != WAIT_OBJECT_0) {
            Say("run-bench: the setup still ran 30 s after Escape");
            return 1;
        }
        seconds.push_back(Now() - pressed);
        const std::uint64_t left = bench::FileSize(copy);
        const bool cut = left < CopyLengthOf(options.image);
        duringTheCopy += cut ? 1 : 0;
        Say("  run " + std::to_string(run + 1) +
            Format(": Escape to the end of the process %.3f s", seconds.back()) +
            "; the copy had " + MiB(seen) + " when Escape was pressed, " + MiB(left) +
            " at the end" + (cut ? "" : " (complete: Escape came after the copy)"));
        setup.Kill();
    }
    e2e::removeTree(options.folder);
    bench::Results(options.key + "_seconds", seconds);
    bench::Result(options.key + "_during_copy", static_cast<std::uint64_t>(duringTheCopy));
    bench::Result(options.key + "_runs", static_cast<std::uint64_t>(options.runs));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (argc > 1)
        options.mode = argv[1];
    bool valid = argc % 2 == 0;
    for (int i = 2; valid && i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--payload" || name == "--installer")
            options.payload = e2e::windowsPath(value);
        else if (name == "--image")
            options.image = e2e::windowsPath(value);
        else if (name == "--into" || name == "--folder")
            options.folder = e2e::windowsPath(value);
        else if (name == "--runs")
            options.runs = std::max(1, std::atoi(value.c_str()));
        else if (name == "--key")
            options.key = value;
        else
            valid = false;
    }
    if (options.key.empty())
        options.key = options.mode;
    if (valid &&
        (options.mode == "extract" || options.mode == "upgrade" || options.mode == "nsis") &&
        !options.payload.empty() && !options.folder.empty())
        return Extract(options);
    if (valid && options.mode == "install" && !options.image.empty() && !options.folder.empty())
        return Install(options);
    if (valid && options.mode == "escape" && !options.image.empty() && !options.folder.empty())
        return Escape(options);
    std::fprintf(stderr,
                 "usage: run-bench extract --payload PAYLOAD.EXE --into DIR [--runs N] [--key K]\n"
                 "       run-bench upgrade --payload PAYLOAD.EXE --into DIR [--runs N] [--key K]\n"
                 "       run-bench nsis --installer SETUP.EXE --into DIR [--runs N] [--key K]\n"
                 "       run-bench install --image IMAGE.EXE --folder DIR [--runs N] [--key K]\n"
                 "       run-bench escape --image IMAGE.EXE --folder DIR [--runs N] [--key K]\n");
    return 2;
}
