// The colour word stored with every line of the message list: the low 24 bits are a Windows
// COLORREF (0x00BBGGRR), the top bit marks an emphasised line (drawn between two dots).
#pragma once

#include <cstdint>

using MessageColor = std::uint32_t;

inline constexpr MessageColor MSG_EMPHASIS = 0x80000000u;

inline constexpr MessageColor kColorProgress = 0x00000000u; // black
inline constexpr MessageColor kColorWarning = 0x00008080u;  // olive
inline constexpr MessageColor kColorError = 0x000000C0u;    // red
inline constexpr MessageColor kColorSummary = 0x00800000u;  // navy
inline constexpr MessageColor kColorSuccess = 0x80008000u;  // green, emphasised
inline constexpr MessageColor kColorFailure = 0x800000C0u;  // red, emphasised

constexpr std::uint32_t TextColorOf(MessageColor color) {
    return color & 0x00FFFFFFu;
}
constexpr bool IsEmphasised(MessageColor color) {
    return (color & MSG_EMPHASIS) != 0;
}
