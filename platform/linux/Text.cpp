#include "platform/Text.h"

#include "platform/linux/PrefixState.h"
#include "stores/Unicode.h"

#include <cerrno>

namespace platform {

const std::uint32_t kNoTranslation = EILSEQ;

// The prefix's code page, as the registry calls learnt it (platform/linux/Prefix.h): until then
// only ASCII, which every ANSI code page writes alike, converts. wchar_t is UTF-32 here and
// UTF-16 on Windows: characters beyond the BMP travel as surrogate pairs between the two, so the
// code page sees exactly the units a Windows program would pass.

std::string ToAnsi(std::wstring_view text) {
    const std::u16string units = stores::ToUtf16(text);
    return prefix::CurrentPrefix().codePage.Encode(units);
}

std::wstring FromAnsi(std::string_view bytes) {
    return stores::FromUtf16(prefix::CurrentPrefix().codePage.Decode(bytes));
}

} // namespace platform
