#include "stores/CodePage.h"

#include "stores/NlsWords.h"

namespace stores {

namespace {

// Windows-1252's bytes 0x80 to 0x9F; the rest of it is Latin-1. The five bytes it leaves
// undefined map to the C1 control of the same number, as Windows' own table maps them.
constexpr char16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

std::optional<CodePage> CodePage::FromNls(std::string_view bytes) {
    // Layout of a code page table: a header of w[0] words (number, maximum character size,
    // default characters, lead byte ranges); then the offset to the wide-character table, the
    // 256-entry multi-byte table, an optional 256-entry glyph table, the lead byte tables, and the
    // wide-character table (bytes for single-byte code pages, words for double-byte ones).
    const std::vector<std::uint16_t> w = NlsWords(bytes);
    if (w.size() < 16 || w[0] < 13 || w[0] >= w.size() || (w[2] != 1 && w[2] != 2)) {
        return std::nullopt;
    }
    CodePage page;
    const std::size_t header = w[0];
    const bool doubleByte = w[2] == 2;
    const std::size_t wideStart = header + w[header] + 1;
    std::size_t at = header + 1;
    if (at + 256 + 2 > w.size()) {
        return std::nullopt;
    }
    page.multiByte_.assign(w.begin() + static_cast<long>(at),
                           w.begin() + static_cast<long>(at) + 256);
    at += 256;
    if (w[at++] != 0) {
        at += 256; // glyph table: only for MB_USEGLYPHCHARS, which a registry read never asks for
    }
    if (at >= w.size()) {
        return std::nullopt;
    }
    if (w[at] != 0) {
        const std::size_t offsets = at + 1;
        if (offsets + 256 > wideStart || wideStart > w.size()) {
            return std::nullopt;
        }
        page.leadOffsets_.assign(w.begin() + static_cast<long>(offsets),
                                 w.begin() + static_cast<long>(offsets) + 256);
        page.leadTables_.assign(w.begin() + static_cast<long>(offsets),
                                w.begin() + static_cast<long>(wideStart));
    }
    if (doubleByte) {
        if (wideStart + 65536 > w.size()) {
            return std::nullopt;
        }
        page.wideChar_.assign(w.begin() + static_cast<long>(wideStart),
                              w.begin() + static_cast<long>(wideStart) + 65536);
    } else {
        if (wideStart + 32768 > w.size()) {
            return std::nullopt;
        }
        page.wideChar_.reserve(65536);
        for (std::size_t i = 0; i < 32768; ++i) {
            page.wideChar_.push_back(w[wideStart + i] & 0xff);
            page.wideChar_.push_back(w[wideStart + i] >> 8);
        }
    }
    page.number_ = w[1];
    page.doubleByte_ = doubleByte;
    page.unicodeDefault_ = static_cast<char16_t>(w[4]);
    return page;
}

CodePage CodePage::Builtin1252() {
    CodePage page;
    page.number_ = 1252;
    page.multiByte_.resize(256);
    page.wideChar_.assign(65536, '?');
    for (unsigned byte = 0; byte < 256; ++byte) {
        const char16_t unit =
            byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : static_cast<char16_t>(byte);
        page.multiByte_[byte] = unit;
        page.wideChar_[unit] = static_cast<std::uint16_t>(byte);
    }
    return page;
}

CodePage CodePage::AsciiOnly(unsigned number) {
    CodePage page;
    page.number_ = number;
    return page;
}

std::string CodePage::Encode(std::u16string_view text) const {
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t unit : text) {
        if (wideChar_.empty()) {
            bytes.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
            continue;
        }
        const std::uint16_t mapped = wideChar_[unit];
        if (doubleByte_ && (mapped & 0xff00) != 0) {
            bytes.push_back(static_cast<char>(mapped >> 8));
        }
        bytes.push_back(static_cast<char>(mapped & 0xff));
    }
    return bytes;
}

std::u16string CodePage::Decode(std::string_view bytes) const {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (multiByte_.empty()) {
            text.push_back(byte < 0x80 ? static_cast<char16_t>(byte) : u'?');
            continue;
        }
        const std::uint16_t lead = leadOffsets_.empty() ? 0 : leadOffsets_[byte];
        if (lead == 0) {
            text.push_back(static_cast<char16_t>(multiByte_[byte]));
        } else if (i + 1 == bytes.size()) {
            text.push_back(unicodeDefault_); // a lead byte with nothing after it
        } else {
            const std::size_t index = lead + static_cast<unsigned char>(bytes[++i]);
            text.push_back(index < leadTables_.size() ? static_cast<char16_t>(leadTables_[index])
                                                      : unicodeDefault_);
        }
    }
    return text;
}

unsigned ParseCodePageNumber(std::u16string_view text) {
    unsigned number = 0;
    for (const char16_t unit : text) {
        if (unit < u'0' || unit > u'9' || number > 65535) {
            break; // as Wine reads it: the leading digits
        }
        number = number * 10 + (unit - u'0');
    }
    return number > 65535 ? 0 : number;
}

} // namespace stores
