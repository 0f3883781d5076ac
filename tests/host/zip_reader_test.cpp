// The ZIP reader against archives of our own writer, of Info-ZIP zip and of 7-Zip, embedded
// behind stubs and before trailers, and against damaged ones; the writer's determinism.
#include "payload/ZipFormat.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using namespace testfiles;
namespace format = zip::format;

struct Item {
    std::string name;
    std::string data;
    zip::Compression compression = zip::Compression::Deflate;
};

void WriteZip(const std::string& path, const std::vector<Item>& items,
              const std::string& stubPath = "") {
    zip::Writer writer;
    ASSERT_TRUE(writer.Create(path)) << writer.Error();
    if (!stubPath.empty()) {
        ASSERT_TRUE(writer.AppendStub(stubPath)) << writer.Error();
    }
    for (const Item& item : items)
        ASSERT_TRUE(writer.AddBytes(item.name, item.data, item.compression)) << writer.Error();
    ASSERT_TRUE(writer.Finish()) << writer.Error();
}

std::string Extracted(zip::Reader& reader, const zip::Entry& entry) {
    std::string data;
    EXPECT_TRUE(reader.Extract(entry, [&data](const unsigned char* block, std::size_t size) {
        data.append(reinterpret_cast<const char*>(block), size);
        return true;
    })) << reader.Error();
    return data;
}

// Every file entry's content, by name; folder entries are left out.
std::map<std::string, std::string> ReadAll(const std::string& path, std::int64_t start = 0,
                                           std::int64_t end = -1) {
    zip::Reader reader;
    std::map<std::string, std::string> files;
    EXPECT_TRUE(reader.Open(path, start, end)) << reader.Error();
    for (const zip::Entry& entry : reader.Entries())
        if (!entry.IsFolder())
            files[entry.name] = Extracted(reader, entry);
    return files;
}

// The error of the first entry that fails, or "" when all extract.
std::string FirstFailure(const std::string& path) {
    zip::Reader reader;
    if (!reader.Open(path))
        return reader.Error();
    for (const zip::Entry& entry : reader.Entries())
        if (!reader.Extract(entry, [](const unsigned char*, std::size_t) { return true; }))
            return reader.Error();
    return "";
}

void Patch(const std::string& path, std::size_t offset, const std::string& bytes) {
    std::string content = ReadFile(path);
    ASSERT_LE(offset + bytes.size(), content.size());
    content.replace(offset, bytes.size(), bytes);
    WriteFile(path, content);
}

std::string Byte(char value) {
    return std::string(1, value);
}

const std::vector<Item>& SampleItems() {
    static const std::vector<Item> items = {
        {"Torvane.exe", RandomBytes(70000, 3)},
        {"Drivers/net/torvnet.inf", TextBytes(5000)},
        {"Drivers/net/torvnet.sys", RandomBytes(3000, 4), zip::Compression::Store},
        {"docs/readme.txt", TextBytes(300000)},
        {"empty.txt", ""},
        {"docs/\xE5\xBC\xA0\xE4\xBC\x9F.txt", TextBytes(100)}, // 张伟.txt
        {"torvane.flg", "flag"},
        {"ZZZ/comp.flg", "done"},
    };
    return items;
}

std::map<std::string, std::string> AsMap(const std::vector<Item>& items) {
    std::map<std::string, std::string> files;
    for (const Item& item : items)
        files[item.name] = item.data;
    return files;
}

// The sample items with every deflated one compressed with `compression` instead.
std::vector<Item> SampleItemsWith(zip::Compression compression) {
    std::vector<Item> items = SampleItems();
    for (Item& item : items)
        if (item.compression == zip::Compression::Deflate)
            item.compression = compression;
    return items;
}

