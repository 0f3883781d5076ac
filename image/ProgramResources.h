// Reading a Windows program's resources: the resource directory, and the caption of a dialog
// template. Used to recognise a program by what its resources hold.
#pragma once

#include "image/ImageFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace image {

constexpr std::uint32_t kResourceTypeDialog = 5;

// Where the data of resource `type`/`id` (its first language) lies in the file, for the program
// that starts at `start` and spans `length` bytes; nullopt when the program has no such resource
// or its resource directory points outside the program. Safe on any bytes.
struct ResourceData {
    std::int64_t offset = 0;
    std::uint32_t size = 0;
};
std::optional<ResourceData> FindResource(BinaryFile& file, std::int64_t start, std::int64_t length,
                                         const ProgramHeaders& headers, std::uint32_t type,
                                         std::uint32_t id);

// The caption of a dialog template (DLGTEMPLATE or DLGTEMPLATEEX), in UTF-16 code units;
// nullopt when the bytes end before it does.
std::optional<std::u16string> DialogCaption(std::string_view dialogTemplate);

} // namespace image
