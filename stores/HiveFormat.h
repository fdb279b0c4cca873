// The hive format's constants and little-endian fields, shared by the two halves of its reader.
#pragma once

#include "stores/Hive.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace stores::hive {

inline constexpr std::uint64_t kBaseBlock =
    4096;                                    // the hive bins start after it; cells count from there
inline constexpr std::uint64_t kPage = 4096; // hive bins start and end on these boundaries
inline constexpr std::uint64_t kBinHeader = 32;
inline constexpr HiveCell kNone = 0xFFFFFFFF;
// A bin holds one cell larger than a page only as far as it must; no writer makes one this large,
// and the search for a cell's bin goes back no further.
inline constexpr std::uint64_t kMaxBinPages = 4096;
inline constexpr std::size_t kBinsRemembered = 16;
// Values longer than this sit in db records, in segments of this many bytes each.
inline constexpr std::uint32_t kBigDataSegment = 16344;
// Windows nests one ri list above the leaves; tolerate one more, never a loop.
inline constexpr int kMaxIndexDepth = 2;
// Lists are read a slice at a time, so that a key with a million subkeys costs no more memory.
inline constexpr std::size_t kSlice = std::size_t{64} * 1024;

inline constexpr std::size_t kKeyFixed = 0x4C;
inline constexpr std::size_t kValueFixed = 0x14;
inline constexpr std::uint16_t kKeyLatin1Name = 0x0020;
inline constexpr std::uint16_t kValueLatin1Name = 0x0001;

inline std::uint16_t U16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t U32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::string Hex(std::uint64_t number) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[number % 16]);
        number /= 16;
    } while (number != 0);
    return "0x" + text;
}

inline std::string CellProblem(HiveCell cell, const char* what) {
    return std::string("cell ") + Hex(cell) + " " + what;
}

} // namespace stores::hive
