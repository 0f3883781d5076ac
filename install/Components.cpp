// STATE_DETECT: a component counts as installed when its flag file is in the install folder.
#include "install/InstallEngine.h"

#include "install/InstallTexts.h"

#include <vector>

namespace {

struct ComponentConstants {
    const char* flagFile;
    const char* displayName;
    const char* executable;
};

// The main component, Torvane, stands in row 1.
constexpr ComponentConstants kComponents[InstallEngine::kComponentCount] = {
    {"pellisar.flg", "Pellisar", "Pellisar.exe"},
    {"torvane.flg", "Torvane", "Torvane.exe"},
    {"dromlet.flg", "Dromlet", "Dromlet.exe"},
};

} // namespace

std::vector<std::string> ComponentFlagPaths(const std::string& installFolder) {
    std::vector<std::string> paths;
    for (const ComponentConstants& component : kComponents)
        paths.push_back(installFolder + "\\" + component.flagFile);
    return paths;
}

void InstallEngine::DetectComponents() {
    InstallState = STATE_DESKTOP_LINKS;
    for (int row = 0; row < kComponentCount; ++row) {
        components[row].flagFile = kComponents[row].flagFile;
        components[row].displayName = kComponents[row].displayName;
        components[row].executable = kComponents[row].executable;
        components[row].workingSubfolder.clear();
    }
    const std::vector<std::string> flagPaths = ComponentFlagPaths(installFolder);
    // The flags are looked for and deleted off the dialog's thread.
    RunOnWorker(
        [flagPaths](IInstallView& report, WorkerOutcome& outcome) {
            for (std::size_t row = 0; row < flagPaths.size(); ++row) {
                outcome.componentsFound[row] = DeleteFileIfExists(flagPaths[row], report);
            }
        },
        [this](WorkerOutcome& outcome) { CountComponents(outcome.componentsFound); });
}

void InstallEngine::CountComponents(const std::array<bool, kComponentCount>& found) {
    componentCount = 0;
    std::vector<std::string> foundNames;
    for (int row = 0; row < kComponentCount; ++row) {
        if (!found[row])
            continue;
        foundNames.push_back(components[row].displayName);
        components[row].found = 1;
        ++componentCount;
    }
    view.AddMessage(texts::ComponentSummaryLine(foundNames), kColorSummary);
}
