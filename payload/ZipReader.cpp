#include "payload/ZipReader.h"

#include "base/Text.h"
#include "payload/EntryName.h"
#include "payload/LzmaStream.h"
#include "payload/NameEncoding.h"
#include "payload/ZipFormat.h"
#include "payload/ZlibStream.h"

#include <algorithm>
#include <cstring>

namespace zip {
namespace {

using base::Quoted;

using namespace format;

constexpr std::size_t kBlockSize = 64 * 1024;
// The largest LZMA dictionary an entry may ask for: what the decoder allocates (the dictionary,
// or the entry's size when that is smaller) must stay within the extraction's memory.
constexpr std::uint32_t kMaxLzmaDictionary = 64u << 20;
// zlib's inflate state with its 32 KiB window.
constexpr std::uint64_t kInflateMemory = 48u << 10;

// Reads the LZMA header at the file's position (the start of the entry's data) into `options`;
// what is wrong with it, or nothing.
std::string ReadLzmaHeader(BinaryFile& file, const Entry& entry, lzma_options_lzma& options) {
    unsigned char header[kLzmaHeaderSize];
    if (entry.compressedSize < kLzmaHeaderSize || !file.ReadExact(header, sizeof header))
        return "LZMA header missing (damaged archive)";
    const unsigned char* properties = header + 4;
    if (Get16(header + 2) != kLzmaPropertiesSize || properties[0] >= 9 * 5 * 5)
        return "LZMA properties damaged";
    const std::uint32_t dictionary = Get32(properties + 1);
    if (dictionary > kMaxLzmaDictionary)
        return "LZMA dictionary larger than 64 MiB";
    options = {};
    options.lc = properties[0] % 9;
    options.lp = properties[0] / 9 % 5;
    options.pb = properties[0] / 45;
    // No match reaches further back than the entry's own size.
    options.dict_size =
        std::max<std::uint32_t>(std::min(dictionary, entry.size), LZMA_DICT_SIZE_MIN);
    // The size is known from the directory: the end marker may follow it, or not.
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = entry.size;
    return {};
}

} // namespace

bool Entry::IsFolder() const {
    return IsFolderName(name);
}

bool Reader::Fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool Reader::ReadAt(std::int64_t offset, void* buffer, std::size_t size) {
    if (offset < 0 || offset + static_cast<std::int64_t>(size) > rangeLength_)
        return false;
    return file_.Seek(rangeStart_ + offset) && file_.ReadExact(buffer, size);
}

bool Reader::Open(const std::string& path, std::int64_t rangeStart, std::int64_t rangeEnd) {
    file_.Close();
    path_ = path;
    entries_.clear();
    comment_.clear();
    error_.clear();
    if (!file_.Open(path, "rb"))
        return Fail("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    const std::int64_t fileLength = file_.Length();
    if (fileLength < 0)
        return Fail("cannot read " + Quoted(path));
    if (rangeEnd < 0 || rangeEnd > fileLength)
        rangeEnd = fileLength;
    if (rangeStart < 0 || rangeStart > rangeEnd)
        return Fail("byte range outside " + Quoted(path));
    rangeStart_ = rangeStart;
    rangeLength_ = rangeEnd - rangeStart;
    input_.resize(kBlockSize);
    output_.resize(kBlockSize);
    return FindEndRecord();
}

// Looks backwards for an end record whose central directory is where the record says; whatever
// follows the record (an installer trailer) and precedes the archive (a stub) is skipped.
bool Reader::FindEndRecord() {
    std::vector<unsigned char> block(kBlockSize + 4);
    std::int64_t highest = rangeLength_ - static_cast<std::int64_t>(kEndRecordSize);
    while (highest >= 0) {
        const std::int64_t lowest =
            std::max<std::int64_t>(0, highest - static_cast<std::int64_t>(kBlockSize) + 1);
        const auto span = static_cast<std::size_t>(highest - lowest + 4);
        if (!ReadAt(lowest, block.data(), span))
            return Fail("cannot read " + Quoted(path_));
        for (std::int64_t at = highest; at >= lowest; --at) {
            if (Get32(block.data() + (at - lowest)) != kEndRecordSignature)
                continue;
            unsigned char record[kEndRecordSize];
            if (!ReadAt(at, record, sizeof record))
                return Fail("cannot read " + Quoted(path_));
            const std::uint16_t disk = Get16(record + 4), cdDisk = Get16(record + 6);
            const std::uint16_t commentLength = Get16(record + 20);
            if (at + static_cast<std::int64_t>(kEndRecordSize + commentLength) > rangeLength_ ||
                disk != 0 || cdDisk != 0 || Get16(record + 8) != Get16(record + 10))
                continue;
            Directory directory{Get16(record + 10), Get32(record + 12), Get32(record + 16), at};
            if (!ReadZip64EndRecord(at, directory))
                continue;
            if (directory.size > static_cast<std::uint64_t>(directory.end))
                continue;
            const std::int64_t cdStart = directory.end - static_cast<std::int64_t>(directory.size);
            if (directory.offset > static_cast<std::uint64_t>(cdStart))
                continue;
            const std::int64_t base = cdStart - static_cast<std::int64_t>(directory.offset);
            // The locator's offset of the Zip64 end record counts from where the others do.
            if (directory.end != at &&
                directory.zip64RecordOffset != static_cast<std::uint64_t>(directory.end - base))
                continue;
            unsigned char signature[4];
            if (directory.entries == 0 ? directory.size != 0
                                       : directory.size / kCentralHeaderSize < directory.entries ||
                                             !ReadAt(cdStart, signature, 4) ||
                                             Get32(signature) != kCentralHeaderSignature)
                continue;
            comment_.resize(commentLength);
            if (!ReadAt(at + kEndRecordSize, comment_.data(), commentLength))
                return Fail("cannot read " + Quoted(path_));
            centralDirectoryStart_ = cdStart;
            return ReadCentralDirectory(cdStart, static_cast<std::int64_t>(directory.size),
                                        directory.entries, base);
        }
        highest = lowest - 1;
    }
    return Fail("no ZIP archive found in " + Quoted(path_));
}

// When a Zip64 end locator stands before the end record at `at`, the central directory's entry
// count, size and offset are those of the Zip64 end record before the locator; the end record's
// own fields must agree wherever they do not defer to it. False when the records disagree.
bool Reader::ReadZip64EndRecord(std::int64_t at, Directory& directory) {
    unsigned char locator[kZip64LocatorSize];
    const std::int64_t locatorAt = at - static_cast<std::int64_t>(kZip64LocatorSize);
    if (locatorAt < 0 || !ReadAt(locatorAt, locator, sizeof locator) ||
        Get32(locator) != kZip64LocatorSignature)
        return true;
    const std::int64_t recordAt = locatorAt - static_cast<std::int64_t>(kZip64EndRecordSize);
    unsigned char record[kZip64EndRecordSize];
    if (recordAt < 0 || !ReadAt(recordAt, record, sizeof record) ||
        Get32(record) != kZip64EndRecordSignature ||
        Get64(record + 4) != kZip64EndRecordSize - 12 || Get32(locator + 4) != 0 ||
        Get32(locator + 16) > 1 || Get32(record + 16) != 0 || Get32(record + 20) != 0 ||
        Get64(record + 24) != Get64(record + 32))
        return false;
    const std::uint64_t entries = Get64(record + 32), size = Get64(record + 40),
                        offset = Get64(record + 48);
    if ((directory.entries != kMaxEndRecordEntries && directory.entries != entries) ||
        (directory.size != 0xFFFFFFFF && directory.size != size) ||
        (directory.offset != 0xFFFFFFFF && directory.offset != offset))
        return false;
    directory = {entries, size, offset, recordAt, Get64(locator + 8)};
    return true;
}

bool Reader::ReadCentralDirectory(std::int64_t cdStart, std::int64_t cdSize, std::uint64_t count,
                                  std::int64_t base) {
    const std::string damaged = Quoted(path_) + ": central directory damaged";
    std::int64_t at = cdStart;
    const std::int64_t cdEnd = cdStart + cdSize;
    entries_.reserve(std::min<std::uint64_t>(count, kMaxEndRecordEntries));
    archiveOffset_ = cdStart;
    for (std::uint64_t index = 0; index < count; ++index) {
        unsigned char header[kCentralHeaderSize];
        if (at + static_cast<std::int64_t>(kCentralHeaderSize) > cdEnd ||
            !ReadAt(at, header, sizeof header) || Get32(header) != kCentralHeaderSignature)
            return Fail(damaged);
        Entry entry;
        entry.flags = Get16(header + 8);
        entry.method = Get16(header + 10);
        entry.crc32 = Get32(header + 16);
        entry.compressedSize = Get32(header + 20);
        entry.size = Get32(header + 24);
        const std::uint16_t nameLength = Get16(header + 28);
        const std::uint16_t extraLength = Get16(header + 30);
        const std::uint16_t commentLength = Get16(header + 32);
        const std::uint32_t localOffset = Get32(header + 42);
        if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF ||
            localOffset == 0xFFFFFFFF)
            return Fail(Quoted(path_) + " holds ZIP64 entries, which are not supported");
        if (nameLength > kMaxEntryNameLength)
            return Fail(Quoted(path_) + ": entry name longer than " +
                        std::to_string(kMaxEntryNameLength) + " bytes");
        std::string nameAndExtra(nameLength + extraLength, '\0');
        if (!ReadAt(at + kCentralHeaderSize, nameAndExtra.data(), nameAndExtra.size()))
            return Fail(damaged);
        entry.storedName = nameAndExtra.substr(0, nameLength);
        auto decoded = DecodeEntryName(entry.storedName, entry.flags, header[5],
                                       std::string_view(nameAndExtra).substr(nameLength));
        if (!decoded)
            return Fail(Quoted(path_) + ": entry name " + Quoted(entry.storedName) +
                        " is marked as UTF-8 but is not");
        entry.name = std::move(*decoded);
        at += static_cast<std::int64_t>(kCentralHeaderSize) + nameLength + extraLength +
              commentLength;
        if (at > cdEnd)
            return Fail(damaged);
        entry.localHeaderOffset = base + localOffset;
        if (entry.localHeaderOffset >= cdStart)
            return Fail(damaged);
        archiveOffset_ = std::min(archiveOffset_, entry.localHeaderOffset);
        entries_.push_back(std::move(entry));
    }
    if (at != cdEnd)
        return Fail(damaged);
    return true;
}

bool Reader::LocateData(const Entry& entry, std::int64_t& dataStart) {
    const std::string where = Quoted(entry.name) + ": ";
    unsigned char header[kLocalHeaderSize];
    if (!ReadAt(entry.localHeaderOffset, header, sizeof header) ||
        Get32(header) != kLocalHeaderSignature)
        return Fail(where + "local header missing (damaged archive)");
    const std::uint16_t nameLength = Get16(header + 26), extraLength = Get16(header + 28);
    // The names checked before unpacking are those of the central directory; the local
    // header must not name anything else.
    std::string localName(nameLength, '\0');
    if (!ReadAt(entry.localHeaderOffset + kLocalHeaderSize, localName.data(), nameLength) ||
        localName != entry.storedName)
        return Fail(where + "local header does not match the central directory");
    dataStart = entry.localHeaderOffset + static_cast<std::int64_t>(kLocalHeaderSize) + nameLength +
                extraLength;
    if (dataStart + entry.compressedSize > centralDirectoryStart_)
        return Fail(where + "data runs into the central directory (damaged archive)");
    return true;
}

bool Reader::CopyStored(const Entry& entry, const BlockSink& sink, std::uint32_t& crc) {
    std::uint32_t remaining = entry.compressedSize;
    while (remaining > 0) {
        const std::size_t chunk = std::min<std::size_t>(remaining, input_.size());
        if (!file_.ReadExact(input_.data(), chunk))
            return Fail(Quoted(entry.name) + ": read error");
        crc = static_cast<std::uint32_t>(::crc32(crc, input_.data(), static_cast<uInt>(chunk)));
        if (!sink(input_.data(), chunk))
            return Fail(Quoted(entry.name) + ": write error");
        remaining -= static_cast<std::uint32_t>(chunk);
    }
    return true;
}

// Hands on the first `count` bytes of output_, which a decoder has just produced.
bool Reader::Deliver(const Entry& entry, std::size_t count, const BlockSink& sink,
                     std::uint32_t& crc, std::uint32_t& produced) {
    if (count > entry.size - produced)
        return Fail(Quoted(entry.name) + ": more data than its recorded size (damaged archive)");
    produced += static_cast<std::uint32_t>(count);
    crc = static_cast<std::uint32_t>(::crc32(crc, output_.data(), static_cast<uInt>(count)));
    if (count > 0 && !sink(output_.data(), count))
        return Fail(Quoted(entry.name) + ": write error");
    return true;
}

std::size_t Reader::ReadCompressed(std::uint32_t& remaining) {
    const std::size_t chunk = std::min<std::size_t>(remaining, input_.size());
    if (!file_.ReadExact(input_.data(), chunk))
        return 0;
    remaining -= static_cast<std::uint32_t>(chunk);
    return chunk;
}

bool Reader::Inflate(const Entry& entry, const BlockSink& sink, std::uint32_t& crc,
                     std::uint32_t& produced) {
    const std::string where = Quoted(entry.name) + ": ";
    InflateStream inflater;
    if (!inflater.ok())
        return Fail(where + "cannot start decompression");
    z_stream* stream = inflater.get();
    std::uint32_t remaining = entry.compressedSize;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream->avail_in == 0 && remaining > 0) {
            const std::size_t chunk = ReadCompressed(remaining);
            if (chunk == 0)
                return Fail(where + "read error");
            stream->next_in = input_.data();
            stream->avail_in = static_cast<uInt>(chunk);
        }
        stream->next_out = output_.data();
        stream->avail_out = static_cast<uInt>(output_.size());
        status = inflate(stream, Z_NO_FLUSH);
        if (status == Z_BUF_ERROR && stream->avail_in == 0 && remaining == 0)
            return Fail(where + "compressed data ends early (damaged archive)");
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return Fail(where + "compressed data damaged");
        if (!Deliver(entry, output_.size() - stream->avail_out, sink, crc, produced))
            return false;
    }
    if (stream->avail_in != 0 || remaining != 0)
        return Fail(where + "compressed data ends before its recorded size (damaged archive)");
    return true;
}

