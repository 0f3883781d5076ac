// State 20: the payload is copied out of real installer images into the install folder, with the
// progress a byte-by-byte copy would show, and every image or folder it cannot use is refused
// with a red line before anything is lost.
#include "TestSupport.h"

#include "base/BinaryFile.h"
#include "install/InstallTexts.h"

#include <cstdio>
#include <iostream>
#include <vector>

using namespace enginetest;

namespace {

const LoggedLine kCopyingLine{"Copying necessary files ...", kColorProgress};
const LoggedLine kCannotCreateLine{"Error: Unable to create new archive for copying.", 0x000000C0u};
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The positions a copy that counts every byte shows: counter / 1024 at each multiple of 10000,
// then the reset to 0.
std::vector<int> ByteLoopPositions(std::int64_t copiedBytes, std::int64_t unit = 1024) {
    std::vector<int> positions;
    for (std::int64_t counter = 10000; counter <= copiedBytes; counter += 10000)
        positions.push_back(static_cast<int>(counter / unit));
    positions.push_back(0);
    return positions;
}

// Whom a file's own access list lets in, e.g. "protected; SYSTEM all; Administrators all":
// "protected" when it inherits nothing, then each allowing entry's account and access ("all", or
// the access mask in hex); "no list" when it has none (everyone may open it).
std::string CopyPermissions(const std::string& path) {
    DWORD size = 0;
    const SECURITY_INFORMATION wanted = DACL_SECURITY_INFORMATION;
    ::GetFileSecurityA(path.c_str(), wanted, nullptr, 0, &size);
    std::vector<BYTE> descriptor(size);
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (size == 0 || !::GetFileSecurityA(path.c_str(), wanted, descriptor.data(), size, &size) ||
        !::GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted) ||
        !::GetSecurityDescriptorControl(descriptor.data(), &control, &revision))
        return "unreadable";
    if (!present || !list)
        return "no list";
    std::string text = (control & SE_DACL_PROTECTED) ? "protected" : "inherits";
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* entry = nullptr;
        if (!::GetAce(list, index, &entry) ||
            static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        char name[256], domain[256];
        DWORD nameSize = sizeof name, domainSize = sizeof domain;
        SID_NAME_USE use;
        if (!::LookupAccountSidA(nullptr, &allowed->SidStart, name, &nameSize, domain, &domainSize,
                                 &use))
            std::snprintf(name, sizeof name, "unknown");
        char mask[16];
        std::snprintf(mask, sizeof mask, "%lx", static_cast<unsigned long>(allowed->Mask));
        text += std::string("; ") + name + " " +
                ((allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS ? "all" : mask);
    }
    return text;
}

class PayloadCopyTest : public EngineTest {
protected:
    // State 20's work copies out of an image made of `program` and `payload`, reporting every
    // position as it goes (no queue thins them here); the copy must be the payload and the
    // image's 20 trailer bytes.
    void ExpectCopied(const std::string& program, const std::string& payload) {
        const std::string imageBytes = ImageBytes(program, payload);
        WriteFileBytes(imagePath, imageBytes);

        PayloadCopied copied = CopyPayloadFile(imagePath, copyPath, view);

        EXPECT_TRUE(view.lines.empty());
        EXPECT_EQ(copied.failure, setup::kExitSuccess);
        EXPECT_EQ(copied.imageLength, static_cast<std::int64_t>(imageBytes.size()));
        EXPECT_EQ(copied.payloadLength, static_cast<std::int32_t>(payload.size()));
        const std::string copy = ReadFileBytes(copyPath);
        ASSERT_EQ(copy.size(), payload.size() + 20);
        EXPECT_TRUE(copy == payload + imageBytes.substr(imageBytes.size() - 20))
            << "the copy differs from the payload and trailer";
        // The image was closed; the copy is held for reading only until the archive starts.
        EXPECT_TRUE(::DeleteFileA(imagePath.c_str()));
        EXPECT_EQ(ReadFileBytes(copyPath), copy);
        EXPECT_FALSE(HeldFile(copyPath, GENERIC_WRITE, kShareAll).IsOpen());
        copied.lock.Reset();
        EXPECT_TRUE(HeldFile(copyPath, GENERIC_WRITE, kShareAll).IsOpen());
    }

