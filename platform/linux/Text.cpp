#include "platform/Text.h"

#include "platform/linux/Source.h"
#include "stores/Unicode.h"

#include <cerrno>

namespace platform {

const std::uint32_t kNoTranslation = EILSEQ;

// The code page of the source the registry calls read (platform/linux/Source.h), as far as it is
// known yet: until it is learnt only ASCII, which every ANSI code page writes alike, converts.
// wchar_t is UTF-32 here and UTF-16 on Windows: characters beyond the BMP travel as surrogate
// pairs between the two, so the code page sees exactly the units a Windows program would pass.

std::string ToAnsi(std::wstring_view text) {
    return CurrentSource().Tables().CodePage().Encode(stores::ToUtf16(text));
}

std::wstring FromAnsi(std::string_view bytes) {
    return stores::FromUtf16(CurrentSource().Tables().CodePage().Decode(bytes));
}

} // namespace platform
