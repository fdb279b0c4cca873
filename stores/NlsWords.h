// The NLS files Windows keeps its text tables in are arrays of little-endian 16-bit words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace stores {

// The largest NLS file Windows ships is well under a megabyte; anything bigger is not one.
inline constexpr std::size_t kMaxNlsFileBytes = std::size_t{4} << 20;

// The file's words; none when it is too large to be a table.
inline std::vector<std::uint16_t> NlsWords(std::string_view bytes) {
    std::vector<std::uint16_t> words;
    if (bytes.size() > kMaxNlsFileBytes) {
        return words;
    }
    words.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        words.push_back(
            static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return words;
}

} // namespace stores
