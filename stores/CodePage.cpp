#include "stores/CodePage.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <sys/auxv.h>

namespace platform::prefix {

namespace {

// The largest NLS file Windows ships is well under a megabyte; anything bigger is not one.
constexpr long kMaxNlsFileBytes = 4L << 20;

std::vector<std::uint16_t> ReadWords(const std::string& path) {
    std::vector<std::uint16_t> words;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return words;
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    if (size <= 0 || size > kMaxNlsFileBytes || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return words;
    }
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    words.reserve(got / 2);
    for (size_t i = 0; i + 1 < got; i += 2) {
        words.push_back(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return words;
}

// A statically linked program cannot safely load iconv's converter modules from whatever glibc
// the machine has: it runs no dynamic loader of its own (AT_BASE is 0) and would pull in a second,
// possibly different libc. It degrades to ASCII instead.
bool CanUseIconv() {
    return ::getauxval(AT_BASE) != 0;
}

std::string IconvName(unsigned number) {
    return number == 65001 ? "UTF-8" : "CP" + std::to_string(number);
}

std::shared_ptr<void> OpenIconv(const std::string& to, const std::string& from) {
    iconv_t converter = ::iconv_open(to.c_str(), from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return nullptr;
    }
    return std::shared_ptr<void>(converter, [](void* open) { ::iconv_close(open); });
}

// Converts with iconv, putting `invalid` in place of each unit of input it cannot convert.
void ConvertWithIconv(void* open, std::string_view input, size_t unitBytes,
                      std::string_view invalid, std::string& output) {
    const auto converter = static_cast<iconv_t>(open);
    ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
    std::string in(input);
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char chunk[256];
    while (inLeft > 0) {
        char* outPtr = chunk;
        size_t outLeft = sizeof(chunk);
        const size_t result = ::iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft);
        output.append(chunk, static_cast<size_t>(outPtr - chunk));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            // An unconvertible or incomplete sequence: one unit of it becomes the default.
            output.append(invalid);
            const size_t skip = inLeft < unitBytes ? inLeft : unitBytes;
            inPtr += skip;
            inLeft -= skip;
        }
    }
    char* outPtr = chunk;
    size_t outLeft = sizeof(chunk);
    ::iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    output.append(chunk, static_cast<size_t>(outPtr - chunk));
}

} // namespace

CodePage CodePage::FromNlsFile(const std::string& path) {
    // Layout of a code page table: a header of w[0] words (number, maximum character size,
    // default characters, lead byte ranges); then the offset to the wide-character table, the
    // 256-entry multi-byte table, an optional 256-entry glyph table, the lead byte tables, and the
    // wide-character table (bytes for single-byte code pages, words for double-byte ones).
    const std::vector<std::uint16_t> w = ReadWords(path);
    CodePage page;
    if (w.size() < 16 || w[0] < 13 || w[0] >= w.size()) {
        return page;
    }
    const size_t header = w[0];
    const unsigned number = w[1];
    const bool doubleByte = w[2] == 2;
    if (w[2] != 1 && w[2] != 2) {
        return page;
    }
    const size_t wideStart = header + w[header] + 1;
    size_t at = header + 1;
    if (at + 256 + 2 > w.size()) {
        return page;
    }
    page.multiByte_.assign(w.begin() + static_cast<long>(at),
                           w.begin() + static_cast<long>(at) + 256);
    at += 256;
    if (w[at++] != 0) {
        at += 256; // glyph table: only for MB_USEGLYPHCHARS, which a registry read never asks for
    }
    if (at >= w.size()) {
        return page;
    }
    if (w[at] != 0) {
        const size_t offsets = at + 1;
        if (offsets + 256 > wideStart || wideStart > w.size()) {
            return page;
        }
        page.leadOffsets_.assign(w.begin() + static_cast<long>(offsets),
                                 w.begin() + static_cast<long>(offsets) + 256);
        page.leadTables_.assign(w.begin() + static_cast<long>(offsets),
                                w.begin() + static_cast<long>(wideStart));
    }
    if (doubleByte) {
        if (wideStart + 65536 > w.size()) {
            return page;
        }
        page.wideChar_.assign(w.begin() + static_cast<long>(wideStart),
                              w.begin() + static_cast<long>(wideStart) + 65536);
    } else {
        if (wideStart + 32768 > w.size()) {
            return page;
        }
        page.wideChar_.reserve(65536);
        for (size_t i = 0; i < 32768; ++i) {
            page.wideChar_.push_back(w[wideStart + i] & 0xff);
            page.wideChar_.push_back(w[wideStart + i] >> 8);
        }
    }
    page.kind_ = Kind::kTable;
    page.number_ = number;
    page.doubleByte_ = doubleByte;
    page.unicodeDefault_ = static_cast<char16_t>(w[4]);
    return page;
}

CodePage CodePage::Fallback(unsigned number) {
    CodePage page = AsciiOnly(number);
    if (CanUseIconv()) {
        page.toAnsi_ = OpenIconv(IconvName(number), "UTF-16LE");
        page.fromAnsi_ = OpenIconv("UTF-16LE", IconvName(number));
        if (page.toAnsi_ && page.fromAnsi_) {
            page.kind_ = Kind::kIconv;
        }
    }
    return page;
}

CodePage CodePage::AsciiOnly(unsigned number) {
    CodePage page;
    page.kind_ = Kind::kAscii;
    page.number_ = number;
    return page;
}

std::string CodePage::Encode(std::u16string_view text) const {
    std::string bytes;
    bytes.reserve(text.size());
    switch (kind_) {
    case Kind::kTable:
        for (const char16_t unit : text) {
            const std::uint16_t mapped = wideChar_[unit];
            if (doubleByte_ && (mapped & 0xff00) != 0) {
                bytes.push_back(static_cast<char>(mapped >> 8));
            }
            bytes.push_back(static_cast<char>(mapped & 0xff));
        }
        return bytes;
    case Kind::kIconv: {
        std::string utf16;
        for (const char16_t unit : text) {
            utf16.push_back(static_cast<char>(unit & 0xff));
            utf16.push_back(static_cast<char>(unit >> 8));
        }
        ConvertWithIconv(toAnsi_.get(), utf16, 2, "?", bytes);
        return bytes;
    }
    case Kind::kAscii:
        break;
    }
    for (const char16_t unit : text) {
        bytes.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return bytes;
}

std::u16string CodePage::Decode(std::string_view bytes) const {
    std::u16string text;
    text.reserve(bytes.size());
    switch (kind_) {
    case Kind::kTable:
        for (size_t i = 0; i < bytes.size(); ++i) {
            const auto byte = static_cast<unsigned char>(bytes[i]);
            const std::uint16_t lead = leadOffsets_.empty() ? 0 : leadOffsets_[byte];
            if (lead == 0) {
                text.push_back(static_cast<char16_t>(multiByte_[byte]));
            } else if (i + 1 == bytes.size()) {
                text.push_back(unicodeDefault_); // a lead byte with nothing after it
            } else {
                const size_t index = lead + static_cast<unsigned char>(bytes[++i]);
                text.push_back(index < leadTables_.size()
                                   ? static_cast<char16_t>(leadTables_[index])
                                   : unicodeDefault_);
            }
        }
        return text;
    case Kind::kIconv: {
        std::string utf16;
        ConvertWithIconv(fromAnsi_.get(), bytes, 1, std::string_view("?\0", 2), utf16);
        for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) |
                                                 (static_cast<unsigned char>(utf16[i + 1]) << 8)));
        }
        return text;
    }
    case Kind::kAscii:
        break;
    }
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text.push_back(value < 0x80 ? static_cast<char16_t>(value) : u'?');
    }
    return text;
}

