#include "image/VersionResource.h"

#include "base/LittleEndian.h"
#include "base/Text.h"
#include "image/ImageFile.h"
#include "image/ProgramResources.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace image {
namespace {

using base::Get16;
using base::Get32;
using base::Quoted;

constexpr std::uint32_t kResourceTypeVersion = 16; // RT_VERSION
constexpr std::uint32_t kVersionResourceId = 1;    // VS_VERSION_INFO
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52, kBlockHeaderSize = 6;
constexpr std::uint16_t kTextType = 1;

// The code points of UTF-8 text; nothing when it is not valid UTF-8 (overlong forms, surrogates
// and values beyond U+10FFFF included).
std::optional<std::u32string> DecodeUtf8(const std::string& text) {
    std::u32string points;
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        const unsigned char lead = byte(at);
        // The bytes that follow the lead byte; 9 for a byte that leads no character.
        const std::size_t extra = lead < 0x80   ? 0
                                  : lead < 0xC2 ? 9
                                  : lead < 0xE0 ? 1
                                  : lead < 0xF0 ? 2
                                  : lead < 0xF5 ? 3
                                                : 9;
        if (extra == 9 || text.size() - at <= extra)
            return std::nullopt;
        char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (std::size_t i = 1; i <= extra; ++i) {
            if ((byte(at + i) & 0xC0) != 0x80)
                return std::nullopt;
            point = point << 6 | (byte(at + i) & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (point < kLeast[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return std::nullopt;
        points += point;
        at += extra + 1;
    }
    return points;
}

std::u16string Utf16Of(const std::u32string& points) {
    std::u16string text;
    for (char32_t point : points) {
        if (point < 0x10000) {
            text += static_cast<char16_t>(point);
        } else {
            text += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        }
    }
    return text;
}

std::u16string Utf16OfAscii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~std::size_t{3};
}

// One block of a VS_VERSIONINFO: wLength, wValueLength, wType, its key and NUL, padding to a
// 4-byte boundary, its value, padding, its children; offsets into the resource's bytes.
struct Block {
    std::size_t at = 0, end = 0;
    std::uint16_t valueLength = 0, type = 0;
    std::u16string key;
    std::size_t valueAt = 0; // 4-byte aligned behind the key's NUL, at most `end`
};

// The block at `at`, which must end by `limit`; nothing when its length or its key does not fit.
std::optional<Block> ReadBlock(const std::string& data, std::size_t at, std::size_t limit) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    if (limit > data.size() || at > limit || limit - at < kBlockHeaderSize)
        return std::nullopt;
    Block block;
    const std::size_t length = Get16(bytes + at);
    if (length < kBlockHeaderSize || length > limit - at)
        return std::nullopt;
    block.at = at;
    block.end = at + length;
    block.valueLength = Get16(bytes + at + 2);
    block.type = Get16(bytes + at + 4);
    std::size_t next = at + kBlockHeaderSize;
    for (;; next += 2) {
        if (block.end - next < 2)
            return std::nullopt; // the key runs past the block
        const char16_t c = static_cast<char16_t>(Get16(bytes + next));
        if (c == 0)
            break;
        block.key += c;
    }
    block.valueAt = std::min(Align4(next + 2), block.end);
    return block;
}

// The children of `parent`, which start at `first`, each 4-byte aligned; nothing when one does
// not fit.
std::optional<std::vector<Block>> Children(const std::string& data, const Block& parent,
                                           std::size_t first) {
    std::vector<Block> children;
    for (std::size_t at = Align4(first); at < parent.end;) {
        const std::optional<Block> child = ReadBlock(data, at, parent.end);
        if (!child)
            return std::nullopt;
        children.push_back(*child);
        at = Align4(child->end);
    }
    return children;
}

void Put16At(std::string& bytes, std::size_t at, std::uint16_t value) {
    base::Put16(reinterpret_cast<unsigned char*>(bytes.data() + at), value);
}

} // namespace

std::optional<std::array<std::uint16_t, 4>> ParseVersion(const std::string& text) {
    std::array<std::uint16_t, 4> numbers{};
    std::size_t count = 0, at = 0;
    while (true) {
        std::size_t digits = 0;
        std::uint32_t number = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 6)
            number = number * 10 + static_cast<std::uint32_t>(text[at++] - '0'), ++digits;
        if (digits == 0 || digits > 5 || number > 0xFFFF || count == 4)
            return std::nullopt;
        numbers[count++] = static_cast<std::uint16_t>(number);
        if (at == text.size())
            return numbers;
        if (text[at++] != '.')
            return std::nullopt;
    }
}

