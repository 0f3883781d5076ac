#include "image/ProgramResources.h"

#include "base/LittleEndian.h"

#include <vector>

namespace image {
namespace {

constexpr std::uint32_t kSubdirectoryBit = 0x80000000;
constexpr std::size_t kDirectoryHeaderSize = 16, kDirectoryEntrySize = 8, kDataEntrySize = 16;

using base::Get16;
using base::Get32;

// Reads the bytes that `size` bytes at address `rva` of the loaded program come from, when the
// raw data of one section holds them all.
class ProgramReader {
public:
    ProgramReader(BinaryFile& file, std::int64_t start, std::int64_t length,
                  const ProgramHeaders& headers)
        : file_(file), start_(start), length_(length), headers_(headers) {}

    std::optional<std::int64_t> RawOffset(std::uint32_t rva, std::uint32_t size) const {
        for (const ProgramSection& section : headers_.sections) {
            if (rva < section.virtualAddress ||
                std::int64_t{rva} - section.virtualAddress + size > section.rawSize)
                continue;
            const std::int64_t offset =
                std::int64_t{section.rawOffset} + rva - section.virtualAddress;
            if (offset + size > length_)
                return std::nullopt;
            return offset;
        }
        return std::nullopt;
    }

    bool Read(std::uint32_t rva, unsigned char* buffer, std::uint32_t size) const {
        const std::optional<std::int64_t> offset = RawOffset(rva, size);
        return offset && file_.Seek(start_ + *offset) && file_.ReadExact(buffer, size);
    }

private:
    BinaryFile& file_;
    std::int64_t start_, length_;
    const ProgramHeaders& headers_;
};

// The data field of the entry for `id` (any entry when `id` is empty) in the resource directory
// at `directory`, counted from the start of the resources.
std::optional<std::uint32_t> FindEntry(const ProgramReader& reader, std::uint32_t resources,
                                       std::uint32_t directory, std::optional<std::uint32_t> id) {
    unsigned char header[kDirectoryHeaderSize];
    if (!reader.Read(resources + directory, header, sizeof header))
        return std::nullopt;
    const std::uint32_t count = Get16(header + 12) + Get16(header + 14);
    std::vector<unsigned char> entries(std::size_t{count} * kDirectoryEntrySize);
    if (count == 0 || !reader.Read(resources + directory + kDirectoryHeaderSize, entries.data(),
                                   static_cast<std::uint32_t>(entries.size())))
        return std::nullopt;
    for (std::size_t at = 0; at < entries.size(); at += kDirectoryEntrySize)
        if (!id || Get32(entries.data() + at) == *id) // a named entry has its top bit set
            return Get32(entries.data() + at + 4);
    return std::nullopt;
}

} // namespace

std::optional<ResourceData> FindResource(BinaryFile& file, std::int64_t start, std::int64_t length,
                                         const ProgramHeaders& headers, std::uint32_t type,
                                         std::uint32_t id) {
    const ProgramReader reader(file, start, length, headers);
    const std::uint32_t resources = headers.resources.address;
    if (resources == 0)
        return std::nullopt;
    // Three levels: type, name, language.
    std::uint32_t entry = 0;
    const std::optional<std::uint32_t> path[] = {type, id, std::nullopt};
    for (std::size_t level = 0; level < 3; ++level) {
        const std::optional<std::uint32_t> found = FindEntry(reader, resources, entry, path[level]);
        if (!found || ((*found & kSubdirectoryBit) != 0) != (level < 2))
            return std::nullopt;
        entry = *found & ~kSubdirectoryBit;
    }
    unsigned char data[kDataEntrySize];
    if (!reader.Read(resources + entry, data, sizeof data))
        return std::nullopt;
    const std::optional<std::int64_t> offset = reader.RawOffset(Get32(data), Get32(data + 4));
    if (!offset)
        return std::nullopt;
    return ResourceData{start + *offset, Get32(data + 4)};
}

std::optional<std::u16string> DialogCaption(std::string_view dialogTemplate) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(dialogTemplate.data());
    const auto word = [&](std::size_t at) -> std::optional<char16_t> {
        if (at + 2 > dialogTemplate.size())
            return std::nullopt;
        return static_cast<char16_t>(Get16(bytes + at));
    };
    // DLGTEMPLATEEX starts with version 1 and 0xFFFF; the fixed part is 26 bytes, else 18.
    std::size_t at = word(0) == u'\x0001' && word(2) == u'\xFFFF' ? 26 : 18;
    // The menu and the window class: none (0), an ordinal (0xFFFF and a number) or a string.
    for (int field = 0; field < 2; ++field) {
        const std::optional<char16_t> first = word(at);
        if (!first)
            return std::nullopt;
        if (*first == u'\xFFFF') {
            at += 4;
            continue;
        }
        while (word(at).value_or(0) != 0)
            at += 2;
        at += 2;
    }
    std::u16string caption;
    for (std::optional<char16_t> c = word(at); c; c = word(at += 2)) {
        if (*c == 0)
            return caption;
        caption += *c;
    }
    return std::nullopt;
}

} // namespace image
