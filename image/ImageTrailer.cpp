#include "image/ImageTrailer.h"

#include "base/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace image {

std::string LabelFromField(const unsigned char* field) {
    const auto* text = reinterpret_cast<const char*>(field);
    const auto* end = std::find(text, text + kMaxLabelLength, '\0');
    return std::string(text, end);
}

std::int32_t LengthFromField(const unsigned char* field) {
    return static_cast<std::int32_t>(base::Get32(field));
}

bool PayloadFits(std::int64_t payloadLength, std::int64_t imageLength) {
    // Written as a difference so that no sum of two large values can overflow.
    return payloadLength > 0 && payloadLength <= imageLength - kTrailerSize;
}

std::int64_t PayloadOffset(std::int64_t imageLength, std::int32_t payloadLength) {
    return imageLength - payloadLength - kTrailerSize;
}

LabelField MakeLabelField(std::string_view label) {
    LabelField field{};
    std::memcpy(field.data(), label.data(), std::min<std::size_t>(label.size(), kMaxLabelLength));
    return field;
}

LengthField MakeLengthField(std::int32_t payloadLength) {
    LengthField field{};
    base::Put32(field.data(), static_cast<std::uint32_t>(payloadLength));
    return field;
}

Trailer MakeTrailer(std::string_view label, std::int32_t payloadLength) {
    Trailer trailer{};
    const LabelField labelField = MakeLabelField(label);
    const LengthField lengthField = MakeLengthField(payloadLength);
    std::copy(labelField.begin(), labelField.end(), trailer.begin());
    std::copy(lengthField.begin(), lengthField.end(), trailer.begin() + kLabelFieldSize);
    return trailer;
}

std::string CheckLabel(std::string_view label) {
    std::string shown(label);
    bool printable = true;
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        printable = printable && byte >= 0x20 && byte <= 0x7E;
        if (byte < 0x20 || byte == 0x7F)
            c = '?'; // keeps the message on one line
    }
    if (!printable)
        return "label '" + shown + "' may hold only printable ASCII characters: the label " +
               "field is single-byte and the user's code page is unknown";
    if (label.size() > static_cast<std::size_t>(kMaxLabelLength))
        return "label '" + shown + "' is longer than " + std::to_string(kMaxLabelLength) +
               " characters";
    return {};
}

} // namespace image
