// The setup program's application object: it runs the setup dialog, and the process ends with it.
#pragma once

#include "framework/WinApp.h"

class CSetupApp : public CWinApp {
public:
    CSetupApp() = default;
    ~CSetupApp() override = default;
    BOOL InitInstance() override;
};
