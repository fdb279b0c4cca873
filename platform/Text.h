// Conversion between the program's wide text and the system's ANSI code page, which is what the
// narrow registry calls and the backup file speak.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The system's error number for text the conversion cannot take (ERROR_NO_UNICODE_TRANSLATION on
// Windows, EILSEQ on Linux).
extern const std::uint32_t kNoTranslation;

std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view bytes);

} // namespace platform
