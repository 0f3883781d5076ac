// State 45: the components unpacked are told by their flag files in the install folder; the
// summary names them in row order, and the flags found are removed.
#include "TestSupport.h"

#include <array>
#include <memory>

using namespace enginetest;

namespace {

constexpr MessageColor kNavy = 0x00800000u;
const char* const kFlagFiles[] = {"pellisar.flg", "torvane.flg", "dromlet.flg"};

class ComponentsTest : public testing::Test {
protected:
    ComponentsTest() { Reset(); }

    // A fresh engine about to detect, with the count of an earlier run still set.
    void Reset() {
        view = std::make_unique<RecordingView>();
        engine = std::make_unique<InstallEngine>(*view);
        engine->Start(SettingsFor(temp.Path()));
        engine->componentCount = 9;
        SetToDetect(*engine);
    }

    void WriteFlag(const std::string& name) { WriteFileBytes(temp / name, "flag"); }

    TempFolder temp;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<InstallEngine> engine;
};

TEST_F(ComponentsTest, TheSummaryNamesTheComponentsFoundInRowOrder) {
    struct Case {
        std::vector<std::string> written; // in the order the archive wrote them
        std::string summary;
        std::array<int, 3> found;
    };
    const Case cases[] = {
        {{"dromlet.flg", "torvane.flg", "pellisar.flg"},
         "Installed components:  Pellisar,  Torvane,  Dromlet",
         {1, 1, 1}},
        {{}, "Installed components:  No components installed!", {0, 0, 0}},
        {{"dromlet.flg"}, "Installed components:  Dromlet", {0, 0, 1}},
        {{"torvane.flg"}, "Installed components:  Torvane", {0, 1, 0}},
        {{"dromlet.flg", "pellisar.flg"}, "Installed components:  Pellisar,  Dromlet", {1, 0, 1}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.summary);
        Reset();
        for (const std::string& name : test.written)
            WriteFlag(name);
        WriteFileBytes(temp / "Torvane.exe", "program");

        TickAndCollect(*engine);

        EXPECT_EQ(view->lines, (Lines{{test.summary, kNavy}}));
        EXPECT_EQ(engine->InstallState, STATE_DESKTOP_LINKS);
        int count = 0;
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(engine->components[row].found, test.found[row]) << "row " << row;
            count += test.found[row];
            EXPECT_FALSE(FileExists(temp / kFlagFiles[row])) << kFlagFiles[row];
        }
        EXPECT_EQ(engine->componentCount, count);
        EXPECT_TRUE(FileExists(temp / "Torvane.exe"));
    }
}

TEST_F(ComponentsTest, TheTableNamesEachComponentsProgramForItsShortcuts) {
    TickAndCollect(*engine);

    const char* const names[] = {"Pellisar", "Torvane", "Dromlet"};
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(engine->components[row].flagFile, kFlagFiles[row]);
        EXPECT_EQ(engine->components[row].displayName, names[row]);
        EXPECT_EQ(engine->components[row].executable, std::string(names[row]) + ".exe");
        EXPECT_EQ(engine->components[row].workingSubfolder, "");
    }
}

TEST_F(ComponentsTest, AFlagHeldOpenWithoutReadSharingCountsAsAbsentAndStays) {
    for (const char* name : kFlagFiles)
        WriteFlag(name);
    {
        HeldFile held(temp / "torvane.flg", GENERIC_WRITE, FILE_SHARE_WRITE);
        ASSERT_TRUE(held.IsOpen());

        TickAndCollect(*engine);
    }

    EXPECT_EQ(view->lines, (Lines{{"Installed components:  Pellisar,  Dromlet", kNavy}}));
    EXPECT_EQ(engine->components[1].found, 0);
    EXPECT_EQ(engine->componentCount, 2);
    EXPECT_TRUE(FileExists(temp / "torvane.flg"));
    EXPECT_FALSE(FileExists(temp / "pellisar.flg"));
    EXPECT_FALSE(FileExists(temp / "dromlet.flg"));
}

TEST_F(ComponentsTest, AFlagHeldOpenBySomeoneWhoSharesEverythingIsFound) {
    WriteFlag("pellisar.flg");
    HeldFile held(temp / "pellisar.flg", GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(held.IsOpen());

    TickAndCollect(*engine);

    EXPECT_EQ(view->lines.back(), (LoggedLine{"Installed components:  Pellisar", kNavy}));
    EXPECT_EQ(engine->components[0].found, 1);
    EXPECT_EQ(engine->componentCount, 1);
}

TEST_F(ComponentsTest, AReadOnlyFlagIsFoundWithAWarningAndTheSummaryStillComes) {
    WriteFlag("torvane.flg");
    WriteFlag("dromlet.flg");
    SetReadOnly(temp / "dromlet.flg");

    TickAndCollect(*engine);

    EXPECT_EQ(view->lines,
              (Lines{{"Warning: Unable to delete " + (temp / "dromlet.flg") + ".", 0x00008080u},
                     {"Installed components:  Torvane,  Dromlet", kNavy}}));
    EXPECT_EQ(engine->components[2].found, 1);
    EXPECT_EQ(engine->componentCount, 2);
    EXPECT_TRUE(FileExists(temp / "dromlet.flg"));
    EXPECT_FALSE(FileExists(temp / "torvane.flg"));
    EXPECT_EQ(engine->InstallState, STATE_DESKTOP_LINKS);
}

} // namespace