TEST(ZipWriterAndReader, RoundTripKeepsOrderMethodsAndContent) {
    for (const auto& [compression, method] :
         {std::pair{zip::Compression::Deflate, format::kMethodDeflated},
          std::pair{zip::Compression::Lzma, format::kMethodLzma}}) {
        SCOPED_TRACE(method);
        TempFolder temp;
        WriteZip(temp / "a.zip", SampleItemsWith(compression));
        zip::Reader reader;
        ASSERT_TRUE(reader.Open(temp / "a.zip")) << reader.Error();
        ASSERT_EQ(reader.Entries().size(), SampleItems().size());
        for (std::size_t i = 0; i < SampleItems().size(); ++i) {
            const zip::Entry& entry = reader.Entries()[i];
            EXPECT_EQ(entry.name, SampleItems()[i].name);
            EXPECT_EQ(Extracted(reader, entry), SampleItems()[i].data) << entry.name;
        }
        std::map<std::string, std::uint16_t> methods, flags;
        for (const zip::Entry& entry : reader.Entries()) {
            methods[entry.name] = entry.method;
            flags[entry.name] = entry.flags;
        }
        EXPECT_EQ(methods["docs/readme.txt"], method);
        EXPECT_EQ(methods["Drivers/net/torvnet.inf"], method);
        // Random data does not shrink, an empty file cannot: both are stored.
        EXPECT_EQ(methods["Torvane.exe"], format::kMethodStored);
        EXPECT_EQ(methods["empty.txt"], format::kMethodStored);
        EXPECT_EQ(methods["Drivers/net/torvnet.sys"], format::kMethodStored);
        EXPECT_EQ(reader.ArchiveOffset(), 0);
        // Names beyond ASCII are marked as UTF-8 (bit 11), ASCII names are left unmarked; LZMA
        // entries say that their stream ends in an end marker (bit 1), the others do not.
        for (const zip::Entry& entry : reader.Entries())
            EXPECT_EQ(entry.flags & 0x0802, (entry.name.starts_with("docs/\xE5") ? 0x0800 : 0) |
                                                (entry.method == format::kMethodLzma ? 0x0002 : 0))
                << entry.name;
    }
}

TEST(ZipWriter, LzmaEntriesAreSmallerThanDeflatedOnesAndCarryABoundedDictionary) {
    TempFolder temp;
    const std::string text = TextBytes(100000) + std::string(9u << 20, 'x');
    WriteZip(temp / "deflate.zip", {{"big.txt", text}, {"small.txt", TextBytes(5000)}});
    WriteZip(temp / "lzma.zip", {{"big.txt", text, zip::Compression::Lzma},
                                 {"small.txt", TextBytes(5000), zip::Compression::Lzma}});
    EXPECT_LT(fs::file_size(temp / "lzma.zip") * 4, fs::file_size(temp / "deflate.zip"));
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp / "lzma.zip")) << reader.Error();
    // The dictionary size in the properties: 8 MiB at most, no larger than a smaller entry.
    const std::string bytes = ReadFile(temp / "lzma.zip");
    std::vector<std::uint32_t> dictionaries;
    for (const zip::Entry& entry : reader.Entries()) {
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data()) +
                           entry.localHeaderOffset + format::kLocalHeaderSize + entry.name.size();
        EXPECT_EQ(format::Get16(data + 2), 5u);
        dictionaries.push_back(format::Get32(data + 5));
    }
    EXPECT_EQ(dictionaries, (std::vector<std::uint32_t>{8u << 20, 5000}));
    // What the decoder takes: the dictionary and some 30 KiB of tables.
    const std::vector<zip::Entry>& entries = reader.Entries();
    EXPECT_GT(reader.DecoderMemory(entries[0]), 8u << 20);
    EXPECT_LT(reader.DecoderMemory(entries[0]), (8u << 20) + (64u << 10));
    EXPECT_GT(reader.DecoderMemory(entries[1]), 5000u);
    EXPECT_LT(reader.DecoderMemory(entries[1]), 5000u + (64u << 10));
    EXPECT_EQ(ReadAll(temp / "lzma.zip"), (std::map<std::string, std::string>{
                                              {"big.txt", text}, {"small.txt", TextBytes(5000)}}));
}

TEST(ZipWriter, SameEntriesGiveTheSameBytes) {
    TempFolder temp;
    WriteZip(temp / "a.zip", SampleItems());
    WriteZip(temp / "b.zip", SampleItems());
    EXPECT_EQ(ReadFile(temp / "a.zip"), ReadFile(temp / "b.zip"));
}

