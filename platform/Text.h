// Conversion between the program's wide text and the system's ANSI code page, which is what the
// narrow registry calls and the backup file speak.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view bytes);

} // namespace platform
