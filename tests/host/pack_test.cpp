// pack: the archive's order and determinism, images, inspection, its errors and refusals, and the
// version it stamps.
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"
#include "tools/Pack.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <sstream>
#include <vector>

namespace {

using namespace testfiles;

struct Result {
    int code;
    std::string out, err;
};

using Args = std::vector<std::string>;

Result Pack(const Args& args) {
    std::ostringstream out, err;
    const int code = pack::Run(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<std::string> EntryNames(const std::string& path) {
    zip::Reader reader;
    EXPECT_TRUE(reader.Open(path)) << reader.Error();
    std::vector<std::string> names;
    for (const zip::Entry& entry : reader.Entries())
        names.push_back(entry.name);
    return names;
}

// A failure: exit code non-zero, one line on stderr starting "pack: " that mentions `expected`.
void ExpectError(const Result& result, const std::string& expected) {
    EXPECT_NE(result.code, 0);
    EXPECT_EQ(result.err.rfind("pack: ", 0), 0u) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
}

std::string Utf16(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text)
        bytes += {static_cast<char>(c), static_cast<char>(c >> 8)};
    return bytes;
}

std::uint16_t U16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                      static_cast<unsigned char>(bytes.at(at + 1)) << 8);
}

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~std::size_t{3};
}

// A block of a VS_VERSIONINFO: wLength, wValueLength, wType, key, NUL, padding, value, children.
std::string VersionBlock(const std::u16string& key, std::uint16_t valueLength, std::uint16_t type,
                         const std::string& value, const std::string& children = "") {
    std::string block = std::string(6, '\0') + Utf16(key + u'\0');
    block.resize(Align4(block.size()), '\0');
    block += value;
    block.resize(Align4(block.size()), '\0');
    block += children;
    PutU16(block, 0, static_cast<std::uint16_t>(block.size()));
    PutU16(block, 2, valueLength);
    PutU16(block, 4, type);
    return block;
}

// A String with room for `room` characters, NUL-padded, as res/setup.rc leaves it.
std::string Text(const std::u16string& key, const std::u16string& value, std::size_t room) {
    std::string area = Utf16(value);
    area.resize(2 * (std::max(room, value.size()) + 1), '\0');
    return VersionBlock(key, static_cast<std::uint16_t>(value.size() + 1), 1, area);
}

// The setup program's version resource: file and product version 1.0.0.1, CompanyName empty in
// room for 63 characters, the versions in room for 23, in two string tables.
std::string SetupVersionResource() {
    std::string fixed(52, '\0');
    const std::uint32_t words[] = {0xFEEF04BD, 0x10000, 0x10000, 1, 0x10000, 1};
    for (std::size_t at = 0; at < std::size(words); ++at)
        PutU32(fixed, 4 * at, words[at]);
    const std::string texts =
        Text(u"CompanyName", u"", 63) + Text(u"FileDescription", u"Setup", 0) +
        Text(u"FileVersion", u"1, 0, 0, 1", 23) + Text(u"ProductVersion", u"1, 0, 0, 1", 23);
    return VersionBlock(u"VS_VERSION_INFO", 52, 0, fixed,
                        VersionBlock(u"StringFileInfo", 0, 1, "",
                                     VersionBlock(u"040904B0", 0, 1, "", texts) +
                                         VersionBlock(u"040704B0", 0, 1, "", texts)) +
                            VersionBlock(u"VarFileInfo", 0, 1, "",
                                         VersionBlock(u"Translation", 4, 0, "\x09\x04\xB0\x04")));
}

// The setup program with the dialog it is recognised by and `version` (a VS_VERSIONINFO).
std::string VersionedSetupProgram(const std::string& version = SetupVersionResource()) {
    return ResourceProgram(
        {{5, 102, DialogTemplate("Torvane Software Suite Setup")}, {16, 1, version}});
}

// What a version resource in `file` says, found by its key rather than through the PE headers:
// the fixed file and product version (MS, LS, MS, LS) and each text as "table/key".
struct VersionInfo {
    std::array<std::uint32_t, 4> fixed{};
    std::map<std::string, std::u16string> texts;
};
VersionInfo ReadVersionInfo(const std::string& file) {
    VersionInfo info;
    const std::size_t root = file.find(Utf16(u"VS_VERSION_INFO")) - 6;
    const auto key = [&file](std::size_t at) {
        std::u16string key;
        for (at += 6; U16(file, at) != 0; at += 2)
            key += static_cast<char16_t>(U16(file, at));
        return key;
    };
    const auto value = [&](std::size_t at) { return Align4(at + 6 + 2 * (key(at).size() + 1)); };
    const auto children = [&](std::size_t at, std::size_t first, const auto& each) {
        for (std::size_t child = Align4(first); child < at + U16(file, at);
             child = Align4(child + U16(file, child)))
            each(child);
    };
    for (std::size_t i = 0; i < 4; ++i)
        info.fixed[i] = U16(file, value(root) + 8 + 4 * i) |
                        std::uint32_t{U16(file, value(root) + 10 + 4 * i)} << 16;
    children(root, value(root) + 52, [&](std::size_t block) {
        if (key(block) != u"StringFileInfo")
            return;
        children(block, value(block), [&](std::size_t table) {
            children(table, value(table), [&](std::size_t text) {
                std::u16string chars;
                for (std::size_t i = 0; i + 1 < U16(file, text + 2); ++i)
                    chars += static_cast<char16_t>(U16(file, value(text) + 2 * i));
                const std::u16string name = key(table) + u"/" + key(text);
                info.texts[std::string(name.begin(), name.end())] = chars;
            });
        });
    });
    return info;
}

