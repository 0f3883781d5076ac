// The installer image trailer: the label and length fields, and images written by WriteImage
// read back the way the setup program reads its own file.
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>

namespace {

using namespace testfiles;

image::LabelField Field(const char* bytes, std::size_t size) {
    image::LabelField field{};
    std::memcpy(field.data(), bytes, size);
    return field;
}

TEST(LabelField, TextEndsAtTheFirstZeroAndNeverPassesFifteenBytes) {
    EXPECT_EQ(image::LabelFromField(Field("\0v1.0.0", 7).data()), "");
    EXPECT_EQ(image::LabelFromField(Field("v1.0.0\0", 7).data()), "v1.0.0");
    EXPECT_EQ(image::LabelFromField(Field("ABCDEFGHIJKLMNO\0", 16).data()), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(image::LabelFromField(Field("ABCDEFGHIJKLMNOP", 16).data()), "ABCDEFGHIJKLMNO");
}

TEST(LabelField, BytesAfterTheZeroHaveNoEffect) {
    const char clean[16] = "v2.10.3";
    char dirty[16];
    std::memcpy(dirty, "v2.10.3\0\xFFXYZ\x01\x80\x7F!", 16);
    EXPECT_EQ(image::LabelFromField(Field(dirty, 16).data()),
              image::LabelFromField(Field(clean, 16).data()));
    EXPECT_EQ(image::LabelFromField(Field(dirty, 16).data()), "v2.10.3");
}

TEST(LengthField, LittleEndianSigned32Bit) {
    const unsigned char shipped[4] = {0xF1, 0xCC, 0x62, 0x00};
    EXPECT_EQ(image::LengthFromField(shipped), 6474993);
    const unsigned char minusOne[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(image::LengthFromField(minusOne), -1);
    const unsigned char lowest[4] = {0x00, 0x00, 0x00, 0x80};
    EXPECT_EQ(image::LengthFromField(lowest), INT32_MIN);
    for (std::int32_t value : {0, 1, 255, 256, 6474993, INT32_MAX, -2}) {
        const image::LengthField field = image::MakeLengthField(value);
        EXPECT_EQ(image::LengthFromField(field.data()), value);
    }
    EXPECT_EQ(image::MakeLengthField(6474993), (image::LengthField{0xF1, 0xCC, 0x62, 0x00}));
}

TEST(Trailer, LabelThenLength) {
    const image::Trailer trailer = image::MakeTrailer("v1.0.0", 6474993);
    EXPECT_EQ(std::memcmp(trailer.data(), "v1.0.0\0\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(image::LabelFromField(trailer.data()), "v1.0.0");
    EXPECT_EQ(image::LengthFromField(trailer.data() + image::kLabelFieldSize), 6474993);
    EXPECT_EQ(image::CheckLabel("ABCDEFGHIJKLMNO"), "");
    EXPECT_NE(image::CheckLabel("ABCDEFGHIJKLMNOP"), "");
    EXPECT_NE(image::CheckLabel(std::string("v1\0", 3)), "");
}

TEST(PayloadFits, LengthMustBePositiveAndLeaveRoomForTheTrailer) {
    EXPECT_TRUE(image::PayloadFits(1, 21));
    EXPECT_FALSE(image::PayloadFits(1, 20));
    EXPECT_TRUE(image::PayloadFits(6474993, 6724869));
    EXPECT_TRUE(image::PayloadFits(6724849, 6724869)); // no program image at all
    EXPECT_FALSE(image::PayloadFits(6724850, 6724869));
    EXPECT_FALSE(image::PayloadFits(0, 6724869));
    EXPECT_FALSE(image::PayloadFits(-1, 6724869));
    EXPECT_FALSE(image::PayloadFits(INT32_MIN, 6724869));
    EXPECT_FALSE(image::PayloadFits(INT32_MAX, 6724869));
    EXPECT_FALSE(image::PayloadFits(5, 0));
    EXPECT_FALSE(image::PayloadFits(5, -30));
    EXPECT_TRUE(image::PayloadFits(INT32_MAX, std::int64_t{INT32_MAX} + 20));
}

TEST(PayloadOffset, ShippedImage) {
    EXPECT_EQ(image::PayloadOffset(6724869, 6474993), 249856);
}

// What the setup's copy step yields: from E - L - 20 to E, where E is where the image ends and
// L the value of its last four bytes.
std::string CopyAsTheSetupDoes(const std::string& imagePath) {
    image::ImageLayout layout;
    std::string error;
    EXPECT_TRUE(image::ReadImageLayout(imagePath, layout, error)) << error;
    EXPECT_TRUE(layout.payloadFits);
    const std::string bytes = ReadFile(imagePath);
    EXPECT_EQ(layout.fileLength, static_cast<std::int64_t>(bytes.size()));
    const auto start = static_cast<std::size_t>(layout.payloadOffset);
    return bytes.substr(start, static_cast<std::size_t>(layout.imageLength) - start);
}

TEST(WriteImage, CopyGivesBackThePayloadFollowedByTheTrailer) {
    TempFolder temp;
    struct Case {
        std::size_t programSize, payloadSize;
    };
    for (Case c : {Case{0, 1}, Case{1, 1}, Case{3000, 19}, Case{65536, 20}, Case{12345, 65537},
                   Case{249856, 300001}, Case{249856, 300004}}) {
        SCOPED_TRACE(std::to_string(c.programSize) + " + " + std::to_string(c.payloadSize));
        const std::string program = RandomBytes(c.programSize, 7);
        const std::string payload = RandomBytes(c.payloadSize, 8);
        WriteFile(temp / "setup.exe", program);
        WriteFile(temp / "payload.exe", payload);
        std::string error;
        ASSERT_TRUE(image::WriteImage(temp / "setup.exe", temp / "payload.exe", "v1.0.0",
                                      temp / "image.exe", error))
            << error;
        const image::Trailer trailer =
            image::MakeTrailer("v1.0.0", static_cast<std::int32_t>(c.payloadSize));
        const std::string trailerBytes(trailer.begin(), trailer.end());
        // Zero bytes behind the program make the length a multiple of 8, ready for signing.
        const std::size_t padding = (8 - (c.programSize + c.payloadSize + 20) % 8) % 8;
        EXPECT_EQ(static_cast<std::size_t>(image::ImagePadding(c.programSize, c.payloadSize)),
                  padding);
        EXPECT_EQ(ReadFile(temp / "image.exe"),
                  program + std::string(padding, '\0') + payload + trailerBytes);
        EXPECT_EQ(CopyAsTheSetupDoes(temp / "image.exe"), payload + trailerBytes);

        image::ImageLayout layout;
        ASSERT_TRUE(image::ReadImageLayout(temp / "image.exe", layout, error)) << error;
        EXPECT_EQ(layout.imageLength % 8, 0);
        EXPECT_EQ(layout.imageLength,
                  static_cast<std::int64_t>(c.programSize + padding + c.payloadSize + 20));
        EXPECT_EQ(layout.payloadLength, static_cast<std::int32_t>(c.payloadSize));
        EXPECT_EQ(layout.label, "v1.0.0");
        EXPECT_TRUE(layout.payloadFits);
        EXPECT_EQ(layout.payloadOffset, static_cast<std::int64_t>(c.programSize + padding));
        EXPECT_EQ(layout.certificateTable.size, 0);
    }
}

TEST(WriteImage, ShippedSizesPutThePayloadBehindTheProgramAndItsPadding) {
    TempFolder temp;
    WriteFile(temp / "setup.exe", RandomBytes(249856, 1));
    WriteFile(temp / "payload.exe", RandomBytes(6474993, 2));
    std::string error;
    ASSERT_TRUE(image::WriteImage(temp / "setup.exe", temp / "payload.exe", "v1.0.0",
                                  temp / "image.exe", error))
        << error;
    image::ImageLayout layout;
    ASSERT_TRUE(image::ReadImageLayout(temp / "image.exe", layout, error)) << error;
    EXPECT_EQ(layout.imageLength, 6724872);
    EXPECT_EQ(layout.payloadOffset, 249859);
    EXPECT_EQ(CopyAsTheSetupDoes(temp / "image.exe").size(), 6475013u);
}

TEST(WriteImage, RefusesBadPartsAndLeavesNoFile) {
    TempFolder temp;
    WriteFile(temp / "setup.exe", "MZ program");
    WriteFile(temp / "payload.exe", "payload");
    WriteFile(temp / "empty.exe", "");
    // A payload of exactly 2 GiB, sparse so that it costs no disk space.
    { std::ofstream(temp / "huge.exe", std::ios::binary); }
    fs::resize_file(temp / "huge.exe", std::uintmax_t{1} << 31);
    struct Case {
        const char *program, *payload, *label, *expected;
    };
    for (Case c : {Case{"setup.exe", "payload.exe", "ABCDEFGHIJKLMNOP", "longer than 15"},
                   Case{"missing.exe", "payload.exe", "v1.0.0", "cannot open program"},
                   Case{"setup.exe", "missing.exe", "v1.0.0", "cannot open payload"},
                   Case{"setup.exe", "empty.exe", "v1.0.0", "is empty"},
                   Case{"setup.exe", "huge.exe", "v1.0.0", "smaller than 2 GiB"}}) {
        SCOPED_TRACE(std::string(c.program) + " " + c.payload + " " + c.label);
        std::string error;
        EXPECT_FALSE(image::WriteImage(temp / c.program, temp / c.payload, c.label,
                                       temp / "image.exe", error));
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(temp / "image.exe"));
    }
    // A failure leaves an existing output as it was, and what stood at the name the image is
    // written under first (the output's name and ".part") where it stood.
    WriteFile(temp / "image.exe", "older image");
    std::string error;
    EXPECT_FALSE(image::WriteImage(temp / "missing.exe", temp / "payload.exe", "v1.0.0",
                                   temp / "image.exe", error));
    EXPECT_EQ(ReadFile(temp / "image.exe"), "older image");
    EXPECT_FALSE(fs::exists(temp / "image.exe.part"));
    fs::create_directory(temp / "image.exe.part");
    EXPECT_FALSE(image::WriteImage(temp / "setup.exe", temp / "payload.exe", "v1.0.0",
                                   temp / "image.exe", error));
    EXPECT_NE(error.find("cannot create '" + temp / "image.exe.part'"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(temp / "image.exe.part"));
    EXPECT_EQ(ReadFile(temp / "image.exe"), "older image");
}

TEST(ReadImageLayout, ShortFilesAndLengthsThatDoNotFit) {
    TempFolder temp;
    image::ImageLayout layout;
    std::string error;
    EXPECT_FALSE(image::ReadImageLayout(temp / "missing.exe", layout, error));
    WriteFile(temp / "short.exe", std::string(19, 'x'));
    EXPECT_FALSE(image::ReadImageLayout(temp / "short.exe", layout, error));
    EXPECT_NE(error.find("too short"), std::string::npos) << error;

    // Exactly a trailer: any stored length leaves no room for a payload.
    const image::Trailer alone = image::MakeTrailer("v1.0.0", 1);
    WriteFile(temp / "trailer.exe", std::string(alone.begin(), alone.end()));
    ASSERT_TRUE(image::ReadImageLayout(temp / "trailer.exe", layout, error)) << error;
    EXPECT_FALSE(layout.payloadFits);

    // A program without a payload: the last four bytes are whatever the program ends with.
    WriteFile(temp / "program.exe", std::string(100, 'x') + "v1" + std::string(14, '\0') +
                                        std::string("\x51\x00\x00\x00", 4));
    ASSERT_TRUE(image::ReadImageLayout(temp / "program.exe", layout, error)) << error;
    EXPECT_EQ(layout.payloadLength, 0x51);
    EXPECT_TRUE(layout.payloadFits);
    WriteFile(temp / "program.exe",
              std::string(100, 'x') + std::string(16, '\0') + std::string("\x51\x01\x00\x00", 4));
    ASSERT_TRUE(image::ReadImageLayout(temp / "program.exe", layout, error)) << error;
    EXPECT_EQ(layout.payloadLength, 0x151);
    EXPECT_FALSE(layout.payloadFits);
}

class SignedImage : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(temp_ / "setup.exe", MinimalPeProgram());
        WriteFile(temp_ / "payload.exe", payload_);
        std::string error;
        ASSERT_TRUE(image::WriteImage(temp_ / "setup.exe", temp_ / "payload.exe", "v2.1.0",
                                      temp_ / "image.exe", error))
            << error;
        unsigned_ = ReadFile(temp_ / "image.exe");
    }
    std::size_t ImagePadding() const {
        return static_cast<std::size_t>(image::ImagePadding(0x400, payload_.size()));
    }
    image::ImageLayout Read(const std::string& bytes) {
        WriteFile(temp_ / "read.exe", bytes);
        image::ImageLayout layout;
        std::string error;
        EXPECT_TRUE(image::ReadImageLayout(temp_ / "read.exe", layout, error)) << error;
        return layout;
    }
    TempFolder temp_;
    const std::string payload_ = MinimalPeProgram() + RandomBytes(5003 - 0x400, 4);
    std::string unsigned_;
};

TEST_F(SignedImage, TrailerAndPayloadAreReadInFrontOfTheCertificateTable) {
    const image::ImageLayout plain = Read(unsigned_);
    EXPECT_EQ(plain.certificateTable.size, 0);
    EXPECT_EQ(plain.imageLength, plain.fileLength);
    EXPECT_EQ(plain.label, "v2.1.0");
    EXPECT_TRUE(plain.trailerFits);

    const std::string signedImage = Signed(unsigned_, 1544);
    const image::ImageLayout layout = Read(signedImage);
    EXPECT_EQ(layout.fileLength, static_cast<std::int64_t>(unsigned_.size() + 1544));
    EXPECT_EQ(layout.certificateTable.offset, static_cast<std::int64_t>(unsigned_.size()));
    EXPECT_EQ(layout.certificateTable.size, 1544);
    EXPECT_EQ(layout.imageLength, static_cast<std::int64_t>(unsigned_.size()));
    EXPECT_EQ(layout.label, "v2.1.0");
    EXPECT_EQ(layout.payloadLength, 5003);
    EXPECT_EQ(layout.payloadOffset, plain.payloadOffset);
    EXPECT_TRUE(layout.trailerFits);
    EXPECT_TRUE(CopyAsTheSetupDoes(temp_ / "read.exe") ==
                payload_ + unsigned_.substr(unsigned_.size() - 20));
}

// The label of any other file is not taken: its last 20 bytes are no trailer.
TEST_F(SignedImage, TrailerFitsOnlyAWholeProgramInFrontOfAProgramPayload) {
    std::string cutProgram = unsigned_;
    PutU32(cutProgram, kSectionTableOffset + 16, 0x800); // raw data reaching into the payload
    std::string notAProgram = unsigned_;
    notAProgram[0x400 + ImagePadding()] = 'X'; // the payload's "MZ"
    struct Case {
        const char* what;
        std::string bytes;
        bool fits;
    };
    for (const Case& c :
         {Case{"as written", unsigned_, true}, Case{"signed", Signed(unsigned_), true},
          Case{"bytes appended", unsigned_ + "appended", false},
          Case{"bytes appended after signing", Signed(unsigned_) + "12345678", false},
          Case{"program cut", cutProgram, false},
          Case{"payload not a program", notAProgram, false}}) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.bytes).trailerFits, c.fits);
    }
}

