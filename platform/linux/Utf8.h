// The terminal speaks UTF-8; the program's wide text holds UTF-16 code units, as on Windows, so
// that the registry reader and the backup file see the same text on both systems.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Surrogate pairs are joined; a lone surrogate becomes U+FFFD, since UTF-8 cannot carry it.
std::string ToUtf8(std::wstring_view text);

// UTF-16 code units of valid UTF-8 text; nothing for malformed input (overlong forms, encoded
// surrogates and bytes past U+10FFFF included), so a mistyped key is refused, not altered.
std::optional<std::wstring> FromUtf8(std::string_view bytes);

} // namespace platform
