// Runs the installer-image trailer reader and the ZIP reader over untrusted bytes and holds what
// they report against the bytes themselves. Shared by the fuzz targets and the host regression
// test. Every check returns "" when all is well, else a description of the first broken promise;
// a crash or a sanitizer report is a fault as well.
#pragma once

#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "payload/EntryName.h"
#include "payload/ZipReader.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace readerchecks {

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return out.good();
}

// What Windows would make of an accepted name under the unpack folder, worked out apart from the
// check itself: it must not be absolute, name a drive or stream, hold control characters, or have
// a segment that Windows reads as empty, "." or ".." once it drops trailing dots and blanks.
inline std::string NameViolation(std::string_view name) {
    const std::string reason = zip::UnsafeNameReason(name);
    if (!reason.empty())
        return zip::IsSafeEntryName(name) ? "IsSafeEntryName disagrees with UnsafeNameReason" : "";
    const std::string shown = "accepted name '" + std::string(name) + "' ";
    if (name.empty() || name.front() == '/' || name.front() == '\\')
        return shown + "is empty or absolute";
    for (char c : name) {
        if (c == ':')
            return shown + "names a drive or stream";
        if (static_cast<unsigned char>(c) < 0x20)
            return shown + "holds a control character";
    }
    std::string_view rest = name;
    if (zip::IsFolderName(rest))
        rest.remove_suffix(1);
    while (true) {
        const std::size_t end = rest.find_first_of("/\\");
        std::string_view segment = rest.substr(0, end);
        while (!segment.empty() && (segment.back() == '.' || segment.back() == ' '))
            segment.remove_suffix(1);
        if (segment.empty())
            return shown + "has a segment Windows reads as empty, '.' or '..'";
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    const std::string windowsPath = zip::WindowsRelativePath(name);
    if (windowsPath.size() != name.size() || windowsPath.find('/') != std::string::npos)
        return shown + "keeps a '/' in its Windows path";
    return "";
}

struct ZipRun {
    std::string outcome;   // what the reader reported, without file names: compared across runs
    std::string violation; // "" when the reader kept its promises
};

// Opens [rangeStart, rangeEnd) of `path`, lists it, checks every name and extracts every entry
// into a sink that keeps only a count and a CRC-32.
inline ZipRun RunZipReader(const std::string& path, std::int64_t rangeStart, std::int64_t rangeEnd,
                           std::int64_t rangeLength) {
    ZipRun run;
    zip::Reader reader;
    if (!reader.Open(path, rangeStart, rangeEnd)) {
        run.outcome = "not opened\n";
        if (reader.Error().empty())
            run.violation = "Open failed without a reason";
        return run;
    }
    run.outcome = "opened at " + std::to_string(reader.ArchiveOffset()) + ", comment '" +
                  reader.Comment() + "'\n";
    if (reader.ArchiveOffset() < 0 || reader.ArchiveOffset() >= rangeLength)
        run.violation = "archive offset " + std::to_string(reader.ArchiveOffset()) +
                        " outside a range of " + std::to_string(rangeLength) + " bytes";
    for (const zip::Entry& entry : reader.Entries()) {
        run.outcome += "'" + entry.name + "' method " + std::to_string(entry.method) + " flags " +
                       std::to_string(entry.flags) + " crc " + std::to_string(entry.crc32) +
                       " sizes " + std::to_string(entry.compressedSize) + "/" +
                       std::to_string(entry.size) + " at " +
                       std::to_string(entry.localHeaderOffset) + ": ";
        if (run.violation.empty())
            run.violation = NameViolation(entry.name);
        if (run.violation.empty() && (entry.localHeaderOffset < reader.ArchiveOffset() ||
                                      entry.localHeaderOffset >= rangeLength))
            run.violation = "'" + entry.name + "' has its local header at " +
                            std::to_string(entry.localHeaderOffset) + ", outside the archive";
        std::uint64_t produced = 0;
        auto crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
        const bool extracted =
            reader.Extract(entry, [&](const unsigned char* data, std::size_t size) {
                produced += size;
                crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
                return true;
            });
        run.outcome +=
            (extracted ? "extracted " : "failed after ") + std::to_string(produced) + " bytes\n";
        if (!run.violation.empty())
            continue;
        if (produced > entry.size)
            run.violation = "'" + entry.name + "' gave the sink " + std::to_string(produced) +
                            " bytes, more than its recorded size " + std::to_string(entry.size);
        else if (extracted && (produced != entry.size || crc != entry.crc32))
            run.violation = "'" + entry.name +
                            "' extracted with a size or CRC-32 other than "
                            "recorded";
        else if (!extracted && reader.Error().empty())
            run.violation = "'" + entry.name + "' failed to extract without a reason";
    }
    return run;
}

// Bytes around the archive when it is read as a byte range of a larger file: a local header
// signature before it and a whole empty archive after it, which a reader straying out of its
// range would find.
inline constexpr std::string_view kFramePrefix = "PK\x03\x04 bytes before the range PK\x01\x02";
inline constexpr std::string_view kFrameSuffix{"PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0",
                                               22};

// The ZIP reader over `bytes` as a file of its own and as a byte range inside a larger file:
// both must keep the reader's promises and report the same.
inline std::string CheckZipBytes(std::string_view bytes, const std::string& scratchFolder) {
    const std::string plainPath = scratchFolder + "/archive.zip";
    const std::string framedPath = scratchFolder + "/framed.bin";
    std::string framed(kFramePrefix);
    framed.append(bytes);
    framed.append(kFrameSuffix);
    if (!WriteBytes(plainPath, bytes) || !WriteBytes(framedPath, framed))
        return "cannot write the input to " + scratchFolder;
    const auto length = static_cast<std::int64_t>(bytes.size());
    const auto start = static_cast<std::int64_t>(kFramePrefix.size());
    const ZipRun plain = RunZipReader(plainPath, 0, -1, length);
    if (!plain.violation.empty())
        return plain.violation;
    const ZipRun ranged = RunZipReader(framedPath, start, start + length, length);
    if (!ranged.violation.empty())
        return "in a byte range: " + ranged.violation;
    if (plain.outcome != ranged.outcome)
        return "the reader reports differently on a byte range of a larger file:\n" +
               plain.outcome + "-- against --\n" + ranged.outcome;
    return "";
}

// The trailer reader over `bytes` as an image file, held against the last 20 bytes read by hand;
// then, when the payload fits, the ZIP reader over the payload and over the payload with the
// trailer behind it (the copy the setup program makes and runs).
inline std::string CheckImageBytes(std::string_view bytes, const std::string& scratchFolder) {
    const std::string path = scratchFolder + "/image.exe";
    if (!WriteBytes(path, bytes))
        return "cannot write the input to " + scratchFolder;
    image::ImageLayout layout;
    std::string error;
    const bool read = image::ReadImageLayout(path, layout, error);
    const auto length = static_cast<std::int64_t>(bytes.size());
    if (length < image::kTrailerSize) {
        if (read)
            return "read a trailer from " + std::to_string(length) + " bytes";
        return error.empty() ? "failed on a short image without a reason" : "";
    }
    if (!read)
        return "could not read the trailer: " + error;
    if (layout.fileLength != length)
        return "file length " + std::to_string(layout.fileLength) + ", file has " +
               std::to_string(length) + " bytes";
    // A certificate table found must lie at the very end, aligned, past the 64-byte DOS header.
    const image::CertificateTable& table = layout.certificateTable;
    if (table.size != 0 && (table.size < 8 || table.offset % 8 != 0 || table.offset < 64 ||
                            table.offset + table.size != length))
        return "certificate table of " + std::to_string(table.size) + " bytes at " +
               std::to_string(table.offset) + " in a file of " + std::to_string(length);
    if (table.size != 0 && (bytes[0] != 'M' || bytes[1] != 'Z'))
        return "a certificate table in a file that is not a PE image";
    const std::int64_t imageLength = table.size != 0 ? table.offset : length;

    const auto* trailer =
        reinterpret_cast<const unsigned char*>(bytes.data()) + (imageLength - image::kTrailerSize);
    std::string label;
    for (int i = 0; i < image::kMaxLabelLength && trailer[i] != 0; ++i)
        label += static_cast<char>(trailer[i]);
    const std::uint32_t stored = std::uint32_t{trailer[16]} | std::uint32_t{trailer[17]} << 8 |
                                 std::uint32_t{trailer[18]} << 16 |
                                 std::uint32_t{trailer[19]} << 24;
    const std::int64_t payloadLength = stored < 0x80000000u
                                           ? static_cast<std::int64_t>(stored)
                                           : static_cast<std::int64_t>(stored) - 0x100000000ll;
    const bool fits = payloadLength > 0 && payloadLength + image::kTrailerSize <= imageLength;
    if (layout.imageLength != imageLength)
        return "image length " + std::to_string(layout.imageLength) + ", expected " +
               std::to_string(imageLength);
    if (layout.label != label)
        return "label '" + layout.label + "', the field holds '" + label + "'";
    if (layout.payloadLength != payloadLength)
        return "payload length " + std::to_string(layout.payloadLength) + ", the field holds " +
               std::to_string(payloadLength);
    if (layout.payloadFits != fits)
        return std::string("payload said to ") + (fits ? "not " : "") + "fit";
    if (fits && layout.payloadOffset != imageLength - payloadLength - image::kTrailerSize)
        return "payload offset " + std::to_string(layout.payloadOffset) + " is not E - L - 20";
    // An installer image's trailer: a program in front of a payload that is one too.
    if (layout.trailerFits &&
        (!fits || bytes.substr(0, 2) != "MZ" ||
         bytes.substr(static_cast<std::size_t>(layout.payloadOffset), 2) != "MZ"))
        return "trailer said to fit where no program stands in front of a program payload";
    const image::Trailer written = image::MakeTrailer(layout.label, layout.payloadLength);
    if (image::LabelFromField(written.data()) != layout.label ||
        image::LengthFromField(written.data() + image::kLabelFieldSize) != layout.payloadLength)
        return "a trailer written from what was read reads back differently";
    if (!fits)
        return "";

    const std::int64_t payloadEnd = layout.payloadOffset + payloadLength;
    if (std::string v =
            RunZipReader(path, layout.payloadOffset, payloadEnd, payloadLength).violation;
        !v.empty())
        return "in the payload: " + v;
    if (std::string v = RunZipReader(path, layout.payloadOffset, imageLength,
                                     imageLength - layout.payloadOffset)
                            .violation;
        !v.empty())
        return "in the payload with its trailer: " + v;
    return "";
}

} // namespace readerchecks
