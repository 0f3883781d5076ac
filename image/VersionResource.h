// The setup program's version resource (VS_VERSIONINFO, res/setup.rc) as `pack image --version
// --publisher` stamps it in the image's copy of the program: the fixed file and product version,
// and the texts FileVersion, ProductVersion and CompanyName, each written into the room its
// String block already has, so that nothing in the program moves.
#pragma once

#include "base/BinaryFile.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace image {

// The keys of the version texts that pack stamps.
inline constexpr const char16_t* kCompanyNameKey = u"CompanyName";
inline constexpr const char16_t* kFileVersionKey = u"FileVersion";
inline constexpr const char16_t* kProductVersionKey = u"ProductVersion";

// A version as --version takes it: 1 to 4 numbers from 0 to 65535 of 1 to 5 decimal digits,
// separated by dots; the numbers left out are 0. Nothing for any other text.
std::optional<std::array<std::uint16_t, 4>> ParseVersion(const std::string& text);

// Empty when `publisher` (UTF-8) can be stamped as CompanyName as far as its characters go:
// valid UTF-8, not empty, no control character; else one sentence saying why not.
std::string CheckPublisher(const std::string& publisher);

// The version resource of a program, as found in its file: where its parts lie.
struct VersionResource {
    std::int64_t fixedInfoOffset = 0; // VS_FIXEDFILEINFO, its signature first
    std::uint32_t fileVersion[2] = {}, productVersion[2] = {}; // the fixed part's MS, LS
    struct Text {
        std::u16string key, value;    // the value up to its NUL
        std::int64_t blockOffset = 0; // the String block: wLength, wValueLength, wType, key
        std::int64_t valueOffset = 0; // its value, 4-byte aligned behind the key
        std::size_t room = 0;         // the characters the value can hold, its NUL left out
    };
    std::vector<Text> texts; // every String of every StringTable, in file order

    // The first text of `key`, if any.
    const Text* Find(const std::u16string& key) const;
};

// Reads the version resource (RT_VERSION) of the program that fills the first `length` bytes of
// `file`, validating every length and offset against the resource's bounds. Nothing when the
// program has none or it is not a well-formed VS_VERSIONINFO. Safe on any bytes.
std::optional<VersionResource> ReadVersionResource(base::BinaryFile& file, std::int64_t length);

// Bytes to write at an offset of the program's copy.
struct Patch {
    std::int64_t offset = 0;
    std::string bytes;
};

// What stamps `version` (when not empty, with its parsed `numbers`) and `publisher` (when not
// empty, checked by CheckPublisher) into `program`, whose version resource is `resource`: the
// fixed file and product version, then for every String of the keys concerned its wValueLength
// (the text's characters and its NUL) and its whole room, NUL-padded; no block's wLength
// changes. The result is an exit code: 0 with `patches` set; else `error` holds one sentence:
// 1 when a key concerned has no String, 2 when a text is longer than its room.
int StampPatches(const VersionResource& resource, const std::string& program,
                 const std::string& version, const std::array<std::uint16_t, 4>& numbers,
                 const std::string& publisher, std::vector<Patch>& patches, std::string& error);

// Writes `patches` into the file at `path`, which keeps its length. False, with `error` set,
// when it cannot.
bool ApplyPatches(const std::string& path, const std::vector<Patch>& patches, std::string& error);

// UTF-8 of a UTF-16 text (an unpaired surrogate as U+FFFD), for messages and `pack inspect`.
std::string Utf8OfUtf16(const std::u16string& text);

} // namespace image
