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
    if (label.size() > static_cast<std::size_t>(kMaxLabelLength))
        return "label \"" + std::string(label) + "\" is longer than " +
               std::to_string(kMaxLabelLength) + " characters";
    if (label.find('\0') != std::string_view::npos)
        return "label holds a zero byte";
    return {};
}

} // namespace image
