#include "platform/Text.h"

namespace platform {

// ASCII only for now; anything else is the default character.
std::string ToAnsi(std::wstring_view text) {
    std::string bytes;
    for (wchar_t c : text) {
        bytes.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return bytes;
}

std::wstring FromAnsi(std::string_view bytes) {
    std::wstring text;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.push_back(byte < 0x80 ? static_cast<wchar_t>(byte) : L'\xfffd');
    }
    return text;
}

} // namespace platform
