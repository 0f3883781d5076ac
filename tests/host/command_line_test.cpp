// The command line of deployment tools, the shortcut folders they get, and the lines of a log.
#include "install/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const wchar_t* line;
    bool silent, noDesktop, allUsers;
    const wchar_t* folder;
    const wchar_t* log;
    const char* error;
};

TEST(CommandLine, SwitchesInAnyOrderAndCaseWithTheFolderLast) {
    const Case cases[] = {
        {L"setup.exe", false, false, false, L"", L"", ""},
        {L"\"C:\\Users\\a b\\TorvaneSetup.exe\"   ", false, false, false, L"", L"", ""},
        {L"setup.exe /S", true, false, false, L"", L"", ""},
        {L"setup.exe /s /nodesktop /AllUsers", true, true, true, L"", L"", ""},
        {L"\"C:\\a b\\setup.exe\" /S /D=C:\\Program Files\\Torvane Suite ", true, false, false,
         L"C:\\Program Files\\Torvane Suite", L"", ""},
        {L"setup.exe /d=\"D:\\Apps\\Torvane 2\"", false, false, false, L"D:\\Apps\\Torvane 2", L"",
         ""},
        {L"setup.exe /D=C:\\T /S", false, false, false, L"C:\\T /S", L"", ""},
        {L"setup.exe /LOG=\"C:\\my logs\\setup.log\" /S", true, false, false, L"",
         L"C:\\my logs\\setup.log", ""},
        {L"setup.exe /log=C:\\setup.log\t/D=C:\\Программы\\Torvane", false, false, false,
         L"C:\\Программы\\Torvane", L"C:\\setup.log", ""},
        {L"setup.exe /S /X", true, false, false, L"", L"", "unknown switch /X"},
        {L"setup.exe -S", false, false, false, L"", L"", "unknown switch -S"},
        {L"setup.exe /Silent", false, false, false, L"", L"", "unknown switch /Silent"},
        {L"setup.exe /S /D=", true, false, false, L"", L"", "/D= needs a folder"},
        {L"setup.exe /D=\"\"", false, false, false, L"", L"", "/D= needs a folder"},
        {L"setup.exe /LOG= /S", true, false, false, L"", L"", "/LOG= needs a file"},
        {L"setup.exe /Ж", false, false, false, L"", L"", "unknown switch /?"},
        // Quoted whole, as programs quote an argument with blanks: it ends at its quote.
        {L"setup.exe /S \"/D=C:\\silent try\\Torvane\" /NODESKTOP", true, true, false,
         L"C:\\silent try\\Torvane", L"", ""},
        {L"setup.exe \"/D=\" /S", true, false, false, L"", L"", "/D= needs a folder"},
        {L"setup.exe /AllowDowngrade /S /uninstall", true, false, false, L"", L"", ""},
        // The whole line is read after a mistake, and the first mistake is the one named.
        {L"setup.exe /X /Y /S /LOG=C:\\setup.log /D=C:\\T", true, false, false, L"C:\\T",
         L"C:\\setup.log", "unknown switch /X"},
    };
    for (const Case& c : cases) {
        const setup::ParsedCommandLine parsed = setup::ParseCommandLine(c.line);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(parsed.error, c.error);
        EXPECT_EQ(parsed.options.silent, c.silent);
        EXPECT_EQ(parsed.options.noDesktop, c.noDesktop);
        EXPECT_EQ(parsed.options.allUsers, c.allUsers);
        EXPECT_EQ(parsed.options.installFolder, c.folder);
        EXPECT_EQ(parsed.options.logFile, c.log);
    }
    EXPECT_TRUE(setup::ParseCommandLine(L"setup.exe /ALLOWDOWNGRADE").options.allowDowngrade);
    EXPECT_TRUE(setup::ParseCommandLine(L"uninstall.exe /S /UNINSTALL").options.uninstall);
}

TEST(CommandLine, TheLocalSystemAccountAlwaysGetsTheCommonFolders) {
    setup::CommandLine options;
    EXPECT_FALSE(setup::UseCommonShortcutFolders(options, false));
    EXPECT_TRUE(setup::UseCommonShortcutFolders(options, true));
    options.allUsers = true;
    EXPECT_TRUE(setup::UseCommonShortcutFolders(options, false));
}

TEST(CommandLine, LogLinesNameTheirColourAndTime) {
    const setup::LocalTime t{2026, 12, 8, 14, 3, 11, 250};
    EXPECT_EQ(setup::LogLine(t, kColorError, "Error: Directory path is invalid."),
              "2026-12-08 14:03:11.250 red Error: Directory path is invalid.\n");
    EXPECT_EQ(setup::LogLine(t, kColorSuccess, "Installation completed successfully!"),
              "2026-12-08 14:03:11.250 green* Installation completed successfully!\n");
    EXPECT_EQ(setup::LogLine(t, kColorFailure, "Installation failed!"),
              "2026-12-08 14:03:11.250 red* Installation failed!\n");
    EXPECT_EQ(setup::LogLine({2027, 1, 2, 3, 4, 5, 6}, kColorSummary,
                             "Installing Torvane into "
                             "C:\\Программы ..."),
              "2027-01-02 03:04:05.006 navy Installing Torvane into C:\\Программы ...\n");
    EXPECT_EQ(setup::ColorName(kColorWarning), "olive");
    EXPECT_EQ(setup::ColorName(kColorProgress), "black");
    EXPECT_EQ(setup::ColorName(0x00123456u), "123456");
}

} // namespace
