// States 30 and 40 with real child processes: the stand-in archive is carried in a real
// installer image, copied out by state 20, started hidden in the install folder and awaited
// through its completion flag, one look per tick. The progress bar during the wait follows what
// the archive publishes: the real sfx.exe, or a block the test writes itself.
#include "TestSupport.h"
#include "UnixLinks.h"

#include "install/InstallTexts.h"
#include "payload/ZipWriter.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <thread>
#include <atomic>

using namespace enginetest;

namespace {

const LoggedLine kCopyingLine{"Copying necessary files ...", kColorProgress};
const LoggedLine kDecompressingLine{"Decompressing archive ...", kColorProgress};
const LoggedLine kCompletedLine{"Decompression completed.", kColorProgress};
const LoggedLine kTimeOutLine{"Decompression process time out!", kColorProgress};
const LoggedLine kFailedLine{"Installation failed!", 0x800000C0u};

// The tick period of the setup dialog: the archive gets the time it has in a real run.
constexpr DWORD kTickMilliseconds = 100;

class ArchiveRunTest : public EngineTest {
protected:
    ArchiveRunTest() {
        WriteFileBytes(imagePath,
                       ImageBytes(PatternBytes(8192, 21), ReadFileBytes(TestArchivePath())));
    }

    void SetMode(const std::string& mode) { WriteFileBytes(folder + "\\archive-mode.txt", mode); }

    // Copies and starts the archive: two ticks, then the state is STATE_WAIT_EXPAND.
    void StartArchive() {
        TickAndCollect(engine);
        ASSERT_EQ(engine.InstallState, STATE_EXPAND);
        TickAndCollect(engine);
        ASSERT_EQ(engine.InstallState, STATE_WAIT_EXPAND) << ::testing::PrintToString(view.lines);
        ASSERT_EQ(engine.waitTicks, 0);
        ASSERT_TRUE(engine.processInfo.process);
        positionsBeforeWait = view.positions.size();
    }

    // A silent archive has ended with exit code 0 and no flag, and every look but the last has
    // been made.
    void SilentArchiveUpToTheLastLook() {
        SetMode("silent");
        ASSERT_NO_FATAL_FAILURE(StartArchive());
        ASSERT_EQ(ArchiveExitCode(), 0u);
        for (int look = 1; look < InstallEngine::kLookLimit; ++look)
            TickAndCollect(engine);
        ASSERT_EQ(engine.InstallState, STATE_WAIT_EXPAND);
    }

    // The positions the bar was sent since the archive started.
    std::vector<int> PositionsDuringWait() const {
        return {view.positions.begin() + static_cast<std::ptrdiff_t>(positionsBeforeWait),
                view.positions.end()};
    }

    // Looks once per tick period until the wait is over.
    void WaitLikeTheDialog() {
        while (engine.InstallState == STATE_WAIT_EXPAND) {
            ::Sleep(kTickMilliseconds);
            TickAndCollect(engine);
        }
    }

    // Waits for the archive to end by itself or through the engine; its exit code.
    DWORD ArchiveExitCode(DWORD timeoutMs = 10000) {
        const HANDLE process = engine.processInfo.process.Get();
        if (::WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0)
            return STILL_ACTIVE;
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(process, &code);
        return code;
    }

    // The archive's own record of its command line and working directory.
    std::vector<std::string> ArchiveRecord() const {
        std::istringstream record(ReadFileBytes(folder + "\\archive-run.txt"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(record, line);)
            lines.push_back(line);
        return lines;
    }

    // The progress block the engine made for the archive before it ran, opened as the archive
    // opens it: five 32-bit values (size 2092, total KiB, written KiB, entries, refused length).
    volatile std::uint32_t* ArchiveBlock() {
        const std::string name =
            "Local\\TorvaneUnpack-" + std::to_string(engine.processInfo.processId);
        blockMapping.Reset(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()));
        blockView.Reset(blockMapping
                            ? ::MapViewOfFile(blockMapping.Get(), FILE_MAP_WRITE, 0, 0, 2092)
                            : nullptr);
        return static_cast<volatile std::uint32_t*>(blockView.Get());
    }

