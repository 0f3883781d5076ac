#include "install/LogLine.h"

namespace setup {
namespace {

// `value` in `base`, upper-case, with leading zeros to at least `digits` digits. Not printf: in
// the shipped program the C99 printf of MinGW's runtime would bring some 40 KB of floating-point
// formatting along.
void AppendDigits(std::string& out, unsigned value, int digits, unsigned base) {
    char text[16];
    int length = 0;
    do {
        text[length++] = "0123456789ABCDEF"[value % base];
        value /= base;
    } while (value != 0 && length < 16);
    for (int pad = length; pad < digits; ++pad)
        out += '0';
    while (length > 0)
        out += text[--length];
}

} // namespace

std::string ColorName(MessageColor color) {
    switch (TextColorOf(color)) {
    case TextColorOf(kColorProgress):
        return "black";
    case TextColorOf(kColorSummary):
        return "navy";
    case TextColorOf(kColorWarning):
        return "olive";
    case TextColorOf(kColorError):
        return "red";
    case TextColorOf(kColorSuccess):
        return "green";
    default: {
        std::string hex;
        AppendDigits(hex, TextColorOf(color), 6, 16);
        return hex;
    }
    }
}

namespace {

// "<local time> <word> <text>\n".
std::string StampedLine(const LocalTime& t, std::string_view word, std::string_view utf8Text) {
    std::string line;
    const auto field = [&line](int value, int digits, char after) {
        AppendDigits(line, value < 0 ? 0u : static_cast<unsigned>(value), digits, 10);
        line += after;
    };
    field(t.year, 4, '-');
    field(t.month, 2, '-');
    field(t.day, 2, ' ');
    field(t.hour, 2, ':');
    field(t.minute, 2, ':');
    field(t.second, 2, '.');
    field(t.millisecond, 3, ' ');
    line += word;
    line += ' ';
    line += utf8Text;
    line += '\n';
    return line;
}

} // namespace

std::string LogLine(const LocalTime& time, MessageColor color, std::string_view utf8Text) {
    return StampedLine(time, ColorName(color) + (IsEmphasised(color) ? "*" : ""), utf8Text);
}

std::string LogDetailLine(const LocalTime& time, std::string_view utf8Text) {
    return StampedLine(time, "detail", utf8Text);
}

} // namespace setup