// Every file under `folder` with its bytes (through links): what a refused command must leave.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        files[item.path().string()] = item.is_regular_file() ? ReadFile(item.path()) : "(folder)";
    return files;
}

class PackTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(temp_ / "sfx.exe", MinimalPeProgram() + RandomBytes(3000, 31));
        WriteFile(temp_ / "setup.exe", DialogProgram("Torvane Software Suite Setup"));
        MakeSuite(temp_ / "suite", false);
    }
    // The same files, created in one order or the reverse.
    void MakeSuite(const std::string& folder, bool reverse) {
        std::vector<std::pair<std::string, std::string>> files = {
            {"Torvane.exe", "MZ" + RandomBytes(30000, 33)},
            {"Dromlet.exe", "MZ" + TextBytes(9000)},
            {"Drivers/usb/torvusb.inf", TextBytes(800)},
            {"Drivers/net/torvnet.inf", TextBytes(900)},
            {"torvane.flg", "flag"},
            {"dromlet.flg", "flag"},
            {"a.txt", "lower case after upper case"},
            {"Zebra.txt", "upper case first"},
        };
        if (reverse)
            std::reverse(files.begin(), files.end());
        for (const auto& [name, content] : files)
            WriteFile(fs::path(folder) / name, content);
        fs::create_directories(fs::path(folder) / "Logs/empty");
    }
    Result Archive(const std::string& from, const std::string& out,
                   std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"archive", "--stub", temp_ / "sfx.exe", "--from", from,
                                         "--out",   out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Pack(args);
    }
    Result Image(const std::string& payload, const std::string& label, const std::string& out) {
        return Pack({"image", "--program", temp_ / "setup.exe", "--payload", payload, "--label",
                     label, "--out", out});
    }
    TempFolder temp_;
};

TEST_F(PackTest, ArchiveHoldsSortedFilesThenTheCompletionFlag) {
    const Result result = Archive(temp_ / "suite", temp_ / "payload.exe");
    ASSERT_EQ(result.code, 0) << result.err;
    const std::vector<std::string> expected = {"Drivers/net/torvnet.inf",
                                               "Drivers/usb/torvusb.inf",
                                               "Dromlet.exe",
                                               "Logs/empty/",
                                               "Torvane.exe",
                                               "Zebra.txt",
                                               "a.txt",
                                               "dromlet.flg",
                                               "torvane.flg",
                                               "ZZZ/comp.flg"};
    EXPECT_EQ(EntryNames(temp_ / "payload.exe"), expected);
    // Starts with the stub, byte for byte.
    const std::string stub = ReadFile(temp_ / "sfx.exe");
    EXPECT_EQ(ReadFile(temp_ / "payload.exe").substr(0, stub.size()), stub);
    EXPECT_FALSE(fs::exists(temp_ / "payload.exe.part"));
}

TEST_F(PackTest, MethodSetsHowEntriesThatShrinkAreCompressed) {
    for (const auto& [method, shrunk] : std::vector<std::pair<std::string, std::uint16_t>>{
             {"deflate", 8}, {"lzma", 14}, {"store", 0}}) {
        SCOPED_TRACE(method);
        ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe", {"--method", method}).code, 0);
        zip::Reader reader;
        ASSERT_TRUE(reader.Open(temp_ / "payload.exe")) << reader.Error();
        std::map<std::string, std::uint16_t> methods;
        for (const zip::Entry& entry : reader.Entries()) {
            methods[entry.name] = entry.method;
            std::string data;
            ASSERT_TRUE(reader.Extract(entry, [&data](const unsigned char* block, std::size_t n) {
                data.append(reinterpret_cast<const char*>(block), n);
                return true;
            })) << reader.Error();
            if (!entry.IsFolder() && entry.name != "ZZZ/comp.flg") {
                EXPECT_EQ(data, ReadFile(temp_ / ("suite/" + entry.name))) << entry.name;
            }
        }
        EXPECT_EQ(methods["Dromlet.exe"], shrunk);
        EXPECT_EQ(methods["Drivers/net/torvnet.inf"], shrunk);
        EXPECT_EQ(methods["Torvane.exe"], 0); // random bytes do not shrink
        EXPECT_EQ(methods["torvane.flg"], 0);
    }
}

TEST_F(PackTest, UnzipTestsTheArchiveWithoutWarnings) {
    const std::string unzip = UNZIP_EXE;
    ASSERT_FALSE(unzip.empty()) << "unzip was not found when the tests were configured";
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const std::string log = temp_ / "unzip.log";
    EXPECT_EQ(Shell(unzip + " -t " + ShellQuoted(temp_ / "payload.exe") + " >" + ShellQuoted(log) +
                    " 2>&1"),
              0);
    const std::string output = ReadFile(log);
    EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
    EXPECT_EQ(output.find("warning"), std::string::npos) << output;
}