    // An image whose payload is sfx.exe with `files` files of 2 MiB of text behind it (80 MiB
    // take several ticks to write), the Torvane flag and the completion flag.
    void WriteSfxImage(int files) {
        std::string sfx = SFX_EXE_PATH;
        if (!sfx.empty() && sfx[0] == '/') {
            sfx = "Z:" + sfx;
            std::replace(sfx.begin(), sfx.end(), '/', '\\');
        }
        std::string text;
        for (int line = 0; text.size() < (2u << 20); ++line)
            text += "Torvane notes, line " + std::to_string(line) + "\r\n";
        const std::string payloadPath = temp / "payload.exe";
        zip::Writer writer;
        ASSERT_TRUE(writer.Create(payloadPath) && writer.AppendStub(sfx)) << writer.Error();
        for (int file = 0; file < files; ++file)
            ASSERT_TRUE(writer.AddBytes("Docs/notes" + std::to_string(file) + ".txt",
                                        text.substr(0, 2u << 20), zip::Compression::Deflate));
        ASSERT_TRUE(writer.AddBytes("torvane.flg", "flag", zip::Compression::Store));
        ASSERT_TRUE(writer.AddBytes("ZZZ/comp.flg", "done", zip::Compression::Store));
        ASSERT_TRUE(writer.Finish()) << writer.Error();
        WriteFileBytes(imagePath, ImageBytes(PatternBytes(8192, 23), ReadFileBytes(payloadPath)));
    }

    std::size_t positionsBeforeWait = 0;
    ScopedHandle blockMapping;
    ScopedMappedView blockView;
};

TEST_F(ArchiveRunTest, TheCompletedArchiveLeavesItsFilesAndTheRunEndsInSuccess) {
    SuiteShortcutsCleaner shortcuts;
    SetMode("complete torvane.flg dromlet.flg pellisar.flg Torvane.exe Docs\\notes.txt");
    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kCompletedLine}));
    EXPECT_EQ(engine.InstallState, STATE_DETECT);
    // It publishes no progress: the bar stays at the copy's final 0.
    EXPECT_EQ(PositionsDuringWait(), std::vector<int>{});
    EXPECT_EQ(view.positions.back(), 0);
    EXPECT_GE(engine.waitTicks, 1);
    EXPECT_LT(engine.waitTicks, InstallEngine::kLookLimit);
    EXPECT_FALSE(FileExists(folder + "\\ZZZ\\COMP.FLG"));
    EXPECT_FALSE(FolderExists(folder + "\\ZZZ"));
    EXPECT_TRUE(FileExists(folder + "\\Docs\\notes.txt"));
    EXPECT_EQ(ArchiveExitCode(), 0u);
    // Started as "<folder>\FARROWPK.EXE" -Y in the install folder.
    EXPECT_EQ(ArchiveRecord(),
              (std::vector<std::string>{"\"" + folder + "\\FARROWPK.EXE\" -Y", folder}));

    TickUntilState(engine, STATE_DONE, 10);

    EXPECT_EQ(view.lines,
              (Lines{kCopyingLine,
                     kDecompressingLine,
                     kCompletedLine,
                     {"Installed components:  Pellisar,  Torvane,  Dromlet", 0x00800000u},
                     {"Creating desktop shortcuts ...", kColorProgress},
                     {"Creating start menu shortcuts ...", kColorProgress},
                     {"Cleaning up ...", kColorProgress},
                     {"Installation completed successfully!", 0x80008000u}}));
    EXPECT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
    for (const char* flag : {"pellisar.flg", "torvane.flg", "dromlet.flg"})
        EXPECT_FALSE(FileExists(folder + "\\" + flag)) << flag;
    EXPECT_TRUE(FileExists(folder + "\\Torvane.exe"));
    EXPECT_TRUE(FileExists(SuiteShortcutsCleaner::DesktopLink("Torvane")));
    EXPECT_TRUE(FileExists(SuiteShortcutsCleaner::GroupLink("Dromlet")));
}

