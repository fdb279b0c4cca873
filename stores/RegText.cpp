#include "stores/RegText.h"

#include "stores/Unicode.h"

#include <cstdlib>
#include <cstring>

namespace stores {

namespace {

// The C library's isxdigit in the "C" locale, which is what Wine's loader uses.
bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
unsigned HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

char16_t SimpleEscape(char c) {
    switch (c) {
    case 'a':
        return u'\a';
    case 'b':
        return u'\b';
    case 'e':
        return 0x1b;
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    case 'v':
        return u'\v';
    default:
        return 0;
    }
}

// How a value line's data is written.
enum class DataForm { kString, kDword, kHex };

// The tag at p ("\"", "str:\"", "str(2):\"", "str(7):\"", "hex:", "dword:", "hex(N):"): its
// length, or 0 when there is none.
std::size_t ParseDataTag(const char* p, std::uint32_t& type, DataForm& form) {
    struct Tag {
        std::string_view text;
        std::uint32_t type;
        DataForm form;
    };
    static constexpr Tag kTags[] = {
        {"\"", platform::kRegSz, DataForm::kString},
        {"str:\"", platform::kRegSz, DataForm::kString},
        {"str(2):\"", platform::kRegExpandSz, DataForm::kString},
        {"str(7):\"", platform::kRegMultiSz, DataForm::kString},
        {"hex:", platform::kRegBinary, DataForm::kHex},
        {"dword:", platform::kRegDword, DataForm::kDword},
    };
    for (const Tag& tag : kTags) {
        if (std::strncmp(p, tag.text.data(), tag.text.size()) == 0) {
            type = tag.type;
            form = tag.form;
            return tag.text.size();
        }
    }
    if (std::strncmp(p, "hex(", 4) == 0) {
        // Wine reads the number with strtoul, so it accepts what strtoul accepts.
        char* end = nullptr;
        type = static_cast<std::uint32_t>(std::strtoul(p + 4, &end, 16));
        if (std::strncmp(end, "):", 2) != 0) {
            return 0;
        }
        form = DataForm::kHex;
        return static_cast<std::size_t>(end + 2 - p);
    }
    return 0;
}

// Comma-separated hex bytes from p; false on a malformed byte. `out` may be null to only check.
bool ParseHexBytes(const char*& p, std::string* out, std::size_t& count) {
    // Wine writes "hh," again and again: take those three characters at a time, and leave
    // anything else to the general loop below.
    while (IsHexDigit(p[0]) && IsHexDigit(p[1]) && p[2] == ',') {
        if (out != nullptr && out->size() < kMaxValueBytes) {
            out->push_back(static_cast<char>(HexValue(p[0]) * 16 + HexValue(p[1])));
        }
        ++count;
        p += 3;
    }
    while (IsHexDigit(*p)) {
        // What strtoul reads, without its cost on every byte: a run of hex digits, or a "0x"
        // prefix and then one (left to strtoul itself).
        const char* end = p;
        unsigned long byte = 0;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(p[2])) {
            char* after = nullptr;
            byte = std::strtoul(p, &after, 16);
            end = after;
        } else {
            while (IsHexDigit(*end)) {
                byte = byte > 0xff ? byte : byte * 16 + HexValue(*end);
                ++end;
            }
        }
        if (byte > 0xff) {
            return false;
        }
        if (out != nullptr && out->size() < kMaxValueBytes) {
            out->push_back(static_cast<char>(byte));
        }
        ++count;
        p = SkipSpaces(end);
        if (*p == ',') {
            ++p;
        }
        p = SkipSpaces(p);
    }
    return true;
}

} // namespace