// A name beyond ASCII is stored as UTF-8, flagged so (bit 11): 7-Zip unpacks it by that name.
// (Debian's unzip converts names of entries made on MS-DOS, as pack's are, from code page 437
// whatever their flag says.)
TEST_F(PackTest, NamesBeyondAsciiUnpackByTheirName) {
    WriteFile(temp_ / "cyrillic/Документы/Лицензия.txt", "license");
    ASSERT_EQ(Archive(temp_ / "cyrillic", temp_ / "payload.exe").code, 0);
    EXPECT_EQ(EntryNames(temp_ / "payload.exe"),
              (std::vector<std::string>{"Документы/Лицензия.txt", "ZZZ/comp.flg"}));
    ASSERT_EQ(Shell(std::string(SEVENZIP_EXE) + " x -o" + ShellQuoted(temp_ / "out") + " " +
                    ShellQuoted(temp_ / "payload.exe") + " >/dev/null 2>&1"),
              0);
    EXPECT_EQ(ReadFile(temp_ / "out/Документы/Лицензия.txt"), "license");
}

TEST_F(PackTest, SameInputsGiveTheSameBytes) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "one.exe").code, 0);
    // The same files, written in the other order and with other time stamps.
    MakeSuite(temp_ / "again", true);
    for (const auto& item : fs::recursive_directory_iterator(temp_.path() / "again"))
        fs::last_write_time(item.path(), fs::file_time_type::clock::now() - std::chrono::hours(50));
    // --option=value is --option value.
    ASSERT_EQ(Pack({"archive", "--stub=" + temp_ / "sfx.exe", "--from=" + temp_ / "again",
                    "--out=" + temp_ / "two.exe"})
                  .code,
              0);
    EXPECT_EQ(ReadFile(temp_ / "one.exe"), ReadFile(temp_ / "two.exe"));

    ASSERT_EQ(Image(temp_ / "one.exe", "v1.0.0", temp_ / "image1.exe").code, 0);
    ASSERT_EQ(Image(temp_ / "two.exe", "v1.0.0", temp_ / "image2.exe").code, 0);
    EXPECT_EQ(ReadFile(temp_ / "image1.exe"), ReadFile(temp_ / "image2.exe"));
}

TEST_F(PackTest, TheFoldersOwnCompletionFlagIsTakenAndStaysLast) {
    WriteFile(temp_ / "suite/ZZZ/comp.flg", "mine");
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const std::vector<std::string> names = EntryNames(temp_ / "payload.exe");
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "ZZZ/comp.flg");
    EXPECT_EQ(std::count(names.begin(), names.end(), "ZZZ/comp.flg"), 1);
    zip::Reader reader;
    ASSERT_TRUE(reader.Open(temp_ / "payload.exe"));
    EXPECT_EQ(reader.Entries().back().size, 4u);

    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "noflag.exe", {"--no-completion-flag"}).code, 0);
    const std::vector<std::string> without = EntryNames(temp_ / "noflag.exe");
    EXPECT_EQ(std::count(without.begin(), without.end(), "ZZZ/comp.flg"), 0);
    EXPECT_EQ(without.size(), names.size() - 1);
}

TEST_F(PackTest, ArchiveErrorsLeaveNoOutput) {
    WriteFile(temp_ / "payload.exe", "older payload");
    const std::string out = temp_ / "payload.exe";
    ExpectError(
        Pack({"archive", "--stub", temp_ / "nostub.exe", "--from", temp_ / "suite", "--out", out}),
        "nostub.exe");
    ExpectError(Archive(temp_ / "nosuite", out), "nosuite");

    WriteFile(temp_ / "bad1/docs/nul.txt", "x");
    ExpectError(Archive(temp_ / "bad1", out), "device name");
    WriteFile(temp_ / "bad2/notes.txt:stream", "x");
    ExpectError(Archive(temp_ / "bad2", out), "':'");
    WriteFile(temp_ / "bad3/Readme.txt", "x");
    WriteFile(temp_ / "bad3/README.TXT", "y");
    ExpectError(Archive(temp_ / "bad3", out), "differ only in case");
    WriteFile(temp_ / "bad4/Документы/a.txt", "x");
    WriteFile(temp_ / "bad4/документы/b.txt", "y");
    WriteFile(temp_ / "bad4/ДОКУМЕНТЫ", "a file where the folder is");
    ExpectError(Archive(temp_ / "bad4", out), "differ only in case");
    WriteFile(temp_ / "bad5/caf\xE9.txt", "a name in Latin-1, not UTF-8");
    ExpectError(Archive(temp_ / "bad5", out),
                "caf\xE9.txt' has a name that is not valid UTF-8, the encoding a ZIP archive "
                "stores names in: rename it");

    EXPECT_EQ(ReadFile(out), "older payload");
    EXPECT_FALSE(fs::exists(out + ".part"));
}

TEST_F(PackTest, ImageErrorsLeaveNoOutput) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const std::string out = temp_ / "image.exe";
    ExpectError(Image(temp_ / "payload.exe", "v1.0.0-beta-long", out), "longer than 15");
    ExpectError(Image(temp_ / "nopayload.exe", "v1.0.0", out), "nopayload.exe");
    ExpectError(Pack({"image", "--program", temp_ / "nosetup.exe", "--payload",
                      temp_ / "payload.exe", "--label", "v1.0.0", "--out", out}),
                "nosetup.exe");
    // A payload of 2 GiB: a program, a hole, an empty archive's end record.
    WriteFile(temp_ / "huge.exe", MinimalPeProgram());
    fs::resize_file(temp_ / "huge.exe", (std::uintmax_t{1} << 31) - 22);
    std::ofstream(temp_ / "huge.exe", std::ios::binary | std::ios::app)
        << std::string("PK\5\6", 4) + std::string(18, '\0');
    ExpectError(Image(temp_ / "huge.exe", "v1.0.0", out), "2 GiB");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(out + ".part"));

    ASSERT_EQ(Image(temp_ / "payload.exe", "ABCDEFGHIJKLMNO", out).code, 0);
}