TEST_F(ArchiveRunTest, AFlagFolderHoldingMoreThanTheFlagStays) {
    SetMode("complete ZZZ\\readme.txt");
    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines.back(), kCompletedLine);
    EXPECT_FALSE(FileExists(folder + "\\ZZZ\\COMP.FLG"));
    EXPECT_TRUE(FileExists(folder + "\\ZZZ\\readme.txt"));
    EXPECT_EQ(ArchiveExitCode(), 0u);
}

TEST_F(ArchiveRunTest, AnArchiveStillRunningAfterItsFlagIsTerminated) {
    SetMode("linger torvane.flg");
    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines.back(), kCompletedLine);
    EXPECT_EQ(engine.InstallState, STATE_DETECT);
    // It would sleep for 30 s; terminated, it ends at once with exit code 0.
    EXPECT_EQ(ArchiveExitCode(3000), 0u);
    EXPECT_TRUE(FileExists(folder + "\\torvane.flg"));
}

TEST_F(ArchiveRunTest, AnArchiveThatEndsInAnErrorFailsTheRunEarly) {
    SetMode("fail");
    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines, (Lines{kCopyingLine,
                                 kDecompressingLine,
                                 {"Decompression process failure!", kColorProgress}}));
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    EXPECT_LT(engine.waitTicks, 100);
    EXPECT_EQ(ArchiveExitCode(), 3u);

    TickAndCollect(engine);

    EXPECT_EQ(view.lines.back(), kFailedLine);
    EXPECT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
}

TEST_F(ArchiveRunTest, APayloadThatIsNoProgramIsReportedWithTheSystemsText) {
    std::string text;
    while (text.size() < 5000)
        text += "This is a text file, not a program.\r\n";
    WriteFileBytes(imagePath, ImageBytes(PatternBytes(8192, 22), text));

    TickAndCollect(engine);
    TickAndCollect(engine);

    ASSERT_EQ(view.lines.size(), 4u) << ::testing::PrintToString(view.lines);
    EXPECT_EQ(view.lines[0], kCopyingLine);
    EXPECT_EQ(view.lines[1], kDecompressingLine);
    EXPECT_EQ(view.lines[2], (LoggedLine{"Unable to decompress archive.", 0x000000C0u}));
    const LoggedLine& reason = view.lines[3];
    EXPECT_EQ(reason.color, 0x000000C0u);
    EXPECT_FALSE(reason.text.empty());
    for (char c : reason.text)
        EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "a control character in the line";
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    EXPECT_FALSE(engine.processInfo.process);

    // The same start refused for the test: the line is the system's own text for its code.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::string command = "\"" + folder + "\\FARROWPK.EXE\" -Y";
    const BOOL ran = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      folder.c_str(), &startup, &started);
    const DWORD error = ::GetLastError();
    if (ran) {
        ScopedHandle process(started.hProcess), thread(started.hThread);
        ::TerminateProcess(process.Get(), 1);
        FAIL() << "the text file was started as a program";
    }
    char* systemText = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                     reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    ScopedLocalMemory owner(systemText);
    if (systemText) {
        const std::string full = systemText;
        EXPECT_EQ(full.rfind(reason.text, 0), 0u) << full;
        EXPECT_TRUE(full.size() == reason.text.size() ||
                    static_cast<unsigned char>(full[reason.text.size()]) < 0x20);
    } else {
        EXPECT_EQ(reason.text, "Error: Number " + std::to_string(error));
    }

    TickAndCollect(engine);

    EXPECT_EQ(view.lines.back(), kFailedLine);
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
    EXPECT_EQ(engine.InstallState, STATE_DONE);
}

TEST_F(ArchiveRunTest, TheWaitTimesOutOnTheTwoHundredthLookAndTheRunFails) {
    // It has ended with exit code 0 without a flag: keep looking.
    ASSERT_NO_FATAL_FAILURE(SilentArchiveUpToTheLastLook());
    EXPECT_EQ(engine.waitTicks, InstallEngine::kLookLimit - 1);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine}));
    EXPECT_EQ(PositionsDuringWait(), std::vector<int>{});

    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kTimeOutLine}));
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    EXPECT_EQ(engine.waitTicks, InstallEngine::kLookLimit);

    // Whatever the archive left is not a whole install: no detection, no shortcuts.
    TickUntilState(engine, STATE_DONE, 10);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kTimeOutLine, kFailedLine}));
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
}

