// copy-bench: STATE_COPY_PAYLOAD of the install engine, the copy of the payload out of the
// program's own file, against the system's CopyFileA of the same image file.
//
//   copy-bench --program SETUP.EXE --work DIR [--mib N]... [--runs N] [--progress-calls N]
//
// For each payload size it builds an installer image in DIR (the program's bytes, N MiB of
// payload, the 16-byte label field and the 4-byte length), then runs the engine's copy and
// CopyFileA `runs` times each, alternating which goes first, and deletes every file it wrote.
// The engine copies on its worker thread; a run is timed from the tick that starts the copy to
// the tick that applies its end, which comes as soon as the worker thread has ended, as the
// worker's message to the dialog makes it come. Meanwhile the bench ticks every 100 ms, as the
// dialog's timer does; the longest tick is the longest time the copy held the ticking thread,
// not counting the cost of moving the dialog's progress bar: --progress-calls measures that on
// a real progress bar in a window.
#include "BenchSupport.h"

#include "image/ImageTrailer.h"
#include "install/InstallEngine.h"
#include "install/InstallView.h"
#include "payload/SuiteContract.h"

#include <commctrl.h>

#include <cstdlib>

namespace {

using bench::Now;
using bench::Say;

constexpr std::uint64_t kMiB = 1024 * 1024;

// The view of a run with no window: only counts what it is told.
class CountingView final : public IInstallView {
public:
    void AddMessage(std::string text, MessageColor) override { lines.push_back(std::move(text)); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override { ++positions; }
    void EnableClose() override {}

    std::vector<std::string> lines;
    long positions = 0;
};

struct Options {
    std::string program;
    std::string work;
    std::vector<std::uint64_t> sizesMiB;
    int runs = 3;
    int progressCalls = 0;
};

// What one progress-bar position costs here: `calls` positions sent, one after the other, to a
// progress bar in a visible window, as the setup's view sends them while it copies. Negative
// when no window can be made (no display).
double TimeProgressPositions(int calls) {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    ScopedWindow frame(CreateWindowExA(0, "STATIC", "copy-bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                       0, 0, 480, 120, nullptr, nullptr, GetModuleHandleA(nullptr),
                                       nullptr));
    if (!frame.Get())
        return -1;
    ScopedWindow bar(CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 440, 24,
                                     frame.Get(), nullptr, GetModuleHandleA(nullptr), nullptr));
    if (!bar.Get())
        return -1;
    SendMessageA(bar.Get(), PBM_SETRANGE, 0, MAKELPARAM(0, 0xFFFF));
    UpdateWindow(frame.Get());
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
    const double started = Now();
    for (int position = 1; position <= calls; ++position)
        SendMessageA(bar.Get(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
    return (Now() - started) / calls;
}

std::uint64_t FreeBytes(const std::string& folder) {
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr))
        return 0;
    return available.QuadPart;
}

// Writes the image: program, `payloadBytes` of payload (an "MZ" and random bytes), trailer.
// Flushed to the disk, so that its write-back does not run during the copies.
bool WriteImage(const std::string& path, const std::string& program, std::uint64_t payloadBytes,
                std::string& error) {
    ScopedFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        error = "cannot create " + path;
        return false;
    }
    auto write = [&file](const void* data, std::size_t size) {
        DWORD written = 0;
        return WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr) &&
               written == size;
    };
    std::vector<unsigned char> block(4 * kMiB);
    std::uint64_t state = 0x636F7079'62656E63ull;
    bool ok = write(program.data(), program.size());
    for (std::uint64_t done = 0; ok && done < payloadBytes;) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), payloadBytes - done));
        for (std::size_t at = 0; at < chunk; at += 8) {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            for (std::size_t i = 0; i < 8 && at + i < chunk; ++i)
                block[at + i] = static_cast<unsigned char>(z >> (8 * i));
        }
        if (done == 0) {
            block[0] = 'M';
            block[1] = 'Z';
        }
        ok = write(block.data(), chunk);
        done += chunk;
    }
    const image::Trailer trailer =
        image::MakeTrailer("bench", static_cast<std::int32_t>(payloadBytes));
    ok = ok && write(trailer.data(), trailer.size()) && FlushFileBuffers(file.Get());
    if (!ok)
        error = "cannot write " + path + " (error " + std::to_string(GetLastError()) + ")";
    return ok;
}

// One run of state 20: the seconds from its first tick to the end of the copy, or a negative
// value when it failed; `longestTick` gets the longest single tick.
double TimeEngineCopy(const std::string& image, const std::string& installFolder,
                      std::uint64_t payloadBytes, long& positions, double& longestTick) {
    const std::string archive = installFolder + "\\" + suite::kArchiveBaseName + ".EXE";
    DeleteFileA(archive.c_str());
    CountingView view;
    InstallEngine engine(view);
    InstallSettings settings;
    settings.modulePath = image;
    settings.archiveBaseName = suite::kArchiveBaseName;
    settings.installFolder = installFolder;
    engine.Start(settings);
    engine.InstallState = STATE_COPY_PAYLOAD;
    const double started = Now();
    engine.Tick();
    longestTick = Now() - started;
    for (int tick = 0; engine.InstallState == STATE_COPY_PAYLOAD && tick < 6000; ++tick) {
        engine.WaitForWorker(100);
        const double tickStarted = Now();
        engine.Tick();
        longestTick = std::max(longestTick, Now() - tickStarted);
    }
    const double seconds = Now() - started;
    positions = view.positions;
    const bool copied = engine.InstallState == STATE_EXPAND &&
                        bench::FileSize(archive) == payloadBytes + image::kTrailerSize;
    if (!copied) {
        Say("copy-bench: the engine's copy failed (state " + std::to_string(engine.InstallState) +
            ")");
        for (const std::string& line : view.lines)
            Say("  " + line);
    }
    DeleteFileA(archive.c_str());
    return copied ? seconds : -1;
}

