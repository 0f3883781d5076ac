// The lines of a run's log (RunLog): plain text work, no Windows.
#pragma once

#include "install/MessageColor.h"

#include <string>
#include <string_view>

namespace setup {

// One line of a run's log: local time with milliseconds, the colour's name ("*" after it for an
// emphasised line) and the text, e.g. "2026-12-08 14:03:11.250 red Error: Directory path is
// invalid.\n". `utf8Text` is the line as UTF-8.
struct LocalTime {
    int year, month, day, hour, minute, second, millisecond;
};
std::string LogLine(const LocalTime& time, MessageColor color, std::string_view utf8Text);
// A line that only the log has, after the line it belongs to: its time and "detail" in place of
// a colour, e.g. "2026-12-08 14:03:11.250 detail Windows error 5 (0x00000005): Access is
// denied.\n".
std::string LogDetailLine(const LocalTime& time, std::string_view utf8Text);
// "black", "navy", "olive", "red", "green", or the colour as six hex digits when it is none of
// the message table's.
std::string ColorName(MessageColor color);

} // namespace setup
