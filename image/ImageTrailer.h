// The installer image: the setup program as linked, then the payload (the self-extracting
// archive), then a 20-byte trailer: a 16-byte label field and the payload length, 4 bytes
// little-endian. Everything is found by reading from the end of the file; there is no magic
// number, checksum or padding.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace image {

constexpr int kTrailerSize = 20, kLabelFieldSize = 16, kMaxLabelLength = 15;
constexpr int kLengthFieldSize = kTrailerSize - kLabelFieldSize;

// Readers hold the payload length in a 32-bit signed integer, so a payload stays below 2 GiB.
constexpr std::int64_t kMaxPayloadLength = 0x7FFFFFFF;

using LabelField = std::array<unsigned char, kLabelFieldSize>;
using LengthField = std::array<unsigned char, kLengthFieldSize>;
using Trailer = std::array<unsigned char, kTrailerSize>;

// The text of a 16-byte label field: up to the first zero byte, never more than the first 15
// bytes (byte 15 counts as zero whatever it holds); what follows the zero is not looked at.
std::string LabelFromField(const unsigned char* field);

// The payload length as it lies in the last 4 bytes of the image: least significant byte first.
std::int32_t LengthFromField(const unsigned char* field);

// Whether a stored payload length can describe the image: L > 0 and L + 20 <= E.
bool PayloadFits(std::int64_t payloadLength, std::int64_t imageLength);

// Where the payload starts in an image of the given length: E - L - 20.
std::int64_t PayloadOffset(std::int64_t imageLength, std::int32_t payloadLength);

// A label field holding `label` (at most 15 characters, no zero byte), zero-filled to 16 bytes.
LabelField MakeLabelField(std::string_view label);
LengthField MakeLengthField(std::int32_t payloadLength);
Trailer MakeTrailer(std::string_view label, std::int32_t payloadLength);

// Empty when `label` can go into a label field, else why not: at most 15 characters, printable
// ASCII only (the field is single-byte, and the code page it is shown in is the user's).
std::string CheckLabel(std::string_view label);

} // namespace image
