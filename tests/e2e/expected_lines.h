// The lines the e2e cases expect from the setup's message list, and how gtest prints them.
#pragma once

#include "harness.h"

#include <ostream>
#include <string>
#include <vector>

namespace e2e {

inline void PrintTo(const Line& line, std::ostream* out) {
    *out << "[" << colorName(line.color) << "] \"" << line.text << "\"";
}

inline const char* const kComponents[] = {"Pellisar", "Torvane", "Dromlet"};
inline const char* const kGroupName = "Torvane Software Suite";
inline const char* const kAllComponents = "Installed components:  Pellisar,  Torvane,  Dromlet";

inline Line black(const std::string& text) {
    return {text, color::kBlack};
}
inline Line navy(const std::string& text) {
    return {text, color::kNavy};
}
inline Line red(const std::string& text) {
    return {text, color::kRed};
}
inline Line olive(const std::string& text) {
    return {text, color::kOlive};
}
inline Line detail(const std::string& text) {
    return {text, color::kLogDetail};
}
inline Line success() {
    return {kSuccessLine, color::kGreenEmphasis};
}
inline Line failure() {
    return {kFailureLine, color::kRedEmphasis};
}
inline Line installLine(const std::string& folder) {
    return navy("Installing Torvane into " + folder + " ...");
}

// Every line of the demo image's run into a new folder, as the dialog shows them and a silent
// run logs them.
inline std::vector<Line> demoRunLines(const std::string& folder, bool desktopIcons = true) {
    std::vector<Line> lines = {installLine(folder),
                               black("Creating directory ..."),
                               black("Copying necessary files ..."),
                               black("Decompressing archive ..."),
                               black("Decompression completed."),
                               navy("Installed components:  Pellisar,  Torvane,  Dromlet")};
    if (desktopIcons)
        lines.push_back(black("Creating desktop shortcuts ..."));
    lines.push_back(black("Creating start menu shortcuts ..."));
    lines.push_back(black("Cleaning up ..."));
    lines.push_back(success());
    return lines;
}

} // namespace e2e