TEST_F(SignedImage, AnyOtherSecurityEntryCountsAsUnsigned) {
    const std::string signedImage = Signed(unsigned_, 1544);
    const auto tableAt = static_cast<std::uint32_t>(unsigned_.size());
    const auto entry = [&signedImage](std::uint32_t offset, std::uint32_t size) {
        std::string bytes = signedImage;
        PutU32(bytes, kSecurityEntryOffset, offset);
        PutU32(bytes, kSecurityEntryOffset + 4, size);
        return bytes;
    };
    const auto spoiled = [&signedImage](std::size_t at, std::uint32_t value) {
        std::string bytes = signedImage;
        PutU32(bytes, at, value);
        return bytes;
    };
    struct Case {
        const char* what;
        std::string bytes;
    };
    for (const Case& c : {
             Case{"zero entry", entry(0, 0)},
             Case{"ends before the end of the file", entry(tableAt - 8, 1544)},
             Case{"runs past the end of the file", entry(tableAt, 1552)},
             Case{"offset past the end", entry(0xFFFFFFF8u, 1544)},
             Case{"not 8-byte aligned", entry(tableAt + 4, 1540)},
             Case{"smaller than 8 bytes", entry(tableAt + 1544 - 4 - 4, 4)},
             Case{"inside the headers",
                  entry(0x100, static_cast<std::uint32_t>(signedImage.size() - 0x100))},
             Case{"overlaps the section",
                  entry(0x300, static_cast<std::uint32_t>(signedImage.size() - 0x300))},
             Case{"not a PE file", "ZM" + signedImage.substr(2)},
             Case{"PE header outside the file", spoiled(0x3C, 0xFFFFFF00u)},
             Case{"no PE signature", spoiled(kPeHeaderOffset, 0x00004551)},
             Case{"unknown optional header", spoiled(kPeHeaderOffset + 24, 0x0107)},
             Case{"four data directories", spoiled(kPeHeaderOffset + 24 + 92, 4)},
             Case{"optional header too short", spoiled(kPeHeaderOffset + 20, 0x01020000 + 96)},
             Case{"section table cut", spoiled(kPeHeaderOffset + 4, 0xFFFF014C)},
             Case{"cut headers", signedImage.substr(0, kPeHeaderOffset + 30)},
         }) {
        SCOPED_TRACE(c.what);
        WriteFile(temp_ / "bad.exe", c.bytes);
        image::ImageLayout layout;
        std::string error;
        ASSERT_TRUE(image::ReadImageLayout(temp_ / "bad.exe", layout, error)) << error;
        EXPECT_EQ(layout.certificateTable.size, 0);
        EXPECT_EQ(layout.imageLength, static_cast<std::int64_t>(c.bytes.size()));
        const std::string last20 = c.bytes.substr(c.bytes.size() - 20);
        EXPECT_EQ(
            layout.payloadLength,
            image::LengthFromField(reinterpret_cast<const unsigned char*>(last20.data()) + 16));
    }
}

} // namespace
