#include "platform/Registry.h"

#include <windows.h>

namespace platform {

namespace {

HKEY ToHkey(RootHandle root) {
    // Predefined roots are sign-extended 32-bit constants (HKEY_LOCAL_MACHINE is
    // (HKEY)(ULONG_PTR)(LONG)0x80000002), so widen through a signed 32-bit value.
    return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root)));
}

} // namespace

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, KeyHandle& key) {
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExA(ToHkey(root), subKey.c_str(), options, access, &opened);
    key = status == ERROR_SUCCESS ? reinterpret_cast<KeyHandle>(opened) : 0;
    return status;
}

Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length) {
    DWORD apiType = type;
    DWORD apiLength = length;
    const LONG status =
        ::RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.c_str(),
                           reinterpret_cast<LPDWORD>(reserved), &apiType, data, &apiLength);
    type = apiType;
    length = apiLength;
    return status;
}

Status RegCloseKey(KeyHandle key) {
    return ::RegCloseKey(reinterpret_cast<HKEY>(key));
}

} // namespace platform
