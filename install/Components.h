// The suite's components as the install engine keeps them: a row each, in the contract's order
// (payload/SuiteContract.h), with whether this run found it.
#pragma once

#include "payload/SuiteContract.h"

#include <array>
#include <string>
#include <vector>

inline constexpr int kComponentCount = static_cast<int>(suite::kComponents.size());

// One component of the suite: how it is detected, named and started.
struct ComponentEntry {
    std::string flagFile;
    std::string displayName;
    std::string executable;
    std::string workingSubfolder;
    int found = 0;
};
using ComponentTable = std::array<ComponentEntry, kComponentCount>;

// The suite's components in their rows (the main component, Torvane, in row 1), none found yet.
ComponentTable SuiteComponents();
// The component flag files in the install folder, in the rows' order.
std::vector<std::string> ComponentFlagPaths(const std::string& installFolder);
