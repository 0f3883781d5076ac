#include "image/ImageFile.h"

#include "base/Text.h"
#include "base/BinaryFile.h"
#include "base/LittleEndian.h"
#include "image/ImageTrailer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace image {
namespace {

using base::Get16;
using base::Get32;
using base::Quoted;

std::string SystemReason() {
    return std::strerror(errno);
}

// Appends `length` bytes of `in`, from its current position, to `out`.
bool CopyBytes(BinaryFile& in, std::int64_t length, BinaryFile& out) {
    std::vector<unsigned char> buffer(64 * 1024);
    while (length > 0) {
        const auto chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(length, static_cast<std::int64_t>(buffer.size())));
        if (!in.ReadExact(buffer.data(), chunk) || !out.Write(buffer.data(), chunk))
            return false;
        length -= static_cast<std::int64_t>(chunk);
    }
    return true;
}

bool OpenForReading(const std::string& path, const char* what, BinaryFile& file,
                    std::int64_t& length, std::string& error) {
    errno = 0;
    if (!file.Open(path, "rb")) {
        error = std::string("cannot open ") + what + " " + Quoted(path) + ": " + SystemReason();
        return false;
    }
    length = file.Length();
    if (length < 0 || !file.Seek(0)) {
        error = std::string("cannot read ") + what + " " + Quoted(path);
        return false;
    }
    return true;
}

} // namespace

bool WriteImageParts(const std::string& programPath, const std::string& payloadPath,
                     std::string_view label, const std::string& outPath, std::string& error) {
    BinaryFile program, payload, out;
    std::int64_t programLength = 0, payloadLength = 0;
    if (!OpenForReading(programPath, "program", program, programLength, error) ||
        !OpenForReading(payloadPath, "payload", payload, payloadLength, error))
        return false;
    if (payloadLength == 0) {
        error = "payload " + Quoted(payloadPath) + " is empty";
        return false;
    }
    if (payloadLength > kMaxPayloadLength) {
        error = "payload " + Quoted(payloadPath) + " is " + std::to_string(payloadLength) +
                " bytes long; a payload must be smaller than 2 GiB";
        return false;
    }
    errno = 0;
    if (!out.Open(outPath, "wb")) {
        error = "cannot create " + Quoted(outPath) + ": " + SystemReason();
        return false;
    }
    const std::string padding(static_cast<std::size_t>(ImagePadding(programLength, payloadLength)),
                              '\0');
    if (!CopyBytes(program, programLength, out) || !out.Write(padding.data(), padding.size())) {
        error = "cannot copy program " + Quoted(programPath) + " into " + Quoted(outPath);
        return false;
    }
    if (!CopyBytes(payload, payloadLength, out)) {
        error = "cannot copy payload " + Quoted(payloadPath) + " into " + Quoted(outPath);
        return false;
    }
    const Trailer trailer = MakeTrailer(label, static_cast<std::int32_t>(payloadLength));
    errno = 0;
    if (!out.Write(trailer.data(), trailer.size()) || !out.Close()) {
        error = "cannot write " + Quoted(outPath) + ": " + SystemReason();
        return false;
    }
    return true;
}

namespace {

bool ReadAt(BinaryFile& file, std::int64_t offset, void* buffer, std::size_t size) {
    return file.Seek(offset) && file.ReadExact(buffer, size);
}

// Offsets inside the PE headers.
constexpr std::int64_t kDosHeaderSize = 64, kPeHeaderOffsetField = 0x3C;
constexpr std::int64_t kPeSignatureAndFileHeaderSize = 24, kSectionHeaderSize = 40;
constexpr std::uint32_t kOptionalMagicPe32 = 0x10B, kOptionalMagicPe32Plus = 0x20B;
constexpr std::size_t kSizeOfHeadersField = 60, kSubsystemField = 68;
constexpr std::uint32_t kResourceDirectory = 2, kSecurityDirectory = 4;
constexpr std::int64_t kMinCertificateTableSize = 8;

bool ReadLayout(BinaryFile& file, const std::string& name, ImageLayout& layout,
                std::string& error) {
    const std::int64_t fileLength = file.Length();
    if (fileLength < 0) {
        error = "cannot read " + name;
        return false;
    }
    const CertificateTable table = FindCertificateTable(file, fileLength);
    const std::int64_t imageLength = table.size > 0 ? table.offset : fileLength;
    if (imageLength < kTrailerSize) {
        error = name + " is " + std::to_string(imageLength) +
                " bytes long, too short to hold the " + std::to_string(kTrailerSize) +
                "-byte trailer";
        return false;
    }
    Trailer trailer{};
    if (!ReadAt(file, imageLength - kTrailerSize, trailer.data(), trailer.size())) {
        error = "cannot read the trailer of " + name;
        return false;
    }
    layout.fileLength = fileLength;
    layout.imageLength = imageLength;
    layout.certificateTable = table;
    layout.label = LabelFromField(trailer.data());
    layout.payloadLength = LengthFromField(trailer.data() + kLabelFieldSize);
    layout.payloadFits = PayloadFits(layout.payloadLength, imageLength);
    layout.payloadOffset =
        layout.payloadFits ? PayloadOffset(imageLength, layout.payloadLength) : 0;
    ProgramHeaders program, payload;
    layout.trailerFits =
        layout.payloadFits && ReadProgramHeaders(file, 0, layout.payloadOffset, program) &&
        program.end <= layout.payloadOffset &&
        ReadProgramHeaders(file, layout.payloadOffset, layout.payloadLength, payload);
    return true;
}

} // namespace

