// A streaming reader of ZIP archives that may be embedded in a larger file: behind a program
// (a self-extracting stub) and followed by other bytes (an installer trailer). The archive is
// found by reading from the end. Entries are extracted in blocks, so memory use does not grow
// with the size of the archive or of its entries.
#pragma once

#include "base/BinaryFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zip {

using base::BinaryFile;

struct Entry {
    std::string name;       // UTF-8, '/'-separated (decoded the ZIP way: payload/NameEncoding.h)
    std::string storedName; // the bytes of the central directory's name field
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc32 = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::int64_t localHeaderOffset = 0; // from the start of the reader's range, already adjusted
    bool IsFolder() const;
};

// Receives extracted data block by block; returns false to stop with a write error.
using BlockSink = std::function<bool(const unsigned char* data, std::size_t size)>;

class Reader {
public:
    // Opens `path` and finds the archive that ends last within the byte range
    // [rangeStart, rangeEnd) of the file (rangeEnd < 0: the end of the file). Offsets stored in
    // the archive may count from the start of the archive or from the start of the range.
    // False, with Error() set, when no intact archive is found.
    bool Open(const std::string& path, std::int64_t rangeStart = 0, std::int64_t rangeEnd = -1);

    const std::vector<Entry>& Entries() const { return entries_; }

    // Where the archive's first entry (or, when empty, its central directory) lies, counted
    // from the start of the range.
    std::int64_t ArchiveOffset() const { return archiveOffset_; }
    const std::string& Comment() const { return comment_; }

    // Sends the entry's data to `sink` and checks its size and CRC-32. False, with Error() set,
    // on a damaged or unsupported entry, a read error or a refusal of the sink; the sink may
    // then have received part of the data.
    bool Extract(const Entry& entry, const BlockSink& sink);

    // Opens the archive another reader has opened, for extracting its entries on another
    // thread: a file position and buffers of its own, and no copy of the directory (Entries()
    // is empty; extract the other reader's entries).
    bool OpenSameArchive(const Reader& opened);

    // The memory the decoder of `entry` allocates while it runs, beyond the reader's own buffers:
    // for LZMA, as its properties ask (read from the archive; 0 when they cannot be, as the
    // extraction then fails before decoding).
    std::uint64_t DecoderMemory(const Entry& entry);

    const std::string& Error() const { return error_; }

private:
    bool Fail(std::string message);
    bool ReadAt(std::int64_t offset, void* buffer, std::size_t size);
    bool FindEndRecord();
    // Where the central directory is, as the end records tell.
    struct Directory {
        std::uint64_t entries, size, offset;
        std::int64_t end;                    // where it ends: at the first end record
        std::uint64_t zip64RecordOffset = 0; // the Zip64 end record's, as the locator tells
    };
    bool ReadZip64EndRecord(std::int64_t at, Directory& directory);
    bool ReadCentralDirectory(std::int64_t cdStart, std::int64_t cdSize, std::uint64_t count,
                              std::int64_t base);
    bool LocateData(const Entry& entry, std::int64_t& dataStart);
    bool CopyStored(const Entry& entry, const BlockSink& sink, std::uint32_t& crc);
    bool Deliver(const Entry& entry, std::size_t count, const BlockSink& sink, std::uint32_t& crc,
                 std::uint32_t& produced);
    // The next block of an entry's compressed data into input_, of which `remaining` bytes were
    // left: its length, 0 when it cannot be read.
    std::size_t ReadCompressed(std::uint32_t& remaining);
    bool Inflate(const Entry& entry, const BlockSink& sink, std::uint32_t& crc,
                 std::uint32_t& produced);
    bool Unlzma(const Entry& entry, const BlockSink& sink, std::uint32_t& crc,
                std::uint32_t& produced);

    BinaryFile file_;
    std::string path_;
    std::int64_t rangeStart_ = 0;
    std::int64_t rangeLength_ = 0;
    std::int64_t archiveOffset_ = 0;
    std::int64_t centralDirectoryStart_ = 0; // in range coordinates
    std::vector<Entry> entries_;
    std::string comment_;
    std::string error_;
    std::vector<unsigned char> input_, output_;
};

} // namespace zip
