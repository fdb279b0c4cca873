// The terminal speaks UTF-8. Wide text from the user is handed on as UTF-16 code units, as a
// Windows edit box holds it; the code page conversion takes those and whole code points alike.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Code points and surrogate pairs alike; a lone surrogate becomes U+FFFD, which UTF-8 can carry.
std::string ToUtf8(std::wstring_view text);

// UTF-16 code units of valid UTF-8 text; nothing for malformed input (overlong forms, encoded
// surrogates and bytes past U+10FFFF included), so a mistyped key is refused, not altered.
std::optional<std::wstring> FromUtf8(std::string_view bytes);

} // namespace platform
