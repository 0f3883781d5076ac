// sfx.exe started exactly as the setup program starts the payload: the payload with 20 trailer
// bytes behind it, copied to "<folder>\FARROWPK.EXE", run hidden at high priority as
// `"<folder>\FARROWPK.EXE" -Y` with <folder> as the working directory.
#include "../UnixLinks.h"
#include "base/BinaryFile.h"
#include "image/ImageTrailer.h"
#include "payload/EntryName.h"
#include "payload/InstallRecord.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"
#include "payload/sfx/InstallJournal.h"
#include "win32/Handles.h"
#include "win32/NoFollowWin32.h"

#include <windows.h>

#include <psapi.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// A build-tree path, a Linux path, as Wine shows it: on drive Z:.
std::string BuildTreePath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path)
            if (c == '/')
                c = '\\';
    }
    return path;
}

// The stub as built.
std::string SfxPath() {
    return BuildTreePath(SFX_EXE_PATH);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string TextBytes(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text += "Torvane notes, line " + std::to_string(line) + "\r\n";
    text.resize(size);
    return text;
}

void RemoveTree(const std::string& folder) {
    // A link a test planted: it goes, and what it leads to stays.
    if (unixlinks::IsLink(unixlinks::Widen(folder))) {
        unixlinks::RemoveLink(unixlinks::Widen(folder));
        return;
    }
    WIN32_FIND_DATAA found;
    {
        ScopedFind find(FindFirstFileA((folder + "\\*").c_str(), &found));
        if (find) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string path = folder + "\\" + name;
                if (found.dwFileAttributes &
                    (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
                    RemoveTree(path);
                } else {
                    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(find.Get(), &found));
        }
    }
    RemoveDirectoryA(folder.c_str());
}

// Every file and folder under `folder`, as relative paths; folders end in '\', links to folders
// in "\ (link)".
std::set<std::string> ListTree(const std::string& folder, const std::string& prefix = "") {
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    ScopedFind find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find)
        return names;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            names.insert(prefix + name + "\\ (link)"); // not entered
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            names.insert(prefix + name + "\\");
            for (const std::string& inner : ListTree(folder + "\\" + name, prefix + name + "\\"))
                names.insert(inner);
        } else {
            names.insert(prefix + name);
        }
    } while (FindNextFileA(find.Get(), &found));
    return names;
}

struct Item {
    std::string name;
    std::string data;
    zip::Compression compression = zip::Compression::Deflate;
};

// What the archive published in the block "Local\\TorvaneUnpack-<pid>": five 32-bit values
// (block size 2092, total KiB, written KiB, entries done, length of the refused folder) and the
// refused folder's bytes at offset 20; from offset 1044 why it failed: cause, Windows error, KiB
// needed and free, old files left for the next restart, and the failed path's length and bytes
// (offset 1068). Read while it ran and once more after.
struct ProgressSeen {
    bool found = false;
    std::uint32_t blockSize = 0;
    std::uint32_t totalKiB = 0;
    std::vector<std::uint32_t> written; // every value seen, in order
    std::vector<std::uint32_t> done;    // every entriesDone seen, in order
    std::uint32_t entriesDone = 0;
    std::string refusedFolder;
    std::uint32_t failureCause = 0, windowsError = 0, neededKiB = 0, freeKiB = 0;
    std::uint32_t restartPending = 0;
    std::string failedPath;
};

// The causes of payload/UnpackProgress.h, as the setup reads them.
enum Cause : std::uint32_t {
    kNoFailure = 0,
    kDamagedPayload = 1,
    kDiskFull = 2,
    kNoAccess = 3,
    kInUse = 4,
    kLinkFound = 5
};

struct RunResult {
    DWORD exitCode = 0;
    SIZE_T peakMemory = 0; // largest working set seen while it ran
    ProgressSeen progress;
};

// Makes the archive's progress block before the archive runs, as the setup does, and reads it.
class ProgressReader {
public:
    static constexpr DWORD kBlockSize = 2092;

    explicit ProgressReader(DWORD processId)
        : mapping_(
              CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBlockSize,
                                 ("Local\\TorvaneUnpack-" + std::to_string(processId)).c_str())),
          view_(mapping_ ? MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, kBlockSize)
                         : nullptr) {}

    void Sample(ProgressSeen& seen) {
        const volatile std::uint32_t* words =
            static_cast<const volatile std::uint32_t*>(view_.Get());
        if (!words || words[0] == 0)
            return;
        seen.found = true;
        seen.blockSize = words[0];
        seen.totalKiB = words[1];
        const std::uint32_t written = words[2];
        if (seen.written.empty() || seen.written.back() != written)
            seen.written.push_back(written);
        seen.entriesDone = words[3];
        if (seen.done.empty() || seen.done.back() != seen.entriesDone)
            seen.done.push_back(seen.entriesDone);
        const char* folder = static_cast<const char*>(view_.Get()) + 20;
        const std::uint32_t length = words[4];
        seen.refusedFolder.assign(folder, std::min<std::uint32_t>(length, 1024));
        seen.failureCause = words[1044 / 4];
        seen.windowsError = words[1048 / 4];
        seen.neededKiB = words[1052 / 4];
        seen.freeKiB = words[1056 / 4];
        seen.restartPending = words[1060 / 4];
        seen.failedPath.assign(static_cast<const char*>(view_.Get()) + 1068,
                               std::min<std::uint32_t>(std::uint32_t{words[1064 / 4]}, 1024));
    }

private:
    ScopedHandle mapping_;
    ScopedMappedView view_;
};

class SfxTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
        static int counter = 0;
        // A blank in the path, as in "C:\Program Files\Torvane".
        root_ = std::string(temp) + "sfx test " + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        RemoveTree(root_);
        ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
        folder_ = root_ + "\\Install Folder";
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        ASSERT_TRUE(Exists(SfxPath())) << SfxPath();
    }
    void TearDown() override { RemoveTree(root_); }

    // pack's payload (stub, then the archive) followed by a trailer, as the setup copies it.
    void PlacePayload(const std::vector<Item>& items, const std::string& stubPath = SfxPath()) {
        const std::string payload = root_ + "\\payload.exe";
        zip::Writer writer;
        ASSERT_TRUE(writer.Create(payload)) << writer.Error();
        ASSERT_TRUE(writer.AppendStub(stubPath)) << writer.Error();
        for (const Item& item : items)
            ASSERT_TRUE(writer.AddBytes(item.name, item.data, item.compression)) << writer.Error();
        ASSERT_TRUE(writer.Finish()) << writer.Error();
        PlaceFile(ReadFile(payload));
    }
    void PlaceFile(const std::string& payload) {
        const image::Trailer trailer =
            image::MakeTrailer("v1.0.0", static_cast<std::int32_t>(payload.size()));
        WriteFile(ArchivePath(), payload + std::string(trailer.begin(), trailer.end()));
    }
    std::string ArchivePath() const { return folder_ + "\\FARROWPK.EXE"; }
    std::string InFolder(const std::string& name) const { return folder_ + "\\" + name; }

    // `whileRunning` is called every few milliseconds until the archive has ended.
    // `killWhen` ends the archive as soon as it says so, as a power cut or the task manager
    // would (exit code 0xDEAD).
    RunResult RunArchive(const std::string& arguments = " -Y",
                         const std::function<void()>& whileRunning = {},
                         const std::function<bool()>& killWhen = {}) {
        RunResult run;
        std::string commandLine = "\"" + ArchivePath() + "\"" + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            HIGH_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, folder_.c_str(),
                            &startup, &process)) {
            ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
            run.exitCode = 0xDEAD;
            return run;
        }
        ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
        ProgressReader progress(process.dwProcessId);
        ResumeThread(process.hThread);
        // Samples the memory use while it runs: the counters of an ended process are not
        // kept everywhere.
        const DWORD started = GetTickCount();
        while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) {
            PROCESS_MEMORY_COUNTERS sample{};
            sample.cb = sizeof sample;
            if (GetProcessMemoryInfo(process.hProcess, &sample, sizeof sample))
                run.peakMemory = std::max<SIZE_T>(
                    {run.peakMemory, sample.PeakWorkingSetSize, sample.WorkingSetSize});
            progress.Sample(run.progress);
            if (whileRunning)
                whileRunning();
            if (killWhen && killWhen()) {
                TerminateProcess(process.hProcess, 0xDEAD);
                WaitForSingleObject(process.hProcess, 10000);
                break;
            }
            if (GetTickCount() - started > 120000) {
                TerminateProcess(process.hProcess, 0xDEAD);
                WaitForSingleObject(process.hProcess, 10000);
                ADD_FAILURE() << "the archive did not finish";
                break;
            }
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        progress.Sample(run.progress);
        if (run.exitCode != 0 && run.exitCode != 0xDEAD && !killWhen)
            std::printf("  sfx.exe ended with %lu: cause %u, error %u, at \"%s\"\n", run.exitCode,
                        run.progress.failureCause, run.progress.windowsError,
                        run.progress.failedPath.c_str());
        return run;
    }

    // What the folder holds besides the archive itself.
    std::set<std::string> Unpacked() const {
        std::set<std::string> names = ListTree(folder_);
        names.erase("FARROWPK.EXE");
        return names;
    }

    // Every file under the install folder with its bytes, and every folder ("<folder>"), but
    // the archive: what "as it was, byte for byte" compares.
    std::map<std::string, std::string> Contents() const {
        std::map<std::string, std::string> contents;
        for (const std::string& name : Unpacked())
            contents[name] = name.back() == '\\' ? "<folder>" : ReadFile(InFolder(name));
        return contents;
    }

    // Installs `items` with a run of the archive, as a version before the one a test upgrades.
    void Install(const std::vector<Item>& items) {
        PlacePayload(items);
        ASSERT_EQ(RunArchive().exitCode, 0u);
    }

    std::string root_, folder_;
};

