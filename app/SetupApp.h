// The setup program's application object: it reads the command line and runs the setup dialog,
// or with /S the install with no window; the process ends with it.
#pragma once

#include "framework/WinApp.h"

class CSetupApp : public CWinApp {
public:
    CSetupApp() = default;
    ~CSetupApp() override = default;
    BOOL InitInstance() override;

    // What the process exits with: 0 for the dialog, whatever happened; a silent run's
    // setup::ExitCode; the usage code for a command line that is not understood.
    int exitCode = 0;
};
