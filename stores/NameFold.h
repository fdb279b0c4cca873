// How Windows compares names: of registry keys and values, and of files on NTFS. Unit by unit and
// without regard to letter case, through the case table of the installation that wrote them
// (l_intl.nls). Every comparison of names in the program goes through here, so that a key, a value
// and a file are matched by one rule.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stores {

class NameFold {
  public:
    // Before the installation's own table is known (it lives in System32, which has to be found
    // first), the letters every Windows folds alike: ASCII and Latin-1.
    NameFold() = default;
    // The lower-case table of an l_intl.nls file; nothing when the bytes are no such table.
    static std::optional<NameFold> FromNls(std::string_view bytes);

    // Every table folds an ASCII letter to its small letter: readers may fold plain ASCII text
    // with this alone, without the table.
    static constexpr char16_t FoldAscii(char16_t unit) {
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
    }

    char16_t Fold(char16_t unit) const;
    std::u16string Fold(std::u16string_view text) const;
    bool Same(std::u16string_view one, std::u16string_view other) const;
    // File names as Linux shows them (UTF-8); a name that is not UTF-8 matches only itself.
    bool SameFileName(std::string_view one, std::string_view other) const;

  private:
    std::vector<std::uint16_t> lower_; // empty: the Latin letters alone
};

// The hash an lh subkey list keeps of a name: each unit upper-cased, in base 37. Beyond ASCII the
// upper case is that of the Windows that wrote the hive, so it is known for ASCII names only.
std::optional<std::uint32_t> AsciiNameHash(std::u16string_view name);

} // namespace stores
