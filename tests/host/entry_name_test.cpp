// Which entry names may be unpacked: only relative paths that stay inside the folder and name
// ordinary files on Windows.
#include "payload/EntryName.h"
#include "payload/InstallRecord.h"
#include "payload/NameEncoding.h"
#include "payload/sfx/UnpackPlan.h"
#include "win32/NoFollow.h"

#include <zlib.h>

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
             Case{"com\xC2\xB9.txt", "device name"},
             Case{"LPT\xC2\xB3", "device name"},
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
         {"Torvane.exe",
          "ZZZ/comp.flg",
          "Drivers/net/torvnet.inf",
          "Drivers/",
          "Drivers\\usb\\x.sys",
          "docs/",
          ".hidden",
          "a..b.txt",
          "..notes",
          "CONSOLE.txt",
          "COM10.txt",
          "NULL",
          "auxiliary/x",
          "lpt.txt",
          "com1x.txt",
          "My Documents/read me.txt",
          "caf\xE9.txt",
          " leading blank.txt",
          "COM\xC2\xB4.txt",
          "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B/"}) {
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

// Info-ZIP's Unicode path extra field: tag, size, version 1, CRC-32 of the stored name, UTF-8.
std::string UnicodePathField(const std::string& stored, const std::string& utf8) {
    const auto crc = static_cast<std::uint32_t>(::crc32(
        0, reinterpret_cast<const Bytef*>(stored.data()), static_cast<uInt>(stored.size())));
    const auto size = static_cast<unsigned>(5 + utf8.size());
    std::string field = {'\x75', '\x70', static_cast<char>(size), static_cast<char>(size >> 8), 1};
    for (int i = 0; i < 4; ++i)
        field += static_cast<char>(crc >> (8 * i));
    return field + utf8;
}

TEST(EntryName, NamesAreDecodedTheZipWay) {
    const std::string docs =
        "\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B"; // Документы
    // Bit 11: UTF-8 as stored, and nothing for bytes that are not UTF-8.
    EXPECT_EQ(zip::DecodeEntryName(docs + "/a.txt", 0x0800, 0, ""), docs + "/a.txt");
    for (const char* bad :
         {"caf\xE9.txt", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
        EXPECT_EQ(zip::DecodeEntryName(bad, 0x0800, 0, ""), std::nullopt) << bad;
    // No bit 11: code page 437 (0x80 C-cedilla, 0xE1 sharp s, 0xFF no-break space).
    EXPECT_EQ(zip::DecodeEntryName("\x80\xE1\xFF.txt", 0, 0, ""), "\xC3\x87\xC3\x9F\xC2\xA0.txt");
    EXPECT_EQ(zip::DecodeEntryName("plain/a.txt", 0, 0, ""), "plain/a.txt");
    // Made on Unix or macOS: UTF-8 when it is UTF-8, code page 437 when it is not.
    EXPECT_EQ(zip::DecodeEntryName(docs, 0, 3, ""), docs);
    EXPECT_EQ(zip::DecodeEntryName(docs, 0, 19, ""), docs);
    EXPECT_EQ(zip::DecodeEntryName("\x80.txt", 0, 3, ""), "\xC3\x87.txt");
    EXPECT_EQ(zip::DecodeEntryName("\xD0\x94", 0, 0, ""), "\xE2\x95\xA8\xC3\xB6"); // made on DOS
    // Info-ZIP's field wins over code page 437 while its CRC matches the stored name.
    const std::string stored = "\x84\xAE\xAA.txt";
    const std::string field =
        std::string("\x0A\x00\x00\x00", 4) + UnicodePathField(stored, docs + ".txt");
    EXPECT_EQ(zip::DecodeEntryName(stored, 0, 0, field), docs + ".txt");
    EXPECT_EQ(zip::DecodeEntryName("renamed.txt", 0, 0, field), "renamed.txt");
    EXPECT_EQ(zip::DecodeEntryName(stored, 0, 0, field.substr(0, field.size() - 1)),
              zip::Cp437ToUtf8(stored)); // cut short
}

TEST(EntryName, Utf16AndCaseFolding) {
    EXPECT_EQ(zip::Utf8ToUtf16("a\xD0\x96\xE5\xBC\xA0\xF0\x9F\x98\x80"),
              u"a\u0416\u5F20\U0001F600");
    EXPECT_EQ(zip::Utf16ToUtf8(u"a\u0416\u5F20\U0001F600"),
              "a\xD0\x96\xE5\xBC\xA0\xF0\x9F\x98\x80");
    EXPECT_EQ(zip::Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), std::nullopt);
    EXPECT_EQ(zip::Utf8ToUtf16("\xFF"), std::nullopt);
    // Names that Windows takes for one file fold to one text.
    EXPECT_EQ(zip::FoldCase("\xD0\x94\xD0\x9E\xD0\x9A/README.TXT"),
              zip::FoldCase("\xD0\xB4\xD0\xBE\xD0\xBA/readme.txt"));
    EXPECT_EQ(zip::FoldCase("\xC3\x89t\xC3\xA9"), "\xC3\xA9t\xC3\xA9");      // Été
    EXPECT_EQ(zip::FoldCase("\xCE\xA3\xCF\x82"), "\xCF\x83\xCF\x83");        // Σς
    EXPECT_EQ(zip::FoldCase("\xEF\xBC\xA1"), "\xEF\xBD\x81");                // fullwidth A
    EXPECT_NE(zip::FoldCase("\xE5\xBC\xA0"), zip::FoldCase("\xE4\xBC\x9F")); // 张, 伟
}

TEST(EntryName, NamesOfOneFileForWindowsClash) {
    using Names = std::vector<std::string>;
    using Clash = std::optional<std::pair<std::string, std::string>>;
    // Two files, in any script, with either separator; a file where a folder is.
    EXPECT_EQ(zip::FindCaseClash(
                  Names{"\xD0\x94\xD0\xBE\xD0\xBA/a.txt", "\xD0\xB4\xD0\xBE\xD0\xBA\\A.TXT"}),
              Clash({"\xD0\x94\xD0\xBE\xD0\xBA/a.txt", "\xD0\xB4\xD0\xBE\xD0\xBA\\A.TXT"}));
    EXPECT_EQ(zip::FindCaseClash(Names{"Docs", "docs/a.txt"}), Clash({"Docs", "docs"}));
    EXPECT_EQ(zip::FindCaseClash(Names{"docs/", "DOCS"}), Clash({"DOCS", "docs"}));
    EXPECT_EQ(zip::FindCaseClash(Names{"a/b/C", "A/B/c/d"}), Clash({"a/b/C", "A/B/c"}));
    // Folders alone go into one folder; different files there are no clash.
    EXPECT_EQ(zip::FindCaseClash(Names{"Docs/", "docs/a.txt", "DOCS/b.txt", "dOcS/"}), Clash());
    EXPECT_EQ(zip::FindCaseClash(Names{"\xE5\xBC\xA0.txt", "\xE4\xBC\x9F.txt"}), Clash());
    EXPECT_EQ(zip::FindCaseClash(Names{"a.txt", "a.txt.bak", "b/a.txt"}), Clash());
    // The same name twice is no matter of case: the later one replaces the earlier.
    EXPECT_EQ(zip::FindCaseClash(Names{"a.txt", "a.txt", "Docs/", "Docs", "b\\c", "b/c"}), Clash());
    EXPECT_EQ(zip::FindCaseClash(Names{}), Clash());
}

// Such archives are unpacked in archive order, one entry after another, so that the later file
// wins, or unpacking stops where a file and a folder meet.
TEST(EntryName, AFileNamedTwiceIsFoundWhereverTheOtherNameStands) {
    using Names = std::vector<std::string>;
    for (const Names& twice :
         {Names{"a.txt", "b.txt", "a.txt"}, Names{"Docs", "Docs/inner.txt"},
          Names{"Docs/", "x", "Docs"}, Names{"b\\c", "b/c"}, Names{"a/b/c", "a/B/C/d"},
          // A short alias may be another entry's long name.
          Names{"longfilename.txt", "LONGFI~1.TXT"}, Names{"PROGRA~1", "programdata/a"}})
        EXPECT_TRUE(zip::NamesAFileTwice(twice)) << testing::PrintToString(twice);
    for (const Names& twice : {Names{"a.txt", "b.txt", "a.txt"}, Names{"PROGRA~1", "x"}}) {
        const zip::NameCheck checked = zip::CheckNames(twice);
        EXPECT_TRUE(checked.namesAFileTwice && !checked.caseClash) << testing::PrintToString(twice);
    }
    EXPECT_EQ(zip::CheckNames(Names{"Docs", "docs/a.txt"}).caseClash,
              (std::pair<std::string, std::string>{"Docs", "docs"}));
    for (const Names& once :
         {Names{"Docs/", "Docs/a.txt", "docs/b.txt", "DOCS/"},
          Names{"a.txt", "a.txt.bak", "b/a.txt", "a/"}, Names{"~a/b~.txt"}, Names{}})
        EXPECT_FALSE(zip::NamesAFileTwice(once)) << testing::PrintToString(once);
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

TEST(UnpackPlan, LargeEntriesStandAloneAndSmallNeighboursGoTogether) {
    using Batches = std::vector<unpack::Batch>;
    constexpr std::uint64_t kMiB = 1u << 20;
    EXPECT_EQ(unpack::Batches({1000, 2000, 2 * kMiB, 0, 500, kMiB - 1, 10, kMiB, 0}),
              (Batches{{0, 2}, {2, 3}, {3, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}}));
    // At most 32 entries a batch.
    EXPECT_EQ(unpack::Batches(std::vector<std::uint64_t>(70, 100)),
              (Batches{{0, 32}, {32, 64}, {64, 70}}));
    EXPECT_EQ(unpack::Batches({}), Batches{});
}

TEST(UnpackPlan, ThreadsOneAProcessorAtMostEightWithinTheMemoryBudget) {
    constexpr std::uint64_t kMiB = 1u << 20;
    EXPECT_EQ(unpack::ThreadCount(2, 100, 48u << 10), 2u);
    EXPECT_EQ(unpack::ThreadCount(16, 100, 0), 8u);
    EXPECT_EQ(unpack::ThreadCount(4, 3, 0), 3u); // no more than batches
    // pack's LZMA entries: a dictionary of at most 8 MiB, 56 MiB among the threads.
    EXPECT_EQ(unpack::ThreadCount(8, 100, 8 * kMiB + 30000), 6u);
    EXPECT_EQ(unpack::ThreadCount(8, 100, 64 * kMiB), 1u); // one entry alone passes the budget
    EXPECT_EQ(unpack::ThreadCount(0, 100, 0), 1u);
    EXPECT_EQ(unpack::ThreadCount(4, 0, 0), 1u);
}

} // namespace

// The install record travels through a folder others may write: only a whole, well-formed
// record with paths that stay inside the folder is read back.
TEST(InstallRecordTest, ReadsBackWhatItWrote) {
    record::InstallRecord installed;
    installed.label = "v2.1.0";
    installed.folders = {"docs", "docs\\Документы"};
    installed.newFolders = {"drivers"};
    installed.files = {{"Torvane.exe", 4096, 0x0badf00d}, {"docs\\Документы\\a.txt", 0, 0}};
    installed.shortcuts = {"C:\\Users\\Public\\Desktop\\Torvane.lnk"};
    installed.madeFolders = {"D:\\Acme Tools", "D:\\Acme Tools\\Torvane"};
    const std::string text = record::Serialize(installed);
    EXPECT_EQ(text, "Torvane Software Suite install record 1\n"
                    "label\tv2.1.0\n"
                    "folder\tdocs\n"
                    "folder\tdocs\\Документы\n"
                    "newfolder\tdrivers\n"
                    "file\t4096\t0badf00d\tTorvane.exe\n"
                    "file\t0\t00000000\tdocs\\Документы\\a.txt\n"
                    "shortcut\tC:\\Users\\Public\\Desktop\\Torvane.lnk\n"
                    "madefolder\tD:\\Acme Tools\n"
                    "madefolder\tD:\\Acme Tools\\Torvane\n");
    const std::optional<record::InstallRecord> read = record::Parse(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(record::Serialize(*read), text);
    EXPECT_TRUE(record::SamePath("DOCS\\документы\\A.TXT", "docs\\Документы\\a.txt"));
}

TEST(InstallRecordTest, RefusesAnyRecordThatIsNotWhole) {
    const std::string head = "Torvane Software Suite install record 1\nlabel\tv1\n";
    const char* const refused[] = {
        "",
        "Torvane Software Suite install record 2\nlabel\tv1\n",
        "Torvane Software Suite install record 1\n",          // no label
        "Torvane Software Suite install record 1\nlabel\tv1", // cut short
        "Torvane Software Suite install record 1\nlabel\tv1\nlabel\tv2\n",
    };
    for (const char* text : refused)
        EXPECT_FALSE(record::Parse(text)) << text;
    const char* const refusedLines[] = {
        "file\t12\t0000000g\ta.txt\n",
        "file\t-1\t00000000\ta.txt\n",
        "file\t1\t0\ta.txt\n",
        "file\t1\t00000000\t..\\a.txt\n",
        "file\t1\t00000000\tC:\\a.txt\n",
        "file\t1\t00000000\t\\a.txt\n",
        "file\t1\t00000000\tdocs/a.txt\n",
        "folder\tdocs\\\n",
        "folder\tdocs\\..\\..\n",
        "folder\tNUL\n",
        "shortcut\tTorvane.lnk\n",
        "shortcut\tC:\\a\tb.lnk\n",
        "unknown\tx\n",
        "madefolder\tTorvane\n",
        "folder\n",
    };
    for (const char* line : refusedLines)
        EXPECT_FALSE(record::Parse(head + line)) << line;
    EXPECT_TRUE(record::Parse(head + "shortcut\t\\\\server\\share\\Torvane.lnk\n"));
}
