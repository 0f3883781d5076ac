#include "TestSupport.h"

#include "UnixLinks.h"
#include "base/BinaryFile.h"
#include "image/ImageTrailer.h"
#include "win32/Handles.h"
#include "win32/Thread.h"

#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace enginetest {

namespace {

std::string ShellFolder(int csidl) {
    char buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        throw std::runtime_error("no shell folder " + std::to_string(csidl));
    return buffer;
}

struct StreamHold {
    std::FILE* stream;
    HANDLE ready;
};

unsigned __stdcall HoldStreamForGood(void* parameter) {
    const StreamHold& hold = *static_cast<StreamHold*>(parameter);
    _lock_file(hold.stream);
    ::SetEvent(hold.ready);
    ::Sleep(INFINITE);
    return 0;
}

} // namespace

int RunEndProcessChild(const std::string& folder) {
    std::FILE* const buffered = std::fopen((folder + "\\buffered.txt").c_str(), "wb");
    std::FILE* const locked = std::fopen((folder + "\\locked.txt").c_str(), "wb");
    if (!buffered || !locked || std::fputs("never flushed", buffered) < 0)
        return 2;
    const ScopedHandle ready(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    StreamHold hold{locked, ready.Get()};
    const ScopedHandle holder = win32::StartThread(HoldStreamForGood, &hold);
    if (!holder || ::WaitForSingleObject(ready.Get(), 10000) != WAIT_OBJECT_0)
        return 3;
    EndProcessNow();
    return 4;
}

void PrintTo(const LoggedLine& line, std::ostream* out) {
    char color[16];
    std::snprintf(color, sizeof color, "0x%08X", static_cast<unsigned>(line.color));
    *out << "{\"" << line.text << "\", " << color << "}";
}

TempFolder::TempFolder() {
    static std::atomic<int> counter{0};
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string base = temp;
    if (!base.empty() && base.back() == '\\')
        base.pop_back();
    path_ = base + "\\torvane-engine-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    RemoveTree(path_);
    if (!::CreateDirectoryA(path_.c_str(), nullptr))
        throw std::runtime_error("cannot create " + path_);
}

TempFolder::~TempFolder() {
    RemoveTree(path_);
}

void RemoveTree(const std::string& path) {
    RemoveTree(Wide(path));
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    // A link a test planted: it goes, and what it leads to stays.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        unixlinks::RemoveLink(path);
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    {
        ScopedFind find(::FindFirstFileW((path + L"\\*").c_str(), &entry));
        if (find) {
            do {
                const std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..")
                    RemoveTree(path + L"\\" + name);
            } while (::FindNextFileW(find.Get(), &entry));
        }
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(path.c_str());
}

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int units = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(),
                                            static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<size_t>(units) - 1 : 0);
    return wide;
}

HeldFile::HeldFile(const std::string& path, DWORD access, DWORD sharing)
    : handle_(::CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}

namespace {

void ListTreeInto(const std::string& folder, const std::string& prefix,
                  std::vector<std::string>& listed) {
    WIN32_FIND_DATAA entry;
    ScopedFind find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
    if (!find)
        return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            listed.push_back(prefix + name);
            continue;
        }
        listed.push_back(prefix + name + "\\");
        if (!unixlinks::IsLink(Wide(folder + "\\" + name)))
            ListTreeInto(folder + "\\" + name, prefix + name + "\\", listed);
    } while (::FindNextFileA(find.Get(), &entry));
}

} // namespace

std::vector<std::string> ListTree(const std::string& folder) {
    std::vector<std::string> listed;
    ListTreeInto(folder, "", listed);
    std::sort(listed.begin(), listed.end());
    return listed;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path) {
    return FolderExists(Wide(path));
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadFileBytes(const std::string& path) {
    base::BinaryFile file;
    if (!file.Open(path, "rb"))
        throw std::runtime_error("cannot read " + path);
    std::string bytes;
    char buffer[64 * 1024];
    size_t got;
    while ((got = file.Read(buffer, sizeof buffer)) > 0)
        bytes.append(buffer, got);
    return bytes;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    base::BinaryFile file;
    if (!file.Open(path, "wb") || !file.Write(bytes.data(), bytes.size()) || !file.Close())
        throw std::runtime_error("cannot write " + path);
}

void SetReadOnly(const std::string& path) {
    if (!::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY))
        throw std::runtime_error("cannot make " + path + " read-only");
}

