// Minimal PE programs, and images signed as a signing tool leaves them, for the tests of the
// image reader and the fuzzers' seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace peimage {

// A minimal 32-bit PE program of 0x400 bytes: headers up to 0x200, one section of raw data
// from 0x200 to 0x400, and sixteen data directories, all empty.
constexpr std::size_t kPeHeaderOffset = 0x40;
constexpr std::size_t kSecurityEntryOffset = kPeHeaderOffset + 24 + 96 + 4 * 8;
constexpr std::size_t kSectionTableOffset = kPeHeaderOffset + 24 + 224;

inline void PutU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

inline std::string MinimalPeProgram() {
    std::string pe(0x400, '\0');
    pe[0] = 'M', pe[1] = 'Z';
    PutU32(pe, 0x3C, kPeHeaderOffset);
    pe.replace(kPeHeaderOffset, 4, std::string("PE\0\0", 4));
    PutU32(pe, kPeHeaderOffset + 4, 0x0001014C);  // i386, one section
    PutU32(pe, kPeHeaderOffset + 20, 0x010200E0); // optional header of 224 bytes
    const std::size_t optional = kPeHeaderOffset + 24;
    PutU32(pe, optional, 0x010B);                  // PE32
    PutU32(pe, optional + 60, 0x200);              // size of headers
    PutU32(pe, optional + 92, 16);                 // data directories
    PutU32(pe, kSectionTableOffset + 16, 0x200);   // raw data size
    PutU32(pe, kSectionTableOffset + 20, 0x200);   // raw data offset
    for (std::size_t at = 0x200; at < 0x400; ++at) // section data: any bytes
        pe[at] = static_cast<char>(at * 7);
    return pe;
}

inline void PutU16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

// A resource of a program: its type, its id, its data; under language 0x409.
struct Resource {
    std::uint32_t type, id;
    std::string data;
};

// A minimal Windows GUI program whose section, loaded at 0x1000, holds a resource directory with
// `resources` (their types in ascending order), each behind three directory levels of one entry
// (type, name, language) and its data entry.
inline std::string ResourceProgram(const std::vector<Resource>& resources) {
    const std::size_t count = resources.size(), first = 16 + 8 * count;
    std::string section(first + 64 * count, '\0');
    const auto entry = [&section](std::size_t at, std::uint32_t id, std::uint32_t target) {
        PutU32(section, at, id);
        PutU32(section, at + 4, target);
    };
    PutU16(section, 14, static_cast<std::uint16_t>(count)); // the root's entries by id
    for (std::size_t i = 0; i < count; ++i) {
        const auto type = static_cast<std::uint32_t>(first + 64 * i), name = type + 24;
        const std::uint32_t data = name + 24;
        entry(16 + 8 * i, resources[i].type, 0x80000000 | type);
        PutU16(section, type + 14, 1);
        entry(type + 16, resources[i].id, 0x80000000 | name);
        PutU16(section, name + 14, 1);
        entry(name + 16, 0x409, data);
        entry(data, 0x1000 + static_cast<std::uint32_t>(section.size()),
              static_cast<std::uint32_t>(resources[i].data.size()));
        section += resources[i].data;
        section.resize((section.size() + 7) & ~std::size_t{7}, '\0');
    }
    section.resize((section.size() + 0x1FF) & ~std::size_t{0x1FF}, '\0');
    const auto size = static_cast<std::uint32_t>(section.size());
    std::string pe = MinimalPeProgram().substr(0, 0x200) + section;
    const std::size_t optional = kPeHeaderOffset + 24;
    PutU16(pe, optional + 68, 2);                 // Windows GUI subsystem
    PutU32(pe, optional + 96 + 2 * 8, 0x1000);    // resource directory address
    PutU32(pe, optional + 96 + 2 * 8 + 4, size);  // and size
    PutU32(pe, kSectionTableOffset + 8, size);    // virtual size
    PutU32(pe, kSectionTableOffset + 12, 0x1000); // virtual address
    PutU32(pe, kSectionTableOffset + 16, size);   // raw data size
    return pe;
}

// A dialog template (DLGTEMPLATEEX: version 1, 0xFFFF, 22 more bytes of header, no menu, no
// class) with the given caption.
inline std::string DialogTemplate(const std::string& caption) {
    std::string dialog(30, '\0');
    PutU16(dialog, 0, 1);
    PutU16(dialog, 2, 0xFFFF);
    for (char c : caption)
        dialog += std::string{c, '\0'};
    return dialog + std::string(2, '\0');
}

// A program with one dialog (type 5, id `dialogId`) of the given caption: the resources by which
// pack tells the setup program from other programs.
inline std::string DialogProgram(const std::string& caption, std::uint16_t dialogId = 102) {
    return ResourceProgram({{5, dialogId, DialogTemplate(caption)}});
}

// `image` as a signing tool leaves it: a certificate table of `size` bytes appended, described
// by the security directory entry (offset, size), which tests may then spoil.
inline std::string Signed(std::string image, std::size_t size = 1024) {
    PutU32(image, kSecurityEntryOffset, static_cast<std::uint32_t>(image.size()));
    PutU32(image, kSecurityEntryOffset + 4, static_cast<std::uint32_t>(size));
    return image + std::string(size, '\x30');
}

} // namespace peimage