double TimeCopyFile(const std::string& image, const std::string& target) {
    DeleteFileA(target.c_str());
    const double started = Now();
    const BOOL ok = CopyFileA(image.c_str(), target.c_str(), FALSE);
    const double seconds = Now() - started;
    const bool copied = ok && bench::FileSize(target) == bench::FileSize(image);
    if (!copied)
        Say("copy-bench: CopyFileA failed (error " + std::to_string(GetLastError()) + ")");
    DeleteFileA(target.c_str());
    return copied ? seconds : -1;
}

int Run(const Options& options) {
    const std::optional<std::string> program = e2e::readFile(options.program);
    if (!program || program->empty()) {
        Say("copy-bench: cannot read " + options.program);
        return 1;
    }
    const std::string installFolder = e2e::joinPath(options.work, "Install");
    const std::string image = e2e::joinPath(options.work, "image.exe");
    const std::string copy = e2e::joinPath(options.work, "copy.exe");
    if (!e2e::createFolders(installFolder)) {
        Say("copy-bench: cannot create " + installFolder);
        return 1;
    }
    int status = 0;
    for (const std::uint64_t mib : options.sizesMiB) {
        const std::uint64_t payloadBytes = mib * kMiB;
        const std::string key = "copy_" + std::to_string(mib);
        // The image and two copies of it at once, and room to spare.
        const std::uint64_t needed = 3 * (payloadBytes + program->size()) + 256 * kMiB;
        if (FreeBytes(options.work) < needed) {
            Say("copy-bench: skipping " + std::to_string(mib) +
                " MiB: " + std::to_string(needed / kMiB) + " MiB of free disk needed");
            bench::Result(key + "_skipped", std::string("no-disk-space"));
            continue;
        }
        std::string error;
        Say("copy-bench: " + std::to_string(mib) + " MiB payload: writing the image");
        if (!WriteImage(image, *program, payloadBytes, error)) {
            Say("copy-bench: " + error);
            DeleteFileA(image.c_str());
            return 1;
        }
        std::vector<double> engineTimes, copyFileTimes, longestTicks;
        long positions = 0;
        for (int run = 0; run < options.runs; ++run) {
            // Alternate the order, so that neither always runs on a cache the other warmed.
            for (int turn = 0; turn < 2; ++turn) {
                const bool engineTurn = (run + turn) % 2 == 0;
                double longestTick = 0;
                const double seconds =
                    engineTurn
                        ? TimeEngineCopy(image, installFolder, payloadBytes, positions, longestTick)
                        : TimeCopyFile(image, copy);
                if (engineTurn)
                    longestTicks.push_back(longestTick);
                if (seconds < 0) {
                    status = 1;
                    break;
                }
                (engineTurn ? engineTimes : copyFileTimes).push_back(seconds);
                char line[128];
                std::snprintf(line, sizeof line, "  run %d  %-9s %8.3f s", run + 1,
                              engineTurn ? "state 20" : "CopyFileA", seconds);
                Say(line);
            }
            if (status != 0)
                break;
        }
        DeleteFileA(image.c_str());
        if (status != 0)
            break;
        bench::Result(key + "_image_bytes", payloadBytes + program->size() + image::kTrailerSize);
        bench::Results(key + "_engine", engineTimes);
        bench::Results(key + "_copyfile", copyFileTimes);
        bench::Result(key + "_longest_tick", bench::Max(longestTicks));
        bench::Result(key + "_progress_positions", static_cast<std::uint64_t>(positions));
    }
    e2e::removeTree(installFolder);
    if (status == 0 && options.progressCalls > 0) {
        const double perCall = TimeProgressPositions(options.progressCalls);
        if (perCall < 0) {
            Say("copy-bench: no window for the progress bar (no display?)");
        } else {
            char line[128];
            std::snprintf(line, sizeof line, "  %d progress-bar positions: %.3f ms each",
                          options.progressCalls, perCall * 1000);
            Say(line);
            bench::Result("progress_position_seconds", perCall);
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--program")
            options.program = e2e::windowsPath(value);
        else if (name == "--work")
            options.work = e2e::windowsPath(value);
        else if (name == "--mib")
            options.sizesMiB.push_back(std::strtoull(value.c_str(), nullptr, 10));
        else if (name == "--runs")
            options.runs = std::max(1, std::atoi(value.c_str()));
        else if (name == "--progress-calls")
            options.progressCalls = std::max(0, std::atoi(value.c_str()));
        else
            options.program.clear();
    }
    const bool sizesValid = std::all_of(options.sizesMiB.begin(), options.sizesMiB.end(),
                                        [](std::uint64_t mib) { return mib > 0 && mib < 2048; });
    if (argc % 2 == 0 || options.program.empty() || options.work.empty() ||
        options.sizesMiB.empty() || !sizesValid) {
        std::fprintf(stderr, "usage: copy-bench --program SETUP.EXE --work DIR --mib N "
                             "[--mib N]... [--runs N] [--progress-calls N]   (N MiB: 1 to 2047)\n");
        return 2;
    }
    return Run(options);
}