TEST(ZipWriter, StoredFallbackOfTheLastEntryLeavesNoBytesBehindTheEndRecord) {
    TempFolder temp;
    // Deflating random data first writes more than the stored copy that replaces it: five
    // bytes per 64 KiB block, here more than the central directory and end record that follow.
    const std::vector<Item> items = {{"a.txt", TextBytes(1000)},
                                     {"noise.bin", RandomBytes(4u << 20)}};
    WriteZip(temp / "a.zip", items);
    const std::string bytes = ReadFile(temp / "a.zip");
    ASSERT_GE(bytes.size(), format::kEndRecordSize);
    EXPECT_EQ(format::Get32(reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() -
                            format::kEndRecordSize),
              format::kEndRecordSignature);
    EXPECT_EQ(ReadAll(temp / "a.zip"), AsMap(items));
}

TEST(ZipReader, FindsTheArchiveBehindAStubAndBeforeATrailer) {
    TempFolder temp;
    const std::string stub = "MZ" + RandomBytes(40000, 9);
    WriteFile(temp / "stub.exe", stub);
    // Offsets counted from the start of the file, as pack writes them.
    WriteZip(temp / "payload.exe", SampleItems(), temp / "stub.exe");
    const std::string trailer = "v1.0.0" + std::string(10, '\0') + "\x12\x34\x00\x00";
    WriteFile(temp / "FARROWPK.EXE", ReadFile(temp / "payload.exe") + trailer);
    EXPECT_EQ(ReadAll(temp / "FARROWPK.EXE"), AsMap(SampleItems()));
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp / "FARROWPK.EXE"));
    EXPECT_EQ(reader.ArchiveOffset(), static_cast<std::int64_t>(stub.size()));
    // A second reader of the same archive, as each unpacking thread has: a position of its own,
    // so one entry extracts in the middle of another.
    zip::Reader second;
    ASSERT_TRUE(second.OpenSameArchive(reader)) << second.Error();
    EXPECT_TRUE(second.Entries().empty());
    const zip::Entry& program = reader.Entries()[0];
    const zip::Entry& readme = reader.Entries()[3];
    std::string outer, inner;
    EXPECT_TRUE(reader.Extract(readme, [&](const unsigned char* block, std::size_t size) {
        if (inner.empty())
            inner = Extracted(second, program);
        outer.append(reinterpret_cast<const char*>(block), size);
        return true;
    })) << reader.Error();
    EXPECT_TRUE(outer == SampleItems()[3].data);
    EXPECT_TRUE(inner == SampleItems()[0].data);
    // Decoders: none for a stored entry, zlib's window and state for a deflated one.
    EXPECT_EQ(reader.DecoderMemory(reader.Entries()[2]), 0u);
    EXPECT_EQ(reader.DecoderMemory(readme), 48u << 10);

    // Offsets counted from the start of the archive: a plain archive appended to a stub.
    WriteZip(temp / "plain.zip", SampleItems());
    WriteFile(temp / "appended.exe", stub + ReadFile(temp / "plain.zip") + trailer);
    EXPECT_EQ(ReadAll(temp / "appended.exe"), AsMap(SampleItems()));
    ASSERT_TRUE(reader.Open(temp / "appended.exe"));
    EXPECT_EQ(reader.ArchiveOffset(), static_cast<std::int64_t>(stub.size()));

    // Trailing bytes that look like an end record do not fool it.
    std::string fake(22, '\0');
    fake.replace(0, 4, "PK\x05\x06");
    fake[10] = 3;
    WriteFile(temp / "fake.exe", ReadFile(temp / "appended.exe") + fake + "tail");
    EXPECT_EQ(ReadAll(temp / "fake.exe"), AsMap(SampleItems()));
}

TEST(ZipReader, LooksOnlyInsideTheGivenByteRange) {
    TempFolder temp;
    WriteZip(temp / "a.zip", {{"inner.txt", "inner"}});
    WriteZip(temp / "b.zip", {{"outer.txt", "outer"}});
    const std::string inner = ReadFile(temp / "a.zip");
    const std::string head = RandomBytes(1000, 5);
    WriteFile(temp / "image.exe", head + inner + ReadFile(temp / "b.zip"));
    const auto start = static_cast<std::int64_t>(head.size());
    const auto end = start + static_cast<std::int64_t>(inner.size());
    EXPECT_EQ(ReadAll(temp / "image.exe"),
              (std::map<std::string, std::string>{{"outer.txt", "outer"}}));
    EXPECT_EQ(ReadAll(temp / "image.exe", start, end),
              (std::map<std::string, std::string>{{"inner.txt", "inner"}}));
    zip::Reader reader;
    EXPECT_FALSE(reader.Open(temp / "image.exe", start, end - 1)); // end record cut off
}

