// Writes ZIP archives, optionally behind a self-extracting stub, deterministically: entries in
// the order they are added, fixed time stamps and attributes, nothing taken from the machine.
// Offsets count from the start of the file, so the archive reads without warnings even with a
// stub in front. Data is streamed through fixed buffers.
#pragma once

#include "base/BinaryFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zip {

using base::BinaryFile;

// How entries are compressed; an entry that compression would not make smaller is stored.
enum class Compression {
    Deflate, // read by every ZIP reader
    Lzma,    // method 14, smaller; read by 7-Zip and libarchive, not by Info-ZIP's unzip 6.0
    Store,
};

// The largest LZMA dictionary the writer uses (smaller for smaller entries): what a reader
// needs to hold while it unpacks an entry.
constexpr std::uint32_t kLzmaDictionarySize = 8u << 20;

// The archive as a whole must stay below 2 GiB: it becomes a payload of an installer image.
constexpr std::int64_t kMaxArchiveSize = 0x7FFFFFFF;

// The DOS date and time stamped on every entry: 1 January 1980, 00:00.
constexpr std::uint16_t kFixedDosDate = (0 << 9) | (1 << 5) | 1;
constexpr std::uint16_t kFixedDosTime = 0;

class Writer {
public:
    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Creates (or empties) the archive file.
    bool Create(const std::string& path);
    // Copies a file unchanged in front of the archive, before the first entry.
    bool AppendStub(const std::string& stubPath);
    // Adds an entry under `name` ('/'-separated; not checked here) with a file's content.
    bool AddFile(const std::string& name, const std::string& sourcePath,
                 Compression compression = Compression::Deflate);
    bool AddBytes(const std::string& name, std::string_view data,
                  Compression compression = Compression::Deflate);
    // Adds a folder entry: `name` ends in '/', no data. Unpacking creates the folder even when
    // no entry lies in it.
    bool AddFolder(const std::string& name);
    // Writes the central directory and end record and closes the file.
    bool Finish();

    const std::string& Error() const { return error_; }

    class Source;

private:
    struct Record {
        std::string name;
        std::uint16_t method = 0;
        std::uint32_t crc32 = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t size = 0;
        std::uint32_t localHeaderOffset = 0;
    };

    bool Fail(std::string message);
    bool Put(const void* data, std::size_t size);
    bool AddEntry(const std::string& name, Source& source, Compression compression);
    bool StoreData(Source& source, Record& record);
    bool DeflateData(Source& source, Record& record);
    bool LzmaData(Source& source, Record& record);
    bool ReadChecked(Source& source, std::size_t& count, std::uint32_t& crc, std::int64_t& size);

    BinaryFile file_;
    std::string path_;
    std::int64_t position_ = 0;
    std::int64_t furthest_ = 0; // a stored rewrite can end before an earlier deflate pass did
    bool open_ = false;
    std::vector<Record> records_;
    std::vector<unsigned char> input_, output_;
    std::string error_;
};

} // namespace zip