TEST_F(PackTest, InspectShowsTrailerAndEntries) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    ASSERT_EQ(Image(temp_ / "payload.exe", "v1.0.0", temp_ / "image.exe").code, 0);
    const auto payloadLength = fs::file_size(temp_ / "payload.exe");
    const Result result = Pack({"inspect", temp_ / "image.exe"});
    ASSERT_EQ(result.code, 0) << result.err;
    const auto has = [&result](const std::string& text) {
        return result.out.find(text) != std::string::npos;
    };
    const auto padding = (8 - (1024 + payloadLength + 20) % 8) % 8;
    EXPECT_TRUE(
        has("image length:   " + std::to_string(1024 + padding + payloadLength + 20) + "\n"))
        << result.out;
    EXPECT_TRUE(has("signature:      none\n")) << result.out;
    EXPECT_TRUE(has("payload offset: " + std::to_string(1024 + padding) + "\n")) << result.out;
    EXPECT_TRUE(has("payload length: " + std::to_string(payloadLength) + "\n")) << result.out;
    EXPECT_TRUE(has("program length: " + std::to_string(1024 + padding) +
                    " (the program and the padding in front of the payload)\n"))
        << result.out;
    EXPECT_TRUE(has("label:          \"v1.0.0\"\n")) << result.out;
    EXPECT_TRUE(has("trailer:        consistent")) << result.out;
    EXPECT_TRUE(has("ZIP at payload offset 4024, 10 entries")) << result.out;
    EXPECT_TRUE(has("Drivers/net/torvnet.inf\n")) << result.out;
    EXPECT_TRUE(has("  stored            0          0 00000000  Logs/empty/\n")) << result.out;
    EXPECT_LT(result.out.find("torvane.flg"), result.out.find("ZZZ/comp.flg")) << result.out;
}

TEST_F(PackTest, InspectReadsASignedImageInFrontOfItsCertificateTable) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    ASSERT_EQ(Image(temp_ / "payload.exe", "v2.1.0", temp_ / "image.exe").code, 0);
    const std::string image = ReadFile(temp_ / "image.exe");
    ASSERT_EQ(image.size() % 8, 0u);
    WriteFile(temp_ / "signed.exe", Signed(image, 2048));
    const Result result = Pack({"inspect", temp_ / "signed.exe"});
    ASSERT_EQ(result.code, 0) << result.err;
    for (const std::string& line :
         {"image length:   " + std::to_string(image.size() + 2048) + "\n",
          "signature:      certificate table of 2048 bytes at offset " +
              std::to_string(image.size()) + "\n",
          std::string("label:          \"v2.1.0\"\n"), std::string("trailer:        consistent"),
          std::string("10 entries\n")})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
}