const std::vector<Item>& Suite() {
    static const std::vector<Item> items = {
        {"Dromlet.exe", "MZ" + RandomBytes(150000, 1)},
        {"Drivers/", ""},
        {"Drivers/net/torvnet.inf", TextBytes(4000)},
        {"Drivers/usb/torvusb.sys", RandomBytes(9000, 2), zip::Compression::Store},
        {"Logs/empty/", ""}, // a folder with nothing in it
        {"Torvane.exe", "MZ" + RandomBytes(90000, 3)},
        {"docs/Torvane notes.txt", TextBytes(3u << 20)},
        {"empty.txt", ""},
        {"dromlet.flg", "flag"},
        {"torvane.flg", "flag"},
        {"ZZZ/comp.flg", "done"},
    };
    return items;
}

// The suite with the entries it deflates compressed with `compression` instead.
std::vector<Item> SuiteWith(zip::Compression compression) {
    std::vector<Item> items = Suite();
    for (Item& item : items)
        if (item.compression == zip::Compression::Deflate)
            item.compression = compression;
    return items;
}

ULONGLONG WriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return ULARGE_INTEGER{{data.ftLastWriteTime.dwLowDateTime, data.ftLastWriteTime.dwHighDateTime}}
        .QuadPart;
}

// The suite with its completion flag moved to `index`, as a zip tool that sorts entries puts it.
std::vector<Item> WithFlagAt(std::vector<Item> items, std::size_t index) {
    const auto flag = std::find_if(items.begin(), items.end(),
                                   [](const Item& item) { return item.name == "ZZZ/comp.flg"; });
    const Item moved = *flag;
    items.erase(flag);
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), moved);
    return items;
}

TEST_F(SfxTest, UnpacksFilesFoldersAndFlagsCompletionFlagLastWhereverItStands) {
    const std::set<std::string> expected = {"Dromlet.exe",
                                            "Drivers\\",
                                            "Drivers\\net\\",
                                            "Drivers\\net\\torvnet.inf",
                                            "Drivers\\usb\\",
                                            "Drivers\\usb\\torvusb.sys",
                                            "Logs\\",
                                            "Logs\\empty\\",
                                            "Torvane.exe",
                                            "docs\\",
                                            "docs\\Torvane notes.txt",
                                            "empty.txt",
                                            "dromlet.flg",
                                            "torvane.flg",
                                            "ZZZ\\",
                                            "ZZZ\\comp.flg",
                                            "install.rec"};
    // Last as pack writes it; before the big file and the flag files; first of all. Deflated
    // entries, and LZMA ones (pack --method lzma).
    using enum zip::Compression;
    for (const auto& [flagAt, compression] :
         {std::pair{Suite().size() - 1, Deflate}, std::pair{std::size_t{4}, Deflate},
          std::pair{std::size_t{0}, Deflate}, std::pair{Suite().size() - 1, Lzma}}) {
        SCOPED_TRACE("completion flag at entry " + std::to_string(flagAt) +
                     (compression == Lzma ? ", LZMA" : ", deflate"));
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        PlacePayload(WithFlagAt(SuiteWith(compression), flagAt));
        EXPECT_EQ(RunArchive().exitCode, 0u);
        EXPECT_EQ(Unpacked(), expected);
        ULONGLONG latest = 0;
        for (const Item& item : Suite()) {
            if (item.name.back() == '/')
                continue;
            const std::string path = InFolder(zip::WindowsRelativePath(item.name));
            EXPECT_TRUE(ReadFile(path) == item.data) << item.name;
            if (item.name != "ZZZ/comp.flg")
                latest = std::max(latest, WriteTime(path));
        }
        // Written last: no file is newer than the completion flag. The setup reads it as
        // "ZZZ\COMP.FLG"; names are case-insensitive.
        EXPECT_GE(WriteTime(InFolder("ZZZ\\COMP.FLG")), latest);
    }
}

TEST_F(SfxTest, PublishesItsProgressWhileItUnpacks) {
    // Large enough to be seen several times on the way, in many files and one large one.
    std::vector<Item> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({"data/part" + std::to_string(i) + ".txt", TextBytes(512u << 10)});
    items.push_back({"data/random.bin", RandomBytes(24u << 20, 7), zip::Compression::Store});
    items.push_back({"ZZZ/comp.flg", "done"});
    PlacePayload(items);
    const RunResult run = RunArchive();
    ASSERT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(run.progress.found) << "no block named Local\\TorvaneUnpack-<process id>";
    EXPECT_EQ(run.progress.blockSize, 2092u);
    EXPECT_EQ(run.progress.entriesDone, 42u);
    EXPECT_EQ(run.progress.refusedFolder, "");
    EXPECT_EQ(run.progress.totalKiB, 20u * 1024 + 24u * 1024 + 1); // the flag's 4 bytes round up
    const std::vector<std::uint32_t>& written = run.progress.written;
    EXPECT_GE(written.size(), 3u) << "seen only " << testing::PrintToString(written);
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end())) << testing::PrintToString(written);
    EXPECT_EQ(written.back(), run.progress.totalKiB);
    // Several threads write files at once; the counts only ever grow all the same.
    const std::vector<std::uint32_t>& done = run.progress.done;
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end())) << testing::PrintToString(done);
}

TEST_F(SfxTest, TheCompletionFlagOpensForOthersOnlyOnceItIsWhole) {
    // A long flag, to be looked at while it is written.
    const std::string flag = RandomBytes(48u << 20, 9);
    PlacePayload({{"Torvane.exe", "MZ"}, {"ZZZ/comp.flg", flag, zip::Compression::Store}});
    std::set<std::streamoff> lengthsSeen;
    const RunResult run = RunArchive(" -Y", [&] {
        std::ifstream opened(InFolder("ZZZ\\COMP.FLG"), std::ios::binary | std::ios::ate);
        if (opened)
            lengthsSeen.insert(opened.tellg());
    });
    EXPECT_EQ(run.exitCode, 0u);
    for (const std::streamoff length : lengthsSeen)
        EXPECT_EQ(length, static_cast<std::streamoff>(flag.size()));
}

