// State 45's work: a component counts as installed when its flag file is in the install folder.
#include "install/StateWork.h"

namespace {

struct ComponentConstants {
    const char* flagFile;
    const char* displayName;
    const char* executable;
};

// The main component, Torvane, stands in row 1.
constexpr ComponentConstants kComponents[kComponentCount] = {
    {"pellisar.flg", "Pellisar", "Pellisar.exe"},
    {"torvane.flg", "Torvane", "Torvane.exe"},
    {"dromlet.flg", "Dromlet", "Dromlet.exe"},
};

} // namespace

ComponentTable SuiteComponents() {
    ComponentTable table;
    for (int row = 0; row < kComponentCount; ++row) {
        table[row].flagFile = kComponents[row].flagFile;
        table[row].displayName = kComponents[row].displayName;
        table[row].executable = kComponents[row].executable;
    }
    return table;
}

std::vector<std::string> ComponentFlagPaths(const std::string& installFolder) {
    std::vector<std::string> paths;
    for (const ComponentConstants& component : kComponents)
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
