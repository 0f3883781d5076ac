// State 45's work: a component counts as installed when its flag file is in the install folder.
#include "install/Components.h"

#include "install/StateWork.h"

ComponentTable SuiteComponents() {
    ComponentTable table;
    for (int row = 0; row < kComponentCount; ++row) {
        table[row].flagFile = suite::kComponents[row].flagFile;
        table[row].displayName = suite::kComponents[row].displayName;
        table[row].executable = suite::kComponents[row].executable;
    }
    return table;
}

std::vector<std::string> ComponentFlagPaths(const std::string& installFolder) {
    std::vector<std::string> paths;
    for (const suite::Component& component : suite::kComponents)
        paths.push_back(installFolder + "\\" + component.flagFile);
    return paths;
}

FlagsFound FindComponentFlags(const std::string& installFolder, IInstallView& report) {
    FlagsFound flags;
    const std::vector<std::string> paths = ComponentFlagPaths(installFolder);
    for (int row = 0; row < kComponentCount; ++row)
        flags.found[row] = DeleteFileIfExists(paths[row], report);
    return flags;
}
