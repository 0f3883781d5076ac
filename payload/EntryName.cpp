#include "payload/EntryName.h"

#include "base/Text.h"
#include "payload/NameEncoding.h"
#include "payload/SuiteContract.h"

#include <array>
#include <algorithm>

namespace zip {
namespace {

using base::IsPathSeparator;

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows opens these names as devices, in any case and with any extension ("nul.txt").
bool IsReservedDeviceName(std::string_view segment) {
    std::string_view stem = segment.substr(0, segment.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper;
    for (char c : stem)
        upper += Upper(c);
    static constexpr std::array<std::string_view, 7> kNames = {"CON",    "PRN",     "AUX",   "NUL",
                                                               "CONIN$", "CONOUT$", "CLOCK$"};
    for (std::string_view reserved : kNames)
        if (upper == reserved)
            return true;
    if (upper.starts_with("COM") || upper.starts_with("LPT")) {
        // COM0-9 and LPT0-9, and the superscripts one, two and three (UTF-8) that Windows also
        // takes as port numbers.
        const std::string_view digit = std::string_view(upper).substr(3);
        return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
               digit == "\xC2\xB2" || digit == "\xC2\xB3";
    }
    return false;
}

std::string SegmentReason(std::string_view segment) {
    if (segment.empty())
        return "empty path segment";
    if (segment == "..")
        return "'..' segment";
    if (segment == ".")
        return "'.' segment";
    // Windows drops trailing dots and blanks, so "..." or ".. " would mean something else.
    if (segment.back() == '.' || segment.back() == ' ')
        return "segment ends with a dot or blank";
    if (IsReservedDeviceName(segment))
        return "reserved device name";
    return {};
}

} // namespace

std::string UnsafeNameReason(std::string_view name) {
    if (name.empty())
        return "empty name";
    if (name.size() > kMaxEntryNameLength)
        return "name longer than " + std::to_string(kMaxEntryNameLength) + " bytes";
    if (IsPathSeparator(name.front()))
        return "absolute, UNC or device path";
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ':')
            return "':' (drive letter or stream name)";
        if (byte < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return "character not allowed in file names";
    }
    std::string_view rest = IsFolderName(name) ? name.substr(0, name.size() - 1) : name;
    while (true) {
        const auto end = std::find_if(rest.begin(), rest.end(), IsPathSeparator);
        if (std::string why = SegmentReason({rest.begin(), end}); !why.empty())
            return why;
        if (end == rest.end())
            return {};
        rest.remove_prefix(static_cast<std::size_t>(end - rest.begin()) + 1);
    }
}

namespace {

// A name an entry occupies: its own, or a folder on the way to it.
struct Occupant {
    std::string_view key; // folded, '/' for either separator, no trailing separator
    std::string_view as;  // the name as given
    bool file;
};

// Every name the entries occupy, sorted by key: names Windows takes for one are neighbours. Each
// name is folded once, a segment at a time, and every occupant's key is a prefix of it: a name of
// many short segments costs a few bytes per segment, not a copy of its folders each.
struct SortedOccupants {
    explicit SortedOccupants(const std::vector<std::string>& names) {
        folded.reserve(names.size());
        std::size_t count = 0;
        for (const std::string& name : names) {
            const std::string_view whole = Whole(name);
            std::string key;
            std::size_t start = 0;
            for (std::size_t at = 0; at <= whole.size(); ++at) {
                if (at < whole.size() && !IsPathSeparator(whole[at]))
                    continue;
                key += FoldCase(whole.substr(start, at - start));
                if (at < whole.size())
                    key += '/';
                start = at + 1;
                ++count;
            }
            folded.push_back(std::move(key));
        }
        all.reserve(count);
        for (std::size_t index = 0; index < names.size(); ++index) {
            // The folded key has a '/' for each separator of the name, in the same order.
            const std::string_view whole = Whole(names[index]);
            const std::string_view key = folded[index];
            for (std::size_t at = 0, slash = key.find('/'); slash != std::string_view::npos;
                 ++at, slash = key.find('/', slash + 1)) {
                while (at < whole.size() && !IsPathSeparator(whole[at]))
                    ++at;
                if (at == whole.size())
                    break; // only if folding ever made a '/' of something else
                all.push_back({key.substr(0, slash), whole.substr(0, at), false});
            }
            all.push_back({key, whole, !IsFolderName(names[index])});
        }
        std::sort(all.begin(), all.end(),
                  [](const Occupant& a, const Occupant& b) { return a.key < b.key; });
    }

