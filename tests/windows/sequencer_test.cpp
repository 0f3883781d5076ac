// The sequencer: its dispatch, one piece of work at a time, folder creation (state 10), clean-up,
// the two closing states, and DeleteFileIfExists, against real folders and files.
#include "TestSupport.h"
#include "UnixLinks.h"

#include "install/InstallTexts.h"
#include "win32/Thread.h"

using namespace enginetest;

namespace {

const LoggedLine kCreatingLine{"Creating directory ...", kColorProgress};
const LoggedLine kFailedLine{"Installation failed!", 0x800000C0u};
const LoggedLine kSucceededLine{"Installation completed successfully!", 0x80008000u};

class SequencerTest : public testing::Test {
protected:
    SequencerTest() {
        // A run before this one found everything: state 10 must forget it.
        for (ComponentEntry& component : engine.components)
            component.found = 1;
    }

    // Install pressed with `folder` typed.
    void StartIn(const std::string& folder) { engine.Start(SettingsFor(folder)); }

    // The install folder holds the payload's copy and one unpacked file; the run is at `state`.
    void PlaceCopyAndUnpackedFile(int state, const std::string& copy = "copied payload") {
        StartIn(temp.Path());
        engine.archivePath = temp / "FARROWPK.EXE";
        WriteFileBytes(engine.archivePath, copy);
        WriteFileBytes(temp / "Torvane.exe", "unpacked");
        engine.InstallState = state;
    }

    void ExpectNothingFound() const {
        for (const ComponentEntry& component : engine.components)
            EXPECT_EQ(component.found, 0);
    }

    TempFolder temp;
    RecordingView view;
    InstallEngine engine{view};
};

TEST_F(SequencerTest, CreatesTheInstallFolderAndGoesOnToTheCopy) {
    StartIn(temp / "Torvane");

    // The folder is created off the ticking thread (a network path can keep CreateDirectoryW
    // waiting); the state changes once its result is collected.
    engine.Tick();
    ASSERT_TRUE(engine.WaitForWorker(10000));
    EXPECT_TRUE(FolderExists(temp / "Torvane"));
    EXPECT_EQ(engine.InstallState, STATE_CREATE_DIR);
    engine.Collect();

    EXPECT_EQ(view.lines, (Lines{kCreatingLine}));
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_EQ(engine.exitCode, setup::kExitSuccess);
    EXPECT_EQ(view.reportsFromOtherThreads, 0);
    ExpectNothingFound();
    EXPECT_TRUE(view.positions.empty());
    EXPECT_EQ(view.closeEnabled, 0);
}

TEST_F(SequencerTest, AnExistingFolderIsAWarningAndIsUsedAsItIs) {
    const std::string folder = temp / "Torvane";
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    WriteFileBytes(folder + "\\readme.txt", "kept");
    StartIn(folder);

    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{kCreatingLine,
                                 LoggedLine{"Warning: Directory already exists.", 0x00008080u}}));
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_EQ(ReadFileBytes(folder + "\\readme.txt"), "kept");
    ExpectNothingFound();
}

// Missing parents are made with the folder, with the same lines; the run that fails later
// removes every folder it made.
TEST_F(SequencerTest, MissingParentsAreMadeAndAFailedRunRemovesThem) {
    StartIn(temp / "Acme Tools\\Suites\\Torvane");
    TickAndCollect(engine);
    EXPECT_EQ(view.lines, (Lines{kCreatingLine}));
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_EQ(engine.foldersMade,
              (std::vector<std::string>{temp / "Acme Tools", temp / "Acme Tools\\Suites",
                                        temp / "Acme Tools\\Suites\\Torvane"}));
    // No image to copy from: the run fails, and the folders go again.
    TickUntilState(engine, STATE_DONE, 5);
    EXPECT_FALSE(FolderExists(temp / "Acme Tools"));
}

TEST_F(SequencerTest, AParentThatIsAFileFailsWithItsErrorNumberAndTheRunEnds) {
    WriteFileBytes(temp / "Missing", "a file where a parent folder would be");
    StartIn(temp / "Missing\\Torvane");

    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{kCreatingLine, LoggedLine{"Error: Number 3", 0x000000C0u}}));
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    EXPECT_EQ(engine.exitCode, setup::kExitFolder);
    ExpectNothingFound();
    EXPECT_FALSE(FolderExists(temp / "Missing"));
    // Nothing is reported as final before the next tick.
    EXPECT_EQ(view.closeEnabled, 0);
    EXPECT_TRUE(view.positions.empty());

    TickAndCollect(engine);

    EXPECT_EQ(view.lines,
              (Lines{kCreatingLine, LoggedLine{"Error: Number 3", 0x000000C0u}, kFailedLine}));
    EXPECT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
    // No copy was made, so there is nothing to delete and nothing to warn about.
    EXPECT_TRUE(engine.archivePath.empty());

    for (int tick = 0; tick < 5; ++tick)
        TickAndCollect(engine);
    EXPECT_EQ(view.lines.size(), 3u);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_EQ(engine.InstallState, STATE_DONE);
}

