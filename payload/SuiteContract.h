// What the setup, sfx.exe and pack agree on about the suite: its components and their flag files,
// the completion flag, the names the setup and the archive keep in the install folder, and the
// defaults of a run.
#pragma once

#include <array>
#include <string_view>

namespace suite {

inline constexpr char kProductName[] = "Torvane Software Suite";

// One component: the flag file in the folder's root that says it arrived, the name the log and
// the shortcut give it, and its program in the folder's root.
struct Component {
    const char* flagFile;
    const char* displayName;
    const char* executable;
};
// In the order of the rows of the setup's component table (the main component, Torvane, in
// row 1).
inline constexpr std::array<Component, 3> kComponents = {{
    {"pellisar.flg", "Pellisar", "Pellisar.exe"},
    {"torvane.flg", "Torvane", "Torvane.exe"},
    {"dromlet.flg", "Dromlet", "Dromlet.exe"},
}};

// The archive's last entry, as it is packed, and where the setup looks for it.
inline constexpr char kCompletionFlagEntry[] = "ZZZ/comp.flg";
inline constexpr char kCompletionFlagContent[] = "done";
inline constexpr char kFlagFolder[] = "ZZZ";
inline constexpr char kCompletionFlag[] = "ZZZ\\COMP.FLG";

// The payload's copy in the install folder, "<folder>\FARROWPK.EXE".
inline constexpr char kArchiveBaseName[] = "FARROWPK";
// The uninstaller the setup leaves in the install folder.
inline constexpr char kUninstallerName[] = "uninstall.exe";

inline constexpr char kDefaultInstallFolder[] = "C:\\Program Files\\Torvane";
// The suite's folder in the Start menu's Programs.
inline constexpr char kMenuGroupFolder[] = "Torvane Software Suite";

// Whether a name in the folder's root is a component's flag file (Windows ignores case).
constexpr bool IsComponentFlag(std::string_view name) {
    for (const Component& component : kComponents) {
        const std::string_view flag = component.flagFile;
        if (flag.size() != name.size())
            continue;
        bool same = true;
        for (std::size_t at = 0; at < flag.size() && same; ++at) {
            const char c =
                name[at] >= 'A' && name[at] <= 'Z' ? char(name[at] - 'A' + 'a') : name[at];
            same = c == flag[at];
        }
        if (same)
            return true;
    }
    return false;
}

} // namespace suite