TEST_F(ArchiveRunTest, AFlagFirstSeenOnTheLastLookIsACompletion) {
    ASSERT_NO_FATAL_FAILURE(SilentArchiveUpToTheLastLook());

    ASSERT_TRUE(::CreateDirectoryA((folder + "\\ZZZ").c_str(), nullptr));
    WriteFileBytes(folder + "\\ZZZ\\comp.flg", "done");
    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kCompletedLine}));
    EXPECT_EQ(engine.waitTicks, InstallEngine::kLookLimit);
    EXPECT_EQ(engine.InstallState, STATE_DETECT);
    EXPECT_FALSE(FolderExists(folder + "\\ZZZ"));
}

TEST_F(ArchiveRunTest, AnArchiveThatNeverWritesItsFlagIsTerminatedAtTheTimeOut) {
    SetMode("hang torvane.flg");
    StartArchive();
    // The looks take no time of their own: the archive has written its file before they run out.
    for (int wait = 0; wait < 200 && !FileExists(folder + "\\torvane.flg"); ++wait)
        ::Sleep(50);
    for (int look = 0; look < InstallEngine::kLookLimit; ++look)
        TickAndCollect(engine);

    EXPECT_EQ(view.lines.back(), kTimeOutLine);
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    // The failure waits for the terminated archive, so its file goes without a warning.
    TickAndCollect(engine);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kTimeOutLine, kFailedLine}));
    EXPECT_EQ(ArchiveExitCode(3000), 0u);
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
    EXPECT_TRUE(FileExists(folder + "\\torvane.flg")) << "what it wrote stays, and is not believed";
}

// A flag folder that is a link before the archive starts stops the run there: nothing is started
// and nothing is written through it.
TEST_F(ArchiveRunTest, AFlagFolderThatIsALinkBeforeTheStartIsRefused) {
    const std::string elsewhere = temp / "elsewhere";
    ASSERT_TRUE(::CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFileBytes(elsewhere + "\\COMP.FLG", "not the archive's");
    unixlinks::FolderLink link(folder + "\\ZZZ", elsewhere);
    ASSERT_TRUE(link.Planted());

    TickUntilState(engine, STATE_DONE, 5);

    EXPECT_EQ(view.lines, (Lines{kCopyingLine,
                                 kDecompressingLine,
                                 {"Error: A link or a file that cannot be replaced was found at " +
                                      folder + "\\ZZZ; nothing was written through it.",
                                  0x000000C0u},
                                 kFailedLine}));
    EXPECT_EQ(engine.exitCode, setup::kExitPlantedObject);
    EXPECT_FALSE(engine.processInfo.process);
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\COMP.FLG"), "not the archive's");
}

// A flag folder made a link while the archive runs is never entered by the looks.
TEST_F(ArchiveRunTest, ALookNeverEntersAFlagFolderThatIsALink) {
    const std::string elsewhere = temp / "elsewhere";
    ASSERT_TRUE(::CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFileBytes(elsewhere + "\\COMP.FLG", "not the archive's");
    SetMode("hang");
    StartArchive();
    unixlinks::FolderLink link(folder + "\\ZZZ", elsewhere);
    ASSERT_TRUE(link.Planted());

    TickUntilState(engine, STATE_DONE, InstallEngine::kLookLimit + 2);

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kTimeOutLine, kFailedLine}));
    EXPECT_EQ(ReadFileBytes(elsewhere + "\\COMP.FLG"), "not the archive's");
    EXPECT_TRUE(FolderExists(folder + "\\ZZZ"));
    EXPECT_EQ(ArchiveExitCode(3000), 0u);
}

