#include "install/CommandLine.h"

#include <utility>

namespace setup {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

wchar_t Upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != prefix[i])
            return false;
    return true;
}

bool EqualsNoCase(std::wstring_view text, std::wstring_view word) {
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

// The program's own name: a quoted text, or everything up to the first blank.
std::wstring_view SkipProgramName(std::wstring_view line) {
    std::size_t end;
    if (!line.empty() && line.front() == L'"') {
        end = line.find(L'"', 1);
        end = end == std::wstring_view::npos ? line.size() : end + 1;
    } else {
        end = 0;
        while (end < line.size() && !IsBlank(line[end]))
            ++end;
    }
    return line.substr(end);
}

// One word up to the next blank outside quotes; the quotes themselves go.
std::wstring NextWord(std::wstring_view& rest) {
    std::wstring word;
    bool quoted = false;
    std::size_t i = 0;
    for (; i < rest.size() && (quoted || !IsBlank(rest[i])); ++i) {
        if (rest[i] == L'"')
            quoted = !quoted;
        else
            word += rest[i];
    }
    rest.remove_prefix(i);
    return word;
}

std::wstring_view TrimBlanks(std::wstring_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The switch as typed, for the error text: plain ASCII, anything else as '?'.
std::string Printable(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

} // namespace

ParsedCommandLine ParseCommandLine(std::wstring_view commandLine) {
    ParsedCommandLine parsed;
    // The first error is kept, and the rest of the line is still read: a /S or /LOG= after a
    // mistake must still keep a deployment tool's run from showing a box, and log why it ended.
    const auto fail = [&parsed](std::string error) {
        if (parsed.error.empty())
            parsed.error = std::move(error);
    };
    std::wstring_view rest = SkipProgramName(commandLine);
    while (true) {
        rest = TrimBlanks(rest);
        if (rest.empty())
            return parsed;
        if (StartsWithNoCase(rest, L"/D=")) {
            std::wstring_view folder = rest.substr(3);
            if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
                folder = folder.substr(1, folder.size() - 2);
            if (folder.empty())
                fail("/D= needs a folder");
            parsed.options.installFolder = folder;
            return parsed;
        }
        const std::wstring word = NextWord(rest);
        if (StartsWithNoCase(word, L"/D=")) {
            // The whole switch in quotes, as a program that quotes every argument with a blank
            // writes it: the quotes tell where the folder ends.
            parsed.options.installFolder = word.substr(3);
            if (parsed.options.installFolder.empty())
                fail("/D= needs a folder");
        } else if (EqualsNoCase(word, L"/S")) {
            parsed.options.silent = true;
        } else if (EqualsNoCase(word, L"/NODESKTOP")) {
            parsed.options.noDesktop = true;
        } else if (EqualsNoCase(word, L"/ALLOWDOWNGRADE")) {
            parsed.options.allowDowngrade = true;
        } else if (EqualsNoCase(word, L"/UNINSTALL")) {
            parsed.options.uninstall = true;
        } else if (EqualsNoCase(word, L"/ALLUSERS")) {
            parsed.options.allUsers = true;
        } else if (StartsWithNoCase(word, L"/LOG=")) {
            parsed.options.logFile = word.substr(5);
            if (parsed.options.logFile.empty())
                fail("/LOG= needs a file");
        } else {
            fail("unknown switch " + Printable(word));
        }
    }
}

bool UseCommonShortcutFolders(const CommandLine& options, bool runningAsLocalSystem) {
    return options.allUsers || runningAsLocalSystem;
}

} // namespace setup
