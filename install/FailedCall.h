// A failed Windows call as the run reports it: the system's text for its code, and the line and
// log detail that texts::FailedCall makes of them.
#pragma once

#include "install/InstallTexts.h"
#include "install/InstallView.h"

#include <string>

// `codeOrHresult` is a Windows error (GetLastError) or an HRESULT; an HRESULT of FACILITY_WIN32
// stands for its Windows error. `fixedLine` is the caller's own line, as for texts::FailedCall.
texts::FailedCallText DescribeFailedCall(long codeOrHresult, const std::string& fixedLine = {});
// The line to `report` in `color`, then, for the log alone, the code when the line drops it.
void ReportFailedCall(IInstallView& report, MessageColor color, long codeOrHresult,
                      const std::string& fixedLine = {});
