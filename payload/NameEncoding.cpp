#include "payload/NameEncoding.h"

#include "payload/ZipFormat.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace zip {
namespace {

// Code page 437's upper half, 0x80 to 0xFF, as Unicode.
constexpr std::array<char16_t, 128> kCp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Simple case folding of the Basic Multilingual Plane (the same letters upper-cased, then
// lower-cased): runs of code points [first, last] that move by `delta`, every `stride`th one.
struct FoldRun {
    char16_t first, last;
    std::int32_t delta;
    std::uint8_t stride;
};
constexpr FoldRun kFoldRuns[] = {
    {0x00B5, 0x00B5, 775, 1},    {0x00C0, 0x00D6, 32, 1},     {0x00D8, 0x00DE, 32, 1},
    {0x0100, 0x012E, 1, 2},      {0x0131, 0x0131, -200, 1},   {0x0132, 0x0136, 1, 2},
    {0x0139, 0x0147, 1, 2},      {0x014A, 0x0176, 1, 2},      {0x0178, 0x0178, -121, 1},
    {0x0179, 0x017D, 1, 2},      {0x017F, 0x017F, -268, 1},   {0x0181, 0x0181, 210, 1},
    {0x0182, 0x0184, 1, 2},      {0x0186, 0x0186, 206, 1},    {0x0187, 0x0187, 1, 1},
    {0x0189, 0x018A, 205, 1},    {0x018B, 0x018B, 1, 1},      {0x018E, 0x018E, 79, 1},
    {0x018F, 0x018F, 202, 1},    {0x0190, 0x0190, 203, 1},    {0x0191, 0x0191, 1, 1},
    {0x0193, 0x0193, 205, 1},    {0x0194, 0x0194, 207, 1},    {0x0196, 0x0196, 211, 1},
    {0x0197, 0x0197, 209, 1},    {0x0198, 0x0198, 1, 1},      {0x019C, 0x019C, 211, 1},
    {0x019D, 0x019D, 213, 1},    {0x019F, 0x019F, 214, 1},    {0x01A0, 0x01A4, 1, 2},
    {0x01A6, 0x01A6, 218, 1},    {0x01A7, 0x01A7, 1, 1},      {0x01A9, 0x01A9, 218, 1},
    {0x01AC, 0x01AC, 1, 1},      {0x01AE, 0x01AE, 218, 1},    {0x01AF, 0x01AF, 1, 1},
    {0x01B1, 0x01B2, 217, 1},    {0x01B3, 0x01B5, 1, 2},      {0x01B7, 0x01B7, 219, 1},
    {0x01B8, 0x01B8, 1, 1},      {0x01BC, 0x01BC, 1, 1},      {0x01C4, 0x01C4, 2, 1},
    {0x01C5, 0x01C5, 1, 1},      {0x01C7, 0x01C7, 2, 1},      {0x01C8, 0x01C8, 1, 1},
    {0x01CA, 0x01CA, 2, 1},      {0x01CB, 0x01DB, 1, 2},      {0x01DE, 0x01EE, 1, 2},
    {0x01F1, 0x01F1, 2, 1},      {0x01F2, 0x01F4, 1, 2},      {0x01F6, 0x01F6, -97, 1},
    {0x01F7, 0x01F7, -56, 1},    {0x01F8, 0x021E, 1, 2},      {0x0220, 0x0220, -130, 1},
    {0x0222, 0x0232, 1, 2},      {0x023A, 0x023A, 10795, 1},  {0x023B, 0x023B, 1, 1},
    {0x023D, 0x023D, -163, 1},   {0x023E, 0x023E, 10792, 1},  {0x0241, 0x0241, 1, 1},
    {0x0243, 0x0243, -195, 1},   {0x0244, 0x0244, 69, 1},     {0x0245, 0x0245, 71, 1},
    {0x0246, 0x024E, 1, 2},      {0x0345, 0x0345, 116, 1},    {0x0370, 0x0372, 1, 2},
    {0x0376, 0x0376, 1, 1},      {0x037F, 0x037F, 116, 1},    {0x0386, 0x0386, 38, 1},
    {0x0388, 0x038A, 37, 1},     {0x038C, 0x038C, 64, 1},     {0x038E, 0x038F, 63, 1},
    {0x0391, 0x03A1, 32, 1},     {0x03A3, 0x03AB, 32, 1},     {0x03C2, 0x03C2, 1, 1},
    {0x03CF, 0x03CF, 8, 1},      {0x03D0, 0x03D0, -30, 1},    {0x03D1, 0x03D1, -25, 1},
    {0x03D5, 0x03D5, -15, 1},    {0x03D6, 0x03D6, -22, 1},    {0x03D8, 0x03EE, 1, 2},
    {0x03F0, 0x03F0, -54, 1},    {0x03F1, 0x03F1, -48, 1},    {0x03F4, 0x03F4, -60, 1},
    {0x03F5, 0x03F5, -64, 1},    {0x03F7, 0x03F7, 1, 1},      {0x03F9, 0x03F9, -7, 1},
    {0x03FA, 0x03FA, 1, 1},      {0x03FD, 0x03FF, -130, 1},   {0x0400, 0x040F, 80, 1},
    {0x0410, 0x042F, 32, 1},     {0x0460, 0x0480, 1, 2},      {0x048A, 0x04BE, 1, 2},
    {0x04C0, 0x04C0, 15, 1},     {0x04C1, 0x04CD, 1, 2},      {0x04D0, 0x052E, 1, 2},
    {0x0531, 0x0556, 48, 1},     {0x10A0, 0x10C5, 7264, 1},   {0x10C7, 0x10C7, 7264, 1},
    {0x10CD, 0x10CD, 7264, 1},   {0x13A0, 0x13EF, 38864, 1},  {0x13F0, 0x13F5, 8, 1},
    {0x1C80, 0x1C80, -6222, 1},  {0x1C81, 0x1C81, -6221, 1},  {0x1C82, 0x1C82, -6212, 1},
    {0x1C83, 0x1C84, -6210, 1},  {0x1C85, 0x1C85, -6211, 1},  {0x1C86, 0x1C86, -6204, 1},
    {0x1C87, 0x1C87, -6180, 1},  {0x1C88, 0x1C88, 35267, 1},  {0x1C90, 0x1CBA, -3008, 1},
    {0x1CBD, 0x1CBF, -3008, 1},  {0x1E00, 0x1E94, 1, 2},      {0x1E9B, 0x1E9B, -58, 1},
    {0x1E9E, 0x1E9E, -7615, 1},  {0x1EA0, 0x1EFE, 1, 2},      {0x1F08, 0x1F0F, -8, 1},
    {0x1F18, 0x1F1D, -8, 1},     {0x1F28, 0x1F2F, -8, 1},     {0x1F38, 0x1F3F, -8, 1},
    {0x1F48, 0x1F4D, -8, 1},     {0x1F59, 0x1F5F, -8, 2},     {0x1F68, 0x1F6F, -8, 1},
    {0x1F88, 0x1F8F, -8, 1},     {0x1F98, 0x1F9F, -8, 1},     {0x1FA8, 0x1FAF, -8, 1},
    {0x1FB8, 0x1FB9, -8, 1},     {0x1FBA, 0x1FBB, -74, 1},    {0x1FBC, 0x1FBC, -9, 1},
    {0x1FBE, 0x1FBE, -7173, 1},  {0x1FC8, 0x1FCB, -86, 1},    {0x1FCC, 0x1FCC, -9, 1},
    {0x1FD8, 0x1FD9, -8, 1},     {0x1FDA, 0x1FDB, -100, 1},   {0x1FE8, 0x1FE9, -8, 1},
    {0x1FEA, 0x1FEB, -112, 1},   {0x1FEC, 0x1FEC, -7, 1},     {0x1FF8, 0x1FF9, -128, 1},
    {0x1FFA, 0x1FFB, -126, 1},   {0x1FFC, 0x1FFC, -9, 1},     {0x2126, 0x2126, -7517, 1},
    {0x212A, 0x212A, -8383, 1},  {0x212B, 0x212B, -8262, 1},  {0x2132, 0x2132, 28, 1},
    {0x2160, 0x216F, 16, 1},     {0x2183, 0x2183, 1, 1},      {0x24B6, 0x24CF, 26, 1},
    {0x2C00, 0x2C2F, 48, 1},     {0x2C60, 0x2C60, 1, 1},      {0x2C62, 0x2C62, -10743, 1},
    {0x2C63, 0x2C63, -3814, 1},  {0x2C64, 0x2C64, -10727, 1}, {0x2C67, 0x2C6B, 1, 2},
    {0x2C6D, 0x2C6D, -10780, 1}, {0x2C6E, 0x2C6E, -10749, 1}, {0x2C6F, 0x2C6F, -10783, 1},
    {0x2C70, 0x2C70, -10782, 1}, {0x2C72, 0x2C72, 1, 1},      {0x2C75, 0x2C75, 1, 1},
    {0x2C7E, 0x2C7F, -10815, 1}, {0x2C80, 0x2CE2, 1, 2},      {0x2CEB, 0x2CED, 1, 2},
    {0x2CF2, 0x2CF2, 1, 1},      {0xA640, 0xA66C, 1, 2},      {0xA680, 0xA69A, 1, 2},
    {0xA722, 0xA72E, 1, 2},      {0xA732, 0xA76E, 1, 2},      {0xA779, 0xA77B, 1, 2},
    {0xA77D, 0xA77D, -35332, 1}, {0xA77E, 0xA786, 1, 2},      {0xA78B, 0xA78B, 1, 1},
    {0xA78D, 0xA78D, -42280, 1}, {0xA790, 0xA792, 1, 2},      {0xA796, 0xA7A8, 1, 2},
    {0xA7AA, 0xA7AA, -42308, 1}, {0xA7AB, 0xA7AB, -42319, 1}, {0xA7AC, 0xA7AC, -42315, 1},
    {0xA7AD, 0xA7AD, -42305, 1}, {0xA7AE, 0xA7AE, -42308, 1}, {0xA7B0, 0xA7B0, -42258, 1},
    {0xA7B1, 0xA7B1, -42282, 1}, {0xA7B2, 0xA7B2, -42261, 1}, {0xA7B3, 0xA7B3, 928, 1},
    {0xA7B4, 0xA7C2, 1, 2},      {0xA7C4, 0xA7C4, -48, 1},    {0xA7C5, 0xA7C5, -42307, 1},
    {0xA7C6, 0xA7C6, -35384, 1}, {0xA7C7, 0xA7C9, 1, 2},      {0xA7D0, 0xA7D0, 1, 1},
    {0xA7D6, 0xA7D8, 1, 2},      {0xA7F5, 0xA7F5, 1, 1},      {0xFF21, 0xFF3A, 32, 1},
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point at `at`, moving `at` past it; nothing for a byte sequence that is not UTF-8
// (overlong forms, surrogates and values above U+10FFFF included).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length;
    char32_t c, minimum;
    if (lead < 0x80) {
        ++at;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        c = c << 6 | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    at += length;
    return c;
}

char32_t FoldCodePoint(char32_t c) {
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    if (c > 0xFFFF)
        return c;
    const auto run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                      [](char32_t v, const FoldRun& r) { return v < r.first; });
    if (run == std::begin(kFoldRuns))
        return c;
    const FoldRun& r = *(run - 1);
    if (c > r.last || (c - r.first) % r.stride != 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + r.delta);
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();)
        if (!NextCodePoint(text, at))
            return false;
    return true;
}

std::string Cp437ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char byte : text) {
        const auto b = static_cast<unsigned char>(byte);
        AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp437High[b - 0x80]});
    }
    return out;
}

