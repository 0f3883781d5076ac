// pack: the archive's order and determinism, images, inspection, and its errors.
#include "image/ImageTrailer.h"
#include "payload/ZipReader.h"
#include "tools/Pack.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

using namespace testfiles;

struct Result {
    int code;
    std::string out, err;
};

Result Pack(const std::vector<std::string>& args) {
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

class PackTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(temp_ / "sfx.exe", "MZ" + RandomBytes(4096, 31));
        WriteFile(temp_ / "setup.exe", "MZ" + RandomBytes(20000, 32));
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
                                               "Torvane.exe",
                                               "Zebra.txt",
                                               "a.txt",
                                               "dromlet.flg",
                                               "torvane.flg",
                                               "ZZZ/comp.flg"};
    EXPECT_EQ(EntryNames(temp_ / "payload.exe"), expected);
    // Starts with the stub, byte for byte.
    EXPECT_EQ(ReadFile(temp_ / "payload.exe").substr(0, 4098), ReadFile(temp_ / "sfx.exe"));
    EXPECT_FALSE(fs::exists(temp_ / "payload.exe.part"));
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

TEST_F(PackTest, SameInputsGiveTheSameBytes) {
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "one.exe").code, 0);
    // The same files, written in the other order and with other time stamps.
    MakeSuite(temp_ / "again", true);
    for (const auto& item : fs::recursive_directory_iterator(temp_.path() / "again"))
        fs::last_write_time(item.path(), fs::file_time_type::clock::now() - std::chrono::hours(50));
    ASSERT_EQ(Archive(temp_ / "again", temp_ / "two.exe").code, 0);
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
    ExpectError(Pack({"archive", "--stub", temp_ / "sfx.exe", "--out", out}), "--from");
    ExpectError(Archive(temp_ / "suite", out, {"--compress"}), "--compress");
    ExpectError(Archive(temp_ / "suite", out, {"--out", out}), "twice");

    WriteFile(temp_ / "bad1/docs/nul.txt", "x");
    ExpectError(Archive(temp_ / "bad1", out), "device name");
    WriteFile(temp_ / "bad2/notes.txt:stream", "x");
    ExpectError(Archive(temp_ / "bad2", out), "':'");
    WriteFile(temp_ / "bad3/Readme.txt", "x");
    WriteFile(temp_ / "bad3/README.TXT", "y");
    ExpectError(Archive(temp_ / "bad3", out), "differ only in case");

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
    { std::ofstream(temp_ / "huge.exe", std::ios::binary); }
    fs::resize_file(temp_ / "huge.exe", std::uintmax_t{1} << 31);
    ExpectError(Image(temp_ / "huge.exe", "v1.0.0", out), "2 GiB");
    ExpectError(Pack({"image", "--program", temp_ / "setup.exe", "--out", out}), "--label");
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
    const auto padding = (8 - (20002 + payloadLength + 20) % 8) % 8;
    EXPECT_TRUE(
        has("image length:   " + std::to_string(20002 + padding + payloadLength + 20) + "\n"))
        << result.out;
    EXPECT_TRUE(has("signature:      none\n")) << result.out;
    EXPECT_TRUE(has("payload offset: " + std::to_string(20002 + padding) + "\n")) << result.out;
    EXPECT_TRUE(has("payload length: " + std::to_string(payloadLength) + "\n")) << result.out;
    EXPECT_TRUE(has("label:          \"v1.0.0\"\n")) << result.out;
    EXPECT_TRUE(has("trailer:        consistent")) << result.out;
    EXPECT_TRUE(has("ZIP at payload offset 4098, 9 entries")) << result.out;
    EXPECT_TRUE(has("Drivers/net/torvnet.inf\n")) << result.out;
    EXPECT_LT(result.out.find("torvane.flg"), result.out.find("ZZZ/comp.flg")) << result.out;
}

TEST_F(PackTest, InspectReadsASignedImageInFrontOfItsCertificateTable) {
    WriteFile(temp_ / "pe.exe", MinimalPeProgram());
    ASSERT_EQ(Archive(temp_ / "suite", temp_ / "payload.exe").code, 0);
    ASSERT_EQ(Pack({"image", "--program", temp_ / "pe.exe", "--payload", temp_ / "payload.exe",
                    "--label", "v2.1.0", "--out", temp_ / "image.exe"})
                  .code,
              0);
    const std::string image = ReadFile(temp_ / "image.exe");
    ASSERT_EQ(image.size() % 8, 0u);
    WriteFile(temp_ / "signed.exe", Signed(image, 2048));
    const Result result = Pack({"inspect", temp_ / "signed.exe"});
    ASSERT_EQ(result.code, 0) << result.err;
    for (const std::string& line :
         {"image length:   " + std::to_string(image.size() + 2048) + "\n",
          "signature:      certificate table of 2048 bytes at offset " +
              std::to_string(image.size()) + "\n",
          std::string("label:          \"v2.1.0\"\n"), std::string("payload offset: 1024\n"),
          std::string("trailer:        consistent"), std::string("9 entries\n")})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
}

TEST_F(PackTest, InspectRefusesATrailerThatDoesNotFit) {
    // A payload length one byte too long for the file.
    std::string image = ReadFile(temp_ / "setup.exe") + "payload";
    const image::Trailer trailer = image::MakeTrailer("v1.0.0", 20010);
    image.append(trailer.begin(), trailer.end());
    WriteFile(temp_ / "broken.exe", image);
    ExpectError(Pack({"inspect", temp_ / "broken.exe"}), "does not fit");
    WriteFile(temp_ / "short.exe", "MZ");
    ExpectError(Pack({"inspect", temp_ / "short.exe"}), "too short");
    ExpectError(Pack({"inspect", temp_ / "missing.exe"}), "missing.exe");

    // A payload that is not an archive of ours: shown, but not an error.
    ASSERT_EQ(Image(temp_ / "sfx.exe", "v1.0.0", temp_ / "plain.exe").code, 0);
    const Result plain = Pack({"inspect", temp_ / "plain.exe"});
    EXPECT_EQ(plain.code, 0) << plain.err;
    EXPECT_NE(plain.out.find("archive:        none"), std::string::npos) << plain.out;
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

} // namespace
