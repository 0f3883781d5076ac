#include "payload/ZipWriter.h"

#include "base/Text.h"
#include "payload/LzmaStream.h"
#include "payload/NameEncoding.h"
#include "payload/ZipFormat.h"
#include "payload/ZlibStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zip {
namespace {

using base::Quoted;

using namespace format;

constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::uint16_t kVersionStored = 10, kVersionDeflated = 20, kVersionZip64 = 45,
                        kVersionLzma = 63;
constexpr std::uint16_t kVersionMadeBy = 20; // 2.0, MS-DOS and compatible file attributes
constexpr std::uint32_t kDosFolderAttribute = 0x10;

// The fields a local header and a central header share, in the same order, from `at` on (where
// the version needed to extract stands): that version, the flags (bit 11 for a name beyond
// ASCII, which is UTF-8; bit 1 for LZMA data, which ends in an end marker), the method, the fixed
// time and date, the CRC-32, the compressed and the uncompressed size.
void PutSharedFields(unsigned char* at, const auto& record) {
    const bool ascii = std::all_of(record.name.begin(), record.name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const bool lzma = record.method == kMethodLzma;
    Put16(at, lzma                             ? kVersionLzma
              : record.method == kMethodStored ? kVersionStored
                                               : kVersionDeflated);
    Put16(at + 2, (ascii ? 0 : kFlagUtf8Name) | (lzma ? kFlagLzmaEndMarker : 0));
    Put16(at + 4, record.method);
    Put16(at + 6, kFixedDosTime);
    Put16(at + 8, kFixedDosDate);
    Put32(at + 10, record.crc32);
    Put32(at + 14, record.compressedSize);
    Put32(at + 18, record.size);
}

} // namespace

// What an entry's data is read from; read twice when deflating does not pay.
class Writer::Source {
public:
    virtual ~Source() = default;
    virtual bool Rewind() = 0;
    // Reads up to `capacity` bytes; `count` 0 at the end. False on a read error.
    virtual bool Read(unsigned char* buffer, std::size_t capacity, std::size_t& count) = 0;
    virtual std::string Describe() const = 0;
    // The size the data has when packing starts (it may change meanwhile), -1 if unknown.
    virtual std::int64_t Size() = 0;
};

namespace {

class FileSource : public Writer::Source {
public:
    explicit FileSource(std::string path) : path_(std::move(path)) {}
    bool Open() { return file_.Open(path_, "rb"); }
    bool Rewind() override { return file_.Seek(0); }
    bool Read(unsigned char* buffer, std::size_t capacity, std::size_t& count) override {
        count = file_.Read(buffer, capacity);
        return !file_.Failed();
    }
    std::string Describe() const override { return Quoted(path_); }
    std::int64_t Size() override {
        const std::int64_t length = file_.Length();
        return file_.Seek(0) ? length : -1;
    }

private:
    std::string path_;
    BinaryFile file_;
};

class BytesSource : public Writer::Source {
public:
    explicit BytesSource(std::string_view data) : data_(data) {}
    bool Rewind() override {
        offset_ = 0;
        return true;
    }
    bool Read(unsigned char* buffer, std::size_t capacity, std::size_t& count) override {
        count = std::min(capacity, data_.size() - offset_);
        if (count > 0) // an empty view may have no data pointer at all
            std::memcpy(buffer, data_.data() + offset_, count);
        offset_ += count;
        return true;
    }
    std::string Describe() const override { return "data"; }
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

private:
    std::string_view data_;
    std::size_t offset_ = 0;
};

} // namespace

bool Writer::Fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool Writer::Put(const void* data, std::size_t size) {
    if (position_ + static_cast<std::int64_t>(size) > kMaxArchiveSize)
        return Fail(Quoted(path_) + " would reach 2 GiB, the largest payload there can be");
    if (!file_.Write(data, size))
        return Fail("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
    position_ += static_cast<std::int64_t>(size);
    furthest_ = std::max(furthest_, position_);
    return true;
}

bool Writer::Create(const std::string& path) {
    path_ = path;
    records_.clear();
    position_ = furthest_ = 0;
    if (!file_.Open(path, "wb"))
        return Fail("cannot create " + Quoted(path) + ": " + std::strerror(errno));
    open_ = true;
    input_.resize(kBlockSize);
    output_.resize(kBlockSize);
    return true;
}

bool Writer::AppendStub(const std::string& stubPath) {
    if (!open_ || !records_.empty())
        return Fail("the stub goes in front of the first entry");
    FileSource stub(stubPath);
    if (!stub.Open())
        return Fail("cannot open " + Quoted(stubPath) + ": " + std::strerror(errno));
    std::size_t count = 0;
    do {
        if (!stub.Read(input_.data(), input_.size(), count))
            return Fail("cannot read " + Quoted(stubPath));
        if (!Put(input_.data(), count))
            return false;
    } while (count > 0);
    return true;
}

bool Writer::AddFile(const std::string& name, const std::string& sourcePath,
                     Compression compression) {
    FileSource source(sourcePath);
    if (!source.Open())
        return Fail("cannot open " + Quoted(sourcePath) + ": " + std::strerror(errno));
    return AddEntry(name, source, compression);
}

bool Writer::AddBytes(const std::string& name, std::string_view data, Compression compression) {
    BytesSource source(data);
    return AddEntry(name, source, compression);
}

bool Writer::AddFolder(const std::string& name) {
    return AddBytes(name, {}, Compression::Store);
}

bool Writer::StoreData(Source& source, Record& record) {
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
    std::int64_t size = 0;
    std::size_t count = 0;
    if (!source.Rewind())
        return Fail("cannot read " + source.Describe());
    do {
        if (!source.Read(input_.data(), input_.size(), count))
            return Fail("cannot read " + source.Describe());
        if (!Put(input_.data(), count))
            return false;
        crc = static_cast<std::uint32_t>(::crc32(crc, input_.data(), static_cast<uInt>(count)));
        size += static_cast<std::int64_t>(count);
    } while (count > 0);
    // A second pass after compressing must see the same bytes as the first.
    if (record.method != kMethodStored && (crc != record.crc32 || size != record.size))
        return Fail(source.Describe() + " changed while it was being packed");
    record.method = kMethodStored;
    record.crc32 = crc;
    record.size = record.compressedSize = static_cast<std::uint32_t>(size);
    return true;
}

// Reads the next block of an entry's data into input_, counting its CRC-32 and size.
bool Writer::ReadChecked(Source& source, std::size_t& count, std::uint32_t& crc,
                         std::int64_t& size) {
    if (!source.Read(input_.data(), input_.size(), count))
        return Fail("cannot read " + source.Describe());
    crc = static_cast<std::uint32_t>(::crc32(crc, input_.data(), static_cast<uInt>(count)));
    size += static_cast<std::int64_t>(count);
    if (size > kMaxArchiveSize)
        return Fail(source.Describe() + " is too large for a payload");
    return true;
}

bool Writer::DeflateData(Source& source, Record& record) {
    DeflateStream deflater;
    if (!deflater.ok())
        return Fail("cannot start compression");
    z_stream* stream = deflater.get();
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
    const std::int64_t dataStart = position_;
    std::int64_t size = 0;
    int flush = Z_NO_FLUSH;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream->avail_in == 0 && flush == Z_NO_FLUSH) {
            std::size_t count = 0;
            if (!ReadChecked(source, count, crc, size))
                return false;
            stream->next_in = input_.data();
            stream->avail_in = static_cast<uInt>(count);
            if (count == 0)
                flush = Z_FINISH;
        }
        stream->next_out = output_.data();
        stream->avail_out = static_cast<uInt>(output_.size());
        status = deflate(stream, flush);
        if (status == Z_STREAM_ERROR)
            return Fail("compression failed");
        if (!Put(output_.data(), output_.size() - stream->avail_out))
            return false;
    }
    record.method = kMethodDeflated;
    record.crc32 = crc;
    record.size = static_cast<std::uint32_t>(size);
    record.compressedSize = static_cast<std::uint32_t>(position_ - dataStart);
    return true;
}

