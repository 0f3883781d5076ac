// The log file of /LOG=<file>: every message-list line as it is added, with its time and colour
// (setup::LogLine), in UTF-8 without a byte-order mark.
#pragma once

#include "install/MessageColor.h"
#include "win32/Handles.h"

#include <string>
#include <string_view>

class RunLog {
public:
    // Creates the file anew, in place of one that is there; false when it cannot be written.
    bool Open(const std::wstring& path);
    bool IsOpen() const { return static_cast<bool>(file_); }
    void Close() { file_.Reset(); }
    // One line, written at once with nothing held back, so that a run that is killed leaves
    // every line it had logged. `utf8Text` is the line as the message list shows it.
    void Write(std::string_view utf8Text, MessageColor color);
    // A line of the log's own after the one it belongs to (setup::LogDetailLine).
    void WriteDetail(std::string_view utf8Text);

private:
    void WriteLine(const std::string& line);

    ScopedFileHandle file_;
};
