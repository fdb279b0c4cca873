#include "cli/LauncherFiles.h"

#include "stores/Unicode.h"

#include <cctype>

namespace cli {

namespace {

// --- JSON strings, enough to find one key's string values.

std::optional<unsigned long> Hex4(std::string_view text, std::size_t at) {
    if (at + 4 > text.size()) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c)) {
            return std::nullopt;
        }
        value = value * 16 +
                static_cast<unsigned long>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
    }
    return value;
}

// Reads the JSON string whose opening quote is at pos; leaves pos after its closing quote.
std::optional<std::string> JsonString(std::string_view text, std::size_t& pos) {
    std::string out;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') {
            return out;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (pos >= text.size()) {
            break;
        }
        const char e = text[pos++];
        if (e == 'u') {
            auto unit = Hex4(text, pos);
            if (!unit) {
                return std::nullopt;
            }
            pos += 4;
            // JSON escapes UTF-16 units; a pair stands for one character, a lone half for U+FFFD.
            std::wstring units(1, static_cast<wchar_t>(*unit));
            if (*unit >= 0xD800 && *unit <= 0xDBFF && text.compare(pos, 2, "\\u") == 0) {
                if (const auto low = Hex4(text, pos + 2); low && *low >= 0xDC00 && *low <= 0xDFFF) {
                    units += static_cast<wchar_t>(*low);
                    pos += 6;
                }
            }
            out += stores::ToUtf8(units);
            continue;
        }
        // The one-letter escapes; any other escaped character stands for itself.
        static constexpr std::string_view kFrom = "bfnrt";
        static constexpr std::string_view kTo = "\b\f\n\r\t";
        const auto letter = kFrom.find(e);
        out.push_back(letter == std::string_view::npos ? e : kTo[letter]);
    }
    return std::nullopt;
}

} // namespace

std::vector<std::string> HeroicPrefixes(std::string_view json) {
    std::vector<std::string> prefixes;
    std::size_t pos = 0;
    while ((pos = json.find('"', pos)) != std::string_view::npos) {
        const auto name = JsonString(json, pos);
        if (!name) {
            break;
        }
        const auto colon = json.find_first_not_of(" \t\r\n", pos);
        if (*name != "winePrefix" || colon == std::string_view::npos || json[colon] != ':') {
            continue;
        }
        pos = json.find_first_not_of(" \t\r\n", colon + 1);
        if (pos == std::string_view::npos || json[pos] != '"') {
            continue;
        }
        if (const auto value = JsonString(json, pos); value && !value->empty()) {
            prefixes.push_back(*value);
        }
    }
    return prefixes;
}

} // namespace cli