// LZMA at liblzma's default level, with a dictionary no larger than the entry (nor than
// kLzmaDictionarySize): small entries need no large match finder, and the reader no large
// dictionary. The stream ends in an end marker.
bool Writer::LzmaData(Source& source, Record& record) {
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT))
        return Fail("cannot start compression");
    const std::int64_t expected = source.Size();
    options.dict_size = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
        expected < 0 ? kLzmaDictionarySize : expected, LZMA_DICT_SIZE_MIN, kLzmaDictionarySize));
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    unsigned char header[kLzmaHeaderSize];
    header[0] = LZMA_VERSION_MAJOR;
    header[1] = LZMA_VERSION_MINOR;
    Put16(header + 2, kLzmaPropertiesSize);
    LzmaStream encoder;
    lzma_stream* stream = encoder.get();
    if (lzma_properties_encode(filters, header + 4) != LZMA_OK ||
        lzma_raw_encoder(stream, filters) != LZMA_OK)
        return Fail("cannot start compression");
    const std::int64_t dataStart = position_;
    if (!Put(header, sizeof header))
        return false;
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, nullptr, 0));
    std::int64_t size = 0;
    lzma_action action = LZMA_RUN;
    lzma_ret status = LZMA_OK;
    while (status != LZMA_STREAM_END) {
        if (stream->avail_in == 0 && action == LZMA_RUN) {
            std::size_t count = 0;
            if (!ReadChecked(source, count, crc, size))
                return false;
            stream->next_in = input_.data();
            stream->avail_in = count;
            if (count == 0)
                action = LZMA_FINISH;
        }
        stream->next_out = output_.data();
        stream->avail_out = output_.size();
        status = lzma_code(stream, action);
        if (status != LZMA_OK && status != LZMA_STREAM_END)
            return Fail(status == LZMA_MEM_ERROR ? "out of memory for compression"
                                                 : "compression failed");
        if (!Put(output_.data(), output_.size() - stream->avail_out))
            return false;
    }
    record.method = kMethodLzma;
    record.crc32 = crc;
    record.size = static_cast<std::uint32_t>(size);
    record.compressedSize = static_cast<std::uint32_t>(position_ - dataStart);
    return true;
}

