// Record layouts of the ZIP format as far as this program reads and writes them: local file
// headers, central directory headers, the end of central directory record and, for more than
// 65,535 entries, the Zip64 end records before it. No Zip64 sizes or offsets (a payload stays
// below 2 GiB), no multi-disk archives, no encryption.
#pragma once

#include "base/LittleEndian.h"

#include <cstddef>
#include <cstdint>

namespace zip::format {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56; // without the extensible data nobody writes
constexpr std::size_t kZip64LocatorSize = 20;
// The most entries the end record counts; past it the count is in the Zip64 end record.
constexpr std::size_t kMaxEndRecordEntries = 0xFFFF;
constexpr std::size_t kMaxCommentLength = 0xFFFF;

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
// LZMA as 7-Zip writes it: the LZMA SDK version (2 bytes), the size of the properties (2 bytes,
// 5), the properties (lc/lp/pb in one byte, the dictionary size in four), then the raw stream.
constexpr std::uint16_t kMethodLzma = 14;
constexpr std::size_t kLzmaPropertiesSize = 5;
constexpr std::size_t kLzmaHeaderSize = 4 + kLzmaPropertiesSize;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagLzmaEndMarker = 0x0002; // for method 14: the stream ends in a marker
constexpr std::uint16_t kFlagDataDescriptor = 0x0008;

using base::Get16;
using base::Get32;
using base::Get64;
using base::Put16;
using base::Put32;
using base::Put64;

} // namespace zip::format