TEST_F(SequencerTest, AnEmptyFolderTextIsAnErrorNotAnInstallation) {
    StartIn("");

    TickAndCollect(engine);

    ASSERT_EQ(view.lines.size(), 2u);
    EXPECT_EQ(view.lines[0], kCreatingLine);
    EXPECT_EQ(view.lines[1].color, 0x000000C0u);
    EXPECT_TRUE(view.lines[1].text == "Error: Directory path is invalid." ||
                view.lines[1].text.rfind("Error: Number ", 0) == 0)
        << view.lines[1].text;
    EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    ExpectNothingFound();
}

TEST_F(SequencerTest, TicksWhileTheWorkIsUnderWayStartNothingNew) {
    StartIn(temp / "Torvane");

    for (int tick = 0; tick < 5; ++tick)
        engine.Tick();
    ASSERT_TRUE(engine.WaitForWorker(10000));
    for (int tick = 0; tick < 3; ++tick)
        engine.Collect();

    // One folder made, one line, one step on: the work's result is applied once.
    EXPECT_EQ(view.lines, (Lines{kCreatingLine}));
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_TRUE(FolderExists(temp / "Torvane"));
}

TEST_F(SequencerTest, ValuesThatAreNoStateAndIdleStayWhereTheyAre) {
    StartIn(temp / "Torvane");
    for (int state : {int{STATE_IDLE}, 11, 15, 41, 999, 1001, int{STATE_DONE}, -10}) {
        SCOPED_TRACE(state);
        engine.InstallState = state;
        for (int tick = 0; tick < 3; ++tick)
            TickAndCollect(engine);
        EXPECT_EQ(engine.InstallState, state);
    }
    EXPECT_TRUE(view.lines.empty());
    EXPECT_TRUE(view.positions.empty());
    EXPECT_EQ(view.closeEnabled, 0);
    EXPECT_FALSE(FolderExists(temp / "Torvane"));
}

TEST_F(SequencerTest, CleanUpDeletesTheCopyAndTheRunSucceeds) {
    // Several times as long as the steps in which the copy is emptied before it is deleted.
    PlaceCopyAndUnpackedFile(STATE_CLEANUP, std::string(9 * 1024 * 1024 + 5, 'p'));

    TickAndCollect(engine);

    EXPECT_EQ(engine.InstallState, STATE_SUCCESS);
    EXPECT_FALSE(FileExists(engine.archivePath));
    EXPECT_TRUE(FileExists(temp / "Torvane.exe"));
    EXPECT_EQ(view.closeEnabled, 0);

    TickAndCollect(engine);
    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{LoggedLine{"Cleaning up ...", kColorProgress}, kSucceededLine}));
    EXPECT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
}

TEST_F(SequencerTest, ACopyThatIsAlsoAnotherFilesNameLosesOnlyTheName) {
    // Someone who may write the folder swapped the copy for a second name of another file.
    PlaceCopyAndUnpackedFile(STATE_CLEANUP);
    WriteFileBytes(temp / "elsewhere.dat", "not the setup's");
    ASSERT_TRUE(::DeleteFileA(engine.archivePath.c_str()));
    ASSERT_TRUE(
        ::CreateHardLinkA(engine.archivePath.c_str(), (temp / "elsewhere.dat").c_str(), nullptr));

    TickAndCollect(engine);

    EXPECT_FALSE(FileExists(engine.archivePath));
    EXPECT_EQ(ReadFileBytes(temp / "elsewhere.dat"), "not the setup's");
    EXPECT_EQ(view.lines, (Lines{LoggedLine{"Cleaning up ...", kColorProgress}}));
}

TEST_F(SequencerTest, FailureDeletesTheCopyButNothingElse) {
    PlaceCopyAndUnpackedFile(STATE_FAILURE);

    engine.Tick();
    // The run is still under way while the worker deletes the copy: Escape now ends the
    // program, as during any other state's work, not the dialog with the worker still running.
    EXPECT_TRUE(engine.RunUnderWay());
    EXPECT_EQ(view.closeEnabled, 0);
    ASSERT_TRUE(engine.WaitForWorker(10000));
    engine.Collect();

    EXPECT_FALSE(engine.RunUnderWay());
    EXPECT_EQ(view.lines, (Lines{kFailedLine}));
    EXPECT_FALSE(FileExists(engine.archivePath));
    EXPECT_TRUE(FileExists(temp / "Torvane.exe"));
    EXPECT_TRUE(FolderExists(temp.Path()));
    EXPECT_EQ(engine.InstallState, STATE_DONE);
    EXPECT_EQ(view.closeEnabled, 1);
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
}

