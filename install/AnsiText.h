// The program's strings are single-byte text in the ANSI code page; the shell, controls and
// file names are UTF-16. These convert between the two.
#pragma once

#include <string>

// The ANSI text as UTF-16.
std::wstring WidenAnsi(const std::string& text);

struct AnsiText {
    std::string text;
    // Every character had its own place in the code page.
    bool exact = true;
};
// UTF-16 text in the ANSI code page with no best-fit mapping: a character the code page cannot
// hold becomes '?' and clears `exact`, never a look-alike that would name another file.
AnsiText NarrowToAnsi(const std::wstring& text);
