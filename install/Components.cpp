// STATE_DETECT: a component counts as installed when its flag file is in the install folder.
#include "install/InstallEngine.h"

#include "base/BinaryFile.h"
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

void InstallEngine::DetectComponents() {
    InstallState = STATE_DESKTOP_LINKS;
    for (int row = 0; row < kComponentCount; ++row) {
        components[row].flagFile = kComponents[row].flagFile;
        components[row].displayName = kComponents[row].displayName;
        components[row].executable = kComponents[row].executable;
        components[row].workingSubfolder.clear();
    }

    componentCount = 0;
    std::vector<std::string> foundNames;
    for (ComponentEntry& component : components) {
        const std::string flagPath = installFolder + "\\" + component.flagFile;
        if (!base::BinaryFile::OpensForReading(flagPath))
            continue;
        foundNames.push_back(component.displayName);
        component.found = 1;
        DeleteIfExists(flagPath);
        ++componentCount;
    }
    view.AddMessage(texts::ComponentSummaryLine(foundNames), kColorSummary);
}
