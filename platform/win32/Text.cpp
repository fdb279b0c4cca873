#include "platform/Text.h"

#include <climits>
#include <windows.h>

namespace platform {

const std::uint32_t kNoTranslation = ERROR_NO_UNICODE_TRANSLATION;

// Lengths are passed explicitly, never -1, so embedded NULs (registry data may hold them) survive
// the round trip and no terminator is added.

std::string ToAnsi(std::wstring_view text) {
    if (text.empty() || text.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    std::string bytes(static_cast<size_t>(needed), '\0');
    const int written = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, bytes.data(), needed,
                                              nullptr, nullptr);
    bytes.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return bytes;
}

std::wstring FromAnsi(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) {
        return {};
    }
    const int length = static_cast<int>(bytes.size());
    const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), needed);
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

} // namespace platform
