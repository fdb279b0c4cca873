// The prefix that the Linux registry and text services serve, chosen by UsePrefix.
#pragma once

#include "platform/linux/CodePage.h"
#include "platform/linux/RegFile.h"

#include <string>

namespace platform::prefix {

struct PrefixState {
    std::string dir;         // empty until a prefix is chosen: every key is then missing
    Arch arch = Arch::kNone; // a win64 prefix shows 32-bit programs its Wow6432Node keys
    CodePage codePage = CodePage::AsciiOnly(1252);
    CaseTable fold;
};

PrefixState& CurrentPrefix();

} // namespace platform::prefix
