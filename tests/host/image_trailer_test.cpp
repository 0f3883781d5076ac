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

// What the setup's copy step yields: from E - L - 20 to the end of the file, where E is the
// file's length and L the value of its last four bytes.
std::string CopyAsTheSetupDoes(const std::string& imagePath) {
    const std::string bytes = ReadFile(imagePath);
    const auto imageLength = static_cast<std::int64_t>(bytes.size());
    const std::int32_t payloadLength = image::LengthFromField(
        reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() - 4);
    EXPECT_TRUE(image::PayloadFits(payloadLength, imageLength));
    return bytes.substr(static_cast<std::size_t>(image::PayloadOffset(imageLength, payloadLength)));
}

TEST(WriteImage, CopyGivesBackThePayloadFollowedByTheTrailer) {
    TempFolder temp;
    struct Case {
        std::size_t programSize, payloadSize;
    };
    for (Case c : {Case{0, 1}, Case{1, 1}, Case{3000, 19}, Case{65536, 20}, Case{12345, 65537},
                   Case{249856, 300001}}) {
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
        EXPECT_EQ(ReadFile(temp / "image.exe"), program + payload + trailerBytes);
        EXPECT_EQ(CopyAsTheSetupDoes(temp / "image.exe"), payload + trailerBytes);

        image::ImageLayout layout;
        ASSERT_TRUE(image::ReadImageLayout(temp / "image.exe", layout, error)) << error;
        EXPECT_EQ(layout.imageLength,
                  static_cast<std::int64_t>(c.programSize + c.payloadSize + 20));
        EXPECT_EQ(layout.payloadLength, static_cast<std::int32_t>(c.payloadSize));
        EXPECT_EQ(layout.label, "v1.0.0");
        EXPECT_TRUE(layout.payloadFits);
        EXPECT_EQ(layout.payloadOffset, static_cast<std::int64_t>(c.programSize));
    }
}

TEST(WriteImage, ShippedSizesPutThePayloadAtTheEndOfTheProgram) {
    TempFolder temp;
    WriteFile(temp / "setup.exe", RandomBytes(249856, 1));
    WriteFile(temp / "payload.exe", RandomBytes(6474993, 2));
    std::string error;
    ASSERT_TRUE(image::WriteImage(temp / "setup.exe", temp / "payload.exe", "v1.0.0",
                                  temp / "image.exe", error))
        << error;
    image::ImageLayout layout;
    ASSERT_TRUE(image::ReadImageLayout(temp / "image.exe", layout, error)) << error;
    EXPECT_EQ(layout.imageLength, 6724869);
    EXPECT_EQ(layout.payloadOffset, 249856);
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
    // A failure before anything is written leaves an existing output as it was.
    WriteFile(temp / "image.exe", "older image");
    std::string error;
    EXPECT_FALSE(image::WriteImage(temp / "missing.exe", temp / "payload.exe", "v1.0.0",
                                   temp / "image.exe", error));
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

} // namespace
