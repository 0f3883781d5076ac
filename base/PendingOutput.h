// An output file written under a temporary name beside its final one and renamed into place
// only when complete, so that a failed write never leaves a partial file, nor destroys an older
// one. The one place where a failed output is removed. Paths are UTF-8, on Windows too.
#pragma once

#include "base/Text.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace base {

// A UTF-8 path as the file system library takes it: on Windows its UTF-16 form.
inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

class PendingOutput {
public:
    explicit PendingOutput(std::string finalPath)
        : finalPath_(std::move(finalPath)), path_(finalPath_ + ".part") {
        std::error_code ignored;
        // Whatever stood at the temporary name before is not ours to remove.
        ours_ = !std::filesystem::exists(std::filesystem::symlink_status(PathOf(path_), ignored));
    }
    ~PendingOutput() {
        std::error_code ignored;
        if (!committed_ && ours_)
            std::filesystem::remove(PathOf(path_), ignored);
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Where the writer writes.
    const std::string& path() const { return path_; }
    // Puts the written file in place of the final one.
    bool Commit(std::string& error) {
        std::error_code code;
        std::filesystem::rename(PathOf(path_), PathOf(finalPath_), code);
        if (code) {
            error = "cannot write " + Quoted(finalPath_) + ": " + code.message();
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    std::string finalPath_, path_;
    bool ours_ = true;
    bool committed_ = false;
};

} // namespace base
