// A stand-in for the self-extracting archive, run by the engine tests as
// "<folder>\FARROWPK.EXE" -Y with the install folder as its working directory. It opens no
// window. What it does comes from archive-mode.txt in the working directory: a mode word, then
// the names of the files it "unpacks" (relative to the working directory, sub-folders allowed):
//   complete NAME...  writes the files, then ZZZ\COMP.FLG last, and exits 0
//   linger NAME...    the same, then sleeps until it is terminated (at most 30 s)
//   hang NAME...      writes the files, not the completion flag, and sleeps until it is
//                     terminated (at most 30 s)
//   fail              exits 3 without writing anything
//   silent            exits 0 without writing anything
// Before anything else it writes archive-run.txt: its command line and its working directory,
// one a line, so that a test can check how it was started.
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailed = 3;
constexpr int kExitBadMode = 4;
constexpr DWORD kLingerMilliseconds = 30000;

std::string ReadText(const char* path) {
    std::string text;
    FILE* file = std::fopen(path, "rb");
    if (!file)
        return text;
    char buffer[512];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

bool WriteText(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// Creates every folder on the way to `path` (relative to the working directory).
void CreateParentFolders(const std::string& path) {
    for (size_t slash = path.find('\\'); slash != std::string::npos;
         slash = path.find('\\', slash + 1))
        ::CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
}

bool WriteFiles(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        CreateParentFolders(name);
        if (!WriteText(name, "flag"))
            return false;
    }
    return true;
}

bool Unpack(const std::vector<std::string>& names) {
    if (!WriteFiles(names))
        return false;
    // The completion flag comes last, when everything else is complete.
    CreateParentFolders("ZZZ\\COMP.FLG");
    return WriteText("ZZZ\\COMP.FLG", "done");
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char folder[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    WriteText("archive-run.txt", std::string(::GetCommandLineA()) + "\n" + folder + "\n");

    std::istringstream words(ReadText("archive-mode.txt"));
    std::string mode;
    words >> mode;
    std::vector<std::string> names;
    for (std::string name; words >> name;)
        names.push_back(name);

    if (mode == "complete")
        return Unpack(names) ? 0 : kExitFailed;
    if (mode == "linger") {
        if (!Unpack(names))
            return kExitFailed;
        ::Sleep(kLingerMilliseconds);
        return 0;
    }
    if (mode == "hang") {
        WriteFiles(names);
        ::Sleep(kLingerMilliseconds);
        return 0;
    }
    if (mode == "fail")
        return kExitFailed;
    if (mode == "silent")
        return 0;
    return kExitBadMode;
}
