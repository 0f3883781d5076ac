// sfx.exe started exactly as the setup program starts the payload: the payload with 20 trailer
// bytes behind it, copied to "<folder>\FARROWPK.EXE", run hidden at high priority as
// `"<folder>\FARROWPK.EXE" -Y` with <folder> as the working directory.
#include "../UnixLinks.h"
#include "base/BinaryFile.h"
#include "framework/Handles.h"
#include "image/ImageTrailer.h"
#include "payload/EntryName.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"
#include "payload/sfx/NoFollowWin32.h"

#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
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
// refused folder's bytes at offset 20, read while it ran and once more after.
struct ProgressSeen {
    bool found = false;
    std::uint32_t blockSize = 0;
    std::uint32_t totalKiB = 0;
    std::vector<std::uint32_t> written; // every value seen, in order
    std::vector<std::uint32_t> done;    // every entriesDone seen, in order
    std::uint32_t entriesDone = 0;
    std::string refusedFolder;
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
    RunResult RunArchive(const std::string& arguments = " -Y",
                         const std::function<void()>& whileRunning = {}) {
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
            if (GetTickCount() - started > 120000) {
                TerminateProcess(process.hProcess, 0xDEAD);
                WaitForSingleObject(process.hProcess, 10000);
                ADD_FAILURE() << "the archive did not finish";
                break;
            }
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        progress.Sample(run.progress);
        return run;
    }

    // What the folder holds besides the archive itself.
    std::set<std::string> Unpacked() const {
        std::set<std::string> names = ListTree(folder_);
        names.erase("FARROWPK.EXE");
        return names;
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
                                            "ZZZ\\comp.flg"};
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
        EXPECT_EQ(ListTree(elsewhere), std::set<std::string>{"kept.txt"});
        EXPECT_FALSE(Exists(InFolder("ZZZ\\comp.flg")));
        // Everything before the link is there; nothing after it.
        EXPECT_EQ(Exists(InFolder("Drivers\\net\\torvnet.inf")), linked != "Drivers");
        EXPECT_EQ(Exists(InFolder("torvane.flg")), linked == "ZZZ");
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
        EXPECT_EQ(RunArchive().exitCode, 4u);
        EXPECT_EQ(ReadFile(InFolder("first.txt")), "first");
        EXPECT_FALSE(Exists(InFolder("docs\\big.txt")));
        // Another thread may have written the file after it meanwhile, whole.
        if (Exists(InFolder("torvane.flg"))) {
            EXPECT_EQ(ReadFile(InFolder("torvane.flg")), "flag");
        }
        EXPECT_FALSE(Exists(InFolder("ZZZ\\comp.flg")));
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
    EXPECT_FALSE(Exists(InFolder("ZZZ\\comp.flg")));
    EXPECT_FALSE(Exists(InFolder("data\\damaged.bin")));
    // Every file before it is there, and whatever else was written is whole.
    for (std::size_t at = 0; at < items.size(); ++at) {
        if (at == damagedAt || items[at].name == "ZZZ/comp.flg")
            continue;
        const std::string path = InFolder(zip::WindowsRelativePath(items[at].name));
        if (at < damagedAt || Exists(path)) {
            EXPECT_TRUE(ReadFile(path) == items[at].data) << items[at].name;
        }
    }
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
          "evil.", "CON", "FIRST.TXT", "DOCS\\A.txt", "Docs"}) {
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
        std::set<std::string> left; // what the folder holds afterwards
    };
    const Case cases[] = {
        {"folder, then a file of its name",
         {{"first.txt", "first"},
          {"Docs/", ""},
          {"Docs", "a file"},
          {"torvane.flg", "flag"},
          {"ZZZ/comp.flg", "done"}},
         {"Docs\\", "first.txt"}},
        {"file, then a file under it",
         {{"first.txt", "first"},
          {"Docs", "a file"},
          {"Docs/inner.txt", "inner"},
          {"torvane.flg", "flag"},
          {"ZZZ/comp.flg", "done"}},
         {"Docs", "first.txt"}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        RemoveTree(folder_);
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        PlacePayload(test.items);
        EXPECT_EQ(RunArchive().exitCode, 4u);
        EXPECT_EQ(Unpacked(), test.left);
        if (test.left.count("Docs") != 0) {
            EXPECT_EQ(ReadFile(InFolder("Docs")), "a file");
        }
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

} // namespace
