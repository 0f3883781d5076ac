// The lines the e2e cases expect from the setup's message list, and how gtest prints them.
#pragma once

#include "harness.h"

#include <ostream>
#include <string>

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
inline Line success() {
    return {kSuccessLine, color::kGreenEmphasis};
}
inline Line failure() {
    return {kFailureLine, color::kRedEmphasis};
}
inline Line installLine(const std::string& folder) {
    return navy("Installing Torvane into " + folder + " ...");
}

} // namespace e2e
