// STATE_DESKTOP_LINKS and STATE_MENU_LINKS: shell shortcuts for every component found, on the
// desktop (when asked for) and in the suite's folder of the Start menu's Programs.
#include "install/InstallEngine.h"

#include "install/AnsiText.h"
#include "install/InstallTexts.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace {

constexpr wchar_t kGroupFolder[] = L"\\Torvane Software Suite";
constexpr char kDescription[] = "Farrow Desktop Shortcut";

} // namespace

bool GetSpecialFolderPath(std::wstring& path, int folder) {
    path.clear();
    ScopedPidl list;
    if (::SHGetSpecialFolderLocation(nullptr, folder, list.Receive()) != S_OK)
        return false;
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(list.Get(), buffer) || buffer[0] == L'\0')
        return false;
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
    result = link->SetPath(WidenAnsi(target).c_str());
    if (FAILED(result))
        return result;
    result = link->SetDescription(WidenAnsi(description).c_str());
    if (FAILED(result))
        return result;
    result = link->SetWorkingDirectory(WidenAnsi(workingDirectory).c_str());
    if (FAILED(result))
        return result;

    ComPtr<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
    if (FAILED(result))
        return result;
    return file->Save(linkFile.c_str(), TRUE);
}

void InstallEngine::CreateComponentShortcut(std::string target, std::wstring linkFile,
                                            std::string workingDir) {
    if (FAILED(CreateShortcut(target, linkFile, workingDir, kDescription)))
        view.AddMessage(texts::CannotCreateShortcutLine(NarrowToAnsi(linkFile).text),
                        kColorWarning);
}

void InstallEngine::CreateShortcutsIn(const std::wstring& linkFolder) {
    for (const ComponentEntry& component : components) {
        if (!component.found)
            continue;
        CreateComponentShortcut(installFolder + "\\" + component.executable,
                                linkFolder + L"\\" + WidenAnsi(component.displayName) + L".lnk",
                                installFolder + "\\" + component.workingSubfolder);
    }
}

void InstallEngine::CreateDesktopShortcuts() {
    InstallState = STATE_MENU_LINKS;
    if (componentCount == 0 || createDesktopIcons == 0)
        return;
    view.AddMessage(texts::kCreatingDesktopLinks, kColorProgress);
    std::wstring desktop;
    if (!GetSpecialFolderPath(desktop, CSIDL_DESKTOP)) {
        view.AddMessage(texts::kDesktopNotFound, kColorWarning);
        return;
    }
    CreateShortcutsIn(desktop);
}

void InstallEngine::CreateMenuShortcuts() {
    InstallState = STATE_CLEANUP;
    if (componentCount == 0)
        return;
    view.AddMessage(texts::kCreatingMenuLinks, kColorProgress);
    std::wstring programs;
    if (!GetSpecialFolderPath(programs, CSIDL_PROGRAMS)) {
        view.AddMessage(texts::kMenuNotFound, kColorWarning);
        return;
    }
    const std::wstring group = programs + kGroupFolder;
    ::CreateDirectoryW(group.c_str(), nullptr);
    CreateShortcutsIn(group);
}
