// The texts the engine logs and the strings it builds.
#include "ProgressReading.h"
#include "install/InstallTexts.h"
#include "install/ProductEntryTexts.h"
#include "install/ReportQueue.h"
#include "ui/MessageLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(InstallTexts, BuiltLines) {
    EXPECT_EQ(texts::InstallLine(""), "Installing Torvane into  ...");
    EXPECT_EQ(texts::InstallLine("C:\\Program Files\\Torvane"),
              "Installing Torvane into C:\\Program Files\\Torvane ...");
    EXPECT_EQ(texts::ErrorNumberLine(3), "Error: Number 3");
    EXPECT_EQ(texts::NewerVersionInstalledLine("v2.1.0", "v1.0.0"),
              "Error: Version 2.1.0 is installed, newer than this setup's 1.0.0.");
    EXPECT_EQ(texts::ErrorNumberLine(-2147024891L), "Error: Number -2147024891");
    EXPECT_EQ(texts::CannotOpenImageLine("C:\\a b\\setup.exe"),
              "Error: Unable to open file C:\\a b\\setup.exe for copying.");
    EXPECT_EQ(texts::CannotDeleteLine("C:\\T\\FARROWPK.EXE"),
              "Warning: Unable to delete C:\\T\\FARROWPK.EXE.");
    EXPECT_EQ(texts::CannotCreateShortcutLine("C:\\Users\\??? ?\\Desktop\\Torvane.lnk"),
              "Warning: Unable to create shortcut C:\\Users\\??? ?\\Desktop\\Torvane.lnk.");
    EXPECT_EQ(texts::ArchiveCommandLine("C:\\Program Files\\Torvane\\FARROWPK.EXE"),
              "\"C:\\Program Files\\Torvane\\FARROWPK.EXE\" -Y");
    EXPECT_EQ(texts::LinkInTheWayLine("C:\\Torvane\\Drivers\\x86"),
              "Error: A link or a file that cannot be replaced was found at "
              "C:\\Torvane\\Drivers\\x86; nothing was written through it.");
}

TEST(InstallTexts, SystemTextIsCutAtTheFirstControlByteOnly) {
    EXPECT_EQ(texts::CutSystemText("Bad EXE format for %1.\r\n"), "Bad EXE format for %1.");
    EXPECT_EQ(texts::CutSystemText("Fichier \xE9tranger\tsuite"), "Fichier \xE9tranger");
    EXPECT_EQ(texts::CutSystemText("\r\n"), "");
    EXPECT_EQ(texts::CutSystemText(""), "");
    EXPECT_EQ(texts::CutSystemText(nullptr), "");
    EXPECT_EQ(texts::CutSystemText("\x7F\x80\xFF end"), "\x7F\x80\xFF end");
}

// A failed call's line stays what the list showed before; the log gets the code when the line
// drops it.
TEST(InstallTexts, AFailedCallsCodeReachesTheLogWhenItsLineDropsIt) {
    const texts::FailedCallText fixed =
        texts::FailedCall(5, "Access is denied.\r\n", texts::kCannotCreateArchive);
    EXPECT_EQ(fixed.line, "Error: Unable to create new archive for copying.");
    EXPECT_EQ(fixed.logDetail, "Windows error 5 (0x00000005): Access is denied.");

    const texts::FailedCallText system = texts::FailedCall(193, "Bad EXE format for %1.\r\n");
    EXPECT_EQ(system.line, "Bad EXE format for %1.");
    EXPECT_EQ(system.logDetail, "Windows error 193 (0x000000C1): Bad EXE format for %1.");

    // An HRESULT with no text of the system's: the line names it, so the log adds nothing.
    const texts::FailedCallText bare = texts::FailedCall(-2147024891L, nullptr);
    EXPECT_EQ(bare.line, "Error: Number -2147024891");
    EXPECT_EQ(bare.logDetail, "");
    EXPECT_EQ(
        texts::FailedCall(206, "The file name is too long.", texts::ErrorNumberLine(206)).logDetail,
        "");
    EXPECT_EQ(
        texts::FailedCall(-2147467259L, "\r\n", "Warning: Unable to create shortcut C:\\T.lnk.")
            .logDetail,
        "Windows error 0x80004005.");
    EXPECT_EQ(texts::FailedCall(2, "Not found", "Error: x").logDetail,
              "Windows error 2 (0x00000002): Not found.");
    // A check of ours that failed, with no call's code to tell.
    EXPECT_EQ(texts::FailedCall(0, "The operation completed successfully.", "Error: x").logDetail,
              "");
}