std::optional<std::string> DecodeEntryName(std::string_view stored, std::uint16_t flags,
                                           std::uint8_t madeByHost, std::string_view extraField) {
    if (flags & kFlagUtf8Name) {
        if (!IsValidUtf8(stored))
            return std::nullopt;
        return std::string(stored);
    }
    // Info-ZIP's Unicode path: version 1, the CRC-32 of the stored name (a tool that renamed
    // the entry without updating the field makes it stale), then the name in UTF-8.
    const auto* extra = reinterpret_cast<const unsigned char*>(extraField.data());
    for (std::size_t at = 0; at + 4 <= extraField.size();) {
        const std::uint16_t tag = format::Get16(extra + at), size = format::Get16(extra + at + 2);
        if (at + 4 + size > extraField.size())
            break;
        if (tag == kUnicodePathExtraTag && size >= 5 && extra[at + 4] == 1) {
            const auto storedCrc =
                static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(stored.data()),
                                                   static_cast<uInt>(stored.size())));
            const std::string_view name = extraField.substr(at + 9, size - 5);
            if (format::Get32(extra + at + 5) == storedCrc && IsValidUtf8(name) && !name.empty())
                return std::string(name);
        }
        at += 4 + size;
    }
    if ((madeByHost == kHostUnix || madeByHost == kHostMacOs) && IsValidUtf8(stored))
        return std::string(stored);
    return Cp437ToUtf8(stored);
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = NextCodePoint(text, at);
        if (!c)
            return std::nullopt;
        if (*c < 0x10000) {
            out += static_cast<char16_t>(*c);
        } else {
            out += static_cast<char16_t>(0xD800 + ((*c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((*c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string FoldCase(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t start = at;
        if (const auto c = NextCodePoint(utf8, at)) {
            AppendUtf8(out, FoldCodePoint(*c));
        } else {
            out += utf8[start]; // not UTF-8: compared byte for byte
            at = start + 1;
        }
    }
    return out;
}

} // namespace zip
