// Host stand-in for platform/win32/Text.cpp. Linux has no system ANSI code page, so this maps
// Windows-1252 (Wine's default for an English locale) both ways: one byte per character, as the
// reader's 255-byte buffer assumes. Bytes 1252 leaves undefined decode to the C1 control of the
// same number, as Windows does; characters outside the code page encode as '?'.
#include "platform/Text.h"

#include <array>

namespace platform {

namespace {

// U+0080..U+009F of 1252, indexed by byte - 0x80.
constexpr std::array<wchar_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char Encode(wchar_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(c);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

wchar_t Decode(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : static_cast<wchar_t>(byte);
}

} // namespace

std::string ToAnsi(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const wchar_t c : text) {
        bytes.push_back(Encode(c));
    }
    return bytes;
}

std::wstring FromAnsi(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        text.push_back(Decode(c));
    }
    return text;
}

} // namespace platform
