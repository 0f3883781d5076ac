#include "payload/InstallRecord.h"

#include "payload/EntryName.h"
#include "payload/NameEncoding.h"

#include <charconv>
#include <cstdio>

namespace record {
namespace {

// The fields of one line, split at tabs.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <class Number> bool ParseNumber(std::string_view text, Number& value, int base) {
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

// A full path as the setup writes it: a drive or a share, no control characters.
bool IsFullPath(std::string_view path) {
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return (path.size() > 3 && path[1] == ':' && path[2] == '\\') ||
           (path.size() > 2 && path.substr(0, 2) == "\\\\");
}

} // namespace

bool IsRecordedPath(std::string_view path) {
    return !path.empty() && path.find('/') == std::string_view::npos && path.back() != '\\' &&
           zip::IsSafeEntryName(path);
}

bool SamePath(std::string_view a, std::string_view b) {
    return zip::FoldCase(a) == zip::FoldCase(b);
}

std::string Serialize(const InstallRecord& installed) {
    std::string text = std::string(kHeader) + "\n";
    text += "label\t" + installed.label + "\n";
    for (const std::string& folder : installed.folders)
        text += "folder\t" + folder + "\n";
    for (const std::string& folder : installed.newFolders)
        text += "newfolder\t" + folder + "\n";
    for (const File& file : installed.files) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(file.crc32));
        text += "file\t" + std::to_string(file.size) + "\t" + crc + "\t" + file.path + "\n";
    }
    for (const std::string& shortcut : installed.shortcuts)
        text += "shortcut\t" + shortcut + "\n";
    for (const std::string& folder : installed.madeFolders)
        text += "madefolder\t" + folder + "\n";
    return text;
}

std::optional<InstallRecord> Parse(std::string_view text) {
    InstallRecord installed;
    bool header = false, label = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        // Every line ends in a line feed: a record cut short is no record.
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (!header) {
            if (line != kHeader)
                return std::nullopt;
            header = true;
            continue;
        }
        const std::vector<std::string_view> fields = Fields(line);
        const std::string_view kind = fields[0];
        if (kind == "label" && fields.size() == 2 && !label) {
            installed.label = fields[1];
            label = true;
        } else if ((kind == "folder" || kind == "newfolder") && fields.size() == 2 &&
                   IsRecordedPath(fields[1])) {
            (kind == "folder" ? installed.folders : installed.newFolders).emplace_back(fields[1]);
        } else if (kind == "file" && fields.size() == 4 && fields[2].size() == 8 &&
                   IsRecordedPath(fields[3])) {
            File file;
            file.path = fields[3];
            if (!ParseNumber(fields[1], file.size, 10) || !ParseNumber(fields[2], file.crc32, 16))
                return std::nullopt;
            installed.files.push_back(std::move(file));
        } else if ((kind == "shortcut" || kind == "madefolder") && fields.size() == 2 &&
                   IsFullPath(fields[1])) {
            (kind == "shortcut" ? installed.shortcuts : installed.madeFolders)
                .emplace_back(fields[1]);
        } else {
            return std::nullopt;
        }
    }
    if (!header || !label)
        return std::nullopt;
    return installed;
}

} // namespace record