bool Writer::AddEntry(const std::string& name, Source& source, Compression compression) {
    if (!open_)
        return Fail("archive is not open");
    if (name.empty() || name.size() > 0xFFFF)
        return Fail("entry name " + Quoted(name) + " is empty or too long");
    if (!IsValidUtf8(name))
        return Fail("entry name " + Quoted(name) + " is not UTF-8");
    Record record;
    record.name = name;
    record.localHeaderOffset = static_cast<std::uint32_t>(position_);
    const std::int64_t headerStart = position_;
    unsigned char header[kLocalHeaderSize] = {};
    Put32(header, kLocalHeaderSignature);
    Put16(header + 26, static_cast<std::uint16_t>(name.size()));
    if (!Put(header, sizeof header) || !Put(name.data(), name.size()))
        return false;
    const std::int64_t dataStart = position_;
    if (compression != Compression::Store) {
        if (!(compression == Compression::Lzma ? LzmaData(source, record)
                                               : DeflateData(source, record)))
            return false;
        if (record.compressedSize >= record.size) {
            if (!file_.Seek(dataStart))
                return Fail("cannot seek in " + Quoted(path_));
            position_ = dataStart;
        }
    }
    if (record.method == kMethodStored || record.compressedSize >= record.size) {
        if (!StoreData(source, record))
            return false;
    }
    // Now that sizes and CRC are known, fill in the local header.
    PutSharedFields(header + 4, record);
    const std::int64_t end = position_;
    if (!file_.Seek(headerStart) || !file_.Write(header, sizeof header) || !file_.Seek(end))
        return Fail("cannot write " + Quoted(path_));
    records_.push_back(std::move(record));
    return true;
}

bool Writer::Finish() {
    if (!open_)
        return Fail("archive is not open");
    const std::int64_t cdStart = position_;
    for (const Record& record : records_) {
        unsigned char header[kCentralHeaderSize] = {};
        Put32(header, kCentralHeaderSignature);
        Put16(header + 4, kVersionMadeBy);
        PutSharedFields(header + 6, record);
        Put16(header + 28, static_cast<std::uint16_t>(record.name.size()));
        if (record.name.back() == '/')
            Put32(header + 38, kDosFolderAttribute);
        Put32(header + 42, record.localHeaderOffset);
        if (!Put(header, sizeof header) || !Put(record.name.data(), record.name.size()))
            return false;
    }
    const std::int64_t cdEnd = position_;
    // More entries than the end record counts: the Zip64 end record counts them, and its
    // locator says where it is. Sizes and offsets all fit the end record.
    const bool zip64 = records_.size() > kMaxEndRecordEntries;
    if (zip64) {
        unsigned char record[kZip64EndRecordSize + kZip64LocatorSize] = {};
        Put32(record, kZip64EndRecordSignature);
        Put64(record + 4, kZip64EndRecordSize - 12);
        Put16(record + 12, kVersionZip64);
        Put16(record + 14, kVersionZip64);
        Put64(record + 24, records_.size());
        Put64(record + 32, records_.size());
        Put64(record + 40, static_cast<std::uint64_t>(cdEnd - cdStart));
        Put64(record + 48, static_cast<std::uint64_t>(cdStart));
        unsigned char* locator = record + kZip64EndRecordSize;
        Put32(locator, kZip64LocatorSignature);
        Put64(locator + 8, static_cast<std::uint64_t>(cdEnd));
        Put32(locator + 16, 1); // disks in all
        if (!Put(record, sizeof record))
            return false;
    }
    const auto counted = static_cast<std::uint16_t>(zip64 ? kMaxEndRecordEntries : records_.size());
    unsigned char end[kEndRecordSize] = {};
    Put32(end, kEndRecordSignature);
    Put16(end + 8, counted);
    Put16(end + 10, counted);
    Put32(end + 12, static_cast<std::uint32_t>(cdEnd - cdStart));
    Put32(end + 16, static_cast<std::uint32_t>(cdStart));
    if (!Put(end, sizeof end))
        return false;
    open_ = false;
    if (!file_.Close())
        return Fail("cannot write " + Quoted(path_) + ": " + std::strerror(errno));
    if (furthest_ > position_) {
        std::error_code error;
        std::filesystem::resize_file(path_, static_cast<std::uintmax_t>(position_), error);
        if (error)
            return Fail("cannot write " + Quoted(path_) + ": " + error.message());
    }
    return true;
}

} // namespace zip