TEST(InstallTexts, ComponentSummaryInTableOrderWithTwoBlankSeparators) {
    EXPECT_EQ(texts::ComponentSummaryLine({"Pellisar", "Torvane", "Dromlet"}),
              "Installed components:  Pellisar,  Torvane,  Dromlet");
    EXPECT_EQ(texts::ComponentSummaryLine({"Torvane"}), "Installed components:  Torvane");
    EXPECT_EQ(texts::ComponentSummaryLine({"Pellisar", "Dromlet"}),
              "Installed components:  Pellisar,  Dromlet");
    EXPECT_EQ(texts::ComponentSummaryLine({}), "Installed components:  No components installed!");
}

TEST(ProductEntryTexts, TheDisplayVersionIsTheLabelsDottedVersionOrNone) {
    const struct {
        const char* label;
        const char* version;
    } cases[] = {
        {"v2.1.0", "2.1.0"},
        {"V3", "3"},
        {"2.1", "2.1"},
        {"10.0.19045", "10.0.19045"},
        {"Release-15chars", ""},
        {"v2.1-beta", ""},
        {"2.1.", ""},
        {".2.1", ""},
        {"2..1", ""},
        {"v", ""},
        {"", ""},
        {"vv2.1", ""},
        {" 2.1", ""},
        {"2.1 ", ""},
        {"2,1", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(texts::DisplayVersion(c.label), c.version) << c.label;
}

TEST(ProductEntryTexts, DottedVersionsCompareNumberByNumber) {
    using texts::VersionOrder;
    const struct {
        const char* a;
        const char* b;
        VersionOrder order;
    } cases[] = {
        {"2.10.0", "2.9", VersionOrder::Newer},
        {"2.9", "2.10.0", VersionOrder::Older},
        {"2.1", "2.1.0", VersionOrder::Same},
        {"2.1.0.0", "2.1", VersionOrder::Same},
        {"02.01", "2.1", VersionOrder::Same},
        {"2.1.1", "2.1", VersionOrder::Newer},
        {"3", "2.99.99", VersionOrder::Newer},
        {"0.0", "0", VersionOrder::Same},
        // Numbers beyond 64 bits compare all the same.
        {"99999999999999999999999.1", "99999999999999999999998.9", VersionOrder::Newer},
        {"1.00000000000000000000002", "1.3", VersionOrder::Older},
        // No dotted version: nothing can be said, either way round.
        {"v2.1", "2.0", VersionOrder::Unknown},
        {"2.0", "Release-15chars", VersionOrder::Unknown},
        {"", "1", VersionOrder::Unknown},
        {"1.", "1", VersionOrder::Unknown},
        {"-1", "1", VersionOrder::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(texts::CompareDottedVersions(c.a, c.b), c.order) << c.a << " against " << c.b;
}

TEST(ProductEntryTexts, DateSizeAndCommandsAsTheEntryHoldsThem) {
    EXPECT_EQ(texts::InstallDateText(2026, 12, 9), "20261209");
    EXPECT_EQ(texts::InstallDateText(2027, 1, 31), "20270131");
    EXPECT_EQ(texts::EstimatedSizeKiB(0), 0u);
    EXPECT_EQ(texts::EstimatedSizeKiB(1), 1u);
    EXPECT_EQ(texts::EstimatedSizeKiB(1024), 1u);
    EXPECT_EQ(texts::EstimatedSizeKiB(1025), 2u);
    EXPECT_EQ(texts::EstimatedSizeKiB(0xFFFFFFFFull * 1024), 0xFFFFFFFFu);
    EXPECT_EQ(texts::EstimatedSizeKiB(0xFFFFFFFFull * 1024 + 1), 0xFFFFFFFFu);
    EXPECT_EQ(texts::UninstallCommand("C:\\Program Files\\Torvane\\uninstall.exe"),
              "\"C:\\Program Files\\Torvane\\uninstall.exe\"");
    EXPECT_EQ(texts::QuietUninstallCommand("C:\\Program Files\\Torvane\\uninstall.exe"),
              "\"C:\\Program Files\\Torvane\\uninstall.exe\" /S");
}

// The folder the archive names for the link it stopped at goes into a line behind the install
// folder: only a plain relative path is taken.
TEST(RefusedFolder, OnlyAPlainRelativePathIsTaken) {
    const auto refused = [](const std::string& name, std::uint32_t length,
                            std::uint32_t blockSize = 2092) {
        unpack::ProgressBlock block = Reading(100, 100, blockSize);
        std::copy(name.begin(), name.end(), block.refusedFolder);
        block.refusedLength = length;
        return texts::RefusedFolder(block);
    };
    EXPECT_EQ(refused("Drivers", 7), "Drivers");
    EXPECT_EQ(refused("Drivers\\x86", 11), "Drivers\\x86");
    EXPECT_EQ(refused("Program Data\\Caf\xE9", 17), "Program Data\\Caf\xE9");
    EXPECT_EQ(refused("ZZZ and more", 3), "ZZZ"); // not terminated: the length counts
    EXPECT_EQ(refused(std::string(1024, 'a'), 1024), std::string(1024, 'a'));
    for (const std::string& name :
         {std::string(""), std::string("..\\Windows"), std::string("a\\..\\b"), std::string(".\\a"),
          std::string("\\Windows"), std::string("a\\"), std::string("a\\\\b"),
          std::string("C:\\Windows"), std::string("a/b"), std::string("a\nb"),
          std::string("a\0b", 3), std::string("a\x7F")})
        EXPECT_EQ(refused(name, static_cast<std::uint32_t>(name.size())), std::nullopt) << name;
    EXPECT_EQ(refused("Drivers", 1025), std::nullopt);  // longer than the block
    EXPECT_EQ(refused("Drivers", 7, 12), std::nullopt); // not a block of ours
}

// The red line after "Decompression process failure!", from the block or, when the archive
// filled in none, from its exit code.
TEST(ArchiveFailure, TheLineNamesTheCauseAndTheFile) {
    const auto failed = [](std::uint32_t cause, const std::string& file, std::uint32_t error,
                           std::uint32_t blockSize = 2092) {
        unpack::ProgressBlock block = Reading(100, 40, blockSize);
        block.failureCause = cause;
        block.windowsError = error;
        std::copy(file.begin(), file.end(), block.failedPath);
        block.failedLength = static_cast<std::uint32_t>(file.size());
        return block;
    };
    const std::string folder = "C:\\Program Files\\Torvane";
    const auto line = [&](const unpack::ProgressBlock& block, std::uint32_t archiveExit,
                          const std::string& holder = "") {
        return texts::ArchiveFailureLine(texts::ReadArchiveFailure(block, archiveExit), folder,
                                         holder);
    };
    EXPECT_EQ(
        line(failed(unpack::kInUse, "Torvane.exe", 32), 7, "Torvane"),
        "Error: C:\\Program Files\\Torvane\\Torvane.exe is in use by Torvane (Windows error 32).");
    EXPECT_EQ(line(failed(unpack::kInUse, "docs\\guide.txt", 32), 7),
              "Error: C:\\Program Files\\Torvane\\docs\\guide.txt is in use by another program "
              "(Windows error 32).");
    EXPECT_EQ(line(failed(unpack::kNoAccess, "data", 5), 8),
              "Error: Access to C:\\Program Files\\Torvane\\data was denied (Windows error 5).");
    EXPECT_EQ(line(failed(unpack::kDiskFull, "data\\big.bin", 112), 6),
              "Error: The disk is full: C:\\Program Files\\Torvane\\data\\big.bin could not be "
              "written (Windows error 112).");
    unpack::ProgressBlock short_ = failed(unpack::kDiskFull, "", 0);
    short_.neededKiB = 1234567;
    short_.freeKiB = 512;
    EXPECT_EQ(line(short_, 6), "Error: Not enough free space for the suite in C:\\Program "
                               "Files\\Torvane: 1,234,567 KiB needed, 512 KiB free.");
    EXPECT_EQ(line(failed(unpack::kDamagedPayload, "Torvane.exe", 0), 4),
              "Error: The payload is damaged at Torvane.exe; download the setup again.");
    // A name that could lead elsewhere is not shown; a cause the block does not know is the
    // exit code's.
    EXPECT_EQ(line(failed(unpack::kInUse, "..\\Windows\\win.ini", 32), 7),
              "Error: C:\\Program Files\\Torvane is in use by another program (Windows error 32).");
    EXPECT_EQ(line(failed(99, "", 0), 6),
              "Error: The disk is full: C:\\Program Files\\Torvane could not be written.");
    // Another layout, or none: the exit code alone.
    EXPECT_EQ(line(failed(unpack::kNoAccess, "data", 5, 12), 4),
              "Error: The payload is damaged; download the setup again.");
    EXPECT_EQ(line(failed(unpack::kNoAccess, "data", 5, 12), 7),
              "Error: C:\\Program Files\\Torvane is in use by another program.");
    EXPECT_EQ(texts::RestartPendingLine(1),
              "Warning: 1 old file of the suite is removed at the next restart.");
    EXPECT_EQ(texts::RestartPendingLine(3),
              "Warning: 3 old files of the suite are removed at the next restart.");
    EXPECT_EQ(texts::CloseAndRetryText("Torvane"), "Close Torvane and press Retry");
    EXPECT_EQ(texts::GroupedNumber(999), "999");
    EXPECT_EQ(texts::GroupedNumber(1000), "1,000");
}

// What the dialog is told, in order, one word per report: "line:<text>", "range:<n>", "pos:<n>".
class ReportLog final : public IInstallView {
public:
    void AddMessage(std::string text, MessageColor) override { told.push_back("line:" + text); }
    void LogDetail(std::string text) override { told.push_back("detail:" + text); }
    void SetProgressRange(int maximum) override {
        told.push_back("range:" + std::to_string(maximum));
    }
    void SetProgressPos(int position) override {
        told.push_back("pos:" + std::to_string(position));
    }
    void EnableClose() override { told.push_back("close"); }
    std::vector<std::string> told;
};

TEST(ReportQueue, PositionsNotYetShownGiveWayToTheNewestAndNothingOvertakesALine) {
    ReportQueue queue;
    ReportLog dialog;
    queue.SetProgressRange(6323);
    for (int position = 1; position <= 500; ++position)
        queue.SetProgressPos(position);
    queue.AddMessage("Error: Unable to write", kColorError);
    queue.LogDetail("Windows error 112 (0x00000070): Disk full.");
    queue.SetProgressPos(501);
    queue.SetProgressPos(0);
    queue.EnableClose();

    queue.ReplayInto(dialog, 1000);
    EXPECT_EQ(dialog.told,
              (std::vector<std::string>{"range:6323", "pos:500", "line:Error: Unable to write",
                                        "detail:Windows error 112 (0x00000070): Disk full.",
                                        "pos:0", "close"}));
    queue.ReplayInto(dialog, 5000);
    EXPECT_EQ(dialog.told.size(), 6u);
}

TEST(ReportQueue, TheBarTakesAtMostOnePositionPerFiftyMillisecondsAndAlwaysTheFinalZero) {
    ReportQueue queue;
    ReportLog dialog;
    queue.SetProgressPos(5);
    queue.ReplayInto(dialog, 1000);
    queue.SetProgressPos(6);
    queue.ReplayInto(dialog, 1049); // kept back
    queue.SetProgressPos(7);        // takes its place
    queue.ReplayInto(dialog, 1049);
    queue.ReplayInto(dialog, 1050);
    queue.SetProgressPos(0);
    queue.ReplayInto(dialog, 1051);
    // A line after a position takes it along: the two stay in order.
    queue.SetProgressPos(8);
    queue.AddMessage("Decompressing ...", kColorProgress);
    queue.ReplayInto(dialog, 1052);
    EXPECT_EQ(dialog.told, (std::vector<std::string>{"pos:5", "pos:7", "pos:0", "pos:8",
                                                     "line:Decompressing ..."}));
}

TEST(MessageLayout, PlainAndEmphasisedLines) {
    const MessageLineLayout plain = LayoutMessageLine(10, 40, kColorError, 120);
    EXPECT_EQ(plain.textX, 12);
    EXPECT_EQ(plain.textY, 41);
    EXPECT_FALSE(plain.emphasised);

    const MessageLineLayout success = LayoutMessageLine(10, 40, kColorSuccess, 120);
    EXPECT_TRUE(success.emphasised);
    EXPECT_EQ(success.textX, 26);
    EXPECT_EQ(success.textY, 41);
    EXPECT_EQ(success.leadingDot.left, 16);
    EXPECT_EQ(success.leadingDot.right, 21);
    EXPECT_EQ(success.leadingDot.top, 45);
    EXPECT_EQ(success.leadingDot.bottom, 50);
    // The trailing dot stands 4 pixels after the text's end (text from left+16 to left+16+cx).
    EXPECT_EQ(success.trailingDot.left, 10 + 120 + 20);
    EXPECT_EQ(success.trailingDot.right, 10 + 120 + 25);
    EXPECT_EQ(success.trailingDot.left - (success.textX + 120), 4);

    // Bits 24..30 are not looked at.
    EXPECT_FALSE(LayoutMessageLine(0, 0, 0x7F0000C0u, 5).emphasised);
    EXPECT_EQ(TextColorOf(0x7F0000C0u), 0x0000C0u);
    EXPECT_EQ(TextColorOf(kColorFailure), 0x0000C0u);
}

} // namespace