bool Reader::Unlzma(const Entry& entry, const BlockSink& sink, std::uint32_t& crc,
                    std::uint32_t& produced) {
    const std::string where = Quoted(entry.name) + ": ";
    lzma_options_lzma options;
    if (const std::string wrong = ReadLzmaHeader(file_, entry, options); !wrong.empty())
        return Fail(where + wrong);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    LzmaStream decoder;
    lzma_stream* stream = decoder.get();
    const lzma_ret started = lzma_raw_decoder(stream, filters);
    if (started == LZMA_MEM_ERROR)
        return Fail(where + "out of memory");
    if (started != LZMA_OK)
        return Fail(where + "LZMA properties not supported");
    std::uint32_t remaining = entry.compressedSize - static_cast<std::uint32_t>(kLzmaHeaderSize);
    lzma_ret status = LZMA_OK;
    while (status != LZMA_STREAM_END) {
        if (stream->avail_in == 0 && remaining > 0) {
            const std::size_t chunk = ReadCompressed(remaining);
            if (chunk == 0)
                return Fail(where + "read error");
            stream->next_in = input_.data();
            stream->avail_in = chunk;
        }
        stream->next_out = output_.data();
        stream->avail_out = output_.size();
        status = lzma_code(stream, remaining == 0 ? LZMA_FINISH : LZMA_RUN);
        if (status == LZMA_BUF_ERROR)
            return Fail(where + "compressed data ends early (damaged archive)");
        if (status == LZMA_MEM_ERROR)
            return Fail(where + "out of memory");
        if (status != LZMA_OK && status != LZMA_STREAM_END)
            return Fail(where + "compressed data damaged");
        if (!Deliver(entry, output_.size() - stream->avail_out, sink, crc, produced))
            return false;
    }
    if (stream->avail_in != 0 || remaining != 0)
        return Fail(where + "compressed data ends before its recorded size (damaged archive)");
    return true;
}