// Each mistake a vendor can make on the way to an image, with all that pack says to it.
TEST_F(PackTest, MistakesAreNamedInOneSentenceEach) {
    const std::string setup = temp_ / "setup.exe", sfx = temp_ / "sfx.exe",
                      payload = temp_ / "payload.exe", out = temp_ / "out.exe";
    ASSERT_EQ(Archive(temp_ / "suite", payload).code, 0);
    ASSERT_EQ(Image(payload, "v1.0.0", temp_ / "image.exe").code, 0);
    zip::Writer zip;
    ASSERT_TRUE(zip.Create(temp_ / "suite.zip") && zip.AddBytes("Torvane.exe", "MZ") &&
                zip.Finish());
    WriteFile(temp_ / "short.exe", "MZ");
    std::string error; // an image of a payload that holds no archive, as pack would not make it
    ASSERT_TRUE(image::WriteImage(setup, sfx, "v1.0.0", temp_ / "no-archive.exe", error)) << error;
    WriteFile(temp_ / "random.bin", RandomBytes(4096, 40));
    WriteFile(temp_ / "appended.exe", Signed(ReadFile(temp_ / "image.exe")) + "appended");
    WriteFile(temp_ / "other.exe", DialogProgram("Some Other Setup"));
    WriteFile(temp_ / "flag-alone/pellisar.flg", "flag");
    WriteFile(temp_ / "flag-alone/Torvane.exe", "MZ");
    WriteFile(temp_ / "flag-alone/TORVANE.FLG", "flag");
    WriteFile(temp_ / "flag-alone/Dromlet.exe", "MZ");
    WriteFile(temp_ / "no-flags/Torvane.exe", "MZ");
    ASSERT_EQ(Archive(temp_ / "no-flags", temp_ / "noflag.exe", {"--no-completion-flag"}).code, 0);
    const auto image = [&](const std::string& program, const std::string& payload,
                           const std::string& label = "v1.0.0") {
        return Args{"image",   "--program", program, "--payload", payload,
                    "--label", label,       "--out", out};
    };
    const auto archive = [&](const std::string& stub, const std::string& from,
                             const std::string& extra = "--no-completion-flag") {
        return Args{"archive", "--stub", stub, "--from", from, "--out", out, extra};
    };
    const auto inspect = [](const std::string& file) { return Args{"inspect", file}; };
    const std::string archiveUsage = "usage: pack archive --stub SFX.EXE --from DIR --out "
                                     "PAYLOAD.EXE [--method METHOD] [--no-completion-flag] "
                                     "[--strict]\n";
    struct Mistake {
        Args args;
        int code;
        std::string err;
    };
    const std::string noShortcuts =
        "the folder's root holds none of the component flags pellisar.flg, torvane.flg, "
        "dromlet.flg: the setup will create no shortcuts and report \"No components installed!\"";
    const std::string flagAlone = "'pellisar.flg' has no 'Pellisar.exe' beside it: the setup "
                                  "would make shortcuts to a program that is not there";
    const std::string programAlone = "'Dromlet.exe' has no 'dromlet.flg' beside it: the setup "
                                     "would not count Dromlet as installed and make no shortcut "
                                     "to it";
    const std::string ascii = "' may hold only printable ASCII characters: the label field is "
                              "single-byte and the user's code page is unknown\n";
    for (const Mistake& mistake : std::vector<Mistake>{
             {image(payload, setup), 1,
              "pack: program '" + payload +
                  "' is a payload (a Windows program with a ZIP archive behind it): "
                  "were --program and --payload swapped?\n"},
             {image(setup, temp_ / "suite.zip"), 1,
              "pack: payload '" + temp_ / "suite.zip" +
                  "' is a ZIP archive without a stub: run `pack archive` first\n"},
             {image(setup, sfx), 1,
              "pack: payload '" + sfx +
                  "' is a Windows program other than the setup program, "
                  "with no ZIP archive behind it: run `pack archive` first\n"},
             {image(temp_ / "other.exe", payload), 1,
              "pack: program '" + temp_ / "other.exe" +
                  "' is a Windows program other than the setup program, "
                  "with no ZIP archive behind it: give setup.exe as built\n"},
             {image(setup, temp_ / "noflag.exe"), 0,
              "pack: warning: payload '" + temp_ / "noflag.exe" +
                  "' holds no completion flag ZZZ/comp.flg: "
                  "the setup will wait 20 seconds for it in vain\n"},
             {archive(setup, temp_ / "suite"), 1,
              "pack: stub '" + setup + "' is the setup program: give sfx.exe\n"},
             {inspect(temp_ / "random.bin"), 1,
              "pack: '" + temp_ / "random.bin" +
                  "' is not an installer image: "
                  "it is neither a Windows program nor a ZIP archive\n"},
             {inspect(temp_ / "short.exe"), 1,
              "pack: '" + temp_ / "short.exe" +
                  "' is not an installer image: "
                  "it is neither a Windows program nor a ZIP archive\n"},
             {inspect(temp_ / "missing.exe"), 1,
              "pack: cannot open '" + temp_ / "missing.exe" + "': No such file or directory\n"},
             {inspect(payload), 1,
              "pack: '" + payload +
                  "' is a payload, not an image: "
                  "`pack image` puts it behind the setup program\n"},
             {inspect(setup), 1,
              "pack: '" + setup + "' is not an installer image: it is the setup program\n"},
             {inspect(temp_ / "no-archive.exe"), 1,
              "pack: the payload of '" + temp_ / "no-archive.exe" + "' holds no ZIP archive\n"},
             {inspect(temp_ / "appended.exe"), 1,
              "pack: '" + temp_ / "appended.exe" +
                  "' is not an installer image: "
                  "it is a signed program whose certificate table does not end the file "
                  "(were bytes appended after signing?)\n"},
             {archive(sfx, temp_ / "flag-alone"), 0,
              "pack: warning: " + flagAlone + "\npack: warning: " + programAlone + "\n"},
             {archive(sfx, temp_ / "flag-alone", "--strict"), 1,
              "pack: " + flagAlone + "\npack: " + programAlone + "\n"},
             {archive(sfx, temp_ / "no-flags"), 0, "pack: warning: " + noShortcuts + "\n"},
             {image(setup, payload, "v2.1.0-\xC3\xB1-beta12"), 1,
              "pack: label 'v2.1.0-\xC3\xB1-beta12" + ascii},
             {image(setup, payload, "v2.1 \xC3\xB1"), 1, "pack: label 'v2.1 \xC3\xB1" + ascii},
             {image(setup, payload, "v2.1\n"), 1, "pack: label 'v2.1?" + ascii},
             {image(setup, payload, "v2.1.0-beta-long"), 1,
              "pack: label 'v2.1.0-beta-long' is longer than 15 characters\n"},
             {archive(sfx, temp_ / "suite", "--form"), 2,
              "pack: unknown option '--form' for 'archive': did you mean --from?\n" + archiveUsage},
             {archive(sfx, temp_ / "suite", "--compress"), 2,
              "pack: unknown option '--compress' for 'archive'\n" + archiveUsage},
             {archive(sfx, temp_ / "suite", "--method=zstd"), 1,
              "pack: unknown --method 'zstd': deflate, lzma or store\n"},
             {archive(sfx, temp_ / "suite", "--strict=yes"), 2,
              "pack: --strict takes no value\n" + archiveUsage},
             {archive(sfx, temp_ / "suite", "--out=" + out), 2,
              "pack: --out given twice\n" + archiveUsage},
             {Args{"archive", "--stub", sfx, "--out", out}, 2,
              "pack: 'archive' needs --from\n" + archiveUsage},
             {Args{"inspect"}, 2,
              "pack: 'inspect' needs exactly one image file\nusage: pack inspect IMAGE.EXE\n"},
         }) {
        SCOPED_TRACE(mistake.args[0] + " " + mistake.args.back());
        const Result result = Pack(mistake.args);
        EXPECT_EQ(result.code, mistake.code);
        EXPECT_EQ(result.err, mistake.err);
        EXPECT_EQ(fs::exists(out), mistake.code == 0);
        fs::remove(out);
    }
}

