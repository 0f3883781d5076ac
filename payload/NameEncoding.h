// Entry names the ZIP way: UTF-8 where the entry says so (general purpose bit 11) or where
// Info-ZIP's Unicode path extra field carries it, code page 437 otherwise. Everything after the
// reader works on UTF-8; Windows gets UTF-16.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zip {

inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;
inline constexpr std::uint16_t kUnicodePathExtraTag = 0x7075;

bool IsValidUtf8(std::string_view text);

// The host system in the high byte of "version made by" whose tools store names in the
// system's own encoding, UTF-8 on every current one.
inline constexpr std::uint8_t kHostUnix = 3, kHostMacOs = 19;

// The name of an entry as UTF-8, from its stored bytes, its general purpose flags, the host
// that made it and its extra field (central directory): bit 11 says UTF-8; else Info-ZIP's
// Unicode path field; else a name made on Unix or macOS that is valid UTF-8 is taken as UTF-8
// (Info-ZIP's zip writes them so, and its unzip and 7-Zip read them so); else code page 437.
// Nothing when bit 11 is set and the bytes are not UTF-8.
std::optional<std::string> DecodeEntryName(std::string_view stored, std::uint16_t flags,
                                           std::uint8_t madeByHost, std::string_view extraField);

std::string Cp437ToUtf8(std::string_view text);

// Valid UTF-8 to UTF-16 and back; nothing for text that is not valid (an unpaired surrogate).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// The name with every letter in one case, so that names which Windows takes for the same
// file compare equal ("Документы" and "документы", "README" and "readme").
std::string FoldCase(std::string_view utf8);

} // namespace zip
