// Packing and unpacking stream through fixed buffers: memory does not grow with entry size.
// Counts the bytes held through operator new while a large entry is written and read back, and
// the files held open when a stream is opened again.
#include "base/BinaryFile.h"
#include "payload/EntryName.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

} // namespace

void* operator new(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block)
        throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    const long long live = liveBytes += static_cast<long long>(size);
    long long peak = peakBytes;
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return block + kHeader;
}

void operator delete(void* pointer) noexcept {
    if (!pointer)
        return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    liveBytes -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept {
    operator delete(pointer);
}

namespace {

using namespace testfiles;

// Peak bytes held beyond those held when the call started.
template <typename Work> long long PeakGrowth(Work work) {
    const long long before = liveBytes;
    peakBytes = before;
    work();
    return peakBytes - before;
}

TEST(Streaming, MemoryDoesNotGrowWithEntrySize) {
    TempFolder temp;
    constexpr std::size_t kEntrySize = 48u << 20;
    {
        std::ofstream out(temp / "big.bin", std::ios::binary);
        const std::string block = TextBytes(1 << 20);
        for (std::size_t written = 0; written < kEntrySize; written += block.size())
            out << block;
    }
    constexpr long long kLimit = 1 << 20;
    zip::Writer writer;
    const long long writing = PeakGrowth([&] {
        ASSERT_TRUE(writer.Create(temp / "a.zip"));
        ASSERT_TRUE(writer.AddFile("deflated.bin", temp / "big.bin"));
        ASSERT_TRUE(writer.AddFile("stored.bin", temp / "big.bin", zip::Compression::Store));
        ASSERT_TRUE(writer.Finish()) << writer.Error();
    });
    EXPECT_LT(writing, kLimit);

    zip::Reader reader;
    std::size_t total = 0;
    const long long reading = PeakGrowth([&] {
        ASSERT_TRUE(reader.Open(temp / "a.zip")) << reader.Error();
        for (const zip::Entry& entry : reader.Entries())
            ASSERT_TRUE(reader.Extract(entry, [&total](const unsigned char*, std::size_t size) {
                total += size;
                return true;
            })) << reader.Error();
    });
    EXPECT_EQ(total, 2 * kEntrySize);
    EXPECT_LT(reading, kLimit);
}

std::size_t OpenDescriptors() {
    const fs::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(fs::begin(entries), fs::end(entries)));
}

TEST(Streaming, OpeningAgainClosesTheFileHeldBefore) {
    TempFolder temp;
    base::BinaryFile file;
    ASSERT_TRUE(file.Open(temp / "first.bin", "wb"));
    ASSERT_TRUE(file.Write("first", 5));
    const std::size_t held = OpenDescriptors();
    ASSERT_TRUE(file.Open(temp / "second.bin", "wb"));
    EXPECT_EQ(OpenDescriptors(), held);
    // Closed, so its buffered bytes are written out.
    EXPECT_EQ(ReadFile(temp / "first.bin"), "first");

    zip::Writer writer;
    ASSERT_TRUE(writer.Create(temp / "first.zip"));
    ASSERT_TRUE(writer.AddBytes("a.txt", "a"));
    ASSERT_TRUE(writer.Create(temp / "second.zip"));
    ASSERT_TRUE(writer.Create(temp / "third.zip"));
    EXPECT_EQ(OpenDescriptors(), held + 1);
    ASSERT_TRUE(writer.AddBytes("b.txt", "b"));
    ASSERT_TRUE(writer.Finish()) << writer.Error();
    EXPECT_EQ(OpenDescriptors(), held);
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp / "third.zip")) << reader.Error();
    ASSERT_EQ(reader.Entries().size(), 1u);
    EXPECT_EQ(reader.Entries()[0].name, "b.txt");
}

// An archive's names are checked before anything is unpacked: names of many short segments
// (1,023 bytes, 512 folders deep each) cost memory in proportion to their own bytes, not a copy
// of every folder on the way.
TEST(NameChecks, DeepNamesCostMemoryInProportionToTheirBytes) {
    std::string deep = "0";
    while (deep.size() + 2 <= 1023)
        deep += "/a";
    std::vector<std::string> names;
    for (int index = 0; index < 300; ++index)
        names.push_back(std::to_string(index) + deep.substr(1));
    const long long namesBytes = 300LL * 1024;
    EXPECT_LT(PeakGrowth([&] { EXPECT_FALSE(zip::FindCaseClash(names)); }), 40 * namesBytes);
    EXPECT_LT(PeakGrowth([&] { EXPECT_FALSE(zip::NamesAFileTwice(names)); }), 40 * namesBytes);
    EXPECT_LT(PeakGrowth([&] { EXPECT_FALSE(zip::CheckNames(names).caseClash); }), 40 * namesBytes);
}

} // namespace
