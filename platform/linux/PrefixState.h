// The prefix that the Linux registry and text services serve, chosen by UsePrefix.
#pragma once

#include "platform/Registry.h"
#include "stores/CodePage.h"
#include "stores/NameFold.h"
#include "stores/RegFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::prefix {

// The statuses Windows' registry calls give, which both stand-ins (a prefix's files, a Windows
// disk's hives) answer with.
inline constexpr Status kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr Status kInvalidHandle = 6; // ERROR_INVALID_HANDLE
inline constexpr Status kBadPathname = 161; // ERROR_BAD_PATHNAME
inline constexpr Status kMoreData = 234;    // ERROR_MORE_DATA
inline constexpr Status kInvalidParameter = 87;

struct PrefixState {
    std::string dir; // empty until a prefix is chosen: every key is then missing
    // Or a Windows installation is read instead (platform/linux/Windows.h).
    bool windowsDisk = false;
    std::string tablesDir; // where its own NLS files are: system32 of the prefix or of Windows
    std::vector<std::string> nlsFolders;
    stores::Arch arch = stores::Arch::kNone; // win64 shows 32-bit programs its Wow6432Node keys
    // The ANSI code page is learnt on the way, in the first pass over system.reg that a read
    // makes anyway: until then only ASCII, which every ANSI code page writes alike, is converted.
    bool codePageSettled = false;
    stores::CodePage codePage = stores::CodePage::AsciiOnly(1252);
    std::vector<std::string> notes; // how the prefix was read, where it was not as usual
    stores::NameFold fold;
    std::string lastProblem;
};

PrefixState& CurrentPrefix();

// Loads the case table of the prefix or installation (ASCII letters alone when it has none).
void LoadCaseTable(PrefixState& state);

// Loads the table of the code page a prefix names (0: it names none, which means 1252).
void SettleCodePage(PrefixState& state, unsigned number);

// Where the prefix names its ANSI code page (value ACP), below \Registry.
const std::vector<std::u16string>& AnsiCodePageKey();

bool IsAscii(std::string_view bytes);

} // namespace platform::prefix
