#include "app/SetupApp.h"

#include "ui/SetupDlg.h"

#include <commctrl.h>

CSetupApp theApp;

BOOL CSetupApp::InitInstance() {
    // The progress bar's window class lives in the common controls.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    CSetupDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the process ends once the dialog is gone.
    return FALSE;
}

namespace {

// A DLL planted beside a downloaded installer must never be loaded: system folder only. The call
// exists from Windows 8 on (and on Windows 7 with its security update); elsewhere it is skipped.
void LoadLibrariesFromSystemFolderOnly() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadLibrariesFromSystemFolderOnly();
    CWinApp* app = CWinApp::Current();
    if (app)
        app->InitInstance();
    return 0;
}
