// A scratch folder on a memory-backed file system for the fuzz targets: the readers open files by
// path, so every input is written to a file there. One folder per process, so parallel jobs do
// not share files; TORVANE_FUZZ_SCRATCH chooses where it goes (default /dev/shm).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzscratch {

inline std::string& FolderPath() {
    static std::string path;
    return path;
}

inline void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FolderPath(), ignored);
}

inline const std::string& Folder() {
    std::string& path = FolderPath();
    if (path.empty()) {
        const char* base = std::getenv("TORVANE_FUZZ_SCRATCH");
        std::string pattern = std::string(base && *base ? base : "/dev/shm") + "/fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror(pattern.c_str());
            std::abort();
        }
        path = pattern;
        std::atexit(RemoveFolder);
    }
    return path;
}

} // namespace fuzzscratch
