// Which folder texts name an install folder, and the folders state 10 makes.
#include "install/PathRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PathRules, InstallFolderLosesExactlyOneTrailingBackslash) {
    EXPECT_EQ(paths::TrimInstallFolder("C:\\Program Files\\Torvane\\"),
              "C:\\Program Files\\Torvane");
    EXPECT_EQ(paths::TrimInstallFolder("C:\\Torvane\\\\"), "C:\\Torvane\\");
    EXPECT_EQ(paths::TrimInstallFolder("C:\\Torvane"), "C:\\Torvane");
    EXPECT_EQ(paths::TrimInstallFolder(""), "");
    EXPECT_EQ(paths::TrimInstallFolder(" C:\\T "), " C:\\T ");
}

TEST(PathRules, OnlyAbsoluteFoldersAreInstallFolders) {
    for (const char* folder : {"C:\\Program Files\\Torvane", "d:\\T", "C:/Torvane", "C:\\a<b|c",
                               "\\\\server\\share\\Torvane", "C:\\Torvane\\", "C:\\.hidden\\T",
                               "C:\\Program Files\\Torvane 2.0\\x"})
        EXPECT_TRUE(paths::IsAbsoluteFolder(folder)) << folder;
    for (const char* folder :
         {"", "Torvane", "C:", "C:Torvane", "\\Torvane", "C:\\", "C:\\\\", "1:\\T", "\\\\",
          "\\\\.\\C:\\T", "\\\\?\\C:\\T", " C:\\T", "C:\\Torvane ", "C:\\.", "C:\\.\\.",
          "C:\\Windows\\..", "C:\\a\\..\\b", "C:\\Torvane.", "\\\\server\\..\\x"})
        EXPECT_FALSE(paths::IsAbsoluteFolder(folder)) << folder;
}

// The folders state 10 makes when the parents of the install folder are missing.
TEST(PathRules, AFolderIsMadeFromItsOutermostMissingParentIn) {
    using Chain = std::vector<std::string>;
    EXPECT_EQ(paths::FolderChain("C:\\Program Files\\Acme Tools\\Torvane"),
              (Chain{"C:\\Program Files", "C:\\Program Files\\Acme Tools",
                     "C:\\Program Files\\Acme Tools\\Torvane"}));
    EXPECT_EQ(paths::FolderChain("d:/T"), Chain{"d:/T"});
    EXPECT_EQ(paths::FolderChain("\\\\server\\share\\A\\B"),
              (Chain{"\\\\server\\share\\A", "\\\\server\\share\\A\\B"}));
    EXPECT_EQ(paths::FolderChain("\\\\server\\share"), Chain{});
    EXPECT_EQ(paths::FolderChain("C:\\"), Chain{});
}

} // namespace
