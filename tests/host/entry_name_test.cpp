// Which entry names may be unpacked: only relative paths that stay inside the folder and name
// ordinary files on Windows.
#include "payload/EntryName.h"
#include "payload/sfx/NoFollow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(EntryName, UnsafeNamesAreRefusedWithAReason) {
    struct Case {
        const char* name;
        const char* reason;
    };
    for (Case c : {
             Case{"", "empty"},
             Case{"/etc/passwd", "absolute"},
             Case{"\\Windows\\evil.dll", "absolute"},
             Case{"\\\\server\\share\\evil.exe", "UNC"},
             Case{"//server/share/evil.exe", "UNC"},
             Case{"\\\\.\\PhysicalDrive0", "device"},
             Case{"\\\\?\\C:\\evil.exe", "device"},
             Case{"\\\\.\\C:\\evil.txt", "device"},
             Case{"C:\\evil.exe", "drive letter"},
             Case{"C:evil.exe", "drive letter"},
             Case{"C:/evil.txt", "drive letter"},
             Case{"readme.txt:hidden", "stream"},
             Case{"docs/readme.txt::$DATA", "stream"},
             Case{"../evil.exe", "'..'"},
             Case{"..\\evil.exe", "'..'"},
             Case{"docs/../../evil.exe", "'..'"},
             Case{"docs/..", "'..'"},
             Case{"docs\\..\\..\\evil.txt", "'..'"},
             Case{"./evil.exe", "'.'"},
             Case{"docs/./evil.txt", "'.'"},
             Case{"docs//evil.exe", "empty path segment"},
             Case{".../evil.exe", "dot or blank"},
             Case{".. /evil.exe", "dot or blank"},
             Case{"docs/readme.txt.", "dot or blank"},
             Case{"docs/readme.txt ", "dot or blank"},
             Case{"docs./evil.txt", "dot or blank"},
             Case{"docs /evil.txt", "dot or blank"},
             Case{"CON", "device name"},
             Case{"nul", "device name"},
             Case{"NUL.txt", "device name"},
             Case{"docs/aux.inf", "device name"},
             Case{"Drivers/COM1/a.sys", "device name"},
             Case{"lpt9.log", "device name"},
             Case{"com\xB9.txt", "device name"},
             Case{"CONIN$", "device name"},
             Case{"CONOUT$", "device name"},
             Case{"CLOCK$", "device name"},
             Case{"PRN.log", "device name"},
             Case{"COM1", "device name"},
             Case{"con .txt", "device name"},
             Case{"a\tb.txt", "character"},
             Case{"evil\x01.txt", "character"},
             Case{"evil>.txt", "character"},
             Case{"what?.txt", "character"},
             Case{"a*b", "character"},
             Case{"a|b", "character"},
             Case{"\"quoted\"", "character"},
             Case{"<tag>", "character"},
         }) {
        SCOPED_TRACE(c.name);
        const std::string reason = zip::UnsafeNameReason(c.name);
        EXPECT_FALSE(zip::IsSafeEntryName(c.name));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
    EXPECT_FALSE(zip::IsSafeEntryName(std::string("a\0b", 3)));
    EXPECT_TRUE(zip::IsSafeEntryName(std::string(1024, 'a')));
    EXPECT_FALSE(zip::IsSafeEntryName(std::string(1025, 'a')));
}

TEST(EntryName, OrdinaryNamesAreSafe) {
    for (const char* name :
         {"Torvane.exe", "ZZZ/comp.flg", "Drivers/net/torvnet.inf", "Drivers/",
          "Drivers\\usb\\x.sys", "docs/", ".hidden", "a..b.txt", "..notes", "CONSOLE.txt",
          "COM10.txt", "NULL", "auxiliary/x", "lpt.txt", "com1x.txt", "My Documents/read me.txt",
          "caf\xE9.txt", " leading blank.txt"}) {
        EXPECT_TRUE(zip::IsSafeEntryName(name)) << name << ": " << zip::UnsafeNameReason(name);
    }
}

TEST(EntryName, FolderEntriesAndWindowsPaths) {
    EXPECT_TRUE(zip::IsFolderName("Drivers/"));
    EXPECT_TRUE(zip::IsFolderName("Drivers\\"));
    EXPECT_FALSE(zip::IsFolderName("Drivers/a.inf"));
    EXPECT_FALSE(zip::IsFolderName(""));
    EXPECT_EQ(zip::WindowsRelativePath("Drivers/net/a.inf"), "Drivers\\net\\a.inf");
    EXPECT_EQ(zip::WindowsRelativePath("ZZZ/"), "ZZZ\\");
}

