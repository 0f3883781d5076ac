// Reading the trailer of an installer image file and writing an image from its parts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace image {

struct ImageLayout {
    std::int64_t imageLength = 0;
    std::int32_t payloadLength = 0;
    std::string label;
    bool payloadFits = false;       // the stored length describes a payload inside the file
    std::int64_t payloadOffset = 0; // meaningful only when payloadFits
};

// Reads the 20 trailer bytes at the end of `path`. False, with `error` set, when the file
// cannot be read or is too short to hold a trailer; a length that does not fit the file is
// reported through `payloadFits`, not as an error.
bool ReadImageLayout(const std::string& path, ImageLayout& layout, std::string& error);

// Writes, in this order, the program image, the payload, the label field and the payload
// length to `outPath`. A label over 15 characters, an empty payload, a payload of 2 GiB or more
// or a file that cannot be read is an error reported in `error`; then `outPath` is removed.
bool WriteImage(const std::string& programPath, const std::string& payloadPath,
                std::string_view label, const std::string& outPath, std::string& error);

} // namespace image