    // The tick refuses the copy with `error` before the bar has moved; the next one ends the run.
    void ExpectCopyRefused(const LoggedLine& error) {
        TickAndCollect(engine);

        EXPECT_EQ(view.lines, (Lines{kCopyingLine, error}));
        EXPECT_EQ(engine.InstallState, STATE_FAILURE);
        EXPECT_EQ(engine.archivePath, copyPath);
        // What the copy could not write is a copy failure; anything else, the image's.
        const bool copyFailed = error.text.rfind("Error: Unable to create", 0) == 0 ||
                                error.text.rfind("Error: Unable to write", 0) == 0;
        EXPECT_EQ(engine.exitCode, copyFailed ? setup::kExitCopy : setup::kExitImage);
        EXPECT_TRUE(view.ranges.empty());
        EXPECT_TRUE(view.positions.empty());
    }
    void ExpectRunEndsFailed() {
        TickAndCollect(engine);

        EXPECT_EQ(view.lines.size(), 3u);
        EXPECT_EQ(view.lines.back(), (LoggedLine{"Installation failed!", 0x800000C0u}));
        EXPECT_EQ(engine.InstallState, STATE_DONE);
    }

    const std::string copyPath = folder + "\\FARROWPK.EXE";
};

TEST_F(PayloadCopyTest, TheCopyIsThePayloadFollowedByTheTrailer) {
    const std::string payload = "MZ" + PatternBytes(150001, 2);
    ExpectCopied(PatternBytes(70000, 1), payload);
    EXPECT_EQ(view.ranges, (std::vector<int>{150003 / 1024}));
    EXPECT_EQ(view.positions, ByteLoopPositions(150003 + 20));
    EXPECT_EQ(view.closeEnabled, 0);
}

TEST_F(PayloadCopyTest, TheShippedSizesGiveTheirRangeAndPositions) {
    // Program image 249,856 bytes, payload 6,474,993: an image of 6,724,869 bytes.
    ExpectCopied(PatternBytes(249856, 3), PatternBytes(6474993, 4));
    EXPECT_EQ(view.ranges, (std::vector<int>{6323}));
    ASSERT_EQ(view.positions.size(), 648u);
    EXPECT_EQ(view.positions[646], 6318);
    EXPECT_EQ(view.positions.back(), 0);
    EXPECT_EQ(view.positions, ByteLoopPositions(6475013));
}

TEST_F(PayloadCopyTest, TheCopyRunsOffTheCallersThreadAndReportsOnlyThroughItsTicks) {
    const std::string payload = PatternBytes(8 << 20, 13);
    WriteFileBytes(imagePath, ImageBytes("program", payload));

    engine.Tick();

    // The tick handed the copy over and returned; what the copy reports waits for a tick.
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);
    EXPECT_EQ(view.lines, (Lines{kCopyingLine}));
    ASSERT_TRUE(engine.WaitForWorker(60000));
    EXPECT_TRUE(view.ranges.empty());
    EXPECT_TRUE(view.positions.empty());
    EXPECT_EQ(engine.InstallState, STATE_COPY_PAYLOAD);

    // The tick after the end of the copy applies it. The positions the copy reported while
    // nobody looked are one: the newest, the final 0.
    engine.Tick();
    EXPECT_EQ(engine.InstallState, STATE_EXPAND);
    EXPECT_EQ(engine.archivePath, copyPath);
    EXPECT_EQ(engine.payloadOffset, 7); // "program"
    EXPECT_EQ(view.lines, (Lines{kCopyingLine}));
    EXPECT_EQ(view.ranges, (std::vector<int>{(8 << 20) / 1024}));
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
    EXPECT_EQ(view.reportsFromOtherThreads, 0);
    EXPECT_EQ(ReadFileBytes(copyPath).size(), payload.size() + 20);
}

