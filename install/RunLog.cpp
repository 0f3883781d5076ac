#include "install/RunLog.h"

#include "install/CommandLine.h"
#include "install/LogLine.h"
#include "win32/NoFollowWin32.h"

bool RunLog::Open(const std::wstring& path) {
    // The setup runs elevated, and a log folder such as the system's temporary folder lets
    // anyone make names in it: an older file is replaced by a new one rather than emptied, so
    // that a link planted at the name loses only itself, never the file it leads to.
    if (nofollow::RemoveFile(path.c_str()) == nofollow::Removal::Refused)
        return false;
    // Others may read the log while the run goes on (a deployment tool showing its progress).
    file_ = ScopedFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

namespace {

setup::LocalTime Now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

} // namespace

void RunLog::Write(std::string_view utf8Text, MessageColor color) {
    if (file_)
        WriteLine(setup::LogLine(Now(), color, utf8Text));
}

void RunLog::WriteDetail(std::string_view utf8Text) {
    if (file_)
        WriteLine(setup::LogDetailLine(Now(), utf8Text));
}

void RunLog::WriteLine(const std::string& line) {
    // No buffer of our own: once WriteFile returns, the line is the system's and outlives the
    // process. A line that cannot be written is lost; the run goes on.
    DWORD written = 0;
    ::WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
