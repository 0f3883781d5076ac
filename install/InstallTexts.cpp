#include "install/InstallTexts.h"

namespace texts {

std::string InstallLine(const std::string& installFolder) {
    return kInstallPrefix + installFolder + " ...";
}

std::string TrimInstallFolder(std::string folderText) {
    if (!folderText.empty() && folderText.back() == '\\')
        folderText.pop_back();
    return folderText;
}

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

} // namespace

bool IsAbsoluteFolder(const std::string& folder) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (folder.size() >= 4 && letter(folder[0]) && folder[1] == ':' && IsSeparator(folder[2]))
        return folder.find_first_not_of("\\/", 3) != std::string::npos;
    // A network path: two separators, then a server name (not the "\\.\" or "\\?\" prefixes).
    return folder.size() >= 3 && IsSeparator(folder[0]) && IsSeparator(folder[1]) &&
           !IsSeparator(folder[2]) && folder[2] != '.' && folder[2] != '?';
}

std::string ErrorNumberLine(long code) {
    return "Error: Number " + std::to_string(code);
}

std::string CannotOpenImageLine(const std::string& sourcePath) {
    return "Error: Unable to open file " + sourcePath + " for copying.";
}

std::string NoValidPayloadLine(const std::string& sourcePath) {
    return "Error: File " + sourcePath + " holds no valid payload.";
}

std::string CannotWriteArchiveLine(const std::string& archivePath) {
    return "Error: Unable to write new archive " + archivePath + ".";
}

std::string CannotDeleteLine(const std::string& path) {
    return "Warning: Unable to delete " + path + ".";
}

std::string ArchiveCommandLine(const std::string& archivePath) {
    return "\"" + archivePath + "\" -Y";
}

std::string CutSystemText(const char* text) {
    std::string cut;
    if (!text)
        return cut;
    for (const char* p = text; static_cast<unsigned char>(*p) >= 0x20; ++p)
        cut += *p;
    return cut;
}

std::string ComponentSummaryLine(const std::vector<std::string>& foundNames) {
    std::string line = "Installed components:  ";
    if (foundNames.empty())
        return line + kNoComponents;
    for (size_t i = 0; i < foundNames.size(); ++i) {
        if (i > 0)
            line += ",  ";
        line += foundNames[i];
    }
    return line;
}

CopyProgress::CopyProgress(std::int64_t payloadLength) {
    constexpr std::int64_t kKiB = 1024;
    constexpr std::int64_t kRangeLimit = 0xFFFF;
    const std::int64_t kibs = payloadLength > 0 ? payloadLength / kKiB : 0;
    const std::int64_t scale = kibs <= kRangeLimit ? 1 : (kibs + kRangeLimit - 1) / kRangeLimit;
    unitBytes_ = kKiB * scale;
    rangeMaximum_ = static_cast<int>(payloadLength > 0 ? payloadLength / unitBytes_ : 0);
}

} // namespace texts
