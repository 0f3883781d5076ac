// Fuzz target: the ZIP reader opens, lists and extracts every entry of the input, checks every
// entry name, and does the same again with the input as a byte range of a larger file.
#include "FuzzScratch.h"
#include "tests/fuzz/ReaderChecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string violation = readerchecks::CheckZipBytes(
        {reinterpret_cast<const char*>(data), size}, fuzzscratch::Folder());
    if (!violation.empty()) {
        std::fprintf(stderr, "zip reader: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