    // The name without the separator that ends a folder's.
    static std::string_view Whole(const std::string& name) {
        return IsFolderName(name) ? std::string_view(name).substr(0, name.size() - 1)
                                  : std::string_view(name);
    }

    std::vector<std::string> folded;
    std::vector<Occupant> all;
};

// Calls `group(first, end)` for each run of occupants of one key that holds a file; stops and
// returns true when it does.
template <class Group> bool AnyGroupWithAFile(const std::vector<Occupant>& occupants, Group group) {
    for (std::size_t first = 0, end = 0; first < occupants.size(); first = end) {
        end = first;
        while (end < occupants.size() && occupants[end].key == occupants[first].key)
            ++end;
        if (std::any_of(occupants.begin() + static_cast<std::ptrdiff_t>(first),
                        occupants.begin() + static_cast<std::ptrdiff_t>(end),
                        [](const Occupant& occupant) { return occupant.file; }) &&
            group(first, end))
            return true;
    }
    return false;
}

std::optional<std::pair<std::string, std::string>>
CaseClashIn(const std::vector<Occupant>& occupants) {
    // The same name twice is no clash of case: the later entry replaces the earlier, or stops
    // unpacking where a file and a folder meet, as it always has.
    const auto sameName = [](std::string_view a, std::string_view b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return x == y || (IsPathSeparator(x) && IsPathSeparator(y));
        });
    };
    std::optional<std::pair<std::string, std::string>> clash;
    AnyGroupWithAFile(occupants, [&](std::size_t first, std::size_t end) {
        const auto file = std::find_if(occupants.begin() + static_cast<std::ptrdiff_t>(first),
                                       occupants.begin() + static_cast<std::ptrdiff_t>(end),
                                       [](const Occupant& occupant) { return occupant.file; });
        for (std::size_t at = first; at < end && !clash; ++at)
            if (!sameName(occupants[at].as, file->as))
                clash = std::pair(std::string(file->as), std::string(occupants[at].as));
        return clash.has_value();
    });
    return clash;
}

// Whether a name holds a segment that may be a file's short 8.3 alias ("LONGFI~1.TXT"), which
// Windows resolves to the long name it stands for: another entry's file, maybe.
bool MayNameAShortAlias(std::string_view name) {
    for (std::size_t at = name.find('~'); at != std::string_view::npos; at = name.find('~', at + 1))
        if (at + 1 < name.size() && name[at + 1] >= '0' && name[at + 1] <= '9')
            return true;
    return false;
}

bool FileTwiceIn(const std::vector<std::string>& names, const std::vector<Occupant>& occupants) {
    if (std::any_of(names.begin(), names.end(),
                    [](const std::string& name) { return MayNameAShortAlias(name); }))
        return true;
    return AnyGroupWithAFile(occupants,
                             [](std::size_t first, std::size_t end) { return end - first > 1; });
}

} // namespace

NameCheck CheckNames(const std::vector<std::string>& names) {
    const SortedOccupants sorted(names);
    return {CaseClashIn(sorted.all), FileTwiceIn(names, sorted.all)};
}

std::optional<std::pair<std::string, std::string>>
FindCaseClash(const std::vector<std::string>& names) {
    return CaseClashIn(SortedOccupants(names).all);
}

bool NamesAFileTwice(const std::vector<std::string>& names) {
    return FileTwiceIn(names, SortedOccupants(names).all);
}

bool IsFolderName(std::string_view name) {
    return !name.empty() && IsPathSeparator(name.back());
}

std::string WindowsRelativePath(std::string_view name) {
    std::string path(name);
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool IsCompletionFlagName(std::string_view name) {
    constexpr std::string_view kFlag = suite::kCompletionFlagEntry;
    if (name.size() != kFlag.size())
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = IsPathSeparator(name[i]) ? '/' : name[i];
        if (lower(c) != lower(kFlag[i]))
            return false;
    }
    return true;
}

} // namespace zip
