#include "app/SilentInstall.h"

#include "install/InstallEngine.h"
#include "install/InstallTexts.h"
#include "install/RunStart.h"
#include "win32/Handles.h"

namespace {

// What the engine reports goes to the log; there is no bar and no button.
class SilentView final : public IInstallView {
public:
    explicit SilentView(RunLog& log) : log_(log) {}
    void AddMessage(std::string text, MessageColor color) override { log_.Write(text, color); }
    void LogDetail(std::string text) override { log_.WriteDetail(text); }
    void SetProgressRange(int) override {}
    void SetProgressPos(int) override {}
    void EnableClose() override {}

private:
    RunLog& log_;
};

} // namespace

setup::ExitCode RunSilentInstall(const setup::CommandLine& options, bool commonShortcutFolders,
                                 RunLog& log) {
    const RunChoices choices = ChoicesOf(options);
    return RunWithoutWindow(MakeInstallSettings(OwnModulePath(), choices.installFolder,
                                                choices.createDesktopIcons, commonShortcutFolders,
                                                options.allowDowngrade),
                            log);
}

setup::ExitCode RunWithoutWindow(const InstallSettings& settings, RunLog& log) {
    // As the dialog does: COM on this thread for the whole run, the process at high priority.
    const PreparedRun prepared;

    SilentView view(log);
    InstallEngine engine(view);
    if (!StartRun(engine, view, settings)) {
        log.Write(texts::kAnotherRun, kColorError);
        return engine.exitCode;
    }
    // The dialog's pace: a tick every 100 ms, and the worker's outcome taken as soon as its work
    // is done, as the dialog takes it when the worker's message comes.
    while (engine.InstallState != STATE_DONE || engine.busy != 0) {
        const ULONGLONG tickStart = ::GetTickCount64();
        engine.Tick();
        const auto left = [tickStart] {
            const ULONGLONG spent = ::GetTickCount64() - tickStart;
            return spent < kTickMilliseconds ? static_cast<DWORD>(kTickMilliseconds - spent) : 0;
        };
        if (engine.busy != 0 && engine.WaitForWorker(left()))
            engine.Collect();
        ::Sleep(left());
    }
    return engine.exitCode;
}
