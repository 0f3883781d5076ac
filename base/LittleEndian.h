// Reading and writing the little-endian integers of the file formats this program handles (the
// image trailer, the PE headers, the ZIP records): least significant byte first, whatever the
// machine's own byte order.
#pragma once

#include <cstdint>

namespace base {

inline std::uint16_t Get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t Get32(const unsigned char* p) {
    return std::uint32_t{Get16(p)} | std::uint32_t{Get16(p + 2)} << 16;
}
inline std::uint64_t Get64(const unsigned char* p) {
    return std::uint64_t{Get32(p)} | std::uint64_t{Get32(p + 4)} << 32;
}
inline void Put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, std::uint32_t v) {
    Put16(p, static_cast<std::uint16_t>(v));
    Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void Put64(unsigned char* p, std::uint64_t v) {
    Put32(p, static_cast<std::uint32_t>(v));
    Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

} // namespace base