class ExternalTools : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(temp_ / "src/Torvane.exe", RandomBytes(20000, 11));
        WriteFile(temp_ / "src/docs/notes.txt", TextBytes(80000));
        WriteFile(temp_ / "src/Drivers/usb/torvusb.inf", TextBytes(700));
        WriteFile(temp_ / "src/Drivers/usb/empty.cat", "");
        WriteFile(temp_ / "src/torvane.flg", "flag");
        // Документы/Лицензия.txt: names beyond ASCII, however each tool marks them.
        WriteFile(
            temp_ / "src/\xD0\x94\xD0\xBE\xD0\xBA\xD1\x83\xD0\xBC\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B/"
                    "\xD0\x9B\xD0\xB8\xD1\x86\xD0\xB5\xD0\xBD\xD0\xB7\xD0\xB8\xD1\x8F.txt",
            TextBytes(300));
        for (const auto& item : fs::recursive_directory_iterator(temp_.path() / "src"))
            if (item.is_regular_file())
                expected_[item.path().lexically_relative(temp_.path() / "src").generic_string()] =
                    ReadFile(item.path());
    }
    // Runs `command` inside the source folder.
    void InSource(const std::string& command) {
        ASSERT_EQ(Shell("cd " + ShellQuoted(temp_ / "src") + " && " + command + " >/dev/null"), 0)
            << command;
    }
    TempFolder temp_;
    std::map<std::string, std::string> expected_;
};

TEST_F(ExternalTools, InfoZipArchivesStoredDeflatedWithCommentAndAsSelfExtractor) {
    const std::string zip = ZIP_EXE;
    ASSERT_FALSE(zip.empty()) << "Info-ZIP zip was not found when the tests were configured";
    InSource(zip + " -q -r ../deflated.zip .");
    InSource(zip + " -q -r -0 ../stored.zip .");
    EXPECT_EQ(ReadAll(temp_ / "deflated.zip"), expected_);
    EXPECT_EQ(ReadAll(temp_ / "stored.zip"), expected_);

    InSource("echo 'Torvane suite' | " + zip + " -q -z ../deflated.zip");
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp_ / "deflated.zip")) << reader.Error();
    EXPECT_EQ(reader.Comment(), "Torvane suite");
    EXPECT_EQ(ReadAll(temp_ / "deflated.zip"), expected_);

    // A stub in front, offsets first as they were and then adjusted by zip -A.
    const std::string stub = "MZ" + RandomBytes(5000, 12);
    WriteFile(temp_ / "sfx.exe", stub + ReadFile(temp_ / "deflated.zip") + std::string(20, 'T'));
    EXPECT_EQ(ReadAll(temp_ / "sfx.exe"), expected_);
    WriteFile(temp_ / "sfx.exe", stub + ReadFile(temp_ / "deflated.zip"));
    InSource(zip + " -q -A ../sfx.exe");
    WriteFile(temp_ / "sfx.exe", ReadFile(temp_ / "sfx.exe") + std::string(20, 'T'));
    EXPECT_EQ(ReadAll(temp_ / "sfx.exe"), expected_);
}

