// STATE_DESKTOP_LINKS and STATE_MENU_LINKS: shell shortcuts for every component found, on the
// desktop (when asked for) and in the suite's folder of the Start menu's Programs.
#include "install/InstallEngine.h"

#include "install/InstallTexts.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace {

constexpr char kGroupFolder[] = "\\Torvane Software Suite";
constexpr char kDescription[] = "Farrow Desktop Shortcut";

} // namespace

bool GetSpecialFolderPath(std::string& path, int folder) {
    path.clear();
    ScopedPidl list;
    if (::SHGetSpecialFolderLocation(nullptr, folder, list.Receive()) != S_OK)
        return false;
    char buffer[1024] = {};
    if (!::SHGetPathFromIDListA(list.Get(), buffer) || buffer[0] == '\0')
        return false;
    path = buffer;
    return true;
}

HRESULT CreateShortcut(const std::string& target, const std::string& linkFile,
                       const std::string& workingDirectory, const std::string& description) {
    ComPtr<IShellLinkA> link;
    HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IShellLinkA, link.ReceiveVoid());
    if (FAILED(result))
        return result;
    link->SetPath(target.c_str());
    link->SetDescription(description.c_str());
    link->SetWorkingDirectory(workingDirectory.c_str());

    ComPtr<IPersistFile> file;
    result = link->QueryInterface(IID_IPersistFile, file.ReceiveVoid());
    if (FAILED(result))
        return result;

    // Sized for the whole path and its terminator, so no path is cut.
    const int units = ::MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, nullptr, 0);
    if (units <= 0)
        return HRESULT_FROM_WIN32(::GetLastError());
    std::wstring widePath(static_cast<size_t>(units), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, linkFile.c_str(), -1, widePath.data(), units) != units)
        return HRESULT_FROM_WIN32(::GetLastError());
    return file->Save(widePath.c_str(), TRUE);
}

void InstallEngine::CreateComponentShortcut(std::string target, std::string linkFile,
                                            std::string workingDir) {
    CreateShortcut(target, linkFile, workingDir, kDescription);
}

void InstallEngine::CreateShortcutsIn(const std::string& linkFolder) {
    for (const ComponentEntry& component : components) {
        if (!component.found)
            continue;
        CreateComponentShortcut(installFolder + "\\" + component.executable,
                                linkFolder + "\\" + component.displayName + ".lnk",
                                installFolder + "\\" + component.workingSubfolder);
    }
}

void InstallEngine::CreateDesktopShortcuts() {
    InstallState = STATE_MENU_LINKS;
    if (componentCount == 0 || createDesktopIcons == 0)
        return;
    view.AddMessage(texts::kCreatingDesktopLinks, kColorProgress);
    std::string desktop;
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
    std::string programs;
    if (!GetSpecialFolderPath(programs, CSIDL_PROGRAMS)) {
        view.AddMessage(texts::kMenuNotFound, kColorWarning);
        return;
    }
    const std::string group = programs + kGroupFolder;
    ::CreateDirectoryA(group.c_str(), nullptr);
    CreateShortcutsIn(group);
}