bool Reader::OpenSameArchive(const Reader& opened) {
    file_.Close();
    entries_.clear();
    comment_.clear();
    error_.clear();
    if (!file_.Open(opened.path_, "rb"))
        return Fail("cannot open " + Quoted(opened.path_) + ": " + std::strerror(errno));
    path_ = opened.path_;
    rangeStart_ = opened.rangeStart_;
    rangeLength_ = opened.rangeLength_;
    archiveOffset_ = opened.archiveOffset_;
    centralDirectoryStart_ = opened.centralDirectoryStart_;
    input_.resize(kBlockSize);
    output_.resize(kBlockSize);
    return true;
}

std::uint64_t Reader::DecoderMemory(const Entry& entry) {
    if (entry.method == kMethodStored)
        return 0;
    if (entry.method != kMethodLzma)
        return kInflateMemory;
    std::int64_t dataStart = 0;
    lzma_options_lzma options;
    if (!LocateData(entry, dataStart) || !file_.Seek(rangeStart_ + dataStart) ||
        !ReadLzmaHeader(file_, entry, options).empty())
        return 0; // its extraction fails before the decoder starts
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    const std::uint64_t memory = lzma_raw_decoder_memusage(filters);
    return memory == UINT64_MAX ? 0 : memory;
}

bool Reader::Extract(const Entry& entry, const BlockSink& sink) {
    const std::string where = Quoted(entry.name) + ": ";
    if (entry.flags & kFlagEncrypted)
        return Fail(where + "encrypted entries are not supported");
    if (entry.method != kMethodStored && entry.method != kMethodDeflated &&
        entry.method != kMethodLzma)
        return Fail(where + "compression method " + std::to_string(entry.method) +
                    " is not supported");
    if (entry.method == kMethodStored && entry.compressedSize != entry.size)
        return Fail(where + "stored entry with two different sizes (damaged archive)");
    std::int64_t dataStart = 0;
    if (!LocateData(entry, dataStart))
        return false;
    if (!file_.Seek(rangeStart_ + dataStart))
        return Fail(where + "read error");
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
    std::uint32_t produced = 0;
    if (entry.method == kMethodStored) {
        if (!CopyStored(entry, sink, crc))
            return false;
        produced = entry.size;
    } else if (!(entry.method == kMethodLzma ? Unlzma(entry, sink, crc, produced)
                                             : Inflate(entry, sink, crc, produced))) {
        return false;
    }
    if (produced != entry.size)
        return Fail(where + "size differs from the recorded size (damaged archive)");
    if (crc != entry.crc32)
        return Fail(where + "CRC-32 mismatch (damaged archive)");
    return true;
}

} // namespace zip