TEST_F(ExternalTools, SevenZipArchivesStoredDeflatedAndLzma) {
    const std::string sevenZip = SEVENZIP_EXE;
    ASSERT_FALSE(sevenZip.empty()) << "7-Zip was not found when the tests were configured";
    InSource(sevenZip + " a -tzip -mx0 -mcu=on ../stored.zip .");
    InSource(sevenZip + " a -tzip -mx9 ../deflated.zip .");
    // LZMA with an end marker (7-Zip's default) and without one.
    InSource(sevenZip + " a -tzip -mm=LZMA -mx9 ../lzma.zip .");
    InSource(sevenZip + " a -tzip -mm=LZMA:eos=off ../lzma-no-marker.zip .");
    EXPECT_EQ(ReadAll(temp_ / "stored.zip"), expected_);
    EXPECT_EQ(ReadAll(temp_ / "deflated.zip"), expected_);
    EXPECT_EQ(ReadAll(temp_ / "lzma.zip"), expected_);
    EXPECT_EQ(ReadAll(temp_ / "lzma-no-marker.zip"), expected_);
    const std::string stub = "MZ" + RandomBytes(3000, 13);
    WriteFile(temp_ / "sfx.exe", stub + ReadFile(temp_ / "deflated.zip") + std::string(20, '\0'));
    EXPECT_EQ(ReadAll(temp_ / "sfx.exe"), expected_);
}

// Entry names and contents for an archive of `count` one-byte files, 1,000 to a folder.
std::map<std::string, std::string> ManyTinyFiles(int count) {
    std::map<std::string, std::string> files;
    for (int i = 0; i < count; ++i)
        files["d" + std::to_string(i / 1000) + "/" + std::to_string(i)] =
            std::string(1, static_cast<char>('a' + i % 26));
    return files;
}

// Beyond 65,535 entries the end record cannot count them: Zip64 end records do, whoever wrote
// them, and the archive stays readable to unzip and 7-Zip.
TEST_F(ExternalTools, SeventyThousandEntriesGoThroughZip64EndRecords) {
    const std::map<std::string, std::string> files = ManyTinyFiles(70000);
    {
        zip::Writer writer;
        ASSERT_TRUE(writer.Create(temp_ / "many.zip")) << writer.Error();
        for (const auto& [name, data] : files)
            ASSERT_TRUE(writer.AddBytes(name, data)) << writer.Error();
        ASSERT_TRUE(writer.Finish()) << writer.Error();
    }
    const std::string bytes = ReadFile(temp_ / "many.zip");
    const auto* end = reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size();
    EXPECT_EQ(format::Get16(end - format::kEndRecordSize + 10), 0xFFFF);
    EXPECT_EQ(format::Get32(end - format::kEndRecordSize - format::kZip64LocatorSize),
              format::kZip64LocatorSignature);
    EXPECT_EQ(ReadAll(temp_ / "many.zip"), files);
    InSource(std::string(UNZIP_EXE) + " -tq ../many.zip");
    InSource(std::string(SEVENZIP_EXE) + " t ../many.zip");
    // Zip64 end records that do not fit the rest: one entry more than the directory holds; a
    // locator that points elsewhere.
    const std::size_t record = bytes.size() - format::kEndRecordSize - format::kZip64LocatorSize -
                               format::kZip64EndRecordSize;
    Patch(temp_ / "many.zip", record + 24, "\x71\x11\x01");
    Patch(temp_ / "many.zip", record + 32, "\x71\x11\x01");
    EXPECT_EQ(FirstFailure(temp_ / "many.zip"),
              "'" + temp_ / "many.zip" + "': central directory damaged");
    WriteFile(temp_ / "many.zip", bytes);
    Patch(temp_ / "many.zip", record + format::kZip64EndRecordSize + 12, "\x01");
    EXPECT_EQ(FirstFailure(temp_ / "many.zip"),
              "no ZIP archive found in '" + temp_ / "many.zip" + "'");

    // Info-ZIP's zip, from a folder of the same files.
    for (const auto& [name, data] : files)
        WriteFile(temp_.path() / "tiny" / name, data);
    ASSERT_EQ(Shell("cd " + ShellQuoted(temp_ / "tiny") + " && " + ZIP_EXE +
                    " -q -r ../infozip.zip . >/dev/null"),
              0);
    EXPECT_EQ(ReadAll(temp_ / "infozip.zip"), files);
    // With a stub in front, as a self-extractor.
    WriteFile(temp_ / "sfx.exe", "MZ" + RandomBytes(3000, 14) + ReadFile(temp_ / "infozip.zip"));
    EXPECT_EQ(ReadAll(temp_ / "sfx.exe").size(), files.size());
}

TEST_F(ExternalTools, EncryptedEntriesAreRefused) {
    const std::string zip = ZIP_EXE;
    InSource(zip + " -q -r -P secret ../locked.zip .");
    EXPECT_NE(FirstFailure(temp_ / "locked.zip").find("encrypted"), std::string::npos);
}

