// The lines of a run's log.
#include "install/LogLine.h"

#include <gtest/gtest.h>

namespace {

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
    EXPECT_EQ(setup::LogDetailLine(t, "Windows error 5 (0x00000005): Access is denied."),
              "2026-12-08 14:03:11.250 detail Windows error 5 (0x00000005): Access is denied.\n");
    EXPECT_EQ(setup::ColorName(kColorWarning), "olive");
    EXPECT_EQ(setup::ColorName(kColorProgress), "black");
    EXPECT_EQ(setup::ColorName(0x00123456u), "123456");
}

} // namespace
