#include "install/ProductEntryTexts.h"

#include <cstdio>
#include <vector>

namespace texts {
namespace {

// The numbers of a dotted version, each without its leading zeros ("" for 0), so that numbers of
// any length compare without overflow: first by length, then digit by digit.
std::vector<std::string_view> VersionNumbers(std::string_view version) {
    std::vector<std::string_view> numbers;
    for (std::size_t start = 0;;) {
        const std::size_t dot = version.find('.', start);
        std::string_view number = version.substr(start, dot - start);
        while (!number.empty() && number.front() == '0')
            number.remove_prefix(1);
        numbers.push_back(number);
        if (dot == std::string_view::npos)
            return numbers;
        start = dot + 1;
    }
}

int CompareNumbers(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

} // namespace

bool IsDottedVersion(std::string_view text) {
    bool digitBefore = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digitBefore = true;
        else if (c == '.' && digitBefore)
            digitBefore = false;
        else
            return false;
    }
    return digitBefore;
}

std::string DisplayVersion(std::string_view label) {
    if (!label.empty() && (label.front() == 'v' || label.front() == 'V'))
        label.remove_prefix(1);
    return IsDottedVersion(label) ? std::string(label) : std::string();
}

VersionOrder CompareDottedVersions(std::string_view a, std::string_view b) {
    if (!IsDottedVersion(a) || !IsDottedVersion(b))
        return VersionOrder::Unknown;
    const std::vector<std::string_view> left = VersionNumbers(a), right = VersionNumbers(b);
    for (std::size_t at = 0; at < left.size() || at < right.size(); ++at) {
        const int order = CompareNumbers(at < left.size() ? left[at] : std::string_view(),
                                         at < right.size() ? right[at] : std::string_view());
        if (order != 0)
            return order < 0 ? VersionOrder::Older : VersionOrder::Newer;
    }
    return VersionOrder::Same;
}

std::string InstallDateText(int year, int month, int day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, day);
    return text;
}

std::uint32_t EstimatedSizeKiB(std::uint64_t bytes) {
    const std::uint64_t kib = bytes / 1024 + (bytes % 1024 != 0);
    return kib > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

std::string UninstallCommand(const std::string& uninstallerPath) {
    return "\"" + uninstallerPath + "\"";
}

std::string QuietUninstallCommand(const std::string& uninstallerPath) {
    return UninstallCommand(uninstallerPath) + " /S";
}

} // namespace texts