TEST_F(ArchiveRunTest, TheStartTheLooksAndTheDetectionComeBackThroughCollect) {
    // The install folder may be on a network share that stops answering: no tick waits for it,
    // and what the work found reaches the state when the dialog collects it.
    SetMode("complete torvane.flg");
    TickAndCollect(engine);
    ASSERT_EQ(engine.InstallState, STATE_EXPAND);
    for (int tick = 0;
         tick < 100 && engine.InstallState >= STATE_EXPAND && engine.InstallState <= STATE_DETECT;
         ++tick) {
        SCOPED_TRACE(engine.InstallState);
        engine.Tick();
        ASSERT_TRUE(engine.WaitForWorker(10000));
        engine.Collect();
        ::Sleep(kTickMilliseconds);
    }
    EXPECT_EQ(engine.InstallState, STATE_DESKTOP_LINKS);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine,
                                 kDecompressingLine,
                                 kCompletedLine,
                                 {"Installed components:  Torvane", 0x00800000u}}));
}

TEST_F(ArchiveRunTest, AnInstallFolderWithBlanksIsQuotedAndIsTheArchivesFolder) {
    ASSERT_TRUE(::CreateDirectoryA((temp / "Program Files").c_str(), nullptr));
    folder = temp / "Program Files\\Torvane Suite";
    engine.Start(SettingsFor(folder, imagePath));
    TickAndCollect(engine);
    ASSERT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    SetMode("complete torvane.flg");

    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines.back(), kCompletedLine);
    EXPECT_EQ(ArchiveRecord(),
              (std::vector<std::string>{"\"" + folder + "\\FARROWPK.EXE\" -Y", folder}));
    EXPECT_TRUE(FileExists(folder + "\\torvane.flg"));
    EXPECT_FALSE(FileExists(temp / "Program Files\\torvane.flg"));
    EXPECT_EQ(ArchiveExitCode(), 0u);
}

// The block the engine made for the archive before it ran, holding whatever an archive that is
// not ours may write there: the bar moves only forward, within its range, and only for values
// that make sense.
TEST_F(ArchiveRunTest, TheBarFollowsAPublishedBlockForwardOnlyAndIgnoresNonsense) {
    SetMode("hang");
    StartArchive();
    ASSERT_EQ(view.ranges.size(), 1u);
    const int range = view.ranges.back();
    ASSERT_GT(range, 40);
    volatile std::uint32_t* const block = ArchiveBlock();
    ASSERT_TRUE(block);
    // size, total KiB, written KiB; then one look.
    const auto publish = [&](std::uint32_t size, std::uint32_t total, std::uint32_t written) {
        block[1] = total;
        block[2] = written;
        block[0] = size;
        TickAndCollect(engine);
    };

    TickAndCollect(engine); // all zeros: not filled in yet
    publish(12, 100, 50);   // another layout
    publish(2092, 0, 50);   // no total
    EXPECT_EQ(PositionsDuringWait(), std::vector<int>{});
    publish(2092, 100, 25);
    publish(2092, 100, 25);  // no change
    publish(2092, 100, 10);  // backwards
    publish(2092, 100, 500); // more than the total
    publish(2092, 200, 300); // a new total, still full
    EXPECT_EQ(PositionsDuringWait(), (std::vector<int>{range / 4, range}));
    EXPECT_EQ(view.ranges.size(), 1u) << "the bar keeps the copy's range";

    TickUntilState(engine, STATE_FAILURE, InstallEngine::kLookLimit);
    EXPECT_EQ(view.lines.back(), kTimeOutLine);
    EXPECT_EQ(ArchiveExitCode(3000), 0u);
    TickUntilState(engine, STATE_DONE, 10);
    EXPECT_EQ(view.positions.back(), 0) << "the bar is back at 0 at the end of the run";
}

TEST_F(ArchiveRunTest, TheBarFollowsTheRealArchiveWhileItUnpacks) {
    WriteSfxImage(40);

    StartArchive();
    WaitLikeTheDialog();

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kCompletedLine}));
    EXPECT_EQ(ArchiveExitCode(), 0u);
    ASSERT_EQ(view.ranges.size(), 1u);
    const std::vector<int> positions = PositionsDuringWait();
    ASSERT_FALSE(positions.empty()) << "the bar did not move while the archive unpacked";
    EXPECT_GT(positions.front(), 0);
    EXPECT_TRUE(std::adjacent_find(positions.begin(), positions.end(),
                                   [](int a, int b) { return a >= b; }) == positions.end())
        << testing::PrintToString(positions);
    EXPECT_LE(positions.back(), view.ranges.back());
    EXPECT_TRUE(FileExists(folder + "\\Docs\\notes39.txt"));
}

