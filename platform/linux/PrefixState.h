// The prefix that the Linux registry and text services serve, chosen by UsePrefix.
#pragma once

#include "stores/CodePage.h"
#include "stores/RegFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::prefix {

struct PrefixState {
    std::string dir; // empty until a prefix is chosen: every key is then missing
    std::vector<std::string> nlsFolders;
    stores::Arch arch = stores::Arch::kNone; // win64 shows 32-bit programs its Wow6432Node keys
    // The ANSI code page is learnt on the way, in the first pass over system.reg that a read
    // makes anyway: until then only ASCII, which every ANSI code page writes alike, is converted.
    bool codePageSettled = false;
    stores::CodePage codePage = stores::CodePage::AsciiOnly(1252);
    std::vector<std::string> notes; // how the prefix was read, where it was not as usual
    stores::CaseTable fold;
    std::string lastProblem;
};

PrefixState& CurrentPrefix();

// Loads the table of the code page a prefix names (0: it names none, which means 1252).
void SettleCodePage(PrefixState& state, unsigned number);

// Where the prefix names its ANSI code page (value ACP), below \Registry.
const std::vector<std::u16string>& AnsiCodePageKey();

bool IsAscii(std::string_view bytes);

} // namespace platform::prefix