CaseTable CaseTable::FromNlsFile(const std::string& path) {
    // l_intl.nls: w[0] is the offset of the upper-case table, whose first word is its own size;
    // the lower-case table follows, its first word again its size, as a three-level lookup.
    const std::vector<std::uint16_t> w = ReadWords(path);
    CaseTable table;
    if (w.size() < 2 || w[0] == 0 || w[0] >= w.size()) {
        return table;
    }
    const size_t lowerAt = static_cast<size_t>(w[0]) + w[w[0]];
    if (lowerAt >= w.size() || w[lowerAt] < 2 || lowerAt + w[lowerAt] > w.size()) {
        return table;
    }
    table.lower_.assign(w.begin() + static_cast<long>(lowerAt) + 1,
                        w.begin() + static_cast<long>(lowerAt + w[lowerAt]));
    return table;
}

char16_t CaseTable::ToLower(char16_t unit) const {
    if (lower_.empty()) {
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
    }
    const size_t first = unit >> 8;
    if (first >= lower_.size()) {
        return unit;
    }
    const size_t second = static_cast<size_t>(lower_[first]) + ((unit >> 4) & 0x0f);
    if (second >= lower_.size()) {
        return unit;
    }
    const size_t third = static_cast<size_t>(lower_[second]) + (unit & 0x0f);
    if (third >= lower_.size()) {
        return unit;
    }
    return static_cast<char16_t>(unit + lower_[third]);
}

std::u16string CaseTable::Fold(std::u16string_view text) const {
    std::u16string folded(text);
    for (char16_t& unit : folded) {
        unit = ToLower(unit);
    }
    return folded;
}

} // namespace platform::prefix