// Offsets inside an archive of our writer, which puts no extra fields anywhere.
struct Layout {
    std::size_t dataStart;     // first entry's data
    std::size_t localSize;     // first entry's uncompressed size in its local header
    std::size_t centralCrc;    // first entry's CRC-32 in the central directory
    std::size_t centralSize;   // first entry's uncompressed size in the central directory
    std::size_t centralPacked; // first entry's compressed size in the central directory
};

Layout LayoutOf(const std::string& path, const std::string& firstName) {
    const std::string bytes = ReadFile(path);
    const auto* end = reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() -
                      format::kEndRecordSize;
    const std::size_t cdStart = format::Get32(end + 16);
    return {format::kLocalHeaderSize + firstName.size(), 22, cdStart + 16, cdStart + 24,
            cdStart + 20};
}

TEST(ZipReader, DamagedEntriesFailWithAReason) {
    TempFolder temp;
    const std::string text = TextBytes(50000);
    struct Case {
        const char* what;
        zip::Compression compression;
        std::function<void(const std::string& path, const Layout& at)> damage;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"stored byte flipped", zip::Compression::Store,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 100, "#"); }, "CRC-32"},
        {"deflated byte flipped", zip::Compression::Deflate,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 200, Byte('\x5A')); }, "damaged"},
        {"recorded CRC wrong", zip::Compression::Deflate,
         [](auto& path, auto& at) { Patch(path, at.centralCrc, Byte('\x00') + "\x01"); }, "CRC-32"},
        {"recorded size too small", zip::Compression::Deflate,
         [](auto& path, auto& at) { Patch(path, at.centralSize + 1, Byte('\x00')); },
         "recorded size"},
        {"recorded size too large", zip::Compression::Deflate,
         [](auto& path, auto& at) { Patch(path, at.centralSize + 2, Byte('\x07')); },
         "recorded size"},
        {"recorded packed size one too large", zip::Compression::Deflate,
         [](auto& path, auto& at) {
             const std::string bytes = ReadFile(path);
             unsigned char field[4];
             format::Put32(field, format::Get32(reinterpret_cast<const unsigned char*>(
                                      bytes.data() + at.centralPacked)) +
                                      1);
             Patch(path, at.centralPacked, std::string(field, field + 4));
         },
         "before its recorded size"},
        {"size far larger than the data, in both headers", zip::Compression::Deflate,
         [](auto& path, auto& at) {
             const std::string farLarger("\xF0\xFF\xFF\x7F", 4);
             Patch(path, at.localSize, farLarger);
             Patch(path, at.centralSize, farLarger);
         },
         "recorded size"},
        {"LZMA byte flipped", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 300, Byte('\x5A')); }, "damaged"},
        {"LZMA properties size not 5", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 2, Byte('\x06')); },
         "LZMA properties damaged"},
        {"LZMA lc/lp/pb byte out of range", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 4, Byte('\xE1')); },
         "LZMA properties damaged"},
        {"LZMA lc + lp beyond what the decoder takes", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 4, Byte(8 + 9 * 4)); },
         "LZMA properties not supported"},
        {"LZMA dictionary of 4 GiB", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.dataStart + 5, std::string(4, '\xFF')); },
         "LZMA dictionary larger than 64 MiB"},
        {"LZMA packed size cut short", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.centralPacked, Byte('\x20') + Byte('\x00')); },
         "ends early"},
        {"LZMA packed size shorter than its header", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.centralPacked, Byte('\x08') + Byte('\x00')); },
         "LZMA header missing"},
        {"LZMA recorded size too large", zip::Compression::Lzma,
         [](auto& path, auto& at) { Patch(path, at.centralSize + 2, Byte('\x07')); }, "damaged"},
        {"local name differs", zip::Compression::Deflate,
         [](auto& path, auto&) { Patch(path, format::kLocalHeaderSize, "X"); }, "local header"},
        {"local header gone", zip::Compression::Deflate,
         [](auto& path, auto&) { Patch(path, 0, "JUNK"); }, "local header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteZip(temp / "a.zip", {{"notes.txt", text, c.compression}, {"after.txt", "after"}});
        c.damage(temp / "a.zip", LayoutOf(temp / "a.zip", "notes.txt"));
        const std::string failure = FirstFailure(temp / "a.zip");
        EXPECT_NE(failure.find(c.expected), std::string::npos) << failure;
        EXPECT_NE(failure.find("notes.txt"), std::string::npos) << failure;
    }
}

