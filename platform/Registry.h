// The three registry calls the reader needs, behind types of the program's own so that the
// reader compiles without <windows.h> and a test can link a stand-in in place of Registry.cpp.
// Read-only by construction: nothing here can create, change or delete registry data.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using RootHandle = std::uint32_t; // a predefined root (0x80000000..0x80000006); 0 names none
using KeyHandle = std::uintptr_t; // opaque; only meaningful between a successful open and close
using Status = std::int32_t;      // the API's own status; 0 is success
using ValueType = std::uint32_t;

// The predefined roots, numbered in this order from 0x80000000.
enum PredefinedRoot : RootHandle {
    kClassesRoot = 0x80000000,
    kCurrentUser,
    kLocalMachine,
    kUsers,
    kPerformanceData,
    kCurrentConfig,
    kDynData,
};

constexpr Status kSuccess = 0;
constexpr std::uint32_t kKeyRead = 0x20019; // KEY_READ, with no 32/64-bit view flag

// The value types the readers tell apart.
enum KnownValueType : ValueType {
    kRegNone = 0,
    kRegSz,
    kRegExpandSz,
    kRegBinary,
    kRegDword,
    kRegMultiSz = 7,
};

Status RegOpenKeyExA(RootHandle root, const std::string& subKey, std::uint32_t options,
                     std::uint32_t access, KeyHandle& key);
Status RegQueryValueExA(KeyHandle key, const std::string& valueName, std::uint32_t* reserved,
                        ValueType& type, unsigned char* data, std::uint32_t& length);
Status RegCloseKey(KeyHandle key);

} // namespace platform
