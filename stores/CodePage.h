// Text the way Windows and Wine convert it between UTF-16 and an ANSI code page, from the Windows
// NLS files (c_<number>.nls), so that every best-fit letter and default character is exactly the
// one Wine or Windows itself produces. The tables arrive as bytes: whoever holds the files reads
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stores {

class CodePage {
  public:
    // The table of a c_<number>.nls file; nothing when the bytes are no such table.
    static std::optional<CodePage> FromNls(std::string_view bytes);
    // Windows-1252 from its definition, for a system whose own table cannot be found: Wine's
    // default code page, which must never lose a letter. It has no best-fit letters.
    static CodePage Builtin1252();
    // What is left with no table at all: ASCII passes, anything else is the default character.
    static CodePage AsciiOnly(unsigned number);

    unsigned Number() const { return number_; }

    std::string Encode(std::u16string_view text) const;
    std::u16string Decode(std::string_view bytes) const;

  private:
    unsigned number_ = 0;
    bool doubleByte_ = false;
    char16_t unicodeDefault_ = u'?';
    std::vector<std::uint16_t> multiByte_;   // 256 entries, one per single byte; empty: ASCII only
    std::vector<std::uint16_t> leadOffsets_; // 256 offsets into leadTables_ (0: not a lead byte)
    std::vector<std::uint16_t> leadTables_;  // the second-byte tables of every lead byte
    std::vector<std::uint16_t> wideChar_;    // 65536 entries, one per UTF-16 unit
};

// The number a registry string names as a code page ("1252"): its leading digits, as Wine reads
// them; 0, which means "none", when there are none or they pass 65535.
unsigned ParseCodePageNumber(std::u16string_view text);

} // namespace stores
