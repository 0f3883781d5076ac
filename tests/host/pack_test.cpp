// pack: the archive's order and determinism, images, inspection, its errors and refusals.
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "payload/ZipReader.h"
#include "payload/ZipWriter.h"
#include "tools/Pack.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

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

} // namespace