TEST_F(PackTest, HelpGoesToStandardOutput) {
    const Result all = Pack({"--help"});
    EXPECT_EQ(all.code, 0);
    EXPECT_NE(all.out.find("       pack COMMAND --help\n"), std::string::npos) << all.out;
    const Result image = Pack({"image", "--label", "v1", "--help"});
    EXPECT_EQ(image.code, 0);
    EXPECT_EQ(image.out.rfind("usage: pack image --program SETUP.EXE", 0), 0u) << image.out;
    EXPECT_NE(image.out.find("--option=VALUE"), std::string::npos) << image.out;
    EXPECT_EQ(image.err, "");
}

TEST_F(PackTest, TheProgramReportsOnStderrWithItsExitCode) {
    const std::string pack = PACK_EXE;
    const std::string err = temp_ / "err.txt";
    const int code = Shell(ShellQuoted(pack) + " image --program " +
                           ShellQuoted(temp_ / "setup.exe") + " --payload " +
                           ShellQuoted(temp_ / "setup.exe") + " --label ABCDEFGHIJKLMNOP --out " +
                           ShellQuoted(temp_ / "x.exe") + " 2>" + ShellQuoted(err));
    EXPECT_NE(code, 0);
    EXPECT_EQ(ReadFile(err).rfind("pack: label", 0), 0u) << ReadFile(err);
    EXPECT_FALSE(fs::exists(temp_ / "x.exe"));
    EXPECT_NE(Shell(ShellQuoted(pack) + " 2>/dev/null"), 0);
}

// pack never writes over what it reads: each refusal is one sentence and exit 2, and leaves
// every file as it was, with nothing added.
TEST_F(PackTest, OutputThatIsAnInputOrInsideTheSuiteIsRefused) {
    const std::string sfx = temp_ / "sfx.exe", setup = temp_ / "setup.exe",
                      payload = temp_ / "payload.exe", suite = temp_ / "suite";
    ASSERT_EQ(Archive(suite, payload).code, 0);
    fs::create_directory(temp_ / "dir");
    fs::create_hard_link(sfx, temp_ / "hard.exe");
    fs::create_symlink(sfx, temp_ / "soft.exe");
    fs::create_directory_symlink(suite, temp_ / "suite-link");
    WriteFile(temp_ / "stub.exe.part", ReadFile(sfx));
    const std::string same = "' is the same file as ";
    const std::string inside = "' lies inside --from '" + suite +
                               "': the archive would take in its own output; write it outside "
                               "that folder\n";
    const std::string itself =
        "' is the --from folder '" + suite + "' itself: name a file outside it\n";
    const auto image = [&](const std::string& out) {
        return Args{"image",   "--program", setup,   "--payload", payload,
                    "--label", "v1",        "--out", out};
    };
    const auto archive = [&](const std::string& out, std::string stub = "") {
        return Args{"archive", "--stub", stub.empty() ? sfx : stub, "--from", suite, "--out", out};
    };
    const std::string never = ": pack never writes over its input\n";
    for (const auto& [args, message] : std::vector<std::pair<Args, std::string>>{
             {archive(temp_ / "./sfx.exe"),
              "--out '" + temp_ / "./sfx.exe" + same + "--stub '" + sfx + "'" + never},
             {archive(temp_ / "dir/../sfx.exe"),
              "--out '" + temp_ / "dir/../sfx.exe" + same + "--stub '" + sfx + "'" + never},
             {archive(temp_ / "hard.exe"),
              "--out '" + temp_ / "hard.exe" + same + "--stub '" + sfx + "'" + never},
             {archive(temp_ / "soft.exe"),
              "--out '" + temp_ / "soft.exe" + same + "--stub '" + sfx + "'" + never},
             {archive(temp_ / "stub.exe", temp_ / "stub.exe.part"),
              "--out '" + temp_ / "stub.exe" + "' is first written as '" + temp_ / "stub.exe.part" +
                  "', the same file as --stub '" + temp_ / "stub.exe.part" +
                  "': move that file or choose another --out\n"},
             {image(payload), "--out '" + payload + same + "--payload '" + payload + "'" + never},
             {image(temp_ / "dir/../setup.exe"),
              "--out '" + temp_ / "dir/../setup.exe" + same + "--program '" + setup + "'" + never},
             {archive(suite + "/payload.exe"), "--out '" + suite + "/payload.exe" + inside},
             {archive(suite + "/Drivers/usb/payload.exe"),
              "--out '" + suite + "/Drivers/usb/payload.exe" + inside},
             {archive(temp_ / "suite-link/payload.exe"),
              "--out '" + temp_ / "suite-link/payload.exe" + inside},
             {archive(suite), "--out '" + suite + itself},
             {archive(suite + "/Drivers/.."), "--out '" + suite + "/Drivers/.." + itself},
             {archive(temp_ / "dir"),
              "--out '" + temp_ / "dir" + "' is a folder: name the file to write\n"},
             {image(temp_ / "dir"),
              "--out '" + temp_ / "dir" + "' is a folder: name the file to write\n"},
         }) {
        SCOPED_TRACE(args.back());
        const auto before = Snapshot(temp_.path());
        const Result result = Pack(args);
        EXPECT_EQ(result.code, 2);
        EXPECT_EQ(result.err, "pack: " + message);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(Snapshot(temp_.path()), before);
    }
    // A folder whose name begins with the suite's is not inside it.
    fs::create_directory(temp_ / "suite2");
    EXPECT_EQ(Archive(suite, temp_ / "suite2/payload.exe").code, 0);
}

