// Replacing a file so that it is either wholly new or wholly as it was, never half written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Writes the bytes to a new file beside the target, flushes it, then renames it over the target
// in one step. Returns 0, or the first system error number; on failure the target is untouched
// and the temporary file is gone.
std::uint32_t WriteFileAtomically(const std::wstring& path, std::string_view bytes);

} // namespace platform