TEST_F(SequencerTest, DeleteFileIfExistsLeavesMissingFilesFoldersAndLinksAloneWithoutAWord) {
    ASSERT_TRUE(::CreateDirectoryA((temp / "Folder").c_str(), nullptr));
    WriteFileBytes(temp / "Folder\\kept.flg", "kept");
    unixlinks::FolderLink link(temp / "Link.flg", temp / "Folder");
    ASSERT_TRUE(link.Planted());

    EXPECT_FALSE(DeleteFileIfExists(temp / "missing.flg", view));
    EXPECT_FALSE(DeleteFileIfExists("", view));
    EXPECT_FALSE(DeleteFileIfExists(temp / "Folder", view));
    EXPECT_FALSE(DeleteFileIfExists(temp / "Link.flg", view));

    EXPECT_EQ(ReadFileBytes(temp / "Folder\\kept.flg"), "kept");
    EXPECT_TRUE(FolderExists(temp / "Link.flg"));
    EXPECT_TRUE(view.lines.empty());
}

TEST_F(SequencerTest, AFileThatCannotBeDeletedIsAWarningAndTheRunGoesOn) {
    PlaceCopyAndUnpackedFile(STATE_CLEANUP);
    SetReadOnly(engine.archivePath);

    TickAndCollect(engine);

    EXPECT_EQ(view.lines, (Lines{LoggedLine{"Cleaning up ...", kColorProgress},
                                 LoggedLine{"Warning: Unable to delete " + engine.archivePath + ".",
                                            0x00008080u}}));
    EXPECT_EQ(ReadFileBytes(engine.archivePath), "copied payload");
    EXPECT_EQ(engine.InstallState, STATE_SUCCESS);

    TickAndCollect(engine);
    EXPECT_EQ(view.lines.back(), kSucceededLine);
    EXPECT_EQ(engine.InstallState, STATE_DONE);
}

TEST(EndProcessNowTest, EndsAtOnceWithoutTheRuntimesShutdownWhileAStreamIsLocked) {
    TempFolder temp;
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command =
        "\"" + std::string(self) + "\" " + kEndProcessChildOption + " \"" + temp.Path() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &started));
    const ScopedHandle process(started.hProcess), thread(started.hThread);
    const bool ended = ::WaitForSingleObject(process.Get(), 20000) == WAIT_OBJECT_0;
    if (!ended)
        ::TerminateProcess(process.Get(), 1);
    ASSERT_TRUE(ended) << "the process did not end";
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(FileExists(temp / "locked.txt"));
    // The runtime's shutdown would have flushed it, taking every stream's lock on the way.
    EXPECT_EQ(ReadFileBytes(temp / "buffered.txt"), "");
}

// The bytes reserved for the stack this runs on, from its base to its top.
unsigned __stdcall MeasureStack(void* reserved) {
    MEMORY_BASIC_INFORMATION here{};
    ::VirtualQuery(&here, &here, sizeof here);
    *static_cast<std::size_t*>(reserved) =
        static_cast<std::size_t>(static_cast<const char*>(here.BaseAddress) + here.RegionSize -
                                 static_cast<const char*>(here.AllocationBase));
    return 7;
}

// A size given is the stack's reservation (sfx.exe's memory counts it), not its first commit
// within the program's default reservation of megabytes. Wine reserves 1 MiB at the least.
TEST(StartThreadTest, RunsTheEntryOnAStackOfTheReservationGiven) {
    const auto reservedFor = [](std::size_t asked) {
        std::size_t reserved = 0;
        const ScopedHandle thread = win32::StartThread(MeasureStack, &reserved, asked);
        DWORD exitCode = 0;
        EXPECT_TRUE(thread && ::WaitForSingleObject(thread.Get(), 10000) == WAIT_OBJECT_0 &&
                    ::GetExitCodeThread(thread.Get(), &exitCode));
        EXPECT_EQ(exitCode, 7u);
        return reserved;
    };
    const std::size_t given = reservedFor(std::size_t{256} << 10), byDefault = reservedFor(0);
    EXPECT_GE(given, std::size_t{256} << 10);
    EXPECT_LT(given, byDefault);
}

} // namespace
