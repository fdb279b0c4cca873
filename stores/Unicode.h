// UTF-8, UTF-16 and the wide text of each system, converted in one place. The program holds text
// as UTF-16 code units, as a Windows edit box does; Linux's wchar_t is UTF-32, its terminal and
// file names speak UTF-8, and Wine's registry files carry UTF-16 units and sometimes raw UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace stores {

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// Code points and surrogate pairs alike; a lone surrogate becomes U+FFFD, which UTF-8 can carry.
std::string ToUtf8(std::wstring_view text);
std::string ToUtf8(std::u16string_view units);

// UTF-16 code units of valid UTF-8 text; nothing for malformed input (overlong forms, encoded
// surrogates and bytes past U+10FFFF included), so a mistyped key is refused, not altered.
std::optional<std::wstring> FromUtf8(std::string_view bytes);

// The code point of the UTF-8 sequence at text[at], and its length; nothing when it is not one.
std::optional<std::pair<char32_t, std::size_t>> DecodeUtf8(std::string_view text, std::size_t at);

// Appends a code point as UTF-16 units (a pair beyond U+FFFF).
void AppendUtf16(std::u16string& out, char32_t code);

// Wide text as UTF-16 units (UTF-32 wchar_t is split into pairs), and back (pairs joined where
// wchar_t is wide enough; kept as units where it is UTF-16).
std::u16string ToUtf16(std::wstring_view text);
std::wstring FromUtf16(std::u16string_view units);

// Little-endian UTF-16 bytes, as the registry stores strings, and back (an odd last byte is no
// unit and is dropped).
std::string Utf16Bytes(std::u16string_view units);
std::u16string FromUtf16Bytes(std::string_view bytes);

// UTF-8 text as it may reach a terminal: every control character (C0, DEL, C1, raw or encoded)
// and every byte that is not UTF-8 shows as U+FFFD, so that no file or folder name can drive the
// terminal. Line feeds stay when asked for, for messages of several lines.
std::string SafeForTerminal(std::string_view utf8, bool keepLineFeeds = false);

} // namespace stores
