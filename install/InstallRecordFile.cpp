#include "install/InstallRecordFile.h"

#include "base/BinaryFile.h"
#include "base/LittleEndian.h"
#include "install/AppsAndFeatures.h"
#include "install/InstallTexts.h"
#include "install/ProductEntryTexts.h"
#include "install/StateWork.h"
#include "install/Uninstall.h"
#include "payload/SuiteContract.h"
#include "payload/sfx/InstallJournal.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <sddl.h>

#include <vector>

namespace {

// A record is a few lines a file: anything larger is no record of ours.
constexpr LONGLONG kLargestRecord = 64LL << 20;
constexpr char kRecordTempName[] = "install.rec.tmp";

// The text form of the running account's user SID; empty when it cannot be read.
std::wstring UserSidText() {
    HANDLE opened = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened))
        return {};
    const ScopedHandle token(opened);
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    wchar_t* text = nullptr;
    if (size == 0 || !::GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text))
        return {};
    const ScopedLocalMemory owner(text);
    return text;
}

} // namespace

ScopedLocalMemory ProtectedFileSecurity(bool othersRead) {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL isAdministrator = FALSE;
    if (::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        ::CheckTokenMembership(nullptr, administrators, &isAdministrator);
    std::wstring text = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
    if (!isAdministrator) {
        const std::wstring user = UserSidText();
        if (user.empty())
            return ScopedLocalMemory();
        text += L"(A;;FA;;;" + user + L")";
    }
    if (othersRead)
        text += L"(A;;FRFX;;;BU)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                           &descriptor, nullptr);
    return ScopedLocalMemory(descriptor);
}

std::optional<record::InstallRecord> ReadInstallRecord(const std::string& installFolder) {
    const ScopedFileHandle file(::CreateFileW(
        base::Wide(installFolder + "\\" + record::kRecordName).c_str(), GENERIC_READ,
        FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1 || info.nFileSizeHigh != 0 || info.nFileSizeLow > kLargestRecord)
        return std::nullopt;
    std::string text(info.nFileSizeLow, '\0');
    DWORD read = 0;
    if (!text.empty() && (!::ReadFile(file.Get(), text.data(), info.nFileSizeLow, &read, nullptr) ||
                          read != info.nFileSizeLow))
        return std::nullopt;
    return record::Parse(text);
}

bool ReplaceFileWhole(const std::string& path, const std::string& bytes,
                      PSECURITY_DESCRIPTOR security) {
    const std::size_t slash = path.find_last_of('\\');
    const std::wstring temp = base::Wide(path.substr(0, slash + 1) + kRecordTempName);
    // Whatever stands at the other name loses only itself (a link planted there included).
    nofollow::RemoveFile(temp.c_str());
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    bool written = false;
    {
        const ScopedFileHandle out(::CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0,
                                                 security ? &attributes : nullptr, CREATE_NEW,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out)
            return false;
        DWORD done = 0;
        written =
            (bytes.empty() || (::WriteFile(out.Get(), bytes.data(),
                                           static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                               done == bytes.size())) &&
            ::FlushFileBuffers(out.Get());
        if (!written) {
            const DWORD error = ::GetLastError();
            FILE_DISPOSITION_INFO disposition{TRUE};
            ::SetFileInformationByHandle(out.Get(), FileDispositionInfo, &disposition,
                                         sizeof disposition);
            ::SetLastError(error);
            return false;
        }
    }
    // The rename is the moment the new file replaces the old one, whole.
    if (::MoveFileExW(temp.c_str(), base::Wide(path).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = ::GetLastError();
    nofollow::RemoveFile(temp.c_str());
    ::SetLastError(error);
    return false;
}

bool WriteInstallRecord(const std::string& installFolder, const record::InstallRecord& installed) {
    const ScopedLocalMemory security = ProtectedFileSecurity(true);
    return ReplaceFileWhole(installFolder + "\\" + record::kRecordName,
                            record::Serialize(installed), security.Get());
}

bool WriteUninstaller(const std::string& imagePath, std::int64_t programLength,
                      const std::string& uninstallerPath) {
    base::BinaryFile image;
    if (programLength <= 0 || programLength > (256LL << 20) || !image.Open(imagePath, "rb")) {
        ::SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    std::string program(static_cast<std::size_t>(programLength), '\0');
    if (image.Read(program.data(), program.size()) != program.size()) {
        ::SetLastError(ERROR_READ_FAULT);
        return false;
    }
    // The signature entry of the data directory (the fifth, after the optional header's fixed
    // part of 96 bytes for PE32 and 112 for PE32+).
    const auto* bytes = reinterpret_cast<const unsigned char*>(program.data());
    const std::size_t header = program.size() > 0x40 ? base::Get32(bytes + 0x3C) : 0;
    if (header > 0 && header + 24 + 2 <= program.size()) {
        const std::uint16_t magic = base::Get16(bytes + header + 24);
        const std::size_t entry = header + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
        if ((magic == 0x10B || magic == 0x20B) && entry + 8 <= program.size())
            std::fill(program.begin() + static_cast<std::ptrdiff_t>(entry),
                      program.begin() + static_cast<std::ptrdiff_t>(entry + 8), '\0');
    }
    const ScopedLocalMemory security = ProtectedFileSecurity(true);
    return ReplaceFileWhole(uninstallerPath, program, security.Get());
}

namespace {

// Passes on what goes wrong, not the progress lines: an upgrade's removals need no line of
// their own.
class ProblemsOnly final : public IInstallView {
public:
    explicit ProblemsOnly(IInstallView& view) : view_(view) {}
    void AddMessage(std::string text, MessageColor color) override {
        if (color != kColorProgress)
            view_.AddMessage(std::move(text), color);
    }
    void LogDetail(std::string text) override { view_.LogDetail(std::move(text)); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void EnableClose() override {}

private:
    IInstallView& view_;
};

// The shortcuts of components the new suite no longer has, where they still lead into the
// install folder (RemoveRecordedSuite's rules).
void RemoveDroppedShortcuts(const std::string& installFolder, const record::InstallRecord& dropped,
                            IInstallView& view) {
    if (dropped.shortcuts.empty())
        return;
    ProblemsOnly problems(view);
    RemoveRecordedSuite(installFolder, dropped, problems);
}

// The suite's entry in Apps & Features, from what the record holds.
void RegisterProduct(const RecordRequest& request, const record::InstallRecord& installed,
                     IInstallView& view) {
    const std::string& folder = request.installFolder;
    const std::string uninstaller = folder + "\\" + suite::kUninstallerName;
    std::uint64_t bytes = static_cast<std::uint64_t>(request.programLength);
    for (const record::File& file : installed.files)
        bytes += file.size;
    SYSTEMTIME today{};
    ::GetLocalTime(&today);
    ProductEntry entry{.displayVersion = texts::DisplayVersion(request.label),
                       .publisher = request.publisher,
                       .installLocation = folder,
                       .displayIcon = uninstaller,
                       .installDate = texts::InstallDateText(today.wYear, today.wMonth, today.wDay),
                       .estimatedSizeKiB = texts::EstimatedSizeKiB(bytes),
                       .uninstallString = texts::UninstallCommand(uninstaller),
                       .quietUninstallString = texts::QuietUninstallCommand(uninstaller)};
    // The main program's icon, when the suite has it.
    for (const ComponentEntry& component : request.components)
        if (component.found && component.displayName == "Torvane")
            entry.displayIcon = folder + "\\" + component.executable;
    DWORD error = ERROR_SUCCESS;
    if (!WriteProductEntry(entry, error))
        view.AddMessage(texts::CannotRegisterLine(error), kColorWarning);
}

// The component a shortcut file belongs to, by its name ("...\Torvane.lnk"); none for another.
const ComponentEntry* ComponentOfShortcut(const ComponentTable& components,
                                          const std::string& link) {
    const std::size_t slash = link.find_last_of('\\');
    const std::string name = link.substr(slash == std::string::npos ? 0 : slash + 1);
    for (const ComponentEntry& component : components)
        if (record::SamePath(name, component.displayName + ".lnk"))
            return &component;
    return nullptr;
}

bool Listed(const std::vector<std::string>& paths, const std::string& path) {
    for (const std::string& listed : paths)
        if (record::SamePath(listed, path))
            return true;
    return false;
}

} // namespace

InstallRecorded RecordInstall(const RecordRequest& request, IInstallView& view) {
    const std::string& folder = request.installFolder;
    // sfx.exe leaves the files and folders it moved into place; another vendor's stub, nothing.
    record::InstallRecord installed = ReadInstallRecord(folder).value_or(record::InstallRecord{});
    installed.label = request.label;
    installed.newFolders.clear();

    // The shortcuts of this run, and those an earlier install wrote for a component the suite
    // still has and that are still there; those of components it no longer has go.
    std::vector<std::string> earlier = installed.shortcuts;
    if (request.previous)
        for (const std::string& link : request.previous->shortcuts)
            if (!Listed(earlier, link))
                earlier.push_back(link);
    installed.shortcuts = request.shortcutsWritten;
    record::InstallRecord dropped;
    for (const std::string& link : earlier) {
        if (Listed(installed.shortcuts, link))
            continue;
        const ComponentEntry* component = ComponentOfShortcut(request.components, link);
        if (component && component->found)
            installed.shortcuts.push_back(link);
        else
            dropped.shortcuts.push_back(link);
    }
    RemoveDroppedShortcuts(folder, dropped, view);

    installed.madeFolders =
        request.previous ? request.previous->madeFolders : std::vector<std::string>{};
    for (const std::string& made : request.foldersMade)
        if (!Listed(installed.madeFolders, made))
            installed.madeFolders.push_back(made);

    // Both leave the error of what failed.
    if (!WriteInstallRecord(folder, installed))
        ReportFailedCall(view, kColorWarning, static_cast<long>(::GetLastError()),
                         texts::CannotRecordLine(folder + "\\" + record::kRecordName));
    const std::string uninstaller = folder + "\\" + suite::kUninstallerName;
    if (!WriteUninstaller(request.imagePath, request.programLength, uninstaller))
        ReportFailedCall(view, kColorWarning, static_cast<long>(::GetLastError()),
                         texts::CannotRecordLine(uninstaller));
    RegisterProduct(request, installed, view);
    return {};
}

bool FinishInterruptedInstall(const std::string& installFolder, IInstallView& view,
                              setup::ExitCode& failure) {
    const journal::Recovery recovery = journal::FinishInterruptedRun(base::Wide(installFolder));
    if (recovery.finished) {
        if (recovery.found != journal::Interrupted::None)
            view.AddMessage(texts::InterruptedRunFinishedLine(installFolder), kColorWarning);
        return true;
    }
    const DWORD error = recovery.trouble.error;
    view.AddMessage(
        texts::InterruptedRunLeftLine(installFolder + "\\" + recovery.trouble.path, error),
        kColorError);
    failure = recovery.trouble.link ? setup::kExitPlantedObject
              : error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                      error == ERROR_ACCESS_DENIED
                  ? setup::kExitInUse
                  : setup::kExitCopy;
    return false;
}
