// What the install engine reports to: the setup dialog, or a recorder in tests.
#pragma once

#include "install/MessageColor.h"

#include <string>

class IInstallView {
public:
    // Appends one coloured line to the message list.
    virtual void AddMessage(std::string text, MessageColor color) = 0;
    // What only the run's log adds after the line before, e.g. the code of a failed call whose
    // line does not show it; a view without a log has nowhere to put it.
    virtual void LogDetail(std::string text) { (void)text; }
    // The progress bar: range 0..maximum (16 bits), then positions within it.
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPos(int position) = 0;
    // The run has ended: the Close button is usable again.
    virtual void EnableClose() = 0;
    // A program holds a file of the suite: whether to run the archive again (Retry) once the
    // user has closed it. Nobody is asked without a window.
    virtual bool AskToRetry(const std::string& question) {
        (void)question;
        return false;
    }

protected:
    ~IInstallView() = default;
};