TEST(ZipReader, DataBeyondTheRecordedSizeIsNeverHandedOut) {
    TempFolder temp;
    WriteZip(temp / "a.zip", {{"notes.txt", TextBytes(500000)}});
    // Record 80 bytes (0x50) where 500000 (0x0007A120) inflate.
    Patch(temp / "a.zip", LayoutOf(temp / "a.zip", "notes.txt").centralSize,
          std::string("\x50\x00\x00\x00", 4));
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp / "a.zip"));
    std::size_t delivered = 0;
    EXPECT_FALSE(reader.Extract(reader.Entries()[0], [&](const unsigned char*, std::size_t size) {
        delivered += size;
        return true;
    }));
    EXPECT_LE(delivered, 80u);
}

TEST(ZipReader, TruncatedOrCutArchivesNeverOpen) {
    TempFolder temp;
    WriteZip(temp / "a.zip", {{"a.txt", TextBytes(3000)}, {"b/c.bin", RandomBytes(500)}});
    const std::string bytes = ReadFile(temp / "a.zip");
    zip::Reader reader;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        WriteFile(temp / "cut.zip", bytes.substr(0, length));
        EXPECT_FALSE(reader.Open(temp / "cut.zip")) << "opened at length " << length;
    }
    // A stretch missing from the middle: the central directory no longer lies where the end
    // record says, so the archive is not found at all, or its entries fail.
    WriteFile(temp / "holed.zip", bytes.substr(0, 500) + bytes.substr(900));
    EXPECT_NE(FirstFailure(temp / "holed.zip"), "");

    // Cut as a payload's copy would be: behind a stub, with the image's trailer right after the
    // cut, so that the label's bytes stand where the end record's last fields were.
    const std::string stub = "MZ" + RandomBytes(4000, 6);
    WriteFile(temp / "stub.exe", stub);
    WriteZip(temp / "payload.exe", {{"a.txt", TextBytes(3000)}, {"b/c.bin", RandomBytes(500)}},
             temp / "stub.exe");
    const std::string payload = ReadFile(temp / "payload.exe");
    const std::string trailer = "v1.0.0" + std::string(10, '\0') + std::string("\x12\x34\0\0", 4);
    for (std::size_t length = stub.size(); length < payload.size(); ++length) {
        WriteFile(temp / "cut.exe", payload.substr(0, length) + trailer);
        EXPECT_FALSE(reader.Open(temp / "cut.exe")) << "opened at length " << length;
    }
}

TEST(ZipReader, NoArchiveAndEmptyArchive) {
    TempFolder temp;
    zip::Reader reader;
    EXPECT_FALSE(reader.Open(temp / "missing.zip"));
    EXPECT_NE(reader.Error().find("cannot open"), std::string::npos);
    WriteFile(temp / "empty.bin", "");
    EXPECT_FALSE(reader.Open(temp / "empty.bin"));
    WriteFile(temp / "noise.bin", RandomBytes(300000, 21));
    EXPECT_FALSE(reader.Open(temp / "noise.bin"));
    EXPECT_NE(reader.Error().find("no ZIP archive"), std::string::npos) << reader.Error();

    WriteZip(temp / "none.zip", {});
    ASSERT_TRUE(reader.Open(temp / "none.zip")) << reader.Error();
    EXPECT_TRUE(reader.Entries().empty());
}

TEST(ZipReader, AReceiverThatFailsStopsTheEntry) {
    TempFolder temp;
    WriteZip(temp / "a.zip", {{"big.txt", TextBytes(400000)}});
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp / "a.zip"));
    int calls = 0;
    EXPECT_FALSE(reader.Extract(
        reader.Entries()[0], [&calls](const unsigned char*, std::size_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
    EXPECT_NE(reader.Error().find("write error"), std::string::npos);
}

} // namespace
