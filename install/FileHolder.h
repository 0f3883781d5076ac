// Which program holds a file open, as Windows' Restart Manager can tell: named in the line and
// the question when a file of the suite is in use.
#pragma once

#include <string>

// The name the Restart Manager gives the first program that holds `path` (its application
// name, such as "Torvane"), or empty when it knows none or the system has no Restart Manager.
std::string ProgramHoldingFile(const std::string& path);