std::string CheckPublisher(const std::string& publisher) {
    if (publisher.empty())
        return "--publisher is empty: leave it out for an image that names no publisher";
    const std::optional<std::u32string> points = DecodeUtf8(publisher);
    if (!points)
        return "--publisher is not valid UTF-8";
    for (char32_t point : *points) {
        if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(point));
            return std::string("--publisher holds a control character (") + code +
                   "): give the publisher's name as it is to be shown, on one line";
        }
    }
    return {};
}

const VersionResource::Text* VersionResource::Find(const std::u16string& key) const {
    for (const Text& text : texts)
        if (text.key == key)
            return &text;
    return nullptr;
}

std::optional<VersionResource> ReadVersionResource(base::BinaryFile& file, std::int64_t length) {
    image::ProgramHeaders headers;
    if (!image::ReadProgramHeaders(file, 0, length, headers))
        return std::nullopt;
    const std::optional<image::ResourceData> found =
        image::FindResource(file, 0, length, headers, kResourceTypeVersion, kVersionResourceId);
    // A block's length is 16 bits: the whole resource is at most 64 KiB.
    if (!found || found->size < kBlockHeaderSize)
        return std::nullopt;
    std::string data(std::min<std::uint32_t>(found->size, 0xFFFF), '\0');
    if (!file.Seek(found->offset) || !file.ReadExact(data.data(), data.size()))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());

    const std::optional<Block> root = ReadBlock(data, 0, data.size());
    if (!root || root->key != u"VS_VERSION_INFO" || root->valueLength != kFixedInfoSize ||
        root->end - root->valueAt < kFixedInfoSize ||
        Get32(bytes + root->valueAt) != kFixedInfoSignature)
        return std::nullopt;
    VersionResource resource;
    const unsigned char* fixed = bytes + root->valueAt;
    resource.fixedInfoOffset = found->offset + static_cast<std::int64_t>(root->valueAt);
    resource.fileVersion[0] = Get32(fixed + 8), resource.fileVersion[1] = Get32(fixed + 12);
    resource.productVersion[0] = Get32(fixed + 16), resource.productVersion[1] = Get32(fixed + 20);

    const auto sections = Children(data, *root, root->valueAt + kFixedInfoSize);
    if (!sections)
        return std::nullopt;
    for (const Block& section : *sections) {
        if (section.key != u"StringFileInfo")
            continue; // VarFileInfo, or what another writer adds
        const auto tables = Children(data, section, section.valueAt);
        if (!tables)
            return std::nullopt;
        for (const Block& table : *tables) {
            const auto strings = Children(data, table, table.valueAt);
            if (!strings)
                return std::nullopt;
            for (const Block& string : *strings) {
                if (string.type != kTextType)
                    return std::nullopt;
                VersionResource::Text text;
                text.key = string.key;
                text.blockOffset = found->offset + static_cast<std::int64_t>(string.at);
                text.valueOffset = found->offset + static_cast<std::int64_t>(string.valueAt);
                const std::size_t slots = (string.end - string.valueAt) / 2;
                text.room = slots > 0 ? slots - 1 : 0;
                for (std::size_t i = 0; i < std::min<std::size_t>(slots, string.valueLength); ++i) {
                    const char16_t c = static_cast<char16_t>(Get16(bytes + string.valueAt + 2 * i));
                    if (c == 0)
                        break;
                    text.value += c;
                }
                resource.texts.push_back(text);
            }
        }
    }
    return resource;
}

