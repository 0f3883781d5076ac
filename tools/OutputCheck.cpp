#include "tools/OutputCheck.h"

#include "base/PendingOutput.h"
#include "base/Text.h"

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include "win32/Handles.h"
#include "win32/WideText.h"

#include <cwctype>
#else
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;

namespace pack {
namespace {

using base::PathOf;
using base::Quoted;

std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

#ifdef _WIN32
// The file or folder at `path` opened for its attributes only, links followed; nobody is kept
// from opening, writing or deleting it meanwhile.
ScopedFileHandle OpenForAttributes(const std::string& path) {
    const std::optional<std::wstring> wide = base::TryWide(path);
    if (!wide || wide->empty())
        return ScopedFileHandle();
    return ScopedFileHandle(::CreateFileW(
        wide->c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Windows compares names without regard to case.
bool SameSegment(const fs::path& a, const fs::path& b) {
    const std::wstring& x = a.native();
    const std::wstring& y = b.native();
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(),
                      [](wchar_t p, wchar_t q) { return std::towupper(p) == std::towupper(q); });
}
#else
bool SameSegment(const fs::path& a, const fs::path& b) {
    return a == b;
}
#endif

std::vector<fs::path> Segments(const fs::path& path) {
    std::vector<fs::path> segments;
    for (const fs::path& segment : path)
        if (!segment.empty()) // a trailing separator
            segments.push_back(segment);
    return segments;
}

// Whether `inner` is `outer` (`same`) or lies inside it, both real paths, compared segment by
// segment.
bool IsWithin(const fs::path& inner, const fs::path& outer, bool& same) {
    const std::vector<fs::path> in = Segments(inner), out = Segments(outer);
    if (in.size() < out.size() || !std::equal(out.begin(), out.end(), in.begin(), SameSegment))
        return false;
    same = in.size() == out.size();
    return true;
}

// Where the output lands: the real path of the folder it is written in, with its name. Nothing
// when that folder does not exist (then nothing can be written there).
std::optional<fs::path> OutputLocation(const std::string& out) {
    const fs::path path = PathOf(out);
    const fs::path name = path.filename();
    if (name.empty() || name == "." || name == "..") {
        const std::optional<std::string> real = RealFolderPath(out);
        return real ? std::optional<fs::path>(PathOf(*real)) : std::nullopt;
    }
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::optional<std::string> real = RealFolderPath(Utf8Of(parent));
    return real ? std::optional<fs::path>(PathOf(*real) / name) : std::nullopt;
}

} // namespace

#ifdef _WIN32
std::optional<FileIdentity> IdentityOf(const std::string& path) {
    const ScopedFileHandle handle = OpenForAttributes(path);
    BY_HANDLE_FILE_INFORMATION information;
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &information))
        return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        std::uint64_t{information.nFileIndexHigh} << 32 |
                            information.nFileIndexLow};
}

std::optional<std::string> RealFolderPath(const std::string& path) {
    const ScopedFileHandle handle = OpenForAttributes(path);
    if (!handle)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information;
    std::wstring real(MAX_PATH, L'\0');
    DWORD length = 0;
    if (::GetFileInformationByHandle(handle.Get(), &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        for (int tries = 0; tries < 2; ++tries) {
            length = ::GetFinalPathNameByHandleW(handle.Get(), real.data(),
                                                 static_cast<DWORD>(real.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            if (length < real.size())
                break;
            real.resize(length + 1); // too small: `length` is the size it needs
            length = 0;
        }
    }
    if (length == 0)
        return std::nullopt;
    real.resize(length);
    // "\\?\C:\..." and "\\?\UNC\server\share\..." as paths are written.
    if (real.rfind(L"\\\\?\\UNC\\", 0) == 0)
        real = L"\\\\" + real.substr(8);
    else if (real.rfind(L"\\\\?\\", 0) == 0)
        real = real.substr(4);
    return base::TryUtf8(real);
}
#else
std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<std::string> RealFolderPath(const std::string& path) {
    struct stat status;
    char* real = ::realpath(path.c_str(), nullptr);
    std::optional<std::string> result;
    if (real && ::stat(real, &status) == 0 && S_ISDIR(status.st_mode))
        result = real;
    std::free(real);
    return result;
}
#endif

std::string CheckOutput(const std::string& out, const std::vector<Input>& inputs,
                        const std::string& from, const std::string& temporarySuffix) {
    for (const std::string& written : {out, out + temporarySuffix}) {
        const std::optional<FileIdentity> output = IdentityOf(written);
        if (!output)
            continue;
        for (const Input& input : inputs) {
            if (IdentityOf(input.path) != output)
                continue;
            if (written == out)
                return "--out " + Quoted(out) + " is the same file as " + input.option + " " +
                       Quoted(input.path) + ": pack never writes over its input";
            return "--out " + Quoted(out) + " is first written as " + Quoted(written) +
                   ", the same file as " + input.option + " " + Quoted(input.path) +
                   ": move that file or choose another --out";
        }
    }
    if (!from.empty()) {
        const std::optional<std::string> folder = RealFolderPath(from);
        const std::optional<fs::path> location = OutputLocation(out);
        bool same = false;
        if (folder && location && IsWithin(*location, PathOf(*folder), same))
            return same ? "--out " + Quoted(out) + " is the --from folder " + Quoted(from) +
                              " itself: name a file outside it"
                        : "--out " + Quoted(out) + " lies inside --from " + Quoted(from) +
                              ": the archive would take in its own output; write it outside "
                              "that folder";
    }
    std::error_code code;
    if (fs::is_directory(PathOf(out), code))
        return "--out " + Quoted(out) + " is a folder: name the file to write";
    return {};
}

} // namespace pack