std::optional<std::size_t> ParseEscaped(std::string_view text, char end, std::u16string& out) {
    out.clear();
    std::size_t i = 0;
    const std::size_t n = text.size();
    const auto at = [&](std::size_t k) { return k < n ? text[k] : '\0'; };
    while (i < n && text[i] != '\0' && text[i] != end) {
        if (text[i] == '\\') {
            ++i;
            const char c = at(i);
            if (c == '\0') {
                break;
            }
            if (const char16_t simple = SimpleEscape(c); simple != 0) {
                out.push_back(simple);
                ++i;
                continue;
            }
            if (c == 'x') {
                ++i;
                if (!IsHexDigit(at(i))) {
                    out.push_back(u'x');
                    continue;
                }
                unsigned unit = 0;
                for (int digits = 0; digits < 4 && IsHexDigit(at(i)); ++digits) {
                    unit = unit * 16 + HexValue(text[i++]);
                }
                out.push_back(static_cast<char16_t>(unit));
                continue;
            }
            if (c >= '0' && c <= '7') {
                unsigned unit = 0;
                for (int digits = 0; digits < 3 && at(i) >= '0' && at(i) <= '7'; ++digits) {
                    unit = unit * 8 + static_cast<unsigned>(text[i++] - '0');
                }
                out.push_back(static_cast<char16_t>(unit));
                continue;
            }
            // Any other escaped character stands for itself (\\ and \" among them).
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            out.push_back(static_cast<unsigned char>(text[i++]));
            continue;
        }
        // Raw UTF-8, as a hand-edited file may hold; a malformed lead byte is dropped, and so is
        // a sequence cut short, up to the byte that cut it.
        if (const auto decoded = DecodeUtf8(text, i)) {
            AppendUtf16(out, decoded->first);
            i += decoded->second;
            continue;
        }
        ++i;
        while (i < n && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
            ++i;
        }
    }
    out.push_back(u'\0');
    if (at(i) != end || end == '\0') {
        return std::nullopt;
    }
    return i + 1;
}

std::optional<std::vector<std::u16string>> SplitKeyPath(std::u16string_view path) {
    std::vector<std::u16string> names;
    if (!path.empty() && path.front() == u'\\') {
        return std::nullopt;
    }
    std::size_t i = 0;
    while (i < path.size()) {
        const std::size_t stop = path.find(u'\\', i);
        const std::size_t last = stop == std::u16string_view::npos ? path.size() : stop;
        names.emplace_back(path.substr(i, last - i));
        i = last;
        while (i < path.size() && path[i] == u'\\') {
            ++i;
        }
    }
    return names;
}

std::optional<std::size_t> ReadValueName(const std::string& first, std::u16string& name) {
    const char* p = SkipSpaces(first.c_str());
    name.clear();
    if (*p == '@') {
        ++p;
    } else {
        ++p; // the opening quote
        const auto used = ParseEscaped(p, '"', name);
        if (!used) {
            return std::nullopt;
        }
        name.pop_back();
        p += *used;
    }
    p = SkipSpaces(p);
    if (*p++ != '=') {
        return std::nullopt;
    }
    return static_cast<std::size_t>(SkipSpaces(p) - first.c_str());
}

ValueLine ReadValueData(const std::string& first, std::size_t at, LineReader& reader, bool want,
                        Value& value) {
    const char* p = first.c_str() + at;
    DataForm form = DataForm::kHex;
    const std::size_t tag = ParseDataTag(p, value.type, form);
    if (tag == 0) {
        return ValueLine::kBadData;
    }
    p += tag;
    value.data.clear();
    switch (form) {
    case DataForm::kString: {
        if (!want) {
            return ValueLine::kGood;
        }
        std::u16string text;
        if (!ParseEscaped(p, '"', text)) {
            return ValueLine::kBadData;
        }
        value.data = Utf16Bytes(text);
        return ValueLine::kGood;
    }
    case DataForm::kDword: {
        const auto number = static_cast<std::uint32_t>(std::strtoul(p, nullptr, 16));
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<char>((number >> shift) & 0xff));
        }
        return ValueLine::kGood;
    }
    case DataForm::kHex:
        break;
    }
    // Long binary data goes on over further lines: a backslash where the bytes stop makes Wine read
    // the next line on, whatever follows it on this one. Data nobody wants matters only for
    // whether it goes on, and a line with no backslash at all cannot.
    if (!want && std::strchr(p, '\\') == nullptr) {
        return ValueLine::kGood;
    }
    std::string more;
    std::size_t count = 0;
    for (;;) {
        if (!ParseHexBytes(p, want ? &value.data : nullptr, count)) {
            return ValueLine::kBadData;
        }
        p = SkipSpaces(p);
        if (*p == '\0') {
            break;
        }
        bool tooLong = false;
        if (*p != '\\' || !reader.Next(more, tooLong) || tooLong) {
            return ValueLine::kBadData;
        }
        p = SkipSpaces(more.c_str());
    }
    return count > kMaxValueBytes ? ValueLine::kBadData : ValueLine::kGood;
}

} // namespace stores