TEST_F(SfxTest, ReplacesExistingFilesWholeAndWritesThroughNoOtherName) {
    // The folder stands in another case: entered as it is, not made a second time.
    CreateDirectoryA(InFolder("DOCS").c_str(), nullptr);
    WriteFile(InFolder("docs\\Torvane notes.txt"), std::string(5u << 20, 'x'));
    WriteFile(InFolder("torvane.flg"), "an old and much longer flag file");
    // Names of files elsewhere (hard links), at a program's name and at the completion flag's.
    const std::string keptProgram = root_ + "\\kept.exe", keptFlag = root_ + "\\kept.flg";
    WriteFile(keptProgram, "not the suite's");
    WriteFile(keptFlag, "not a flag");
    CreateDirectoryA(InFolder("ZZZ").c_str(), nullptr);
    ASSERT_TRUE(CreateHardLinkA(InFolder("Torvane.exe").c_str(), keptProgram.c_str(), nullptr));
    ASSERT_TRUE(CreateHardLinkA(InFolder("ZZZ\\comp.flg").c_str(), keptFlag.c_str(), nullptr));
    PlacePayload(Suite());
    EXPECT_EQ(RunArchive().exitCode, 0u);
    EXPECT_TRUE(ReadFile(InFolder("docs\\Torvane notes.txt")) == TextBytes(3u << 20));
    EXPECT_EQ(ReadFile(InFolder("torvane.flg")), "flag");
    EXPECT_TRUE(ReadFile(InFolder("Torvane.exe")) ==
                std::find_if(Suite().begin(), Suite().end(), [](const Item& item) {
                    return item.name == "Torvane.exe";
                })->data);
    EXPECT_EQ(ReadFile(InFolder("ZZZ\\comp.flg")), "done");
    EXPECT_EQ(ReadFile(keptProgram), "not the suite's");
    EXPECT_EQ(ReadFile(keptFlag), "not a flag");
    EXPECT_EQ(ListTree(folder_).count("DOCS\\Torvane notes.txt"), 1u);
    EXPECT_EQ(ListTree(folder_).count("docs\\"), 0u);
}

// A folder the run makes goes into place whole with all it holds; into a folder that stood, the
// files go one by one, beside the user's own. The record lists the folders the run made.
TEST_F(SfxTest, FoldersTheRunMakesAreMovedInWholeBesideFoldersThatStood) {
    ASSERT_TRUE(CreateDirectoryA(InFolder("Drivers").c_str(), nullptr));
    WriteFile(InFolder("Drivers\\mine.txt"), "the user's own");
    PlacePayload(Suite());

    EXPECT_EQ(RunArchive().exitCode, 0u);

    for (const Item& item : Suite())
        if (item.name.back() != '/') {
            EXPECT_TRUE(ReadFile(InFolder(zip::WindowsRelativePath(item.name))) == item.data)
                << item.name;
        }
    EXPECT_EQ(ReadFile(InFolder("Drivers\\mine.txt")), "the user's own");
    EXPECT_TRUE(Exists(InFolder("Logs\\empty")));
    EXPECT_FALSE(Exists(InFolder("~TorvaneStaging")));
    const std::optional<record::InstallRecord> installed =
        record::Parse(ReadFile(InFolder("install.rec")));
    ASSERT_TRUE(installed);
    EXPECT_EQ(std::set<std::string>(installed->folders.begin(), installed->folders.end()),
              (std::set<std::string>{"Drivers\\net", "Drivers\\usb", "Logs", "Logs\\empty", "ZZZ",
                                     "docs"}));
}

// A folder of the install folder that is a link (a junction a standard user made, here a Unix
// symbolic link) is never entered, at any level: unpacking stops there with exit code 5, names
// the folder in the progress block, and writes no completion flag.
TEST_F(SfxTest, AFolderOnTheWayThatIsALinkIsNeverEnteredAndIsNamed) {
    const std::string elsewhere = root_ + "\\elsewhere";
    for (const std::string linked : {"Drivers", "Drivers\\usb", "ZZZ"}) {
        SCOPED_TRACE(linked);
        RemoveTree(folder_);
        RemoveTree(elsewhere);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
        WriteFile(elsewhere + "\\kept.txt", "kept");
        if (linked != "Drivers")
            CreateDirectoryA(InFolder("Drivers").c_str(), nullptr);
        unixlinks::FolderLink link(InFolder(linked), elsewhere);
        ASSERT_TRUE(link.Planted());
        PlacePayload(Suite());

        const RunResult run = RunArchive();

        EXPECT_EQ(run.exitCode, 5u);
        EXPECT_EQ(run.progress.refusedFolder, linked);
        EXPECT_EQ(run.progress.failureCause, kLinkFound);
        EXPECT_EQ(ListTree(elsewhere), std::set<std::string>{"kept.txt"});
        // Nothing of the run is there: the folder as the test left it.
        std::set<std::string> left = {linked + "\\ (link)"};
        if (linked != "Drivers")
            left.insert("Drivers\\");
        EXPECT_EQ(Unpacked(), left);
    }
}

