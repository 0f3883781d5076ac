// The work of states 50 and 55: shell shortcuts for every component found, on the desktop (when
// asked for) and in the suite's folder of the Start menu's Programs.
#include "install/Shortcuts.h"

#include "install/StateWork.h"

#include "install/InstallTexts.h"
#include "win32/NoFollowWin32.h"
#include "win32/WideText.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace {

constexpr char kDescription[] = "Farrow Desktop Shortcut";

} // namespace

bool GetSpecialFolderPath(std::wstring& path, int folder, HRESULT* why) {
    path.clear();
    ScopedPidl list;
    const HRESULT located = ::SHGetSpecialFolderLocation(nullptr, folder, list.Receive());
    // S_FALSE too is no folder; the path of a list names no cause of its own.
    const auto fail = [why](HRESULT cause) {
        if (why)
            *why = FAILED(cause) ? cause : E_FAIL;
        return false;
    };
    if (located != S_OK)
        return fail(located);
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(list.Get(), buffer) || buffer[0] == L'\0')
        return fail(E_FAIL);
    path = buffer;
    return true;
}

HRESULT CreateShortcut(const std::string& target, const std::wstring& linkFile,
                       const std::string& workingDirectory, const std::string& description) {
    ComPtr<IShellLinkW> link;
    HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellLinkW, link.ReceiveVoid());
    if (FAILED(result))
        return result;
    result = link->SetPath(base::Wide(target).c_str());
    if (FAILED(result))
        return result;
    result = link->SetDescription(base::Wide(description).c_str());
    if (FAILED(result))
        return result;
    result = link->SetWorkingDirectory(base::Wide(workingDirectory).c_str());
    if (FAILED(result))
        return result;

    ComPtr<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
    if (FAILED(result))
        return result;
    return file->Save(linkFile.c_str(), TRUE);
}

namespace {

// A shortcut that cannot be written, or that is not written since its folder is a link, is a
// warning line; the run goes on.
bool CreateComponentShortcut(const std::string& target, const std::wstring& linkFile,
                             const std::string& workingDir, bool folderIsLink,
                             IInstallView& report) {
    const std::string line = texts::CannotCreateShortcutLine(base::Utf8(linkFile));
    if (folderIsLink) {
        report.AddMessage(line, kColorWarning);
        return false;
    }
    const HRESULT result = CreateShortcut(target, linkFile, workingDir, kDescription);
    if (SUCCEEDED(result))
        return true;
    ReportFailedCall(report, kColorWarning, result, line);
    return false;
}

} // namespace

ShortcutsWritten WriteShortcuts(int folder, const char* subfolder, const char* notFound,
                                const std::string& installFolder, const ComponentTable& components,
                                IInstallView& report) {
    // The worker thread needs COM of its own.
    ScopedCoInitialize com;
    ShortcutsWritten written;
    std::wstring linkFolder;
    if (HRESULT why = S_OK; !GetSpecialFolderPath(linkFolder, folder, &why)) {
        ReportFailedCall(report, kColorWarning, why, notFound);
        return written;
    }
    // A group folder that exists as a link is not written into: its shortcuts fail, each with
    // its warning. It is held while they are written, so that none goes elsewhere.
    ScopedFileHandle group;
    bool folderIsLink = false;
    if (*subfolder != '\0') {
        linkFolder += L"\\" + base::Wide(subfolder);
        ::CreateDirectoryW(linkFolder.c_str(), nullptr);
        folderIsLink = nofollow::HoldFolder(linkFolder.c_str(), group) == nofollow::Folder::Link;
    }
    for (const ComponentEntry& component : components) {
        if (!component.found)
            continue;
        const std::wstring link = linkFolder + L"\\" + base::Wide(component.displayName) + L".lnk";
        if (CreateComponentShortcut(installFolder + "\\" + component.executable, link,
                                    installFolder + "\\" + component.workingSubfolder, folderIsLink,
                                    report))
            written.links.push_back(base::Utf8(link));
    }
    return written;
}