TEST_F(PackTest, SaysWhatItWrote) {
    const Result archive = Archive(temp_ / "suite", temp_ / "payload.exe");
    EXPECT_EQ(archive.out, "pack: wrote " + temp_ / "payload.exe" + ": " +
                               std::to_string(fs::file_size(temp_ / "payload.exe")) +
                               " bytes, 10 entries\n");
    const Result image = Image(temp_ / "payload.exe", "v1.0.0", temp_ / "image.exe");
    EXPECT_EQ(image.out, "pack: wrote " + temp_ / "image.exe" + ": " +
                             std::to_string(fs::file_size(temp_ / "image.exe")) +
                             " bytes, label v1.0.0\n");
    EXPECT_EQ(archive.err + image.err, "");
}

// --version and --publisher stamp the copy of the program: the fixed versions and the texts of
// every string table, read back by key; nothing moves, and the label follows the version.
TEST_F(PackTest, VersionAndPublisherAreStampedIntoTheImagesProgram) {
    const std::string program = VersionedSetupProgram();
    WriteFile(temp_ / "versioned.exe", program);
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const auto image = [&](const std::string& out, Args extra) {
        Args args{"image", "--program", temp_ / "versioned.exe", "--payload", temp_ / "payload.exe",
                  "--out", out};
        args.insert(args.end(), extra.begin(), extra.end());
        return Pack(args);
    };
    ASSERT_EQ(image(temp_ / "plain.exe", {"--label", "v2.1.0"}).code, 0);
    const Result result =
        image(temp_ / "stamped.exe", {"--version", "2.1.0", "--publisher", "Acme Tööls Ltd"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "pack: wrote " + temp_ / "stamped.exe" + ": " +
                              std::to_string(fs::file_size(temp_ / "plain.exe")) +
                              " bytes, label v2.1.0, version 2.1.0, publisher 'Acme Tööls Ltd'\n");
    EXPECT_EQ(ReadFile(temp_ / "versioned.exe"), program);
    const VersionInfo plain = ReadVersionInfo(ReadFile(temp_ / "plain.exe"));
    const VersionInfo stamped = ReadVersionInfo(ReadFile(temp_ / "stamped.exe"));
    EXPECT_EQ(plain.fixed, (std::array<std::uint32_t, 4>{0x10000, 1, 0x10000, 1}));
    EXPECT_EQ(stamped.fixed, (std::array<std::uint32_t, 4>{0x20001, 0, 0x20001, 0}));
    std::map<std::string, std::u16string> expected = plain.texts;
    for (const std::string table : {"040904B0/", "040704B0/"}) {
        EXPECT_EQ(plain.texts.at(table + "CompanyName"), u"");
        expected[table + "CompanyName"] = u"Acme Tööls Ltd";
        expected[table + "FileVersion"] = expected[table + "ProductVersion"] = u"2.1.0";
    }
    EXPECT_EQ(stamped.texts, expected);
    image::ImageLayout layout;
    std::string error;
    ASSERT_TRUE(image::ReadImageLayout(temp_ / "stamped.exe", layout, error)) << error;
    EXPECT_EQ(layout.label, "v2.1.0");
    // Padding, payload and trailer as behind the unstamped program.
    EXPECT_TRUE(ReadFile(temp_ / "stamped.exe").substr(program.size()) ==
                ReadFile(temp_ / "plain.exe").substr(program.size()));
    const Result inspect = Pack({"inspect", temp_ / "stamped.exe"});
    EXPECT_NE(
        inspect.out.find(
            "\nversion:        \"2.1.0\" (fixed file version 2.1.0.0, product version 2.1.0.0)\n"
            "publisher:      \"Acme Tööls Ltd\"\n"),
        std::string::npos)
        << inspect.out;
    EXPECT_NE(Pack({"inspect", temp_ / "plain.exe"})
                  .out.find("\"1, 0, 0, 1\" (fixed file version 1.0.0.1, product version "
                            "1.0.0.1)\npublisher:      none\n"),
              std::string::npos);

    // Each version as numbers, the ones left out 0; a --label given is kept; the room is filled.
    for (const auto& [version, fixed, label] :
         std::vector<std::tuple<std::string, std::array<std::uint32_t, 4>, std::string>>{
             {"7", {0x70000, 0, 0x70000, 0}, "v7"},
             {"1.2.3.4", {0x10002, 0x30004, 0x10002, 0x30004}, "v1.2.3.4"},
             {"65535.0.65535.00001",
              {0xFFFF0000, 0xFFFF0001, 0xFFFF0000, 0xFFFF0001},
              "release"}}) {
        SCOPED_TRACE(version);
        Args extra{"--version", version, "--publisher", std::string(63, 'P')};
        if (label == "release")
            extra.insert(extra.end(), {"--label", label});
        ASSERT_EQ(image(temp_ / "other.exe", extra).code, 0);
        const VersionInfo info = ReadVersionInfo(ReadFile(temp_ / "other.exe"));
        EXPECT_EQ(info.fixed, fixed);
        EXPECT_EQ(info.texts.at("040704B0/ProductVersion"),
                  std::u16string(version.begin(), version.end()));
        EXPECT_EQ(info.texts.at("040904B0/CompanyName"), std::u16string(63, u'P'));
        ASSERT_TRUE(image::ReadImageLayout(temp_ / "other.exe", layout, error)) << error;
        EXPECT_EQ(layout.label, label);
    }
}

TEST_F(PackTest, VersionsAndPublishersThatCannotBeStampedAreRefused) {
    WriteFile(temp_ / "versioned.exe", VersionedSetupProgram());
    WriteFile(temp_ / "signed.exe", Signed(VersionedSetupProgram()));
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const std::string out = temp_ / "out.exe";
    const auto image = [&](const Args& extra, std::string program = "") {
        Args args{
            "image",     "--program",           program.empty() ? temp_ / "versioned.exe" : program,
            "--payload", temp_ / "payload.exe", "--out",
            out};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const std::string notVersion =
        "' is not a version: give 1 to 4 numbers from 0 to 65535 separated by dots, e.g. 2.1.0\n";
    struct Mistake {
        Args args;
        int code;
        std::string err;
    };
    std::vector<Mistake> mistakes;
    for (const std::string version :
         {"2.", "1.2.3.4.5", "1.x", "70000", "", "1..2", "-2", " 2", "1.000001"})
        mistakes.push_back(
            {image({"--version", version}), 2, "pack: --version '" + version + notVersion});
    mistakes.insert(
        mistakes.end(),
        {
            {image({"--version", "65535.65535.65535.65535"}), 2,
             "pack: --version '65535.65535.65535.65535' makes the label "
             "'v65535.65535.65535.65535', longer than 15 characters: give a --label\n"},
            {image({"--label", "v1", "--publisher", std::string(64, 'P')}), 2,
             "pack: --publisher '" + std::string(64, 'P') +
                 "' is 64 characters long, more than the 63 that program '" +
                 temp_ / "versioned.exe" + "' has room for in its CompanyName\n"},
            {image({"--label", "v1", "--publisher", "Acme\nTools"}), 2,
             "pack: --publisher holds a control character (U+000A): give the publisher's name as "
             "it is to be shown, on one line\n"},
            {image({"--label", "v1", "--publisher", ""}), 2,
             "pack: --publisher is empty: leave it out for an image that names no publisher\n"},
            {image({"--publisher", "Acme"}), 2,
             "pack: 'image' needs --label or --version\nusage: pack image --program SETUP.EXE "
             "--payload PAYLOAD.EXE --label TEXT --out IMAGE.EXE\n"
             "                  [--version VERSION] [--publisher NAME]\n"},
            {image({"--version", "2.1"}, temp_ / "setup.exe"), 1,
             "pack: program '" + temp_ / "setup.exe" + "' has no version resource to stamp\n"},
            {image({"--version", "2.1"}, temp_ / "signed.exe"), 1,
             "pack: program '" + temp_ / "signed.exe" +
                 "' is signed, and stamping its version would break the signature: give the "
                 "program unsigned, and sign the image that pack writes\n"},
        });
    for (const auto& [args, code, message] : mistakes) {
        SCOPED_TRACE(args.back());
        const Result result = Pack(args);
        EXPECT_EQ(result.code, code);
        EXPECT_EQ(result.err, message);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(out + ".part"));
    }
    // Unsigned and without --version or --publisher, a signed program is packed as it is.
    EXPECT_EQ(Pack(image({"--label", "v1"}, temp_ / "signed.exe")).code, 0);
}

// Any byte of the version resource spoiled: pack stamps what it can still read as a version
// resource, or says there is none, and reads nothing outside the resource (run under ASan).
TEST_F(PackTest, SpoiledVersionResourcesAreReadWithinTheirBounds) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    const std::string program = VersionedSetupProgram();
    const std::size_t start = program.find(Utf16(u"VS_VERSION_INFO")) - 6;
    for (std::size_t at = start; at < start + SetupVersionResource().size(); at += 3) {
        std::string spoiled = program;
        spoiled[at] = static_cast<char>(spoiled[at] ^ (at % 2 ? 0xFF : 0x81));
        WriteFile(temp_ / "spoiled.exe", spoiled);
        const Result result =
            Pack({"image", "--program", temp_ / "spoiled.exe", "--payload", temp_ / "payload.exe",
                  "--version", "2.1", "--publisher", "Acme", "--out", temp_ / "out.exe"});
        EXPECT_TRUE(result.code == 0 || result.err.find("version resource") != std::string::npos)
            << at << ": " << result.err;
    }
}

} // namespace