int StampPatches(const VersionResource& resource, const std::string& program,
                 const std::string& version, const std::array<std::uint16_t, 4>& numbers,
                 const std::string& publisher, std::vector<Patch>& patches, std::string& error) {
    patches.clear();
    struct Stamp {
        const char16_t* key;
        std::u16string value;
        const char* option;
        const std::string* given;
    };
    std::vector<Stamp> stamps;
    if (!version.empty()) {
        std::string fixed(16, '\0');
        const std::uint32_t ms = std::uint32_t{numbers[0]} << 16 | numbers[1];
        const std::uint32_t ls = std::uint32_t{numbers[2]} << 16 | numbers[3];
        for (std::size_t at = 0; at < 16; at += 8) {
            base::Put32(reinterpret_cast<unsigned char*>(fixed.data() + at), ms);
            base::Put32(reinterpret_cast<unsigned char*>(fixed.data() + at + 4), ls);
        }
        // dwFileVersionMS and LS, then dwProductVersionMS and LS, behind the signature and
        // the structure's version.
        patches.push_back({resource.fixedInfoOffset + 8, fixed});
        stamps.push_back({kFileVersionKey, Utf16OfAscii(version), "--version", &version});
        stamps.push_back({kProductVersionKey, Utf16OfAscii(version), "--version", &version});
    }
    if (!publisher.empty())
        stamps.push_back({kCompanyNameKey, Utf16Of(DecodeUtf8(publisher).value_or(U"")),
                          "--publisher", &publisher});
    for (const Stamp& stamp : stamps) {
        bool found = false;
        for (const VersionResource::Text& text : resource.texts) {
            if (text.key != stamp.key)
                continue;
            found = true;
            if (stamp.value.size() > text.room) {
                error = std::string(stamp.option) + " " + Quoted(*stamp.given) + " is " +
                        std::to_string(stamp.value.size()) + " characters long, more than the " +
                        std::to_string(text.room) + " that program " + Quoted(program) +
                        " has room for in its " + Utf8OfUtf16(stamp.key);
                patches.clear();
                return 2;
            }
            std::string count(2, '\0'), value(2 * (text.room + 1), '\0');
            Put16At(count, 0, static_cast<std::uint16_t>(stamp.value.size() + 1)); // with the NUL
            for (std::size_t i = 0; i < stamp.value.size(); ++i)
                Put16At(value, 2 * i, static_cast<std::uint16_t>(stamp.value[i]));
            patches.push_back({text.blockOffset + 2, count});
            patches.push_back({text.valueOffset, value});
        }
        if (!found) {
            error = "program " + Quoted(program) + " has no room to stamp " + stamp.option +
                    " in: its version resource holds no " + Utf8OfUtf16(stamp.key);
            patches.clear();
            return 1;
        }
    }
    return 0;
}

bool ApplyPatches(const std::string& path, const std::vector<Patch>& patches, std::string& error) {
    base::BinaryFile file;
    errno = 0;
    bool written = file.Open(path, "r+b");
    for (std::size_t i = 0; written && i < patches.size(); ++i)
        written = file.Seek(patches[i].offset) &&
                  file.Write(patches[i].bytes.data(), patches[i].bytes.size());
    if (!file.Close() || !written) {
        error = "cannot stamp the version into " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string Utf8OfUtf16(const std::u16string& text) {
    std::string utf8;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (point >= 0xD800 && point <= 0xDFFF)
            point = 0xFFFD;
        if (point < 0x80) {
            utf8 += static_cast<char>(point);
        } else if (point < 0x800) {
            utf8 += static_cast<char>(0xC0 | point >> 6);
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            utf8 += static_cast<char>(0xE0 | point >> 12);
            utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | point >> 18);
            utf8 += static_cast<char>(0x80 | (point >> 12 & 0x3F));
            utf8 += static_cast<char>(0x80 | (point >> 6 & 0x3F));
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return utf8;
}

} // namespace image