bool ReadProgramHeaders(BinaryFile& file, std::int64_t start, std::int64_t length,
                        ProgramHeaders& headers) {
    unsigned char dos[kDosHeaderSize];
    if (length < kDosHeaderSize || !ReadAt(file, start, dos, sizeof dos) || dos[0] != 'M' ||
        dos[1] != 'Z')
        return false;
    const std::int64_t peOffset = Get32(dos + kPeHeaderOffsetField);
    unsigned char pe[kPeSignatureAndFileHeaderSize];
    if (peOffset > length - kPeSignatureAndFileHeaderSize ||
        !ReadAt(file, start + peOffset, pe, sizeof pe) || std::memcmp(pe, "PE\0\0", 4) != 0)
        return false;
    const std::uint32_t sectionCount = Get16(pe + 6);
    const std::uint32_t optionalSize = Get16(pe + 20);
    const std::int64_t optionalOffset = peOffset + kPeSignatureAndFileHeaderSize;
    if (optionalSize > length - optionalOffset)
        return false;
    std::vector<unsigned char> optional(optionalSize);
    if (!ReadAt(file, start + optionalOffset, optional.data(), optional.size()) || optionalSize < 2)
        return false;
    const std::uint32_t magic = Get16(optional.data());
    const std::size_t countField = magic == kOptionalMagicPe32       ? 92
                                   : magic == kOptionalMagicPe32Plus ? 108
                                                                     : 0;
    if (countField == 0 || optional.size() < countField + 4)
        return false;
    const std::int64_t sectionsOffset = optionalOffset + optionalSize;
    const std::int64_t sectionsSize = std::int64_t{sectionCount} * kSectionHeaderSize;
    if (sectionsSize > length - sectionsOffset)
        return false;
    std::vector<unsigned char> sections(static_cast<std::size_t>(sectionsSize));
    if (!ReadAt(file, start + sectionsOffset, sections.data(), sections.size()))
        return false;

    const auto directory = [&](std::uint32_t index) {
        const std::size_t at = countField + 4 + std::size_t{index} * 8;
        if (Get32(optional.data() + countField) <= index || optional.size() < at + 8)
            return DataDirectory{};
        return DataDirectory{Get32(optional.data() + at), Get32(optional.data() + at + 4)};
    };
    headers.machine = static_cast<std::uint16_t>(Get16(pe + 4));
    headers.subsystem = static_cast<std::uint16_t>(Get16(optional.data() + kSubsystemField));
    headers.certificateTable = directory(kSecurityDirectory);
    headers.resources = directory(kResourceDirectory);
    headers.headersEnd = std::max<std::int64_t>(Get32(optional.data() + kSizeOfHeadersField),
                                                sectionsOffset + sectionsSize);
    headers.end = headers.headersEnd;
    headers.sections.clear();
    for (std::size_t at = 0; at < sections.size(); at += kSectionHeaderSize) {
        const unsigned char* section = sections.data() + at;
        headers.sections.push_back(
            {Get32(section + 12), Get32(section + 8), Get32(section + 20), Get32(section + 16)});
        if (headers.sections.back().rawSize > 0)
            headers.end =
                std::max(headers.end, std::int64_t{Get32(section + 20)} + Get32(section + 16));
    }
    return true;
}

CertificateTable FindCertificateTable(BinaryFile& file, std::int64_t fileLength) {
    ProgramHeaders headers;
    if (!ReadProgramHeaders(file, 0, fileLength, headers))
        return {};
    const std::int64_t offset = headers.certificateTable.address;
    const std::int64_t size = headers.certificateTable.size;
    if (size < kMinCertificateTableSize || offset % 8 != 0 || offset + size != fileLength ||
        offset < headers.end)
        return {};
    return {offset, size};
}

bool ReadImageLayout(const std::string& path, ImageLayout& layout, std::string& error) {
    BinaryFile file;
    std::int64_t length = 0;
    if (!OpenForReading(path, "image", file, length, error))
        return false;
    return ReadLayout(file, "image " + Quoted(path), layout, error);
}

bool ReadImageLayout(BinaryFile& file, ImageLayout& layout, std::string& error) {
    return ReadLayout(file, "the image", layout, error);
}

std::int64_t ImagePadding(std::int64_t programLength, std::int64_t payloadLength) {
    return (8 - (programLength + payloadLength + kTrailerSize) % 8) % 8;
}

} // namespace image
