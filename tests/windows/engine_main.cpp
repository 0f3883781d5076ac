// The shortcut states use the shell's link object: COM is initialised on the test thread, as the
// setup dialog does on its GUI thread.
#include "framework/Handles.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ScopedCoInitialize com;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
