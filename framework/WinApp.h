// The application base: one global object per program, whose InitInstance runs from WinMain.
#pragma once

#include <windows.h>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The one application object of the process, or null before it is constructed.
    static CWinApp* Current() { return current_; }

    // Returns whether the program should go on into a message loop of its own.
    virtual BOOL InitInstance() { return FALSE; }

    CWnd* m_pMainWnd = nullptr;

private:
    static CWinApp* current_;
};
