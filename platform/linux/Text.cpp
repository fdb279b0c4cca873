#include "platform/Text.h"

#include "platform/linux/PrefixState.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

namespace platform {

const std::uint32_t kNoTranslation = EILSEQ;

// wchar_t is UTF-32 here and UTF-16 on Windows: characters beyond the BMP travel as surrogate
// pairs between the two, so the code page sees exactly the units a Windows program would pass.

std::string ToAnsi(std::wstring_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t c : text) {
        const auto code = static_cast<std::uint32_t>(std::char_traits<wchar_t>::to_int_type(c));
        if (code >= 0x10000 && code <= 0x10ffff) {
            units.push_back(static_cast<char16_t>(0xd800 | ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xdc00 | ((code - 0x10000) & 0x3ff)));
        } else {
            units.push_back(code > 0xffff ? u'\xfffd' : static_cast<char16_t>(code));
        }
    }
    if (std::all_of(units.begin(), units.end(), [](char16_t unit) { return unit < 0x80; })) {
        return std::string(units.begin(), units.end()); // alike in every ANSI code page
    }
    return prefix::CodePageOf(prefix::CurrentPrefix()).Encode(units);
}

std::wstring FromAnsi(std::string_view bytes) {
    const std::u16string units = prefix::IsAscii(bytes)
                                     ? std::u16string(bytes.begin(), bytes.end())
                                     : prefix::CodePageOf(prefix::CurrentPrefix()).Decode(bytes);
    std::wstring text;
    text.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xd800 && unit < 0xdc00 && i + 1 < units.size() && units[i + 1] >= 0xdc00 &&
            units[i + 1] < 0xe000) {
            text.push_back(
                static_cast<wchar_t>(0x10000 + ((unit - 0xd800) << 10) + (units[++i] - 0xdc00)));
        } else {
            text.push_back(static_cast<wchar_t>(unit));
        }
    }
    return text;
}

} // namespace platform
