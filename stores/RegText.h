// Wine's registry text: the escapes in key and value names and in strings, key paths, and value
// lines with their data, decoded as wineserver's loader decodes them.
#pragma once

#include "platform/Registry.h"
#include "stores/RegLines.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stores {

// Largest value kept: far beyond any real program's, small enough that a giant value cannot
// exhaust memory. A larger one reads as damaged, as Wine would fail to load it.
constexpr std::size_t kMaxValueBytes = std::size_t{1} << 20;

// A value as wineserver holds it: strings are UTF-16LE with the NULs the file gives them.
struct Value {
    std::uint32_t type = platform::kRegNone;
    std::string data;
    bool damaged = false; // Wine keeps a value whose data it cannot read, with no type or data
};

// The C library's isspace in the "C" locale, which is what Wine's loader uses.
inline bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline const char* SkipSpaces(const char* p) {
    while (*p != '\0' && IsSpace(*p)) {
        ++p;
    }
    return p;
}

// Wine's escaped text up to the unescaped delimiter `end`: the characters consumed including the
// delimiter, or nothing when it never comes. `out` receives the UTF-16 text and a closing NUL.
std::optional<std::size_t> ParseEscaped(std::string_view text, char end, std::u16string& out);

// A key path cut into names the way Wine cuts it: runs of backslashes separate, trailing ones
// are ignored, and a leading one makes the path invalid (nothing returned).
std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path);

enum class ValueLine { kBadName, kBadData, kGood };

// The name of the value line `first` (empty for the default value @), and where its "=" part
// starts; nothing when the line has no well-formed name.
std::optional<std::size_t> ReadValueName(const std::string& first, std::u16string& name);

// The data of a value line whose name ended at `at`, reading the lines it continues on from
// `reader`. With `want` false only those lines are consumed and nothing is decoded or kept.
ValueLine ReadValueData(const std::string& first, std::size_t at, LineReader& reader, bool want,
                        Value& value);

} // namespace stores