std::string PatternBytes(size_t length, std::uint32_t seed) {
    std::string bytes(length, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string ImageBytes(const std::string& program, const std::string& payload,
                       const std::string& label) {
    const image::Trailer trailer =
        image::MakeTrailer(label, static_cast<std::int32_t>(payload.size()));
    return program + payload + std::string(trailer.begin(), trailer.end());
}

std::string ImageBytesWithLength(const std::string& program, const std::string& payload,
                                 std::uint32_t lengthField) {
    const image::Trailer trailer =
        image::MakeTrailer("v0.0.1", static_cast<std::int32_t>(lengthField));
    return program + payload + std::string(trailer.begin(), trailer.end());
}

std::string OwnFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

std::string TestArchivePath() {
    return OwnFolder() + "\\test_archive.exe";
}

void TickAndCollect(InstallEngine& engine) {
    engine.Tick();
    ASSERT_TRUE(engine.WaitForWorker(60000)) << "the worker's work took over a minute";
    engine.Collect();
}

int TickUntilState(InstallEngine& engine, int state, int maxTicks, DWORD sleepMs) {
    int ticks = 0;
    while (engine.InstallState != state && ticks < maxTicks) {
        if (ticks > 0 && sleepMs > 0)
            ::Sleep(sleepMs);
        TickAndCollect(engine);
        ++ticks;
    }
    return ticks;
}

std::optional<ShortcutFile> ReadShortcut(const std::string& linkPath) {
    return ReadShortcutFile(Wide(linkPath));
}

std::string DesktopFolder() {
    return ShellFolder(CSIDL_DESKTOPDIRECTORY);
}
std::string ProgramsFolder() {
    return ShellFolder(CSIDL_PROGRAMS);
}

void SuiteShortcutsCleaner::RemoveAll() {
    for (const char* name : {"Pellisar", "Torvane", "Dromlet"})
        RemoveTree(DesktopLink(name));
    RemoveTree(GroupFolder());
}

std::string SuiteShortcutsCleaner::DesktopLink(const std::string& name) {
    return DesktopFolder() + "\\" + name + ".lnk";
}

std::string SuiteShortcutsCleaner::GroupFolder() {
    return ProgramsFolder() + "\\Torvane Software Suite";
}

std::string SuiteShortcutsCleaner::GroupLink(const std::string& name) {
    return GroupFolder() + "\\" + name + ".lnk";
}

InstallSettings SettingsFor(const std::string& folder, const std::string& imagePath) {
    InstallSettings settings;
    settings.modulePath = imagePath;
    settings.archiveBaseName = "FARROWPK";
    settings.installFolder = folder;
    settings.label = "v1.4.2";
    return settings;
}

void SetToCopy(InstallEngine& engine, const std::string& folder, const std::string& imagePath) {
    engine.Start(SettingsFor(folder, imagePath));
    engine.InstallState = STATE_COPY_PAYLOAD;
}

void SetToDetect(InstallEngine& engine) {
    engine.InstallState = STATE_DETECT;
    engine.settings.modulePath = TestArchivePath();
    engine.payloadOffset = static_cast<std::int64_t>(ReadFileBytes(TestArchivePath()).size());
}

EngineTest::EngineTest(const std::string& folderName) : folder(temp / folderName) {
    ::CreateDirectoryA(folder.c_str(), nullptr);
    SetToCopy(engine, folder, imagePath);
}

EngineTest::~EngineTest() {
    if (engine.processInfo.process &&
        ::WaitForSingleObject(engine.processInfo.process.Get(), 0) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the archive process was still running at the end of the test";
        ::TerminateProcess(engine.processInfo.process.Get(), 1);
        ::WaitForSingleObject(engine.processInfo.process.Get(), 5000);
    }
}

} // namespace enginetest