// Each folder is opened inside the folder held before it, and each file inside its folder: what
// a name means is decided in that folder, even after its path has come to lead elsewhere.
TEST_F(SfxTest, FoldersAndFilesAreOpenedInsideTheFolderHeldBeforeThem) {
    using nofollow::Folder;
    const std::string elsewhere = root_ + "\\elsewhere";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(InFolder("Kept").c_str(), nullptr));
    WriteFile(InFolder("file.txt"), "a file");
    unixlinks::FolderLink link(InFolder("Linked"), elsewhere);
    ASSERT_TRUE(link.Planted());
    const ScopedFileHandle top(CreateFileA(folder_.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                                           nofollow::kShareAll, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(top);
    const auto hold = [&](const std::string& name, ScopedFileHandle& held) {
        return nofollow::HoldFolderIn(top.Get(), unixlinks::Widen(name),
                                      unixlinks::Widen(InFolder(name)).c_str(), held);
    };
    ScopedFileHandle made, kept, file, linked;
    EXPECT_EQ(hold("Made", made), Folder::Enter);
    EXPECT_EQ(hold("KEPT", kept), Folder::Enter);
    EXPECT_EQ(hold("file.txt", file), Folder::NotFolder);
    EXPECT_EQ(hold("Linked", linked), Folder::Link);
    EXPECT_TRUE(made && kept && !file && !linked);
    EXPECT_EQ(ListTree(folder_),
              (std::set<std::string>{"Kept\\", "Linked\\ (link)", "Made\\", "file.txt"}));
    EXPECT_EQ(ReadFile(InFolder("file.txt")), "a file");
    EXPECT_EQ(nofollow::CreateNewFileIn(top.Get(), L"file.txt", GENERIC_WRITE, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    // An empty name would be the folder itself.
    ScopedFileHandle itself;
    EXPECT_EQ(hold("", itself), Folder::NotFolder);
    EXPECT_EQ(nofollow::CreateNewFileIn(top.Get(), L"", GENERIC_WRITE, 0), INVALID_HANDLE_VALUE);
    // A held folder, held by either call, cannot be renamed or removed through Windows.
    ScopedFileHandle keptByPath;
    ASSERT_EQ(nofollow::HoldFolder(unixlinks::Widen(InFolder("Kept")).c_str(), keptByPath),
              Folder::Enter);
    kept.Reset();
    for (const char* held : {"Made", "Kept"}) {
        EXPECT_FALSE(MoveFileA(InFolder(held).c_str(), InFolder("Renamed").c_str())) << held;
        EXPECT_FALSE(RemoveDirectoryA(InFolder(held).c_str())) << held;
    }

    // The held folder renamed behind the program's back (from the Unix side, which no sharing
    // stops): a new file still goes into it, under its new name, not to its old path.
    const std::string moved = unixlinks::UnixPath(unixlinks::Widen(InFolder("Moved")));
    ASSERT_TRUE(unixlinks::RunUnix("/bin/mv",
                                   "\"" + unixlinks::UnixPath(unixlinks::Widen(InFolder("Made"))) +
                                       "\" \"" + moved + "\"",
                                   [&] { return Exists(InFolder("Moved")); }));
    EXPECT_TRUE(
        ScopedFileHandle(nofollow::CreateNewFileIn(made.Get(), L"inside.txt", GENERIC_WRITE, 0)));
    EXPECT_TRUE(Exists(InFolder("Moved\\inside.txt")));
    EXPECT_FALSE(Exists(InFolder("Made")));
}

// Many folders with a file each: the threads that write files wait for their folders, which one
// thread makes in archive order meanwhile; none waits for ever, none is left out.
TEST_F(SfxTest, WritesEveryFileOfManyFoldersMadeWhileOthersAreWritten) {
    std::vector<Item> items;
    for (int i = 0; i < 300; ++i)
        items.push_back({"pkg" + std::to_string(i) + "/doc/notes.txt",
                         TextBytes(1000 + static_cast<std::size_t>(i))});
    items.push_back({"empty/", ""});
    items.push_back({"ZZZ/comp.flg", "done"});
    PlacePayload(items);

    const RunResult run = RunArchive();

    EXPECT_EQ(run.exitCode, 0u);
    for (const Item& item : items)
        if (item.name != "empty/") {
            EXPECT_TRUE(ReadFile(InFolder(zip::WindowsRelativePath(item.name))) == item.data)
                << item.name;
        }
    EXPECT_TRUE(Exists(InFolder("empty")));
    EXPECT_EQ(run.progress.entriesDone, items.size());
}

// The archive as pack writes it, with one byte of `name`'s data changed in the file.
void Corrupt(const std::string& path, const std::string& name, const std::string& data) {
    std::string bytes = ReadFile(path);
    const std::size_t at = bytes.find(data.substr(0, 64));
    ASSERT_NE(at, std::string::npos) << name;
    bytes[at + data.size() / 2] ^= 0x55;
    WriteFile(path, bytes);
}

TEST_F(SfxTest, ADamagedEntryStopsUnpackingAndLeavesNoPartOfItself) {
    // A completion flag that stands first is still written only after everything else.
    for (const bool flagFirst : {false, true}) {
        SCOPED_TRACE(flagFirst ? "completion flag first" : "completion flag last");
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        const std::string damaged = TextBytes(2u << 20);
        std::vector<Item> items = {{"first.txt", "first"},
                                   {"docs/big.txt", damaged, zip::Compression::Store},
                                   {"torvane.flg", "flag"}};
        items.insert(flagFirst ? items.begin() : items.end(), {"ZZZ/comp.flg", "done"});
        PlacePayload(items);
        Corrupt(ArchivePath(), "docs/big.txt", damaged);
        const RunResult run = RunArchive();
        EXPECT_EQ(run.exitCode, 4u);
        EXPECT_EQ(run.progress.failureCause, kDamagedPayload);
        EXPECT_EQ(run.progress.failedPath, "docs\\big.txt");
        // Nothing of the run stays, not even the files before it.
        EXPECT_EQ(Unpacked(), std::set<std::string>{});
    }
}

TEST_F(SfxTest, AFailingEntryAmidManyOnSeveralThreadsFailsTheRunWithoutACompletionFlag) {
    // Runs of small files in several folders and large files alone, deflated, LZMA and stored,
    // so that threads write side by side; the damaged file stands in the middle.
    using enum zip::Compression;
    std::vector<Item> items;
    for (int i = 0; i < 240; ++i)
        items.push_back({"data/" + std::to_string(i / 40) + "/part" + std::to_string(i) + ".txt",
                         TextBytes(20000 + static_cast<std::size_t>(i)), i % 3 ? Deflate : Lzma});
    for (int i = 0; i < 4; ++i)
        items.insert(items.begin() + 60 * i,
                     {"big" + std::to_string(i) + ".bin", RandomBytes(3u << 20, 20 + i), Store});
    const std::size_t damagedAt = 125;
    items.insert(items.begin() + damagedAt,
                 {"data/damaged.bin", RandomBytes(2u << 20, 30), zip::Compression::Store});
    items.push_back({"torvane.flg", "flag"});
    items.push_back({"ZZZ/comp.flg", "done"});
    PlacePayload(items);
    Corrupt(ArchivePath(), "data/damaged.bin", items[damagedAt].data);

    const RunResult run = RunArchive();

    EXPECT_EQ(run.exitCode, 4u);
    EXPECT_EQ(run.progress.failedPath, "data\\damaged.bin");
    // The files written on other threads before and after it went with the staging.
    EXPECT_EQ(Unpacked(), std::set<std::string>{});
    const std::vector<std::uint32_t>& written = run.progress.written;
    EXPECT_TRUE(std::is_sorted(written.begin(), written.end())) << testing::PrintToString(written);
    const std::vector<std::uint32_t>& done = run.progress.done;
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end())) << testing::PrintToString(done);
    EXPECT_GE(run.progress.entriesDone, damagedAt);
}

TEST_F(SfxTest, ACompletionFlagThatStandsTwiceMeansNothingIsWritten) {
    PlacePayload({{"first.txt", "first"},
                  {"ZZZ/comp.flg", "early"},
                  {"docs/a.txt", "a"},
                  {"ZZZ/comp.flg", "done"}});
    EXPECT_EQ(RunArchive().exitCode, 3u);
    EXPECT_EQ(Unpacked(), std::set<std::string>{});
}

TEST_F(SfxTest, AnUnsafeNameAnywhereMeansNothingIsWritten) {
    const std::string outside = root_ + "\\evil.txt";
    // One name for each way a name can be unsafe: climbing out, rooted, a drive or stream, a
    // character no file name may hold, a segment that is empty, a dot, or ends in a dot or
    // blank, a device; a second name of one file for Windows, which ignores case, or a file
    // where a folder is.
    for (const std::string unsafe :
         {"../evil.txt", "\\evil.txt", "C:\\evil.txt", "evil|.txt", "docs//evil.txt", "./evil.txt",
          "evil.", "CON", "FIRST.TXT", "DOCS\\A.txt", "Docs",
          // The names the install keeps for itself in its root, and their short aliases.
          "install.rec", "INSTALL.REC.NEW", "install.rec.tmp", "Uninstall.exe",
          "~TorvaneStaging/evil.txt", "~torvanebackup\\evil.txt", "~TORVA~1/evil.txt",
          "INSTAL~1.NEW"}) {
        SCOPED_TRACE(unsafe);
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        PlacePayload({{"first.txt", "first"},
                      {"docs/a.txt", "a"},
                      {unsafe, "evil"},
                      {"ZZZ/comp.flg", "done"}});
        EXPECT_EQ(RunArchive().exitCode, 3u);
        EXPECT_EQ(Unpacked(), std::set<std::string>{});
        EXPECT_EQ(ListTree(root_),
                  (std::set<std::string>{"Install Folder\\", "Install Folder\\FARROWPK.EXE",
                                         "payload.exe"}));
        EXPECT_FALSE(Exists(outside));
        EXPECT_FALSE(Exists("C:\\evil.txt"));
    }
}

TEST_F(SfxTest, AFolderAndAFileOfTheSameNameStopUnpackingThere) {
    struct Case {
        const char* what;
        std::vector<Item> items;
        std::string failed; // the entry the block names
    };
    const Case cases[] = {
        {"folder, then a file of its name",
         {{"first.txt", "first"},
          {"Docs/", ""},
          {"Docs", "a file"},
          {"torvane.flg", "flag"},
          {"ZZZ/comp.flg", "done"}},
         "Docs"},
        {"file, then a file under it",
         {{"first.txt", "first"},
          {"Docs", "a file"},
          {"Docs/inner.txt", "inner"},
          {"torvane.flg", "flag"},
          {"ZZZ/comp.flg", "done"}},
         "Docs\\inner.txt"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        PlacePayload(test.items);
        const RunResult run = RunArchive();
        EXPECT_EQ(run.exitCode, 4u);
        EXPECT_EQ(run.progress.failureCause, kDamagedPayload);
        EXPECT_EQ(run.progress.failedPath, test.failed);
        EXPECT_EQ(Unpacked(), std::set<std::string>{});
        for (const std::string& entry : ListTree(root_))
            EXPECT_TRUE(entry == "payload.exe" || entry.rfind("Install Folder\\", 0) == 0)
                << entry << " is outside the install folder";
    }
}

// Names beyond ASCII as each archiver stores them: pack and 7-Zip (-mcu=on) in UTF-8 with bit 11
// set, Info-ZIP's zip in UTF-8 as made on Unix, with no flag. LZMA entries as pack (--method
// lzma) and 7-Zip (-mm=LZMA) write them.
TEST_F(SfxTest, NamesBeyondAsciiUnpackByTheirNameWhicheverArchiverStoredThem) {
    const std::wstring folder = unixlinks::Widen(folder_) + L"\\Документы";
    const std::wstring file = folder + L"\\Лицензия.txt";
    std::string notes; // seq 1 20000
    for (int line = 1; line <= 20000; ++line)
        notes += std::to_string(line) + "\n";
    for (const std::string archiver : {"pack", "7zip", "infozip", "pack-lzma", "7zip-lzma"}) {
        SCOPED_TRACE(archiver);
        const std::string payload = BuildTreePath(NAMED_ARCHIVES_DIR) + "\\" + archiver + ".exe";
        zip::Reader reader;
        ASSERT_TRUE(reader.Open(payload)) << reader.Error();
        const auto written =
            std::find_if(reader.Entries().begin(), reader.Entries().end(),
                         [](const zip::Entry& entry) { return entry.name == "notes.txt"; });
        ASSERT_NE(written, reader.Entries().end());
        EXPECT_EQ(written->method, archiver.find("lzma") != std::string::npos ? 14 : 8);
        PlaceFile(ReadFile(payload));
        EXPECT_EQ(RunArchive().exitCode, 0u);
        EXPECT_TRUE(ReadFile(InFolder("notes.txt")) == notes);
        base::BinaryFile unpacked;
        char text[16] = {};
        ASSERT_TRUE(unpacked.Open(folder_ + "\\Документы\\Лицензия.txt", "rb"));
        EXPECT_EQ(std::string(text, unpacked.Read(text, sizeof text)), "license");
        unpacked.Close();
        EXPECT_TRUE(DeleteFileW(file.c_str()) && RemoveDirectoryW(folder.c_str()));
    }
}

TEST_F(SfxTest, WritesNothingUnlessAskedWithY) {
    PlacePayload(Suite());
    for (const std::string arguments : {"", " -X", " -Y extra", " Y"}) {
        SCOPED_TRACE("arguments:" + arguments);
        EXPECT_NE(RunArchive(arguments).exitCode, 0u);
        EXPECT_EQ(Unpacked(), std::set<std::string>{});
    }
}

TEST_F(SfxTest, AStubWithoutAnArchiveFails) {
    PlaceFile(ReadFile(SfxPath()));
    EXPECT_NE(RunArchive().exitCode, 0u);
    EXPECT_EQ(Unpacked(), std::set<std::string>{});
}

TEST_F(SfxTest, MemoryStaysFlatForALargePayload) {
    // Both runs last long enough to be sampled while they unpack; one holds eight times the
    // data of the other.
    PlacePayload({{"small.bin", RandomBytes(16u << 20, 5), zip::Compression::Store},
                  {"small.txt", TextBytes(16u << 20)}});
    const RunResult small = RunArchive();
    ASSERT_EQ(small.exitCode, 0u);
    PlacePayload({{"large.bin", RandomBytes(128u << 20, 6), zip::Compression::Store},
                  {"large.txt", TextBytes(128u << 20)}});
    const RunResult large = RunArchive();
    ASSERT_EQ(large.exitCode, 0u);
    EXPECT_EQ(GetFileSize(
                  ScopedFileHandle(CreateFileA(InFolder("large.bin").c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
                      .Get(),
                  nullptr),
              128u << 20);
    if (large.peakMemory == 0)
        GTEST_SKIP() << "this system reports no memory use of other processes";
    EXPECT_LT(large.peakMemory, small.peakMemory + (4u << 20))
        << "small: " << small.peakMemory << ", large: " << large.peakMemory;
}

// --- Installing all or nothing ----------------------------------------------------------------

using enum zip::Compression;

// Two versions of a suite: the second replaces three files, drops three (one the user changes,
// one whose folders go with it), brings new folders and a component flag.
std::vector<Item> SuiteV1() {
    return {{"Torvane.exe", "MZ" + RandomBytes(60000, 41)},
            {"Pellisar.exe", "MZ" + RandomBytes(40000, 42)},
            {"docs/readme.txt", TextBytes(30000)},
            {"docs/dropped.txt", "dropped in v2"},
            {"docs/changed.txt", "dropped in v2, changed by the user"},
            {"old/only/v1.txt", "only in v1"},
            {"Data/last.bin", RandomBytes(100000, 45)}, // all v2 ships there: swapped whole
            {"pellisar.flg", "flag"},
            {"torvane.flg", "flag"},
            {"ZZZ/comp.flg", "done"}};
}
std::vector<Item> SuiteV2() {
    return {{"Torvane.exe", "MZ" + RandomBytes(70000, 51), Store},
            {"Pellisar.exe", "MZ" + RandomBytes(45000, 52), Store},
            {"docs/readme.txt", RandomBytes(50000, 53), Store},
            {"docs/new.txt", "new in v2"},
            {"new/inner/data.bin", RandomBytes(300000, 54), Store},
            {"dromlet.flg", "flag"},
            {"torvane.flg", "flag"},
            {"Data/last.bin", RandomBytes(200000, 55), Store},
            {"Data/added/more.txt", "in a folder new in v2"},
            {"ZZZ/comp.flg", "done"}};
}

// The file system's number of the file or folder at `path`, which a rename keeps.
std::uint64_t FileIdOf(const std::string& path) {
    const ScopedFileHandle opened(CreateFileA(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!opened || !GetFileInformationByHandle(opened.Get(), &information))
        return 0;
    return (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
}

const Item& Named(const std::vector<Item>& items, const std::string& name) {
    return *std::find_if(items.begin(), items.end(),
                         [&](const Item& item) { return item.name == name; });
}

// What v2 installed over v1 leaves, the user's changed file and own file beside it.
std::map<std::string, std::string> UpgradedContents(const std::string& record) {
    std::map<std::string, std::string> contents = {{"Data\\", "<folder>"},
                                                   {"Data\\added\\", "<folder>"},
                                                   {"ZZZ\\", "<folder>"},
                                                   {"docs\\", "<folder>"},
                                                   {"new\\", "<folder>"},
                                                   {"new\\inner\\", "<folder>"},
                                                   {"docs\\changed.txt", "changed by the user"},
                                                   {"docs\\mine.txt", "the user's own"},
                                                   {"install.rec", record}};
    for (const Item& item : SuiteV2())
        contents[zip::WindowsRelativePath(item.name)] = item.data;
    return contents;
}

// Claims sizes in the central directory of the payload at `path` that add up to more than the
// volume has free: each entry 3.75 GiB. The stub's own code, which looks for the same signature,
// stays as it is.
void ClaimHugeSizes(const std::string& path) {
    std::string bytes = ReadFile(path);
    const std::string signature("PK\x01\x02", 4);
    for (std::size_t at = bytes.find(signature, ReadFile(SfxPath()).size());
         at != std::string::npos; at = bytes.find(signature, at + 4))
        for (int i = 0; i < 4; ++i)
            bytes[at + 24 + i] = i == 3 ? '\xF0' : '\0';
    WriteFile(path, bytes);
}

// One test per way an upgrade can fail; each also into an empty folder. Afterwards the folder is
// as it was, byte for byte: no staging, backup, plan, nor a flag of the failed version.
TEST_F(SfxTest, AFailedUpgradeLeavesTheFolderAsItWasAndNamesTheCause) {
    ULARGE_INTEGER available{};
    ASSERT_TRUE(GetDiskFreeSpaceExA(root_.c_str(), &available, nullptr, nullptr));
    std::vector<Item> huge = SuiteV2();
    for (std::uint64_t claimed = 0; claimed <= available.QuadPart + (8ull << 30);
         claimed += 0xF0000000ull)
        huge.insert(huge.begin(), {"fill/" + std::to_string(claimed) + ".txt", "x"});
    struct Case {
        const char* what;
        std::vector<Item> items;
        std::string damaged; // the entry whose data is changed in the payload, if any
        bool hugeSizes;
        bool holdTorvane; // Torvane.exe held open without sharing by the test
        DWORD exitCode;
        std::uint32_t cause;
        std::string failedPath;
        DWORD windowsError;
    };
    const Case cases[] = {
        {"a file held open", SuiteV2(), "", false, true, 7, kInUse, "Torvane.exe",
         ERROR_SHARING_VIOLATION},
        {"the first entry damaged", SuiteV2(), "Torvane.exe", false, false, 4, kDamagedPayload,
         "Torvane.exe", 0},
        {"an entry in the middle damaged", SuiteV2(), "new/inner/data.bin", false, false, 4,
         kDamagedPayload, "new\\inner\\data.bin", 0},
        {"the last entry damaged", SuiteV2(), "Data/last.bin", false, false, 4, kDamagedPayload,
         "Data\\last.bin", 0},
        {"not room enough", huge, "", true, false, 6, kDiskFull, "", 0},
    };
    for (const bool overAnInstall : {true, false}) {
        for (const Case& test : cases) {
            if (test.holdTorvane && !overAnInstall)
                continue; // nothing there to hold
            SCOPED_TRACE(std::string(test.what) + (overAnInstall ? ", over v1" : ", empty folder"));
            RemoveTree(folder_);
            ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
            if (overAnInstall)
                Install(SuiteV1());
            const std::map<std::string, std::string> before = Contents();
            PlacePayload(test.items);
            if (!test.damaged.empty())
                Corrupt(ArchivePath(), test.damaged, Named(test.items, test.damaged).data);
            if (test.hugeSizes)
                ClaimHugeSizes(ArchivePath());
            ScopedFileHandle held;
            if (test.holdTorvane)
                held.Reset(CreateFileA(InFolder("Torvane.exe").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
            const RunResult run = RunArchive();
            held.Reset();

            EXPECT_EQ(run.exitCode, test.exitCode);
            EXPECT_EQ(run.progress.failureCause, test.cause);
            EXPECT_EQ(run.progress.failedPath, test.failedPath);
            EXPECT_EQ(run.progress.windowsError, test.windowsError);
            if (test.hugeSizes) {
                EXPECT_GT(run.progress.neededKiB, run.progress.freeKiB);
                EXPECT_GT(run.progress.freeKiB, 0u);
                EXPECT_TRUE(run.progress.written.empty() || run.progress.written.back() == 0);
            }
            EXPECT_TRUE(Contents() == before)
                << testing::PrintToString(Unpacked()) << " after " << test.what;
        }
    }
}

TEST_F(SfxTest, AnUpgradeReplacesTheSuiteAndRemovesOnlyWhatTheOldOneLeftUnchanged) {
    Install(SuiteV1());
    WriteFile(InFolder("docs\\changed.txt"), "changed by the user");
    WriteFile(InFolder("docs\\mine.txt"), "the user's own");
    PlacePayload(SuiteV2());
    const std::uint64_t data = FileIdOf(InFolder("Data")), docs = FileIdOf(InFolder("docs"));

    const RunResult run = RunArchive();

    ASSERT_EQ(run.exitCode, 0u);
    // Data holds only what v2 ships and is swapped whole; docs holds the user's files and stays.
    EXPECT_NE(FileIdOf(InFolder("Data")), data);
    EXPECT_EQ(FileIdOf(InFolder("docs")), docs);
    EXPECT_EQ(run.progress.failureCause, kNoFailure);
    EXPECT_EQ(run.progress.restartPending, 0u);
    const std::string text = ReadFile(InFolder("install.rec"));
    // Dropped and unchanged: docs\dropped.txt, pellisar.flg and old\only\v1.txt, whose folders
    // went with it.
    EXPECT_TRUE(Contents() == UpgradedContents(text)) << testing::PrintToString(Unpacked());
    const std::optional<record::InstallRecord> installed = record::Parse(text);
    ASSERT_TRUE(installed) << text;
    std::set<std::string> files;
    for (const record::File& file : installed->files) {
        files.insert(file.path);
        EXPECT_EQ(file.size, ReadFile(InFolder(file.path)).size()) << file.path;
    }
    EXPECT_EQ(files, (std::set<std::string>{"Data\\added\\more.txt", "Data\\last.bin",
                                            "Pellisar.exe", "Torvane.exe", "ZZZ\\comp.flg",
                                            "docs\\new.txt", "docs\\readme.txt", "dromlet.flg",
                                            "new\\inner\\data.bin", "torvane.flg"}));
    EXPECT_EQ(std::set<std::string>(installed->folders.begin(), installed->folders.end()),
              (std::set<std::string>{"Data", "Data\\added", "ZZZ", "docs", "new", "new\\inner"}));
    // Only SYSTEM and the Administrators may write the record. Wine keeps no descriptor of a
    // file but its Unix mode: there everyone may read it and nobody else write it.
    PSECURITY_DESCRIPTOR security = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoA(InFolder("install.rec").c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                    &security),
              static_cast<DWORD>(ERROR_SUCCESS));
    const ScopedLocalMemory ownedSecurity(security);
    LPWSTR sddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        security, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const ScopedLocalMemory ownedSddl(sddl);
    if (std::wstring(sddl).rfind(L"D:P", 0) == 0) {
        EXPECT_EQ(std::wstring(sddl), L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;WD)");
    }
    BYTE everyone[SECURITY_MAX_SID_SIZE] = {};
    DWORD everyoneSize = sizeof everyone;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize));
    for (DWORD at = 0; dacl && at < dacl->AceCount; ++at) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, at, reinterpret_cast<void**>(&ace)));
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(reinterpret_cast<PSID>(&ace->SidStart), everyone)) {
            EXPECT_EQ(ace->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES |
                                   WRITE_DAC | WRITE_OWNER | DELETE),
                      0u)
                << testing::PrintToString(std::wstring(sddl));
        }
    }
}

