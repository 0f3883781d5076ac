// Bad payload archives run through the install engine and the real sfx.exe: an entry name that
// could leave the install folder, an archive without entries, names differing only in case, a
// size that does not match the data, a cut archive, completion flags out of place. Each run must
// end with a clear line and write nothing outside the install folder. And the engine's shell work
// after the DLL search has been restricted to the system folder, as setup.exe does first thing.
#include "TestSupport.h"

#include "install/InstallTexts.h"
#include "payload/ZipWriter.h"
#include "win32/Handles.h"
#include "win32/SafeDllSearch.h"

#include <algorithm>
#include <tuple>

using namespace enginetest;

namespace {

const LoggedLine kCopyingLine{"Copying necessary files ...", kColorProgress};
const LoggedLine kDecompressingLine{"Decompressing archive ...", kColorProgress};
const LoggedLine kArchiveFailedLine{"Decompression process failure!", kColorProgress};
const LoggedLine kFailedLine{"Installation failed!", 0x800000C0u};
const LoggedLine kSucceededLine{"Installation completed successfully!", 0x80008000u};

// sfx.exe's exit codes: no archive found, an unsafe name (nothing written), an entry failed.
constexpr DWORD kNoArchive = 2, kUnsafeName = 3, kEntryFailed = 4;

const LoggedLine kDamagedPayloadLine{"Error: The payload is damaged; download the setup again.",
                                     kColorError};

std::string SfxPath() {
    std::string path = SFX_EXE_PATH;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    return path;
}

// The names directly in `folder`, sorted; folders end in a backslash.
std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    ScopedFind find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (!find)
        return names;
    do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name +
                            ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
    } while (::FindNextFileA(find.Get(), &entry));
    std::sort(names.begin(), names.end());
    return names;
}

std::string TextBytes(size_t length) {
    std::string text;
    for (int line = 0; text.size() < length; ++line)
        text += "Torvane notes, line " + std::to_string(line) + "\r\n";
    text.resize(length);
    return text;
}

struct Item {
    std::string name;
    std::string data;
    zip::Compression compression = zip::Compression::Deflate;
};

