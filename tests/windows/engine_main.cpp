// The shortcut states use the shell's link object: COM is initialised on the test thread, as the
// setup dialog does on its GUI thread. A run that gets to its record registers the suite in the
// prefix's registry: every test ends with no entry, so that none names a test's folder to the
// next test or to the setup program run in the same prefix.
#include "TestSupport.h"

#include "install/AppsAndFeatures.h"
#include "win32/Handles.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class ProductEntryRemover : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override {
        const std::wstring key = std::wstring(kUninstallKey) + L"\\" + kProductEntryName;
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            ::RegDeleteTreeW(root, key.c_str());
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], enginetest::kEndProcessChildOption) == 0)
        return enginetest::RunEndProcessChild(argv[2]);
    ScopedCoInitialize com;
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ProductEntryRemover);
    return RUN_ALL_TESTS();
}
