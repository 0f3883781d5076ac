// Minimal PE programs, and images signed as a signing tool leaves them, for the tests of the
// image reader and the fuzzers' seeds.
#pragma once

#include <cstdint>
#include <string>

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
    PutU32(pe, optional, 0x010B);                // PE32
    PutU32(pe, optional + 60, 0x200);            // size of headers
    PutU32(pe, optional + 92, 16);               // data directories
    PutU32(pe, kSectionTableOffset + 16, 0x200); // raw data size
    PutU32(pe, kSectionTableOffset + 20, 0x200); // raw data offset
    for (std::size_t at = 0x200; at < 0x400; ++at) // section data: any bytes
        pe[at] = static_cast<char>(at * 7);
    return pe;
}

inline void PutU16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

// A minimal Windows GUI program whose section, loaded at 0x1000, holds the resource directory
// with one dialog template (type 5, id `dialogId`, language 0x409) of the given caption: the
// resources by which pack tells the setup program from other programs.
inline std::string DialogProgram(const std::string& caption, std::uint16_t dialogId = 102) {
    std::string pe = MinimalPeProgram();
    const std::size_t optional = kPeHeaderOffset + 24;
    PutU16(pe, optional + 68, 2);                 // Windows GUI subsystem
    PutU32(pe, optional + 96 + 2 * 8, 0x1000);    // resource directory address
    PutU32(pe, optional + 96 + 2 * 8 + 4, 0x200); // and size
    PutU32(pe, kSectionTableOffset + 8, 0x200);   // virtual size
    PutU32(pe, kSectionTableOffset + 12, 0x1000); // virtual address
    std::string section(0x200, '\0');
    // Three directory levels of one entry each: type, name, language; then the data entry.
    const std::uint32_t levels[][2] = {{5, 0x80000018}, {dialogId, 0x80000030}, {0x409, 0x48}};
    for (std::size_t level = 0; level < 3; ++level) {
        PutU16(section, level * 0x18 + 14, 1);
        PutU32(section, level * 0x18 + 16, levels[level][0]);
        PutU32(section, level * 0x18 + 20, levels[level][1]);
    }
    // DLGTEMPLATEEX: version 1, 0xFFFF, 22 more bytes of header, no menu, no class, caption.
    std::string dialog(30, '\0');
    PutU16(dialog, 0, 1);
    PutU16(dialog, 2, 0xFFFF);
    for (char c : caption)
        dialog += std::string{c, '\0'};
    dialog += std::string(2, '\0');
    PutU32(section, 0x48, 0x1060);
    PutU32(section, 0x4C, static_cast<std::uint32_t>(dialog.size()));
    section.replace(0x60, dialog.size(), dialog);
    return pe.replace(0x200, section.size(), section);
}

// `image` as a signing tool leaves it: a certificate table of `size` bytes appended, described
// by the security directory entry (offset, size), which tests may then spoil.
inline std::string Signed(std::string image, std::size_t size = 1024) {
    PutU32(image, kSecurityEntryOffset, static_cast<std::uint32_t>(image.size()));
    PutU32(image, kSecurityEntryOffset + 4, static_cast<std::uint32_t>(size));
    return image + std::string(size, '\x30');
}

} // namespace peimage