// Whoever may write into the install folder can put a completion flag there at any moment, also
// before sfx.exe has filled its progress block in: the run believes sfx.exe's flag only once it
// has ended with 0, and then every file is there.
TEST_F(ArchiveRunTest, AFlagPlantedBeforeEveryLookNeverEndsTheRunBeforeTheArchive) {
    WriteSfxImage(10);
    std::atomic<bool> planting{true};
    std::thread planter([&] {
        while (planting) {
            ::CreateDirectoryA((folder + "\\ZZZ").c_str(), nullptr);
            ScopedFileHandle(::CreateFileA((folder + "\\ZZZ\\COMP.FLG").c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                           0, nullptr));
            ::Sleep(1);
        }
    });
    StartArchive();
    WaitLikeTheDialog();
    planting = false;
    planter.join();

    EXPECT_EQ(view.lines, (Lines{kCopyingLine, kDecompressingLine, kCompletedLine}));
    EXPECT_EQ(ArchiveExitCode(0), 0u) << "the run went on while the archive still ran";
    for (int file = 0; file < 10; ++file)
        EXPECT_EQ(ReadFileBytes(folder + "\\Docs\\notes" + std::to_string(file) + ".txt").size(),
                  2u << 20);
}

// The archive ends with the run: at Escape (EndArchiveNow), and with the setup's last handle of
// its job, however the setup ends; its copy goes with it when the setup is still there.
TEST_F(ArchiveRunTest, TheArchiveAndItsCopyEndWithTheRun) {
    WriteSfxImage(40);
    StartArchive();
    ASSERT_EQ(::WaitForSingleObject(engine.processInfo.process.Get(), 0), WAIT_TIMEOUT);
    const ULONGLONG start = ::GetTickCount64();
    engine.EndArchiveNow();
    EXPECT_EQ(::WaitForSingleObject(engine.processInfo.process.Get(), 0), WAIT_OBJECT_0);
    EXPECT_LT(::GetTickCount64() - start, 300u);
    EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));

    SetMode("hang");
    WriteFileBytes(imagePath, ImageBytes(PatternBytes(8192, 21), ReadFileBytes(TestArchivePath())));
    RecordingView secondView;
    InstallEngine second(secondView);
    SetToCopy(second, folder, imagePath);
    TickAndCollect(second);
    TickAndCollect(second);
    ASSERT_EQ(second.InstallState, STATE_WAIT_EXPAND) << testing::PrintToString(secondView.lines);
    ASSERT_TRUE(second.processInfo.job) << "the archive runs in a job";
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), second.processInfo.process.Get(),
                                  ::GetCurrentProcess(), &duplicate, SYNCHRONIZE, FALSE, 0));
    const ScopedHandle process(duplicate);
    // The job's last handle closes as a setup's do when it is killed.
    second.processInfo.job.Reset();
    EXPECT_EQ(::WaitForSingleObject(process.Get(), 1000), WAIT_OBJECT_0);
}

// One run at a time on the machine: a second engine, on another thread as in another setup, does
// nothing while the first runs, and may start once it has ended.
TEST_F(ArchiveRunTest, ASecondRunIsRefusedWhileOneIsUnderWay) {
    const auto startElsewhere = [this] {
        bool started = false;
        std::thread other([&] {
            RecordingView otherView;
            InstallEngine other(otherView);
            started = other.Start(SettingsFor(temp / "Other", imagePath));
            EXPECT_EQ(other.exitCode, started ? setup::kExitSuccess : setup::kExitAnotherRun);
            EXPECT_EQ(other.InstallState, started ? STATE_CREATE_DIR : STATE_IDLE);
        });
        other.join();
        return started;
    };
    ASSERT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_FALSE(startElsewhere());
    SetMode("fail");
    StartArchive();
    TickUntilState(engine, STATE_DONE, 200, 50);
    ASSERT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_TRUE(startElsewhere());
}

} // namespace