// A folder of the suite that also holds a link of someone else's is not swapped whole: the link
// stays where it was, and what it leads to is never entered.
TEST_F(SfxTest, AnUpgradeKeepsALinkInAFolderOfTheSuiteAndNeverEntersIt) {
    Install(SuiteV1());
    const std::string elsewhere = root_ + "\\elsewhere";
    RemoveTree(elsewhere);
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFile(elsewhere + "\\kept.txt", "kept");
    unixlinks::FolderLink link(InFolder("Data\\linked"), elsewhere);
    ASSERT_TRUE(link.Planted());
    PlacePayload(SuiteV2());

    const RunResult run = RunArchive();

    ASSERT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(unixlinks::IsLink(unixlinks::Widen(InFolder("Data\\linked"))));
    EXPECT_EQ(ReadFile(elsewhere + "\\kept.txt"), "kept");
    EXPECT_EQ(ReadFile(InFolder("Data\\last.bin")), Named(SuiteV2(), "Data/last.bin").data);
}

// What came into a folder after it was judged and swapped whole goes back to its place as the
// backup is removed: a file, a folder with what it holds. One whose place is taken now goes with
// the backup, and so does everything the payload ships, whatever is outside the swapped folders,
// and a link, which is never followed.
TEST_F(SfxTest, TheBackupGivesBackWhatCameIntoAFolderSwappedWhole) {
    for (const char* folder :
         {"~TorvaneBackup", "~TorvaneBackup\\Data", "~TorvaneBackup\\Data\\sub",
          "~TorvaneBackup\\Data\\theirs", "Data", "Data\\sub"})
        ASSERT_TRUE(CreateDirectoryA(InFolder(folder).c_str(), nullptr)) << folder;
    WriteFile(InFolder("~TorvaneBackup\\Data\\last.bin"), "v1");
    WriteFile(InFolder("~TorvaneBackup\\Data\\sub\\inner.bin"), "v1 inner");
    WriteFile(InFolder("~TorvaneBackup\\Data\\sub\\mine.txt"), "the user's own");
    WriteFile(InFolder("~TorvaneBackup\\Data\\theirs\\notes.txt"), "their notes");
    WriteFile(InFolder("~TorvaneBackup\\Data\\taken.txt"), "came in");
    WriteFile(InFolder("~TorvaneBackup\\Torvane.exe"), "v1 program");
    ASSERT_TRUE(CreateDirectoryA(InFolder("~TorvaneBackup\\docs").c_str(), nullptr));
    WriteFile(InFolder("~TorvaneBackup\\docs\\dropped.txt"), "moved aside, unchanged");
    WriteFile(InFolder("Data\\last.bin"), "v2");
    WriteFile(InFolder("Data\\sub\\inner.bin"), "v2 inner");
    WriteFile(InFolder("Data\\taken.txt"), "made since");
    const std::string elsewhere = root_ + "\\elsewhere";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFile(elsewhere + "\\kept.txt", "kept");
    unixlinks::FolderLink link(InFolder("~TorvaneBackup\\Data\\linked"), elsewhere);
    ASSERT_TRUE(link.Planted());
    const journal::PathSet files({"Data\\last.bin", "Data\\sub\\inner.bin", "Torvane.exe"});
    const journal::PathSet folders({"Data", "Data\\sub"});
    const journal::GivenBack givenBack{{"Data"}, files, folders};
    const ScopedFileHandle top(CreateFileA(folder_.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    journal::Trouble trouble;

    const bool removed = journal::RemoveTree(top.Get(), unixlinks::Widen(folder_ + "\\"),
                                             "~TorvaneBackup", trouble, nullptr, {}, &givenBack);

    std::set<std::string> left = {"Data\\",
                                  "Data\\last.bin",
                                  "Data\\sub\\",
                                  "Data\\sub\\inner.bin",
                                  "Data\\sub\\mine.txt",
                                  "Data\\taken.txt",
                                  "Data\\theirs\\",
                                  "Data\\theirs\\notes.txt"};
    // Wine keeps a Unix symbolic link that it is asked to delete: the backup stays, and says why.
    if (!removed) {
        EXPECT_TRUE(trouble.link);
        EXPECT_EQ(trouble.path, "~TorvaneBackup\\Data\\linked");
        left.insert({"~TorvaneBackup\\", "~TorvaneBackup\\Data\\",
                     "~TorvaneBackup\\Data\\linked\\ (link)"});
    }
    EXPECT_EQ(ListTree(folder_), left);
    EXPECT_EQ(ReadFile(InFolder("Data\\last.bin")), "v2");
    EXPECT_EQ(ReadFile(InFolder("Data\\sub\\mine.txt")), "the user's own");
    EXPECT_EQ(ReadFile(InFolder("Data\\theirs\\notes.txt")), "their notes");
    EXPECT_EQ(ReadFile(InFolder("Data\\taken.txt")), "made since");
    EXPECT_EQ(ReadFile(elsewhere + "\\kept.txt"), "kept");
}

// A tree of many folders goes on several threads; what cannot go (a file held open without
// sharing) is named, and it stays with every folder above it, while the rest goes.
TEST_F(SfxTest, ARemovedTreeKeepsOnlyWhatCannotGoAndTheFoldersAboveIt) {
    const std::set<std::string> held = {"tree\\", "tree\\b\\", "tree\\b\\b\\",
                                        "tree\\b\\b\\held.bin"};
    ASSERT_TRUE(CreateDirectoryA(InFolder("tree").c_str(), nullptr));
    for (const char* outer : {"a", "b", "c"}) {
        ASSERT_TRUE(CreateDirectoryA(InFolder(std::string("tree\\") + outer).c_str(), nullptr));
        for (const char* inner : {"a", "b", "c"}) {
            const std::string folder = std::string("tree\\") + outer + "\\" + inner;
            ASSERT_TRUE(CreateDirectoryA(InFolder(folder).c_str(), nullptr)) << folder;
            for (int file = 0; file < 20; ++file)
                WriteFile(InFolder(folder + "\\" + std::to_string(file) + ".txt"), folder);
        }
    }
    WriteFile(InFolder("tree\\b\\b\\held.bin"), "held");
    const ScopedFileHandle holder(CreateFileA(InFolder("tree\\b\\b\\held.bin").c_str(),
                                              GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    const ScopedFileHandle top(CreateFileA(folder_.c_str(), FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    journal::Trouble trouble;

    EXPECT_FALSE(journal::RemoveTree(top.Get(), unixlinks::Widen(folder_ + "\\"), "tree", trouble));

    EXPECT_EQ(trouble.path, "tree\\b\\b\\held.bin");
    EXPECT_EQ(trouble.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ListTree(folder_), held);
    EXPECT_TRUE(
        journal::RemoveTree(top.Get(), unixlinks::Widen(folder_ + "\\"), "missing", trouble));
}

// A listing that may stop after one answer still names every entry of a folder whose names take
// more than one answer.
TEST_F(SfxTest, AFolderOfManyNamesIsListedWholeEitherWay) {
    std::set<std::wstring> written;
    for (int file = 0; file < 900; ++file) {
        const std::string name = std::string(100, 'n') + std::to_string(file);
        WriteFile(InFolder(name), "x");
        written.insert(unixlinks::Widen(name));
    }
    const ScopedFileHandle folder(CreateFileA(folder_.c_str(), FILE_LIST_DIRECTORY,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    for (const bool everyName : {true, false}) {
        std::vector<std::pair<std::wstring, DWORD>> names;
        ASSERT_TRUE(journal::ListFolder(folder.Get(), names, everyName));
        std::set<std::wstring> listed;
        for (const auto& [name, attributes] : names)
            listed.insert(name);
        EXPECT_EQ(listed, written) << "every name: " << everyName;
    }
}

// What the staging and the backup hold keeps their entries once it is moved into place: the
// users may read and run the suite, and nobody but SYSTEM, the Administrators and the run change
// it, whatever the install folder lets others do.
TEST(StagingSecurityTest, TheUsersReadAndRunWhatOnlyTheRunMayChange) {
    const ScopedLocalMemory security = journal::ProtectedFolderSecurity();
    ASSERT_TRUE(security);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(security.Get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    std::map<WELL_KNOWN_SID_TYPE, ACCESS_MASK> granted;
    for (DWORD at = 0; at < dacl->AceCount; ++at) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, at, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        for (const WELL_KNOWN_SID_TYPE kind : {WinLocalSystemSid, WinBuiltinAdministratorsSid,
                                               WinCreatorOwnerRightsSid, WinBuiltinUsersSid}) {
            BYTE sid[SECURITY_MAX_SID_SIZE] = {};
            DWORD size = sizeof sid;
            ASSERT_TRUE(CreateWellKnownSid(kind, nullptr, sid, &size));
            if (EqualSid(reinterpret_cast<PSID>(&ace->SidStart), sid))
                granted[kind] |= ace->Mask;
        }
    }
    EXPECT_EQ(granted.size(), dacl->AceCount) << "an entry for someone else";
    for (const WELL_KNOWN_SID_TYPE kind :
         {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinCreatorOwnerRightsSid})
        EXPECT_EQ(granted[kind], static_cast<ACCESS_MASK>(FILE_ALL_ACCESS)) << kind;
    EXPECT_EQ(granted[WinBuiltinUsersSid],
              static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
}

// The state a run killed half-way through the moves leaves, laid out by hand: its plan, the
// staging without what it had moved, the backup of what those replaced, the new files in place.
// `newFolderMovedWhole`: the new folder "new" went into place whole, as sfx.exe moves it, and
// someone put a file of their own into "Data", new in the plan but still staged; otherwise the
// folders were made in place and filled file by file.
void LayOutHalfMovedUpgrade(const std::string& folder, bool newFolderMovedWhole = false) {
    const auto in = [&](const std::string& path) { return folder + "\\" + path; };
    record::InstallRecord plan;
    for (const Item& item : SuiteV2()) {
        const std::string path = zip::WindowsRelativePath(item.name);
        const auto* bytes = reinterpret_cast<const Bytef*>(item.data.data());
        plan.files.push_back(
            {path, item.data.size(),
             static_cast<std::uint32_t>(
                 crc32(crc32(0, nullptr, 0), bytes, static_cast<uInt>(item.data.size())))});
        CreateDirectoryA(in("~TorvaneStaging").c_str(), nullptr);
        for (const std::string& way : nofollow::FoldersOnTheWay(path))
            CreateDirectoryA(in("~TorvaneStaging\\" + way).c_str(), nullptr);
        WriteFile(in("~TorvaneStaging\\" + path), item.data);
    }
    plan.folders = {"docs", "old", "old\\only", "ZZZ", "new", "new\\inner", "Data"};
    plan.newFolders = {"new", "new\\inner", "Data"};
    WriteFile(in("install.rec.new"), record::Serialize(plan));
    CreateDirectoryA(in("~TorvaneBackup").c_str(), nullptr);
    CreateDirectoryA(in("~TorvaneBackup\\ZZZ").c_str(), nullptr);
    // Moved aside, and moved in: the flag, Torvane.exe and the new docs\new.txt; Pellisar.exe
    // moved aside only.
    ASSERT_TRUE(
        MoveFileA(in("ZZZ\\comp.flg").c_str(), in("~TorvaneBackup\\ZZZ\\comp.flg").c_str()));
    for (const char* moved : {"Torvane.exe", "Pellisar.exe"})
        ASSERT_TRUE(
            MoveFileA(in(moved).c_str(), in(std::string("~TorvaneBackup\\") + moved).c_str()));
    if (newFolderMovedWhole) {
        ASSERT_TRUE(MoveFileA(in("~TorvaneStaging\\new").c_str(), in("new").c_str()));
        CreateDirectoryA(in("Data").c_str(), nullptr);
        WriteFile(in("Data\\mine.txt"), "the user's own");
    } else {
        CreateDirectoryA(in("new").c_str(), nullptr);
        CreateDirectoryA(in("new\\inner").c_str(), nullptr);
    }
    for (const char* moved : {"Torvane.exe", "docs\\new.txt"})
        ASSERT_TRUE(
            MoveFileA(in(std::string("~TorvaneStaging\\") + moved).c_str(), in(moved).c_str()));
}

TEST_F(SfxTest, ARunKilledWhileItMovesFilesIsRolledBackAndTheNextRunInstalls) {
    for (const bool movedWhole : {false, true}) {
        SCOPED_TRACE(movedWhole ? "a new folder moved in whole"
                                : "new folders filled file by file");
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        Install(SuiteV1());
        std::map<std::string, std::string> v1 = Contents();
        if (movedWhole) {
            // The user's file, and so its folder, stay; the folder moved in goes whole.
            v1["Data\\"] = "<folder>";
            v1["Data\\mine.txt"] = "the user's own";
        }

        // Put back by the setup's call, and by the next run before it installs.
        LayOutHalfMovedUpgrade(folder_, movedWhole);
        const journal::Recovery recovery = journal::FinishInterruptedRun(unixlinks::Widen(folder_));
        EXPECT_TRUE(recovery.finished) << recovery.trouble.path << ": " << recovery.trouble.error;
        EXPECT_EQ(recovery.found, journal::Interrupted::RolledBack);
        EXPECT_TRUE(Contents() == v1) << testing::PrintToString(Unpacked());
        EXPECT_EQ(journal::FinishInterruptedRun(unixlinks::Widen(folder_)).found,
                  journal::Interrupted::None);

        RemoveTree(InFolder("Data"));
        LayOutHalfMovedUpgrade(folder_, movedWhole);
        PlacePayload(SuiteV2());
        ASSERT_EQ(RunArchive().exitCode, 0u);
        // As an upgrade leaves it, here with no file of the user's but the one in "Data".
        std::map<std::string, std::string> expected =
            UpgradedContents(ReadFile(InFolder("install.rec")));
        expected.erase("docs\\mine.txt");
        expected.erase("docs\\changed.txt");
        if (movedWhole)
            expected["Data\\mine.txt"] = "the user's own";
        EXPECT_TRUE(Contents() == expected) << testing::PrintToString(Unpacked());

        // Killed after the commit: the backups only were left, and go, but for what the
        // committed install does not ship, which returns (a file of the user's that came into a
        // folder swapped whole).
        CreateDirectoryA(InFolder("~TorvaneBackup").c_str(), nullptr);
        CreateDirectoryA(InFolder("~TorvaneBackup\\Data").c_str(), nullptr);
        WriteFile(InFolder("~TorvaneBackup\\Torvane.exe"), "the version before");
        WriteFile(InFolder("~TorvaneBackup\\Data\\last.bin"), "the version before");
        WriteFile(InFolder("~TorvaneBackup\\Data\\notes.txt"), "came in meanwhile");
        const journal::Recovery committed =
            journal::FinishInterruptedRun(unixlinks::Widen(folder_));
        EXPECT_EQ(committed.found, journal::Interrupted::BackupsRemoved);
        expected["Data\\notes.txt"] = "came in meanwhile";
        EXPECT_TRUE(Contents() == expected) << testing::PrintToString(Unpacked());
    }
}

TEST_F(SfxTest, ARunEndedByForceIsFinishedAllOrNothing) {
    // Many files of one name in both versions: every one is moved aside and replaced.
    std::vector<Item> before, after;
    for (int i = 0; i < 1500; ++i) {
        const std::string name =
            "pkg" + std::to_string(i / 100) + "/file" + std::to_string(i) + ".txt";
        before.push_back({name, "v1 of " + name});
        after.push_back({name, "v2 of " + name});
    }
    before.push_back({"ZZZ/comp.flg", "done"});
    after.push_back({"ZZZ/comp.flg", "done"});
    Install(before);
    const std::map<std::string, std::string> v1 = Contents();
    PlacePayload(after);
    bool planStood = false;
    const RunResult run = RunArchive(" -Y", {}, [&] {
        planStood = Exists(InFolder("install.rec.new"));
        return Exists(InFolder("~TorvaneBackup"));
    });
    ASSERT_EQ(run.exitCode, 0xDEADu) << "the moves ended before the test saw them";
    const journal::Recovery recovery = journal::FinishInterruptedRun(unixlinks::Widen(folder_));
    EXPECT_TRUE(recovery.finished) << recovery.trouble.path << ": " << recovery.trouble.error;
    if (recovery.found == journal::Interrupted::RolledBack) {
        EXPECT_TRUE(Contents() == v1) << testing::PrintToString(Unpacked());
    } else {
        // Ended after the commit: v2 stands, only without its completion flag.
        EXPECT_FALSE(planStood && recovery.found != journal::Interrupted::BackupsRemoved);
        EXPECT_EQ(ReadFile(InFolder("pkg3\\file300.txt")), "v2 of pkg3/file300.txt");
    }
    ASSERT_EQ(RunArchive().exitCode, 0u);
    EXPECT_EQ(ReadFile(InFolder("pkg14\\file1499.txt")), "v2 of pkg14/file1499.txt");
    EXPECT_EQ(ReadFile(InFolder("ZZZ\\comp.flg")), "done");
}

// Windows renames a running program's file but deletes it only once the program has ended: the
// old file is handed to the next restart and counted. Wine deletes it at once.
TEST_F(SfxTest, AProgramOfTheSuiteRunningFromTheFolderIsReplaced) {
    std::vector<Item> v1 = SuiteV1();
    v1[1].data = ReadFile(BuildTreePath(SUITE_PROGRAM_PATH));
    Install(v1);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    std::string commandLine = "\"" + InFolder("Pellisar.exe") + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               folder_.c_str(), &startup, &started));
    const ScopedHandle program(started.hProcess), thread(started.hThread);
    PlacePayload(SuiteV2());

    const RunResult run = RunArchive();
    // Another run while the old file still waits for the restart: refused, nothing changed.
    const std::map<std::string, std::string> installed = Contents();
    const RunResult again = RunArchive();
    TerminateProcess(program.Get(), 0);
    WaitForSingleObject(program.Get(), 10000);

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(ReadFile(InFolder("Pellisar.exe")) == Named(SuiteV2(), "Pellisar.exe").data);
    std::printf("  the running program's old file: %s\n",
                Exists(InFolder("~TorvaneBackup\\Pellisar.exe")) ? "left for the next restart"
                                                                 : "deleted at once");
    const bool later = Exists(InFolder("~TorvaneBackup\\Pellisar.exe"));
    EXPECT_EQ(run.progress.restartPending, later ? 1u : 0u);
    if (later) {
        // Handed to Windows: deleted before anything else starts at the next restart.
        wchar_t pending[32768] = {};
        DWORD size = sizeof pending;
        ASSERT_EQ(RegGetValueW(
                      HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                      L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size),
                  static_cast<LONG>(ERROR_SUCCESS));
        std::wstring operations(pending, size / sizeof(wchar_t));
        std::replace(operations.begin(), operations.end(), L'\0', L'|');
        EXPECT_NE(operations.find(unixlinks::Widen(InFolder("~TorvaneBackup\\Pellisar.exe"))),
                  std::wstring::npos);
        EXPECT_EQ(again.exitCode, 7u);
        EXPECT_EQ(again.progress.failureCause, kInUse);
        EXPECT_EQ(again.progress.failedPath, "~TorvaneBackup");
        EXPECT_TRUE(Contents() == installed);
    }
    // Once the program has ended, the next run removes the old file and installs.
    EXPECT_EQ(RunArchive().exitCode, 0u);
    EXPECT_FALSE(Exists(InFolder("~TorvaneBackup")));
}

TEST_F(SfxTest, ALeftoverStagingIsRemovedAndOneThatIsALinkIsRefused) {
    const std::string elsewhere = root_ + "\\elsewhere";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteFile(elsewhere + "\\kept.txt", "kept");
    for (const std::string leftover : {"~TorvaneStaging", "~TorvaneBackup"}) {
        SCOPED_TRACE(leftover);
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        {
            unixlinks::FolderLink link(InFolder(leftover), elsewhere);
            ASSERT_TRUE(link.Planted());
            PlacePayload(Suite());
            const RunResult run = RunArchive();
            EXPECT_EQ(run.exitCode, 5u);
            EXPECT_EQ(run.progress.failureCause, kLinkFound);
            EXPECT_EQ(run.progress.refusedFolder, leftover);
            EXPECT_EQ(Unpacked(), std::set<std::string>{leftover + "\\ (link)"});
            EXPECT_EQ(ListTree(elsewhere), std::set<std::string>{"kept.txt"});
        }
        // A real folder left by a run that was ended, with a folder and a file inside.
        ASSERT_TRUE(CreateDirectoryA(InFolder(leftover).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(InFolder(leftover + "\\docs").c_str(), nullptr));
        WriteFile(InFolder(leftover + "\\docs\\old.txt"), "left over");
        EXPECT_EQ(RunArchive().exitCode, 0u);
        EXPECT_EQ(Unpacked().count(leftover + "\\"), 0u);
        EXPECT_TRUE(ReadFile(InFolder("docs\\Torvane notes.txt")) == TextBytes(3u << 20));
    }
}

} // namespace
