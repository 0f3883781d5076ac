#include "image/ImageFile.h"

#include "image/BinaryFile.h"
#include "image/ImageTrailer.h"

#include <cerrno>
#include <cstring>
#include <vector>

namespace image {
namespace {

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

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

bool WriteImageParts(const std::string& programPath, const std::string& payloadPath,
                     std::string_view label, const std::string& outPath, bool& created,
                     std::string& error) {
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
    created = true;
    if (!CopyBytes(program, programLength, out)) {
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

} // namespace

bool ReadImageLayout(const std::string& path, ImageLayout& layout, std::string& error) {
    BinaryFile file;
    std::int64_t length = 0;
    if (!OpenForReading(path, "image", file, length, error))
        return false;
    if (length < kTrailerSize) {
        error = "image " + Quoted(path) + " is " + std::to_string(length) +
                " bytes long, too short to hold the " + std::to_string(kTrailerSize) +
                "-byte trailer";
        return false;
    }
    Trailer trailer{};
    if (!file.Seek(length - kTrailerSize) || !file.ReadExact(trailer.data(), trailer.size())) {
        error = "cannot read the trailer of " + Quoted(path);
        return false;
    }
    layout.imageLength = length;
    layout.label = LabelFromField(trailer.data());
    layout.payloadLength = LengthFromField(trailer.data() + kLabelFieldSize);
    layout.payloadFits = PayloadFits(layout.payloadLength, length);
    layout.payloadOffset = layout.payloadFits ? PayloadOffset(length, layout.payloadLength) : 0;
    return true;
}

bool WriteImage(const std::string& programPath, const std::string& payloadPath,
                std::string_view label, const std::string& outPath, std::string& error) {
    if (std::string why = CheckLabel(label); !why.empty()) {
        error = why;
        return false;
    }
    bool created = false;
    if (WriteImageParts(programPath, payloadPath, label, outPath, created, error))
        return true;
    if (created) // a file that was there before and could not be opened is left alone
        std::remove(outPath.c_str());
    return false;
}

} // namespace image
