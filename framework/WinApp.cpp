#include "framework/WinApp.h"

CWinApp* CWinApp::current_ = nullptr;

CWinApp::CWinApp() {
    current_ = this;
}

CWinApp::~CWinApp() {
    if (current_ == this)
        current_ = nullptr;
}
