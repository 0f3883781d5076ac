// Reading the layout of an installer image file and writing an image from its parts.
#pragma once

#include "base/BinaryFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace image {

using base::BinaryFile;

// The Authenticode certificate table that signing appends to a PE file; size 0 when there is none.
struct CertificateTable {
    std::int64_t offset = 0;
    std::int64_t size = 0;
};

// One entry of a program's data directory: the certificate table's is a file offset, the others
// are addresses in the loaded program.
struct DataDirectory {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

struct ProgramSection {
    std::uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0;
};

// The PE headers of a Windows program, offsets counted from the program's first byte.
struct ProgramHeaders {
    std::uint16_t machine = 0;
    std::uint16_t subsystem = 0;
    std::int64_t headersEnd = 0; // the headers and the section table end here
    std::int64_t end = 0;        // the headers and every section's raw data end here
    DataDirectory certificateTable, resources;
    std::vector<ProgramSection> sections;
};

constexpr std::uint16_t kMachineI386 = 0x14C, kMachineAmd64 = 0x8664;
constexpr std::uint16_t kSubsystemWindowsGui = 2;

// Reads the headers of the Windows program that starts at `start`, all of them within `length`
// bytes: an MZ header, the PE signature, the file header, a PE32 or PE32+ optional header with
// its data directory count, and the section table. False for anything else. Safe on any bytes.
bool ReadProgramHeaders(BinaryFile& file, std::int64_t start, std::int64_t length,
                        ProgramHeaders& headers);

struct ImageLayout {
    std::int64_t fileLength = 0;
    // Where the image ends: the file's length, or the start of a certificate table behind it.
    std::int64_t imageLength = 0;
    CertificateTable certificateTable;
    std::int32_t payloadLength = 0;
    std::string label;
    bool payloadFits = false;       // the stored length describes a payload inside the image
    std::int64_t payloadOffset = 0; // meaningful only when payloadFits
    // The trailer is an installer image's: the payload fits, starts with a Windows program's
    // headers, and the bytes in front of it hold a whole Windows program (and padding). Only
    // then is the label taken for one: any other file's last 20 bytes are garbage as a label.
    bool trailerFits = false;
};

// The certificate table of a signed PE file of `fileLength` bytes: the security directory entry
// of a well-formed PE header, describing a table of at least 8 bytes, 8-byte aligned, past the
// headers and every section's raw data, that ends exactly at the end of the file. Any other
// content (not a PE file, cut headers, an entry out of range) gives no table. Safe on any bytes.
CertificateTable FindCertificateTable(BinaryFile& file, std::int64_t fileLength);

// Reads the 20 trailer bytes at the end of the image, in front of its certificate table when it
// is signed. False, with `error` set, when the file cannot be read or is too short to hold a
// trailer; a length that does not fit the image is reported through `payloadFits`, not as an
// error. The overload reads an open file, whose position it moves.
bool ReadImageLayout(const std::string& path, ImageLayout& layout, std::string& error);
bool ReadImageLayout(BinaryFile& file, ImageLayout& layout, std::string& error);

// Zero bytes put between program and payload so that the image's length is a multiple of 8:
// signing tools then append the certificate table without padding of their own.
std::int64_t ImagePadding(std::int64_t programLength, std::int64_t payloadLength);

// Writes, in this order, the program image, its padding, the payload, the label field and the
// payload length to `outPath` (through base::PendingOutput). A label over 15 characters, an empty
// payload, a payload of 2 GiB or more or a file that cannot be read is an error reported in
// `error`; then `outPath` is left as it was.
bool WriteImage(const std::string& programPath, const std::string& payloadPath,
                std::string_view label, const std::string& outPath, std::string& error);
// WriteImage's work on the file itself, the label already checked: `outPath` may hold part of
// the image when it fails.
bool WriteImageParts(const std::string& programPath, const std::string& payloadPath,
                     std::string_view label, const std::string& outPath, std::string& error);

} // namespace image
