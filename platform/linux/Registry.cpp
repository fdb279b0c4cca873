#include "platform/Registry.h"

namespace platform {

// Until a prefix reader exists every key is missing, which the reader shows as "Error".
constexpr Status kFileNotFound = 2;

Status RegOpenKeyExA(RootHandle, const std::string&, std::uint32_t, std::uint32_t, KeyHandle& key) {
    key = 0;
    return kFileNotFound;
}

Status RegQueryValueExA(KeyHandle, const std::string&, std::uint32_t*, ValueType&, unsigned char*,
                        std::uint32_t&) {
    return kFileNotFound;
}

Status RegCloseKey(KeyHandle) {
    return kSuccess;
}

} // namespace platform
