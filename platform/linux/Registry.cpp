// The three registry calls over whichever source was chosen (Source.h), with the names converted
// from the caller's ANSI code page.
#include "platform/Registry.h"

#include "platform/linux/Source.h"

#include <algorithm>

namespace platform {

namespace {

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

// A name from the caller, in the source's code page, which a name beyond ASCII needs learnt.
std::u16string NameFromAnsi(RegistrySource& source, const std::string& bytes) {
    if (IsAscii(bytes)) {
        return std::u16string(bytes.begin(), bytes.end());
    }
    source.LearnCodePage();
    return source.Tables().CodePage().Decode(bytes);
}

} // namespace

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t /*options*/,
                     std::uint32_t /*access*/, KeyHandle& key) {
    key = 0;
    RegistrySource& source = CurrentSource();
    return source.Open(root, NameFromAnsi(source, subKey), key);
}

Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length) {
    if (reserved != nullptr) {
        return kInvalidParameter;
    }
    RegistrySource& source = CurrentSource();
    return source.Query(key, NameFromAnsi(source, valueName), type, data, length);
}

Status RegCloseKey(KeyHandle key) {
    return CurrentSource().Close(key);
}

} // namespace platform
