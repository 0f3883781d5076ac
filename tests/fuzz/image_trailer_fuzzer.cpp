// Fuzz target: the installer-image trailer reader reads the input as an image; when the stored
// payload fits, the ZIP reader reads the payload the way pack and the setup program do.
#include "FuzzScratch.h"
#include "tests/fuzz/ReaderChecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string violation = readerchecks::CheckImageBytes(
        {reinterpret_cast<const char*>(data), size}, fuzzscratch::Folder());
    if (!violation.empty()) {
        std::fprintf(stderr, "image trailer reader: %s\n", violation.c_str());
        std::abort();
    }
    return 0;
}