std::uint16_t Get16(const std::string& bytes, size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}
void Put16(std::string& bytes, size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

// Calls `edit` with the offset of `name`'s local header and then of its central header, with
// the offset of the name length in each (the extra field's length follows it).
template <class Edit> void EditEntry(std::string& bytes, const std::string& name, Edit&& edit) {
    int edited = 0;
    for (auto [signature, nameLengthAt, isCentral] :
         {std::tuple{std::string("PK\x03\x04", 4), size_t{26}, false},
          std::tuple{std::string("PK\x01\x02", 4), size_t{28}, true}}) {
        const size_t nameAt = nameLengthAt + 4 + (isCentral ? 14 : 0);
        for (size_t at = bytes.find(signature); at != std::string::npos;
             at = bytes.find(signature, at + 1)) {
            if (Get16(bytes, at + nameLengthAt) != name.size() ||
                bytes.compare(at + nameAt, name.size(), name) != 0)
                continue;
            edit(at, nameLengthAt, isCentral);
            ++edited;
        }
    }
    ASSERT_EQ(edited, 2) << name << " is not once in each directory";
}

// Sets the uncompressed size that `name`'s headers declare, as a hand-made archive could.
void DeclareSize(std::string& bytes, const std::string& name, std::uint32_t size) {
    EditEntry(bytes, name, [&bytes, size](size_t at, size_t, bool isCentral) {
        const size_t sizeAt = at + (isCentral ? 24 : 22);
        Put16(bytes, sizeAt, static_cast<std::uint16_t>(size & 0xFFFF));
        Put16(bytes, sizeAt + 2, static_cast<std::uint16_t>(size >> 16));
    });
}

// Gives `name`'s entry an empty name, which only a hand-made archive holds: the name's bytes
// become extra-field bytes, so that every offset stays as it is.
void EmptyEntryName(std::string& bytes, const std::string& name) {
    EditEntry(bytes, name, [&bytes, &name](size_t at, size_t nameLengthAt, bool) {
        Put16(bytes, at + nameLengthAt, 0);
        Put16(bytes, at + nameLengthAt + 2,
              static_cast<std::uint16_t>(Get16(bytes, at + nameLengthAt + 2) + name.size()));
    });
}

class BadArchiveTest : public EngineTest {
protected:
    // A blank in the path, as in "C:\Program Files\Torvane".
    BadArchiveTest() : EngineTest("Install Folder") { driveRoot = ListFolder("C:"); }

    // A payload as pack makes one: sfx.exe with a ZIP archive of `items` behind it.
    std::string Payload(const std::vector<Item>& items) {
        const std::string path = temp / "payload.exe";
        zip::Writer writer;
        EXPECT_TRUE(writer.Create(path) && writer.AppendStub(SfxPath())) << writer.Error();
        for (const Item& item : items)
            EXPECT_TRUE(writer.AddBytes(item.name, item.data, item.compression))
                << item.name << ": " << writer.Error();
        EXPECT_TRUE(writer.Finish()) << writer.Error();
        std::string bytes = ReadFileBytes(path);
        ::DeleteFileA(path.c_str());
        return bytes;
    }

    void PlaceImage(const std::string& payload) {
        WriteFileBytes(imagePath, ImageBytes(PatternBytes(4096, 31), payload));
    }

    // Copies, starts and awaits the archive, then runs the rest of the sequence. The looks for
    // the completion flag start once the archive has ended, so none of them depends on timing.
    static void RunToTheEnd(InstallEngine& run, const RecordingView& runView) {
        TickAndCollect(run);
        if (run.InstallState == STATE_EXPAND)
            TickAndCollect(run);
        if (run.InstallState == STATE_WAIT_EXPAND) {
            ASSERT_EQ(::WaitForSingleObject(run.processInfo.process.Get(), 60000), WAIT_OBJECT_0)
                << "the archive did not end";
        }
        TickUntilState(run, STATE_DONE, InstallEngine::kLookLimit + 10);
        ASSERT_EQ(run.InstallState, STATE_DONE) << testing::PrintToString(runView.lines);
        EXPECT_EQ(runView.closeEnabled, 1);
    }
    void RunToTheEnd() { RunToTheEnd(engine, view); }

    // A run of its own into a fresh, empty install folder, whose archive must stop with
    // `exitCode`: the run then fails with the archive's failure line and `cause`.
    void ExpectArchiveFails(const std::string& payload, DWORD exitCode,
                            const std::string& cause = kDamagedPayloadLine.text) {
        SuiteShortcutsCleaner::RemoveAll();
        RemoveTree(folder);
        EXPECT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
        PlaceImage(payload);
        RecordingView runView;
        InstallEngine run{runView};
        SetToCopy(run, folder, imagePath);
        RunToTheEnd(run, runView);
        EXPECT_EQ(runView.lines, (Lines{kCopyingLine,
                                        kDecompressingLine,
                                        kArchiveFailedLine,
                                        {cause, kColorError},
                                        kFailedLine}));
        EXPECT_EQ(run.exitCode, setup::kExitArchive);
        DWORD code = STILL_ACTIVE;
        EXPECT_TRUE(run.processInfo.process &&
                    ::GetExitCodeProcess(run.processInfo.process.Get(), &code));
        EXPECT_EQ(code, exitCode) << "sfx.exe's exit code";
    }

    DWORD ArchiveExitCode() const {
        DWORD code = STILL_ACTIVE;
        ::GetExitCodeProcess(engine.processInfo.process.Get(), &code);
        return code;
    }

    // Nothing landed beside the install folder, in the drive's root or in the shell's folders.
    void ExpectNothingOutside(bool shortcutsMade = false) {
        EXPECT_EQ(ListFolder(temp.Path()),
                  (std::vector<std::string>{"Install Folder\\", "setup.exe"}));
        EXPECT_EQ(ListFolder("C:"), driveRoot) << "the drive's root changed";
        if (!shortcutsMade) {
            EXPECT_FALSE(FolderExists(SuiteShortcutsCleaner::GroupFolder()));
            for (const char* name : {"Pellisar", "Torvane", "Dromlet"})
                EXPECT_FALSE(FileExists(SuiteShortcutsCleaner::DesktopLink(name))) << name;
        }
    }

    SuiteShortcutsCleaner shortcuts;
    std::vector<std::string> driveRoot;
};

// Every kind of unsafe name is refused by the name check and, whole, by sfx.exe; here the run
// that meets one: a name climbing out, and an empty name, which only a hand-made archive holds.
TEST_F(BadArchiveTest, AnUnsafeNameUnpacksNothingAndFailsTheRun) {
    for (const std::string unsafe : {"../evil.txt", ""}) {
        SCOPED_TRACE("entry name \"" + unsafe + "\"");
        // The writer refuses an empty name: that one is made from another.
        std::string payload = Payload({{"first.txt", "first"},
                                       {unsafe.empty() ? "evil.txt" : unsafe, "evil"},
                                       {"torvane.flg", "flag"},
                                       {"ZZZ/comp.flg", "done"}});
        if (unsafe.empty())
            EmptyEntryName(payload, "evil.txt");
        ExpectArchiveFails(payload, kUnsafeName);
        EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});
        EXPECT_FALSE(FileExists("C:\\evil.txt"));
        ExpectNothingOutside();
    }
}