TEST_F(PayloadCopyTest, TheCopyCanOnlyBeReadUntilTheArchiveHasStartedFromIt) {
    const std::string payload = ReadFileBytes(TestArchivePath());
    WriteFileBytes(imagePath, ImageBytes("program", payload));
    WriteFileBytes(folder + "\\archive-mode.txt", "silent");
    const std::string stranger = temp / "stranger.exe";
    WriteFileBytes(stranger, "not the payload");

    TickAndCollect(engine);
    ASSERT_EQ(engine.InstallState, STATE_EXPAND);

    // Whoever else may write into the install folder cannot change, replace or remove the copy.
    EXPECT_FALSE(HeldFile(copyPath, GENERIC_WRITE, kShareAll).IsOpen());
    EXPECT_FALSE(HeldFile(copyPath, GENERIC_READ | DELETE, kShareAll).IsOpen());
    EXPECT_FALSE(::DeleteFileA(copyPath.c_str()));
    EXPECT_FALSE(::MoveFileExA(copyPath.c_str(), (temp / "moved.exe").c_str(), 0));
    EXPECT_FALSE(::MoveFileExA(stranger.c_str(), copyPath.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_TRUE(HeldFile(copyPath, GENERIC_READ, kShareAll).IsOpen());
    EXPECT_EQ(ReadFileBytes(copyPath).substr(0, payload.size()), payload);
    // Nor at any moment before: the copy's own permissions, inherited from nothing, let nobody
    // but SYSTEM and the Administrators open it (this test runs as an administrator). Wine 8
    // keeps no access list that a program gives a new file: it shows one made from the Unix
    // owner, which says nothing of the program's.
    const std::string permissions = CopyPermissions(copyPath);
    if (permissions.rfind("inherits; SYSTEM all; ", 0) == 0)
        std::cout << "[ note     ] this system keeps no access list of a file's own: "
                  << permissions << "\n";
    else
        EXPECT_EQ(permissions, "protected; SYSTEM all; Administrators all");

    TickAndCollect(engine);

    ASSERT_EQ(engine.InstallState, STATE_WAIT_EXPAND) << testing::PrintToString(view.lines);
    EXPECT_FALSE(engine.archiveLock);
    ASSERT_EQ(::WaitForSingleObject(engine.processInfo.process.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadFileBytes(folder + "\\archive-run.txt").substr(0, 1), "\"");
    // Once the archive has run, the copy is the install's to delete again.
    EXPECT_TRUE(::DeleteFileA(copyPath.c_str()));
}

TEST_F(PayloadCopyTest, SmallPayloadsMoveTheBarOnlyOnceTenThousandBytesAreCopied) {
    // 9979 payload bytes and the trailer stay below 10000: only the reset.
    ExpectCopied("program", PatternBytes(9979, 5));
    EXPECT_EQ(view.ranges, (std::vector<int>{9}));
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
}

TEST_F(PayloadCopyTest, TheTenThousandthCopiedByteMovesTheBarOnce) {
    // 9980 payload bytes and the 20 trailer bytes are exactly 10000 copied bytes.
    ExpectCopied("program", PatternBytes(9980, 6));
    EXPECT_EQ(view.positions, (std::vector<int>{9, 0}));
}

TEST_F(PayloadCopyTest, AOneBytePayloadAndAnImageWithoutProgramBytesAreCopied) {
    ExpectCopied("program", "P");
    EXPECT_EQ(view.ranges, (std::vector<int>{0}));
    EXPECT_EQ(view.positions, (std::vector<int>{0}));
}

TEST_F(PayloadCopyTest, AnImageThatIsAllPayloadIsCopiedWhole) {
    ExpectCopied("", PatternBytes(4321, 7));
}

TEST_F(PayloadCopyTest, AnExistingLongerCopyIsOverwrittenWhole) {
    WriteFileBytes(copyPath, std::string(300000, 'x'));
    ExpectCopied("program", PatternBytes(5000, 8));
}

TEST_F(PayloadCopyTest, AnOlderCopyThatIsAnotherFilesNameLeavesThatFileAlone) {
    WriteFileBytes(temp / "elsewhere.dat", "not the setup's");
    ASSERT_TRUE(::CreateHardLinkA(copyPath.c_str(), (temp / "elsewhere.dat").c_str(), nullptr));
    ExpectCopied("program", PatternBytes(5000, 12));
    EXPECT_EQ(ReadFileBytes(temp / "elsewhere.dat"), "not the setup's");
}

TEST_F(PayloadCopyTest, PayloadsOverSixtyFourMebibytesKeepTheRangeInSixteenBits) {
    const std::int64_t length = 64 * 1024 * 1024;
    ExpectCopied("program", PatternBytes(static_cast<size_t>(length), 9));
    ASSERT_EQ(view.ranges.size(), 1u);
    const int range = view.ranges[0];
    EXPECT_LE(range, 0xFFFF);
    EXPECT_GT(range, 0xFFFF / 2) << "the bar should still use most of its range";
    // The unit is a whole number of KiB, and range and positions are counted in it.
    std::int64_t unit = 1024;
    while (length / unit > range)
        unit += 1024;
    EXPECT_EQ(length / unit, range);
    EXPECT_EQ(view.positions, ByteLoopPositions(length + 20, unit));
}

TEST_F(PayloadCopyTest, AMissingOwnFileIsNamedAndTheRunFails) {
    const std::string missing = temp / "Setup Files\\no-setup.exe";
    SetToCopy(engine, folder, missing);

    ExpectCopyRefused({"Error: Unable to open file " + missing + " for copying.", 0x000000C0u});
    EXPECT_FALSE(FileExists(copyPath));
    ExpectRunEndsFailed();
}

TEST_F(PayloadCopyTest, AFolderInTheWayOfTheCopyFailsTheRunAndStays) {
    WriteFileBytes(imagePath, ImageBytes("program", PatternBytes(3000, 10)));
    ASSERT_TRUE(::CreateDirectoryA(copyPath.c_str(), nullptr));
    WriteFileBytes(copyPath + "\\inside.txt", "kept");

    ExpectCopyRefused(kCannotCreateLine);
    // The image was closed again.
    EXPECT_TRUE(::DeleteFileA(imagePath.c_str()));
    ExpectRunEndsFailed();
    EXPECT_EQ(ReadFileBytes(copyPath + "\\inside.txt"), "kept");
}

TEST_F(PayloadCopyTest, ACopyHeldOpenElsewhereIsNeitherOverwrittenNorDeleted) {
    WriteFileBytes(imagePath, ImageBytes("program", PatternBytes(3000, 11)));
    WriteFileBytes(copyPath, "an older copy");
    // An earlier archive that still runs holds its file like this.
    HeldFile held(copyPath, GENERIC_READ, 0);
    ASSERT_TRUE(held.IsOpen());

    ExpectCopyRefused(kCannotCreateLine);
    ExpectRunEndsFailed();
    EXPECT_TRUE(FileExists(copyPath));
}

TEST_F(PayloadCopyTest, ACopyThatCannotBeDeletedAfterAFailureIsAWarning) {
    // The length field does not fit, so the run fails; the copy of an earlier run stays.
    WriteFileBytes(imagePath, ImageBytesWithLength("program", "payload", 0));
    WriteFileBytes(copyPath, "an older copy");
    SetReadOnly(copyPath);

    TickUntilState(engine, STATE_DONE, 2);

    ASSERT_EQ(view.lines.size(), 4u);
    EXPECT_EQ(view.lines[2], (LoggedLine{"Installation failed!", 0x800000C0u}));
    EXPECT_EQ(view.lines[3],
              (LoggedLine{"Warning: Unable to delete " + copyPath + ".", 0x00008080u}));
    // Wine's text for the code; the log has it after the warning.
    EXPECT_EQ(view.details,
              std::vector<std::string>{"Windows error 5 (0x00000005): Access denied."});
    EXPECT_EQ(ReadFileBytes(copyPath), "an older copy");
    EXPECT_EQ(view.closeEnabled, 1);
}

struct UnfitImage {
    const char* name;
    std::string bytes;
};

class UnfitLengthTest : public PayloadCopyTest, public testing::WithParamInterface<UnfitImage> {};

TEST_P(UnfitLengthTest, IsRefusedBeforeTheCopy) {
    WriteFileBytes(imagePath, GetParam().bytes);

    ExpectCopyRefused({"Error: File " + imagePath + " holds no valid payload.", 0x000000C0u});
    EXPECT_FALSE(FileExists(copyPath));
    EXPECT_EQ(ReadFileBytes(imagePath), GetParam().bytes);
    EXPECT_TRUE(::DeleteFileA(imagePath.c_str())) << "the image was left open";
}

// A bare program whose last four bytes happen to fit as a length: the payload they describe
// would start inside the program's own sections.
TEST_F(PayloadCopyTest, ABareProgramIsNoImageWhateverItsLastBytesSay) {
    std::string program = ReadFileBytes(TestArchivePath());
    ASSERT_GT(program.size(), 4096u);
    const std::uint32_t length = static_cast<std::uint32_t>(program.size() / 2);
    for (int at = 0; at < 4; ++at)
        program[program.size() - 4 + at] = static_cast<char>(length >> (8 * at));
    WriteFileBytes(imagePath, program);

    ExpectCopyRefused({"Error: File " + imagePath + " holds no valid payload.", 0x000000C0u});
    EXPECT_FALSE(FileExists(copyPath));
}

// A program of 13 bytes and a payload of 5000: the length field may say at most 5013.
const std::string kProgram = "program image";
const std::string kPayload = PatternBytes(5000, 12);

INSTANTIATE_TEST_SUITE_P(
    LengthFields, UnfitLengthTest,
    testing::Values(
        UnfitImage{"Zero", ImageBytesWithLength(kProgram, kPayload, 0)},
        UnfitImage{"OneByteLongerThanTheFileAllows",
                   ImageBytesWithLength(kProgram, kPayload, 5014)},
        UnfitImage{"JustUnderTwoGiB", ImageBytesWithLength(kProgram, kPayload, 2147483000)},
        UnfitImage{"LargestPositive", ImageBytesWithLength(kProgram, kPayload, 0x7FFFFFFF)},
        UnfitImage{"AllOnes", ImageBytesWithLength(kProgram, kPayload, 0xFFFFFFFF)},
        UnfitImage{"LowestNegative", ImageBytesWithLength(kProgram, kPayload, 0x80000000)},
        UnfitImage{"TrailerAlone", ImageBytesWithLength("", "", 1)},
        UnfitImage{"ShorterThanTheLengthField", "MZ\x01"}, UnfitImage{"EmptyFile", ""}),
    [](const testing::TestParamInfo<UnfitImage>& info) { return std::string(info.param.name); });

TEST(BinaryFileTest, OpeningAgainLetsGoOfTheFileHeldBefore) {
    // The copy's stream denies others what it must; once it opens another file, the first one
    // is free again rather than held by a lost stream until the program ends.
    TempFolder temp;
    base::BinaryFile file;
    ASSERT_TRUE(file.CreateNewDenyingWrites(temp / "first.bin"));
    EXPECT_FALSE(HeldFile(temp / "first.bin", GENERIC_WRITE, kShareAll).IsOpen());
    WriteFileBytes(temp / "second.bin", "second");
    ASSERT_TRUE(file.OpenDenyingOthers(temp / "second.bin", "rb"));
    EXPECT_TRUE(HeldFile(temp / "first.bin", GENERIC_WRITE, kShareAll).IsOpen());
    EXPECT_FALSE(HeldFile(temp / "second.bin", GENERIC_READ, kShareAll).IsOpen());
    ASSERT_TRUE(file.CreateNewDenyingWrites(temp / "third.bin"));
    EXPECT_TRUE(HeldFile(temp / "second.bin", GENERIC_READ, kShareAll).IsOpen());
}

} // namespace
