// Inputs kept from fuzzing the image trailer reader and the ZIP reader (tests/fuzz/regressions),
// and the fuzzers' seed corpus: every one must give a clean error or a clean success with the
// readers' promises kept, as the fuzz targets check them. Under ASan/UBSan a crash shows as well.
#include "tests/fuzz/ReaderChecks.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace testfiles;

const fs::path kFuzzFolder = fs::path(__FILE__).parent_path().parent_path() / "fuzz";

std::vector<fs::path> FilesUnder(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file() && item.path().filename() != "README")
            files.push_back(item.path());
    std::sort(files.begin(), files.end());
    return files;
}

void ExpectBothReadersClean(const std::vector<fs::path>& files) {
    for (const fs::path& file : files) {
        const std::string bytes = ReadFile(file);
        TempFolder scratch;
        EXPECT_EQ(readerchecks::CheckZipBytes(bytes, scratch.path().string()), "") << file;
        EXPECT_EQ(readerchecks::CheckImageBytes(bytes, scratch.path().string()), "") << file;
    }
}

TEST(FuzzRegressions, EveryKeptInputGivesACleanResult) {
    const fs::path folder = kFuzzFolder / "regressions";
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    const std::vector<fs::path> files = FilesUnder(folder);
    if (files.empty())
        GTEST_SKIP() << "no inputs kept in " << folder;
    ExpectBothReadersClean(files);
}

TEST(FuzzRegressions, EverySeedGivesACleanResult) {
    const std::vector<fs::path> files = FilesUnder(kFuzzFolder / "corpus");
    ASSERT_GE(files.size(), 20u) << "seed corpus missing";
    ExpectBothReadersClean(files);
}

} // namespace