TEST_F(BadArchiveTest, AnArchiveWithoutEntriesIsATimeOutAndTheRunFails) {
    // It ends at once with exit code 0 and writes nothing, not its completion flag either: the
    // setup looks 200 times, as for any archive that stays silent, finds nothing, and fails.
    PlaceImage(Payload({}));

    RunToTheEnd();

    EXPECT_EQ(ArchiveExitCode(), 0u);
    EXPECT_EQ(engine.waitTicks, InstallEngine::kLookLimit);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine,
                                 kDecompressingLine,
                                 {"Decompression process time out!", kColorProgress},
                                 kFailedLine}));
    EXPECT_EQ(engine.exitCode, setup::kExitArchive);
    // sfx.exe installed what the archive holds, nothing, and its record says so.
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{"install.rec"});
    ExpectNothingOutside();
}

// Windows takes them for one file, which the second would overwrite: in any script (Unicode case
// folding), they are unsafe names.
TEST_F(BadArchiveTest, NamesDifferingOnlyInCaseUnpackNothingAndFailTheRun) {
    ExpectArchiveFails(Payload({{"Документы/Notes.txt", "first version"},
                                {"документы/NOTES.TXT", "second version"},
                                {"torvane.flg", "flag"},
                                {"ZZZ/comp.flg", "done"}}),
                       kUnsafeName);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});
    ExpectNothingOutside();
}

TEST_F(BadArchiveTest, ADeclaredSizeThatDoesNotMatchTheDataFailsAndLeavesNoPartOfTheEntry) {
    // A size far larger than the data fails in the reader as well (host tests).
    std::string payload = Payload({{"first.txt", "first"},
                                   {"notes.txt", TextBytes(300000)},
                                   {"torvane.flg", "flag"},
                                   {"ZZZ/comp.flg", "done"}});
    DeclareSize(payload, "notes.txt", 1000);
    ExpectArchiveFails(payload, kEntryFailed,
                       "Error: The payload is damaged at notes.txt; download the setup again.");
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});
    ExpectNothingOutside();
}

TEST_F(BadArchiveTest, ACutArchiveUnpacksNothingAndFails) {
    // Cut by its last byte: the end record's comment length takes the image's label byte that
    // follows it in the copy. (Every other cut, with the trailer behind it: host tests.)
    const std::string whole = Payload({{"first.txt", "first"},
                                       {"notes.txt", TextBytes(50000)},
                                       {"torvane.flg", "flag"},
                                       {"ZZZ/comp.flg", "done"}});
    ExpectArchiveFails(whole.substr(0, whole.size() - 1), kNoArchive);
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});
    ExpectNothingOutside();
}

// A completion flag that stands twice: which one is the sign that everything else is there?
// sfx.exe refuses such an archive and writes nothing, so the run fails.
TEST_F(BadArchiveTest, ACompletionFlagStandingTwiceFailsTheRunWithNothingUnpacked) {
    const std::string big(64u << 20, '\0');
    PlaceImage(Payload({{"torvane.flg", "flag"},
                        {"ZZZ/comp.flg", "early"},
                        {"big.bin", big},
                        {"ZZZ/comp.flg", "done"}}));
    RunToTheEnd();

    ASSERT_GE(view.lines.size(), 3u);
    EXPECT_EQ(view.lines[view.lines.size() - 3], kArchiveFailedLine);
    EXPECT_EQ(
        view.lines[view.lines.size() - 2],
        (LoggedLine{"Error: The payload is damaged at ZZZ\\comp.flg; download the setup again.",
                    kColorError}));
    EXPECT_EQ(view.lines.back(), kFailedLine);
    EXPECT_EQ(ArchiveExitCode(), kUnsafeName);
    EXPECT_FALSE(FileExists(folder + "\\big.bin"));
    EXPECT_FALSE(FileExists(folder + "\\torvane.flg"));
    EXPECT_FALSE(FileExists(folder + "\\ZZZ\\COMP.FLG"));
}

