// The command line of deployment tools and the shortcut folders they get.
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

} // namespace
