// Text the way a Wine prefix converts it: between UTF-16 and the prefix's ANSI code page, and
// folded to one letter case the way Wine compares registry names. Both come from the Windows NLS
// files the prefix carries in system32, so that every best-fit letter and default character is
// exactly the one Wine itself produces.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::prefix {

class CodePage {
  public:
    // The table of a c_<number>.nls file; Number() is 0 when the file is missing or malformed.
    static CodePage FromNlsFile(const std::string& path);
    // For a prefix without the table: iconv where it can be used safely, else ASCII alone.
    static CodePage Fallback(unsigned number);
    // What a text conversion degrades to: ASCII passes, anything else is the default character.
    static CodePage AsciiOnly(unsigned number);

    unsigned Number() const { return number_; }
    bool UsesTable() const { return kind_ == Kind::kTable; }

    std::string Encode(std::u16string_view text) const;
    std::u16string Decode(std::string_view bytes) const;

  private:
    enum class Kind { kTable, kIconv, kAscii };

    Kind kind_ = Kind::kAscii;
    unsigned number_ = 0;
    bool doubleByte_ = false;
    char16_t unicodeDefault_ = u'?';
    std::vector<std::uint16_t> multiByte_;   // 256 entries, one per single byte
    std::vector<std::uint16_t> leadOffsets_; // 256 offsets into leadTables_ (0: not a lead byte)
    std::vector<std::uint16_t> leadTables_;  // the second-byte tables of every lead byte
    std::vector<std::uint16_t> wideChar_;    // 65536 entries, one per UTF-16 unit
    std::shared_ptr<void> toAnsi_;           // iconv converters, opened once
    std::shared_ptr<void> fromAnsi_;
};

class CaseTable {
  public:
    // The lower-case table of an l_intl.nls file; ASCII letters only when it cannot be read.
    static CaseTable FromNlsFile(const std::string& path);

    char16_t ToLower(char16_t unit) const;
    std::u16string Fold(std::u16string_view text) const;

  private:
    std::vector<std::uint16_t> lower_;
};

} // namespace platform::prefix