// A completion flag early in the archive (as zip tools that sort their entries put it) is written
// last, so a later entry that fails leaves no flag behind: the run fails instead of taking a
// partial unpack for a whole one.
TEST_F(BadArchiveTest, AnEarlyCompletionFlagCannotCutTheInstallShort) {
    std::string payload = Payload({{"ZZZ/comp.flg", "done"},
                                   {"torvane.flg", "flag"},
                                   {"notes.txt", TextBytes(300000)},
                                   {"pellisar.flg", "flag"}});
    DeclareSize(payload, "notes.txt", 1000);
    ExpectArchiveFails(payload, kEntryFailed,
                       "Error: The payload is damaged at notes.txt; download the setup again.");
    EXPECT_EQ(ListFolder(folder), std::vector<std::string>{});
    ExpectNothingOutside();
}

// A file of the installed suite held open by a program: the archive puts everything back, the
// line names the file, and the question asks to close the program. Cancel ends the run with 8
// and the old file; Retry (the program closed meanwhile) runs the archive again, and it installs.
TEST_F(BadArchiveTest, AFileInUseIsNamedAndRetryRunsTheArchiveAgain) {
    PlaceImage(Payload({{"notes.txt", "v1"}, {"torvane.flg", "flag"}, {"ZZZ/comp.flg", "done"}}));
    RunToTheEnd();
    ASSERT_EQ(engine.exitCode, setup::kExitSuccess);
    PlaceImage(Payload({{"notes.txt", "v2"}, {"torvane.flg", "flag"}, {"ZZZ/comp.flg", "done"}}));
    const std::string notes = folder + "\\notes.txt";
    const Lines failedArchive = {
        kCopyingLine,
        kDecompressingLine,
        kArchiveFailedLine,
        {"Error: " + notes + " is in use by another program (Windows error 32).", kColorError}};

    for (const bool retry : {false, true}) {
        SCOPED_TRACE(retry ? "Retry" : "Cancel");
        ScopedFileHandle holder(
            ::CreateFileA(notes.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        RecordingView runView;
        runView.answer = [&] {
            holder.Reset();
            return retry;
        };
        InstallEngine run{runView};
        SetToCopy(run, folder, imagePath);
        TickUntilState(run, STATE_DONE, 3000, 20);

        ASSERT_EQ(run.InstallState, STATE_DONE) << testing::PrintToString(runView.lines);
        EXPECT_EQ(runView.questions,
                  std::vector<std::string>{"Close the program that uses the suite's files and "
                                           "press Retry"});
        ASSERT_GE(runView.lines.size(), failedArchive.size() + 1);
        EXPECT_EQ(Lines(runView.lines.begin(), runView.lines.begin() + 4), failedArchive);
        if (retry) {
            EXPECT_EQ(Lines(runView.lines.begin() + 4, runView.lines.begin() + 7),
                      (Lines{kCopyingLine,
                             kDecompressingLine,
                             {"Decompression completed.", kColorProgress}}));
            EXPECT_EQ(runView.lines.back(), kSucceededLine);
            EXPECT_EQ(run.exitCode, setup::kExitSuccess);
            EXPECT_EQ(ReadFileBytes(notes), "v2");
        } else {
            EXPECT_EQ(runView.lines.size(), 5u);
            EXPECT_EQ(runView.lines.back(), kFailedLine);
            EXPECT_EQ(run.exitCode, setup::kExitInUse);
            EXPECT_EQ(ReadFileBytes(notes), "v1");
        }
        EXPECT_FALSE(FileExists(folder + "\\FARROWPK.EXE"));
    }
}

// "C:\" is refused as an install folder, and so is the same root written with dot segments, which
// would unpack the suite into the drive's root.
TEST(DriveRootTest, ADriveRootWrittenWithDotSegmentsIsRefusedLikeTheRootItself) {
    for (const char* root : {"C:\\.", "C:\\.\\.", "C:\\Windows\\.."}) {
        SCOPED_TRACE(root);
        RecordingView view;
        InstallEngine engine{view};
        engine.Start(SettingsFor(root));

        TickAndCollect(engine);

        EXPECT_EQ(view.lines, (Lines{{"Creating directory ...", kColorProgress},
                                     {"Error: Directory path is invalid.", 0x000000C0u}}));
        EXPECT_EQ(engine.InstallState, STATE_FAILURE);
    }
}

// The folder text is UTF-8, in any script; text that is not UTF-8 (an unpaired surrogate was
// typed, kept as its three bytes) names no folder: state 10 refuses it before anything is
// created, rather than make a folder named with a replacement character.
TEST(FolderTextTest, TextThatIsNotUtf8IsRefusedBeforeAnythingIsCreated) {
    TempFolder temp;
    RecordingView view;
    InstallEngine engine{view};
    engine.Start(SettingsFor(temp / "Torvane\xED\xA0\x80"));

    TickUntilState(engine, STATE_DONE, 2);

    EXPECT_EQ(view.lines, (Lines{{"Creating directory ...", kColorProgress},
                                 {"Error: Directory path is invalid.", 0x000000C0u},
                                 kFailedLine}));
    EXPECT_FALSE(FolderExists(temp / "Torvane"));
    EXPECT_FALSE(FolderExists(Wide(temp / "Torvane") + L"\uFFFD"));
}

// --- DLLs from the system folder only ---------------------------------------------------------

// A copy of a program beside the test program, under a DLL's name; gone at the end.
class PlantedModule {
public:
    explicit PlantedModule(const std::string& name) : path_(OwnFolder() + "\\" + name) {
        ok_ = ::CopyFileA(TestArchivePath().c_str(), path_.c_str(), FALSE) != FALSE;
    }
    ~PlantedModule() { ::DeleteFileA(path_.c_str()); }
    PlantedModule(const PlantedModule&) = delete;
    PlantedModule& operator=(const PlantedModule&) = delete;
    bool Ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

// Whether a module is found by its bare name; it is mapped only, never run.
bool FoundByName(const char* name) {
    HMODULE module = ::LoadLibraryExA(name, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module)
        return false;
    ::FreeLibrary(module);
    return true;
}

TEST(SafeDllSearchTest, ShortcutsAreStillWrittenWhenDllsComeFromTheSystemFolderOnly) {
    SuiteShortcutsCleaner shortcuts;
    PlantedModule planted("torvane-planted.dll");
    ASSERT_TRUE(planted.Ok());
    ASSERT_TRUE(FoundByName("torvane-planted.dll")) << "the program's own folder is not searched";

    // As setup.exe does before anything else.
    LoadLibrariesFromSystemFolderOnly();
    struct RestoreSearch {
        // The other tests of this program run with the usual folders again.
        ~RestoreSearch() {
            using SetDirectories = BOOL(WINAPI*)(DWORD);
            if (auto set =
                    reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(::GetProcAddress(
                        ::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories"))))
                set(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        }
    } restore;
    EXPECT_FALSE(FoundByName("torvane-planted.dll"))
        << "a DLL beside the program is still found after the search was restricted";
    EXPECT_TRUE(FoundByName("shell32.dll"));

    TempFolder temp;
    for (const char* flag : {"pellisar.flg", "torvane.flg", "dromlet.flg"})
        WriteFileBytes(temp / flag, "flag");
    RecordingView view;
    InstallEngine engine{view};
    engine.Start(SettingsFor(temp.Path()));
    SetToDetect(engine);

    TickUntilState(engine, STATE_DONE, 10);

    EXPECT_EQ(view.lines,
              (Lines{{"Installed components:  Pellisar,  Torvane,  Dromlet", 0x00800000u},
                     {"Creating desktop shortcuts ...", kColorProgress},
                     {"Creating start menu shortcuts ...", kColorProgress},
                     {"Cleaning up ...", kColorProgress},
                     kSucceededLine}));
    for (const char* name : {"Pellisar", "Torvane", "Dromlet"}) {
        SCOPED_TRACE(name);
        for (const std::string& link :
             {SuiteShortcutsCleaner::DesktopLink(name), SuiteShortcutsCleaner::GroupLink(name)}) {
            const std::optional<ShortcutFile> contents = ReadShortcut(link);
            ASSERT_TRUE(contents) << link;
            EXPECT_EQ(
                lstrcmpiA(contents->target.c_str(), (temp.Path() + "\\" + name + ".exe").c_str()),
                0)
                << contents->target;
            EXPECT_EQ(contents->description, "Farrow Desktop Shortcut");
        }
    }
}

} // namespace
