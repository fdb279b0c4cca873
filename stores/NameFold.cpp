#include "stores/NameFold.h"

#include "stores/NlsWords.h"
#include "stores/Unicode.h"

namespace stores {

std::optional<NameFold> NameFold::FromNls(std::string_view bytes) {
    // l_intl.nls: w[0] is the offset of the upper-case table, whose first word is its own size;
    // the lower-case table follows, its first word again its size, as a three-level lookup.
    const std::vector<std::uint16_t> w = NlsWords(bytes);
    if (w.size() < 2 || w[0] == 0 || w[0] >= w.size()) {
        return std::nullopt;
    }
    const std::size_t lowerAt = static_cast<std::size_t>(w[0]) + w[w[0]];
    if (lowerAt >= w.size() || w[lowerAt] < 2 || lowerAt + w[lowerAt] > w.size()) {
        return std::nullopt;
    }
    NameFold fold;
    fold.lower_.assign(w.begin() + static_cast<long>(lowerAt) + 1,
                       w.begin() + static_cast<long>(lowerAt + w[lowerAt]));
    return fold;
}

char16_t NameFold::Fold(char16_t unit) const {
    if (lower_.empty()) {
        if ((unit >= 0xC0 && unit <= 0xDE && unit != 0xD7)) {
            return static_cast<char16_t>(unit + 0x20);
        }
        return unit == 0x178 ? char16_t{0xFF} : FoldAscii(unit);
    }
    const std::size_t first = unit >> 8;
    if (first >= lower_.size()) {
        return unit;
    }
    const std::size_t second = static_cast<std::size_t>(lower_[first]) + ((unit >> 4) & 0x0f);
    if (second >= lower_.size()) {
        return unit;
    }
    const std::size_t third = static_cast<std::size_t>(lower_[second]) + (unit & 0x0f);
    if (third >= lower_.size()) {
        return unit;
    }
    return static_cast<char16_t>(unit + lower_[third]);
}

std::u16string NameFold::Fold(std::u16string_view text) const {
    std::u16string folded(text);
    for (char16_t& unit : folded) {
        unit = Fold(unit);
    }
    return folded;
}

bool NameFold::Same(std::u16string_view one, std::u16string_view other) const {
    if (one.size() != other.size()) {
        return false;
    }
    for (std::size_t i = 0; i < one.size(); ++i) {
        if (one[i] != other[i] && Fold(one[i]) != Fold(other[i])) {
            return false;
        }
    }
    return true;
}

bool NameFold::SameFileName(std::string_view one, std::string_view other) const {
    if (one == other) {
        return true;
    }
    const auto wideOne = FromUtf8(one);
    const auto wideOther = FromUtf8(other);
    return wideOne && wideOther && Same(ToUtf16(*wideOne), ToUtf16(*wideOther));
}

std::optional<std::uint32_t> AsciiNameHash(std::u16string_view name) {
    std::uint32_t hash = 0;
    for (const char16_t unit : name) {
        if (unit >= 0x80) {
            return std::nullopt;
        }
        const char16_t upper =
            unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
        hash = hash * 37 + upper;
    }
    return hash;
}

} // namespace stores
