// The shortcut states use the shell's link object: COM is initialised on the test thread, as the
// setup dialog does on its GUI thread.
#include "TestSupport.h"

#include "framework/Handles.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], enginetest::kEndProcessChildOption) == 0)
        return enginetest::RunEndProcessChild(argv[2]);
    ScopedCoInitialize com;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
