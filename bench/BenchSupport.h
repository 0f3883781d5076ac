// What the Windows bench programs share: a precise clock, medians, the "result" lines that
// run-bench.sh collects, and a child process whose memory use is sampled while it runs.
#pragma once

#include "harness.h"
#include "win32/Handles.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// Seconds since an arbitrary start, from the performance counter.
inline double Now() {
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

inline double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double Max(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

inline void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

// One figure for run-bench.sh: "result KEY VALUE".
inline void Result(const std::string& key, const std::string& value) {
    Say("result " + key + " " + value);
}
inline void Result(const std::string& key, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    Result(key, std::string(text));
}
inline void Result(const std::string& key, std::uint64_t value) {
    Result(key, std::to_string(value));
}
// Every run's figure, space-separated: "result KEY v1 v2 ...".
inline void Results(const std::string& key, const std::vector<double>& values) {
    std::string text;
    for (double value : values) {
        char one[32];
        std::snprintf(one, sizeof one, "%s%.6f", text.empty() ? "" : " ", value);
        text += one;
    }
    Result(key, text);
}

inline std::uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// A program started by a bench, in a job of its own so that what it starts in turn ends with
// it. Its handle stays open after it ends, for its exit code and memory counters.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Kill(); }

    enum class Show { Window, HiddenHighPriority };

    // Starts `commandLine` in `workingFolder`; HiddenHighPriority is how the setup starts its
    // archive.
    bool Start(const std::string& commandLine, const std::string& workingFolder, Show show,
               std::string& error) {
        const bool likeTheArchive = show == Show::HiddenHighPriority;
        STARTUPINFOA startup = {};
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = likeTheArchive ? SW_HIDE : SW_SHOWNORMAL;
        return e2e::startInJob(nullptr, commandLine, workingFolder, startup,
                               likeTheArchive ? HIGH_PRIORITY_CLASS : 0, job_, process_, id_,
                               error);
    }

    DWORD Id() const { return id_; }
    HANDLE Get() const { return process_.Get(); }
    bool Running() const {
        return process_.IsValid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
    }
    // Waits up to `milliseconds` for the end, sampling the memory counters every 5 ms.
    bool Wait(DWORD milliseconds) {
        const double deadline = Now() + milliseconds / 1000.0;
        while (WaitForSingleObject(process_.Get(), 5) == WAIT_TIMEOUT) {
            SampleMemory();
            if (Now() > deadline)
                return false;
        }
        return true;
    }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

    // The largest working set seen so far: the peak counter of every sample.
    void SampleMemory() {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (process_.IsValid() &&
            GetProcessMemoryInfo(process_.Get(), &counters, sizeof counters)) {
            ++samples_;
            sampledPeak_ = std::max<std::uint64_t>(
                {sampledPeak_, counters.PeakWorkingSetSize, counters.WorkingSetSize});
        }
    }
    std::uint64_t SampledPeak() const { return sampledPeak_; }
    int Samples() const { return samples_; }
    // The peak counter read once more now; after the end this is what the system kept.
    std::uint64_t PeakNow() const {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (!process_.IsValid() ||
            !GetProcessMemoryInfo(process_.Get(), &counters, sizeof counters))
            return 0;
        return counters.PeakWorkingSetSize;
    }

    // Ends it and what it started; its handle stays for the exit code and the counters.
    void Kill() { e2e::endInJob(job_, process_); }

private:
    ScopedHandle job_;
    ScopedHandle process_;
    DWORD id_ = 0;
    std::uint64_t sampledPeak_ = 0;
    int samples_ = 0;
};

} // namespace bench