struct Named {
    std::string name;
};

TEST(EntryName, CompletionFlagMayStandAnywhereButOnlyOnce) {
    using Entries = std::vector<Named>;
    const std::size_t twice = zip::kCompletionFlagTwice;
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"a.txt"}, {"ZZZ/comp.flg"}}), 1u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"a.txt"}, {"zzz\\COMP.FLG"}}), 1u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"a.txt"}}), 1u); // --no-completion-flag
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{}), 0u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"ZZZ/comp.flg.bak"}, {"x"}}), 2u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"ZZZ/comp.flg/"}, {"ZZZ/comp.fl"}}), 2u);
    // 7-Zip sorts capitals first: the flag comes before the lower-case flag files.
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"Zzz/Comp.Flg"}, {"big.bin"}}), 0u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"ZZZ/"}, {"ZZZ/comp.flg"}, {"torvane.flg"}}), 1u);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"ZZZ/comp.flg"}, {"ZZZ/comp.flg"}}), twice);
    EXPECT_EQ(zip::CompletionFlagIndex(Entries{{"ZZZ/comp.flg"}, {"x"}, {"zzz\\Comp.flg"}}), twice);
    EXPECT_EQ(zip::CompletionFlagIndex(
                  Entries{{"first.txt"}, {"ZZZ/comp.flg"}, {"docs/a.txt"}, {"zzz\\COMP.FLG"}}),
              twice);
}

// The folders on the way to an entry are entered only when they are real folders: Windows shows
// a junction through both queries, Wine shows a Unix symbolic link through the name only.
TEST(NoFollow, AFolderIsEnteredOnlyWhenNeitherQueryShowsALink) {
    using nofollow::Folder;
    constexpr std::uint32_t kFolder = 0x10, kLink = 0x410, kFile = 0x20, kNone = 0xFFFFFFFF;
    struct Case {
        std::uint32_t byName, byHandle;
        Folder verdict;
    };
    for (Case c : {Case{kFolder, kFolder, Folder::Enter},
                   Case{0x30, 0x11, Folder::Enter},    // archive bit, read-only
                   Case{kLink, kLink, Folder::Link},   // a junction on Windows
                   Case{kLink, kFolder, Folder::Link}, // a Unix symbolic link under Wine
                   Case{kFolder, kLink, Folder::Link}, // made a link between the two queries
                   Case{kLink, kNone, Folder::Link},   // a link the handle could not open
                   Case{0x420, kFile, Folder::Link},   // a link to a file
                   Case{kFile, kFile, Folder::NotFolder},
                   Case{kFolder, kFile, Folder::NotFolder}, // replaced between the two queries
                   Case{kNone, kFolder, Folder::NotFolder}, Case{kNone, kNone, Folder::NotFolder}})
        EXPECT_EQ(nofollow::JudgeFolder(c.byName, c.byHandle), c.verdict)
            << std::hex << c.byName << " " << c.byHandle;
}

TEST(NoFollow, TheFoldersOnTheWayAreEnteredOutermostFirstAndKeptWhileShared) {
    using Folders = std::vector<std::string>;
    EXPECT_EQ(nofollow::FoldersOnTheWay("Torvane.exe"), Folders{});
    EXPECT_EQ(nofollow::FoldersOnTheWay("Drivers\\x86\\torv32.sys"),
              (Folders{"Drivers", "Drivers\\x86"}));
    EXPECT_EQ(nofollow::FoldersOnTheWay("Drivers\\x86\\"), (Folders{"Drivers", "Drivers\\x86"}));
    EXPECT_EQ(nofollow::FoldersOnTheWay("ZZZ\\comp.flg"), Folders{"ZZZ"});

    const Folders held = {"Drivers", "Drivers\\x86"};
    EXPECT_EQ(nofollow::FoldersKept(held, {"Drivers", "Drivers\\x86"}), 2u);
    EXPECT_EQ(nofollow::FoldersKept(held, {"Drivers", "Drivers\\x64"}), 1u);
    EXPECT_EQ(nofollow::FoldersKept(held, {"Drivers"}), 1u);
    EXPECT_EQ(nofollow::FoldersKept(held, {}), 0u);
    EXPECT_EQ(nofollow::FoldersKept(held, {"ZZZ"}), 0u);
    // Another spelling of a held folder is entered, and judged, anew.
    EXPECT_EQ(nofollow::FoldersKept(held, {"DRIVERS", "DRIVERS\\x86"}), 0u);
    EXPECT_EQ(nofollow::FoldersKept({}, {"Drivers"}), 0u);
}

} // namespace
