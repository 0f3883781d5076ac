#include "app/SetupApp.h"

#include "framework/SafeDllSearch.h"
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

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadLibrariesFromSystemFolderOnly();
    CWinApp* app = CWinApp::Current();
    if (app)
        app->InitInstance();
    return 0;
}
